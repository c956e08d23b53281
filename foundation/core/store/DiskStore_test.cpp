#include "foundation/core/store/DiskStore.hpp"

#include "foundation/core/store/JSONDecoder.hpp"
#include "foundation/core/store/JSONEncoder.hpp"
#include "foundation/core/store/StoreContract.hpp"
#include "foundation/core/store/StoreError.hpp"
#include "platform/testing/ChildProcess.hpp"
#include "platform/testing/FileSnapshot.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using velmor::testing::contentsOf;
using velmor::testing::snapshot;
using velmor::testing::TemporaryDirectory;

DiskStore storeAt(const std::string& folder) {
    return DiskStore(std::make_shared<JSONEncoder>(), std::make_shared<JSONDecoder>(), URL::fileURL(folder));
}

struct Point {
    int x = 0;
    std::string label;
};

} // namespace
} // namespace velmor

template <> struct velmor::coding::Coding<velmor::Point> {
    static Value encode(const velmor::Point& point) { return Object{{"x", point.x}, {"label", point.label}}; }
    static velmor::Point decode(const Decoder& decoder) {
        return {decoder.decode<int>("x"), decoder.decode<std::string>("label")};
    }
};

namespace velmor {
namespace {

TEST(DiskStore, KeepsFetchesReplacesAndClearsValues) {
    TemporaryDirectory dir;
    DiskStore store = storeAt(dir / "store");
    velmor::testing::expectStoreContract(store);
}

TEST(DiskStore, CreatesItsFolderAndKeepsEachNameAsAJSONFile) {
    TemporaryDirectory dir;
    DiskStore store = storeAt(dir / "deeper/still/store");
    EXPECT_FALSE(velmor::testing::exists(dir / "deeper")) << "nothing is made before the first write";

    store.store(Point{3, "three"}, StoreKey<Point>{"settings"});

    EXPECT_EQ(contentsOf(dir / "deeper/still/store/settings.json"), R"({"x":3,"label":"three"})");
    auto fetched = store.fetch(StoreKey<Point>{"settings"});
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->x, 3);
    EXPECT_EQ(fetched->label, "three");
    // Blobs are kept as they are, bytes that are no text included.
    const std::vector<std::uint8_t> blob{0xff, 0x00, 0x7b};
    store.set(blob, "raw");
    EXPECT_EQ(store.data("raw"), blob);
}

TEST(DiskStore, ADecodingErrorIsPassedOn) {
    TemporaryDirectory dir;
    dir.writeFile("store/settings.json", R"({"x":"not a number","label":"l"})");
    DiskStore store = storeAt(dir / "store");
    EXPECT_THROW(store.fetch(StoreKey<Point>{"settings"}), coding::DecodingError);
}

TEST(DiskStore, RefusesNamesThatLeaveItsFolderBeforeTouchingAnything) {
    TemporaryDirectory dir;
    dir.writeFile("x.json", "outside");
    dir.writeFile("store/a/b.json", "nested");
    dir.writeFile("store/kept.json", "kept");
    const auto before = snapshot(dir.path());
    DiskStore store = storeAt(dir / "store");

    for (const std::string& name : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
                                    std::string("../x"), std::string("/kept"), std::string("kept\0x", 6)}) {
        SCOPED_TRACE("name \"" + name + "\"");
        auto expectRefused = [&](const std::function<void()>& operation) {
            try {
                operation();
                ADD_FAILURE() << "the name was accepted";
            } catch (const StoreError& error) {
                EXPECT_EQ(error.code(), StoreError::Code::invalidName);
                EXPECT_NE(error.description().find("Invalid store name"), std::string::npos);
            }
        };
        expectRefused([&] { store.data(name); });
        expectRefused([&] { store.set({'1'}, name); });
        expectRefused([&] { store.clear(name); });
    }
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(DiskStore, AStoredFileThatIsNoSmallRegularFileIsAnErrorNamingIt) {
    velmor::testing::Watchdog watchdog("reading hostile stored files", 60);
    TemporaryDirectory dir;
    const std::string path = dir / "name.json";
    struct Case {
        const char* what;
        std::function<void()> plant;
        int code;
    };
    const Case cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, EINVAL},
        {"a folder", [&] { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); }, EISDIR},
        {"over the size limit", [&] { dir.writeFile("name.json", std::string((16 << 20) + 1, ' ')); }, EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path);
        c.plant();
        try {
            storeAt(dir.path()).data("name");
            ADD_FAILURE() << "read";
        } catch (const ErrorException& exception) {
            EXPECT_EQ(exception.error().code(), c.code);
            EXPECT_NE(exception.error().description().find(path), std::string::npos)
                << exception.error().description();
        }
    }
}

TEST(DiskStore, AValueItsReaderWouldRefuseIsNotStoredAndTheOldOneStays) {
    TemporaryDirectory dir;
    DiskStore store = storeAt(dir.path());
    store.set({'o', 'l', 'd'}, "name");
    try {
        store.set(std::vector<std::uint8_t>((16 << 20) + 1, ' '), "name");
        ADD_FAILURE() << "stored";
    } catch (const ErrorException& exception) {
        EXPECT_EQ(exception.error().code(), EFBIG);
        const std::string description = exception.error().description();
        for (const std::string& part : {dir / "name.json", std::string("\"name\""), std::to_string(16 << 20)}) {
            EXPECT_NE(description.find(part), std::string::npos) << description;
        }
    }
    EXPECT_EQ(store.data("name"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    // A value of the limit is still stored and read back.
    store.set(std::vector<std::uint8_t>(16 << 20, ' '), "name");
    EXPECT_EQ(store.data("name").value_or(std::vector<std::uint8_t>()).size(), std::size_t{16 << 20});
}

TEST(DiskStore, ClearRemovesFilesOnlyAndNeverAFolderWithItsContents) {
    TemporaryDirectory dir;
    dir.writeFile("store/folder.json/precious", "data");
    DiskStore store = storeAt(dir / "store");
    for (const auto& [what, operation] : std::vector<std::pair<std::string, std::function<void()>>>{
             {"clear", [&] { store.clear("folder"); }}, {"data", [&] { store.data("folder"); }}}) {
        try {
            operation();
            ADD_FAILURE() << what << " of a folder succeeded";
        } catch (const ErrorException& exception) {
            EXPECT_EQ(exception.error().code(), EISDIR) << what;
            EXPECT_EQ(*exception.error().stringValue(Error::filePathKey), dir / "store/folder.json") << what;
        }
    }
    EXPECT_EQ(contentsOf(dir / "store/folder.json/precious"), "data");
}

TEST(DiskStore, KeepsANameWhoseFileNameIsNearlyAsLongAsAFolderEntryCanHold) {
    TemporaryDirectory dir;
    DiskStore store = storeAt(dir / "store");
    const std::string name(245, 'k'); // 250 bytes with ".json", of the 255 an entry's name may have
    store.set({'v'}, name);
    EXPECT_EQ(store.data(name), (std::vector<std::uint8_t>{'v'}));
    store.clear(name);
    EXPECT_EQ(store.data(name), std::nullopt);
    EXPECT_EQ(snapshot(dir / "store"), std::vector<std::string>{});
}

TEST(DiskStore, AWriteThatFailsMidwayLeavesTheOldValueWholeAndNoTemporaryFile) {
    TemporaryDirectory dir;
    DiskStore store = storeAt(dir / "store");
    store.set({'o', 'l', 'd'}, "value");
    const std::vector<std::uint8_t> large(64 * 1024, 'n');

    int result = velmor::testing::runInChildProcess([&] {
        // The file-size limit makes the write stop with EFBIG part of the way through.
        std::signal(SIGXFSZ, SIG_IGN);
        struct ::rlimit limit {
            4096, 4096
        };
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 3;
        }
        try {
            store.set(large, "value");
            return 1;
        } catch (const ErrorException& exception) {
            return exception.error().code() == EFBIG ? 0 : 2;
        }
    });

    EXPECT_EQ(result, 0) << "1: the write passed, 2: another error, 3: no limit";
    EXPECT_EQ(store.data("value"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(snapshot(dir / "store"), std::vector<std::string>{dir / "store/value.json = old"});
}

TEST(DiskStore, TheCacheStoreLivesInTheCachesFolder) {
    TemporaryDirectory dir;
    velmor::testing::ScopedEnvironment environment({{"XDG_CACHE_HOME", dir / "cache"}});
    int result = velmor::testing::runInChildProcess([&] {
        DiskStore cache = DiskStore::cache();
        cache.store(std::string("v"), StoreKey<std::string>{"name"});
        return cache.baseURL().path() == dir / "cache" ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(contentsOf(dir / "cache/name.json"), "\"v\"");
}

TEST(DiskStore, WithoutACachesFolderTheCacheStoreFailsClearly) {
    // A user the password database does not know has no home folder to fall back on.
    constexpr uid_t unknownUser = 54321;
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to run as a user without a home folder";
    }
    if (::getpwuid(unknownUser) != nullptr) {
        GTEST_SKIP() << "user " << unknownUser << " exists here";
    }
    TemporaryDirectory dir;
    velmor::testing::ScopedEnvironment environment({{"HOME", std::nullopt}, {"XDG_CACHE_HOME", "relative"}});
    // Writable by that user and its working folder, so a path taken against the current folder would
    // show up here.
    ::chmod(dir.path().c_str(), 0777);
    int result = velmor::testing::runInChildProcess([&] {
        if (::chdir(dir.path().c_str()) != 0 || ::setresuid(unknownUser, unknownUser, unknownUser) != 0) {
            return 125;
        }
        DiskStore cache = DiskStore::cache();
        int failures = 0;
        for (const auto& operation : std::vector<std::function<void()>>{[&] { cache.data("name"); },
                                                                        [&] { cache.set({'1'}, "name"); },
                                                                        [&] { cache.clear("name"); }}) {
            try {
                operation();
            } catch (const StoreError& error) {
                failures += error.code() == StoreError::Code::noBaseFolder ? 1 : 0;
            }
        }
        return failures == 3 ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(snapshot(dir.path()), std::vector<std::string>{});
}

} // namespace
} // namespace velmor
