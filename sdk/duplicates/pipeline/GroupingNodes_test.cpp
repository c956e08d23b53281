#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/duplicates/pipeline/BundleIdAndVersionGroupper.hpp"
#include "sdk/duplicates/pipeline/DuplicateStorePipelineNode.hpp"
#include "sdk/duplicates/pipeline/GroupingTestSupport.hpp"
#include "sdk/duplicates/pipeline/GrouppingPipelineNode.hpp"
#include "sdk/duplicates/pipeline/HashGroupper.hpp"
#include "sdk/duplicates/pipeline/SizeGroupper.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit::pipeline {
namespace {

using testing::CountingProbe;
using testing::listedFile;
using velmor::Error;
using velmor::Stat;
using velmor::testing::TemporaryDirectory;

std::string nameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// An answer in a few words: "-" for nothing to report, "error NAME" with the name of the file its
// error names ("error NAME, error NAME" for two), "group NAME NAME..." with the group's items in
// order, "skip".
std::string describe(const DuplicateProcessorResult& answer) {
    switch (answer.kind()) {
    case DuplicateProcessorResult::Kind::duplicate: {
        std::string text = "group";
        for (const auto& item : answer.group()->items) {
            text += " " + nameOf(item.path);
        }
        return text;
    }
    case DuplicateProcessorResult::Kind::error: {
        std::string text;
        for (const Error& error : answer.errors()) {
            const std::string* path = error.stringValue(Error::filePathKey);
            text += (text.empty() ? "" : ", ") + ("error " + (path ? nameOf(*path) : "without path"));
        }
        return text;
    }
    case DuplicateProcessorResult::Kind::notDuplicate:
        return "-";
    case DuplicateProcessorResult::Kind::skipFolder:
        return "skip";
    }
    return "?";
}

using StoreNode = DuplicateStorePipelineNode;
using WholeDigestNode = GrouppingPipelineNode<StoreNode, HashGroupper>;
using LeadingDigestNode = GrouppingPipelineNode<WholeDigestNode, HashGroupper>;
using SizeNode = GrouppingPipelineNode<LeadingDigestNode, SizeGroupper>;

// The file chain of a duplicate search: size, digest of the first 4000 bytes, whole digest, store.
std::shared_ptr<SizeNode> fileChain(std::shared_ptr<const velmor::ProgressHandler> wholeProbe = nullptr) {
    HashGroupper leading(4000, nullptr);
    HashGroupper whole(HashGroupper::wholeFile, nullptr, std::move(wholeProbe));
    return std::make_shared<SizeNode>(std::nullopt, SizeGroupper{}, [=](const Event& first) {
        return std::make_shared<LeadingDigestNode>(first, leading, [=](const Event& first) {
            return std::make_shared<WholeDigestNode>(
                first, whole, [](const Event& first) { return std::make_shared<StoreNode>(first); });
        });
    });
}

std::vector<std::string> feed(DuplicateProcessorPipelineNode& chain, const std::vector<Event>& events) {
    std::vector<std::string> answers;
    for (const auto& event : events) {
        answers.push_back(describe(chain.process(event)));
    }
    return answers;
}

std::string joined(const std::vector<std::string>& answers) {
    std::string text;
    for (const auto& answer : answers) {
        text += (text.empty() ? "" : " | ") + answer;
    }
    return text;
}

TEST(FileGrouping, CopiesFormOneGrowingGroup) {
    TemporaryDirectory tmp;
    const std::string bytes(9000, 'c');
    auto chain = fileChain();
    EXPECT_EQ(describe(chain->process(listedFile(tmp.writeFile("a", bytes)))), "-");
    const auto second = chain->process(listedFile(tmp.writeFile("b", bytes)));
    const auto third = chain->process(listedFile(tmp.writeFile("c", bytes)));
    EXPECT_EQ(describe(second), "group a b");
    EXPECT_EQ(describe(third), "group a b c");
    EXPECT_EQ(second.group()->id, third.group()->id);
    // The third answer adds to the items of the second instead of copying them.
    EXPECT_TRUE(second.group()->items.sharesStorageWith(third.group()->items));
    EXPECT_EQ(describe(chain->process(listedFile(tmp / "b"))), "-");
}

TEST(FileGrouping, OnlyTheSameBytesOfDistinctRegularFilesGroup) {
    const std::string block(4000, 'x');
    struct Case {
        const char* name;
        // Writes the fixture and gives the events of its walk, changing files after listing them.
        std::function<std::vector<Event>(const TemporaryDirectory&)> walk;
        std::vector<std::string> expected;
        int wholeDigestQuestions = -1; // -1: not checked
    };
    auto swapped = [&](const TemporaryDirectory& tmp, const std::function<void(const std::string&)>& swap) {
        const Event first = listedFile(tmp.writeFile("a", block + "end"));
        swap(tmp / "a");
        return std::vector<Event>{first, listedFile(tmp.writeFile("b", block + "end")),
                                  listedFile(tmp.writeFile("c", block + "end"))};
    };
    const Case cases[] = {
        {"first 4000 bytes differ",
         [&](const auto& tmp) {
             return std::vector<Event>{listedFile(tmp.writeFile("a", "A" + block)),
                                       listedFile(tmp.writeFile("b", "B" + block))};
         },
         {"-", "-"},
         0},
        {"equal first 4000 bytes, different ends",
         [&](const auto& tmp) {
             return std::vector<Event>{listedFile(tmp.writeFile("a", block + "A")),
                                       listedFile(tmp.writeFile("b", block + "B"))};
         },
         {"-", "-"}},
        {"empty files",
         [&](const auto& tmp) {
             return std::vector<Event>{listedFile(tmp.writeFile("a")), listedFile(tmp.writeFile("b"))};
         },
         {"-", "-"}},
        {"a file, a hard link to it, a copy",
         [&](const auto& tmp) {
             const std::string file = tmp.writeFile("file", block + "!");
             EXPECT_EQ(::link(file.c_str(), (tmp / "link").c_str()), 0);
             return std::vector<Event>{listedFile(file), listedFile(tmp / "link"),
                                       listedFile(tmp.writeFile("copy", block + "!"))};
         },
         {"-", "-", "group file copy"}},
        {"replaced by an equal file after listing",
         [&](const auto& tmp) {
             return swapped(tmp, [&](const std::string& path) {
                 ::unlink(path.c_str());
                 tmp.writeFile("a", block + "end");
             });
         },
         {"-", "error a", "group b c"}},
        {"replaced by a link to its twin after listing",
         [&](const auto& tmp) {
             return swapped(tmp, [&](const std::string& path) {
                 ::unlink(path.c_str());
                 EXPECT_EQ(::symlink((tmp / "b").c_str(), path.c_str()), 0);
             });
         },
         {"-", "error a", "group b c"}},
        {"replaced by a pipe after listing",
         [&](const auto& tmp) {
             return swapped(tmp, [&](const std::string& path) {
                 ::unlink(path.c_str());
                 EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
             });
         },
         {"-", "error a", "group b c"}},
    };
    for (const auto& c : cases) {
        TemporaryDirectory tmp;
        auto probe = std::make_shared<CountingProbe>();
        auto chain = fileChain(probe);
        EXPECT_EQ(feed(*chain, c.walk(tmp)), c.expected) << c.name;
        if (c.wholeDigestQuestions >= 0) {
            EXPECT_EQ(probe->asked(), c.wholeDigestQuestions) << c.name;
        }
    }
}

TEST(FileGrouping, UnreadableFilesJoinNoGroupAndAreReportedUnderTheirOwnPaths) {
    TemporaryDirectory tmp;
    ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
    auto file = [&](const std::string& name, const std::string& bytes, mode_t mode) {
        const std::string path = tmp.writeFile(name, bytes);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return listedFile(path);
    };
    const std::string bytes(5000, 'r');
    struct Case {
        const char* name;
        std::vector<Event> walk;
        std::string expected;
    };
    // Each file size picks its own groups, so the cases share one fixture folder.
    const Case cases[] = {
        // Never read: nothing else has its size.
        {"the only file of its size", {file("alone", "1", 0600)}, "-"},
        // The held first is tried as soon as the second fails, readable files after them or not.
        {"two different unreadable files",
         {file("u1", "22", 0600), file("u2", "23", 0600), file("r3", "24", 0644)},
         "- | error u2, error u1 | -"},
        {"two unreadable files and nothing else of their size",
         {file("v1", "333", 0600), file("v2", "333", 0600)},
         "- | error v2, error v1"},
        {"an unreadable file after a readable one of its size",
         {file("r", "4444", 0644), file("u", "4445", 0600), file("c", "4444", 0644)},
         "- | error u | group r c"},
        {"an unreadable file held first, then two copies of its size",
         {file("u", bytes + "u", 0600), file("c1", bytes + "c", 0644), file("c2", bytes + "c", 0644)},
         "- | error u | group c1 c2"},
    };
    auto text = testing::runUnprivileged([&] {
        std::string transcript;
        for (const auto& c : cases) {
            auto chain = fileChain();
            transcript += std::string(c.name) + ": " + joined(feed(*chain, c.walk)) + "\n";
        }
        return transcript;
    });
    if (!text) {
        GTEST_SKIP() << "needs root to drop privileges in a child";
    }
    std::string expected;
    for (const auto& c : cases) {
        expected += std::string(c.name) + ": " + c.expected + "\n";
    }
    EXPECT_EQ(*text, expected);
}

TEST(FileGrouping, ACancelledDigestIsNoErrorAndKeepsTheHeldFile) {
    TemporaryDirectory tmp;
    // Two sparse files of 16 GiB: equal first 4000 bytes, so only the whole digest tells them apart.
    for (const char* name : {"large1", "large2"}) {
        const std::string path = tmp.writeFile(name);
        ASSERT_EQ(::truncate(path.c_str(), std::int64_t{1} << 34), 0);
    }
    auto cancelled = std::make_shared<CountingProbe>([](int question) { return question >= 2; });
    auto chain = fileChain(cancelled);
    EXPECT_EQ(feed(*chain, {listedFile(tmp / "large1"), listedFile(tmp / "large2")}),
              (std::vector<std::string>{"-", "-"}));
    EXPECT_EQ(cancelled->asked(), 2);

    // Cancelled on the held file's digest: it stays held and groups with a later copy. Each whole
    // digest of 4001 bytes asks twice: before the first chunk and before the last byte.
    const std::string bytes(4001, 'h');
    auto once = std::make_shared<CountingProbe>([](int question) { return question == 3; });
    chain = fileChain(once);
    EXPECT_EQ(feed(*chain, {listedFile(tmp.writeFile("held", bytes)), listedFile(tmp.writeFile("b", bytes)),
                            listedFile(tmp.writeFile("c", bytes))}),
              (std::vector<std::string>{"-", "-", "group held c"}));
}

// A computer that answers from a script, by file name, and notes whom it was asked about.
struct ScriptedComputer {
    using IdentifierType = int;
    enum : int { none = -1, fails = -2, cancels = -3, failsWithoutPath = -4 };

    std::map<std::string, int> script;
    std::shared_ptr<std::vector<std::string>> asked = std::make_shared<std::vector<std::string>>();

    std::optional<int> identifier(const Event& event) const {
        asked->push_back(nameOf(event.path()));
        switch (int answer = script.at(nameOf(event.path()))) {
        case none:
            return std::nullopt;
        case fails:
            throw velmor::ErrorException(Error::posixForPath(EIO, event.path()));
        case failsWithoutPath:
            throw velmor::ErrorException(Error::posix(EIO));
        case cancels:
            throw velmor::CancellationError();
        default:
            return answer;
        }
    }
};

TEST(GrouppingPipelineNode, ComputesLazilyAndAnswersEachFailureOnce) {
    using C = ScriptedComputer;
    struct Case {
        const char* name;
        std::map<std::string, int> script; // "held" is the event the node is made with
        std::vector<std::string> walk;
        std::vector<std::string> answers;
        std::vector<std::string> asked;
    };
    const Case cases[] = {
        {"held and current agree",
         {{"held", 1}, {"b", 1}, {"c", 1}},
         {"b", "c"},
         {"group held b", "group held b c"},
         {"b", "held", "c"}},
        {"held and current differ",
         {{"held", 1}, {"b", 2}, {"c", 2}},
         {"b", "c"},
         {"-", "group b c"},
         {"b", "held", "c"}},
        {"current has no identifier: the held one is not computed",
         {{"held", 1}, {"b", C::none}, {"c", 1}},
         {"b", "c"},
         {"-", "group held c"},
         {"b", "c", "held"}},
        {"held fails: reported under its path, dropped, the current opens the group",
         {{"held", C::fails}, {"b", 1}, {"c", 1}},
         {"b", "c"},
         {"error held", "group b c"},
         {"b", "held", "c"}},
        {"held fails without a path: given its own",
         {{"held", C::failsWithoutPath}, {"b", 1}},
         {"b"},
         {"error held"},
         {"b", "held"}},
        {"current fails: reported under its path, the held one opens the group",
         {{"held", 1}, {"b", C::fails}, {"c", 1}},
         {"b", "c"},
         {"error b", "group held c"},
         {"b", "held", "c"}},
        {"current fails without a path: given its own",
         {{"held", 1}, {"b", C::failsWithoutPath}},
         {"b"},
         {"error b"},
         {"b", "held"}},
        {"current and held fail: each reported once under its own path",
         {{"held", C::fails}, {"b", C::failsWithoutPath}, {"c", 1}, {"d", 1}},
         {"b", "c", "d"},
         {"error b, error held", "-", "group c d"},
         {"b", "held", "c", "d"}},
        {"current fails, the held one is cancelled: it stays held",
         {{"held", C::cancels}, {"b", C::fails}},
         {"b", "b"},
         {"error b", "error b"},
         {"b", "held", "b", "held"}},
        {"cancelled on the current",
         {{"held", 1}, {"b", C::cancels}, {"c", 1}},
         {"b", "c"},
         {"-", "group held c"},
         {"b", "c", "held"}},
        {"cancelled on the held",
         {{"held", C::cancels}, {"b", 1}},
         {"b", "b"},
         {"-", "-"},
         {"b", "held", "b", "held"}},
    };
    for (const auto& c : cases) {
        ScriptedComputer computer{c.script};
        GrouppingPipelineNode<StoreNode, ScriptedComputer> node(
            Event::file("/r/held", Stat(), true), computer,
            [](const Event& first) { return std::make_shared<StoreNode>(first); });
        std::vector<Event> walk;
        for (const auto& name : c.walk) {
            walk.push_back(Event::file("/r/" + name, Stat(), true));
        }
        EXPECT_EQ(feed(node, walk), c.answers) << c.name;
        EXPECT_EQ(*computer.asked, c.asked) << c.name;
    }
}

// Most groups never get a second member: they hold their event and make no chain of their own.
TEST(GrouppingPipelineNode, MakesAGroupsChainOnlyWhenItsSecondEventArrives) {
    ScriptedComputer computer{{{"a", 1}, {"b", 2}, {"c", 3}, {"d", 1}, {"e", 1}}};
    std::vector<std::string> made;
    GrouppingPipelineNode<StoreNode, ScriptedComputer> node(std::nullopt, computer, [&](const Event& first) {
        made.push_back(nameOf(first.path()));
        return std::make_shared<StoreNode>(first);
    });
    std::vector<Event> walk;
    for (const char* name : {"a", "b", "c"}) {
        walk.push_back(Event::file(std::string("/r/") + name, Stat(), true));
    }
    EXPECT_EQ(feed(node, walk), (std::vector<std::string>{"-", "-", "-"}));
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(feed(node, {Event::file("/r/d", Stat(), true), Event::file("/r/e", Stat(), true)}),
              (std::vector<std::string>{"group a d", "group a d e"}));
    EXPECT_EQ(made, (std::vector<std::string>{"a"}));
}

TEST(DuplicateStorePipelineNode, HoldsEachFileOnceInTheOrderItCame) {
    auto statOf = [](std::uint64_t inode) {
        Stat stat;
        stat.st_dev = 7;
        stat.st_ino = inode;
        stat.st_size = 10;
        return stat;
    };
    StoreNode store(Event::file("/r/a", statOf(1), true));
    EXPECT_EQ(store.items().size(), 1u);
    const auto answers = feed(store, {
                                         Event::file("/r/b", statOf(2), true),
                                         Event::file("/r/a", statOf(1), true),
                                         Event::file("/mnt/bind/b", statOf(2), true),
                                         Event::symlink("/r/link", statOf(3), true),
                                         Event::enterDirectory("/r/folder", statOf(4), false),
                                     });
    EXPECT_EQ(answers, (std::vector<std::string>{"group a b", "-", "-", "-", "group a b folder"}));
    const velmor::UUID id = store.identifier();
    EXPECT_EQ(store.identifier(), id);

    // Items without a status record are told apart by path alone.
    StoreNode unlisted(Event::file("/r/x", Stat(), true));
    EXPECT_EQ(describe(unlisted.process(Event::file("/r/y", Stat(), true))), "group x y");
    EXPECT_TRUE(StoreNode(Event::leaveDirectory("/r", Stat())).items().empty());

    // A large group tells repeats apart the same way, members from before it grew large included.
    StoreNode large(Event::file("/r/0", statOf(100), true));
    for (std::uint64_t member = 1; member < 40; ++member) {
        EXPECT_EQ(
            large.process(Event::file("/r/" + std::to_string(member), statOf(100 + member), true)).kind(),
            DuplicateProcessorResult::Kind::duplicate);
    }
    for (const Event& repeat :
         {Event::file("/r/3", statOf(103), true), Event::file("/r/39", statOf(139), true),
          Event::file("/mnt/bind/2", statOf(102), true), Event::file("/mnt/bind/38", statOf(138), true)}) {
        EXPECT_EQ(large.process(repeat).kind(), DuplicateProcessorResult::Kind::notDuplicate)
            << repeat.path();
    }
    EXPECT_EQ(large.process(Event::file("/r/new", statOf(200), true)).group()->items.size(), 41u);
}

TEST(BundleGrouping, BundlesGroupByIdentifierAndVersion) {
    TemporaryDirectory tmp;
    const std::string id = "<key>CFBundleIdentifier</key><string>com.example.tool</string>";
    auto bundle = [&](const std::string& name, const std::string& entries) {
        if (!entries.empty()) {
            tmp.writeFile(name + "/Info.plist", velmor::testing::infoPlistText(entries));
        }
        tmp.makeDirectory(name);
        return Event::enterDirectory(tmp / name, *Stat::lstatPath(tmp / name), true);
    };
    const Event a = bundle("A.app", id + "<key>CFBundleVersion</key><string>12</string>");
    const Event b = bundle("B.app", id + "<key>CFBundleVersion</key><string>12</string>");
    const Event other = bundle("Other.app", id + "<key>CFBundleVersion</key><string>13</string>");
    const Event noVersion = bundle("NoVersion.app", id);
    const Event pipe = bundle("Pipe.app", "");
    ASSERT_EQ(::mkfifo((tmp / "Pipe.app/Info.plist").c_str(), 0644), 0);

    GrouppingPipelineNode<StoreNode, BundleIdAndVersionGroupper> node(
        std::nullopt, BundleIdAndVersionGroupper{},
        [](const Event& first) { return std::make_shared<StoreNode>(first); });
    EXPECT_EQ(feed(node, {a, b, other, noVersion, pipe}),
              (std::vector<std::string>{"-", "group A.app B.app", "-", "-", "-"}));
}

} // namespace
} // namespace sweepkit::pipeline
