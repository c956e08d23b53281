#include "platform/fs/ResourceValues.hpp"

#include "platform/error/Error.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using Clock = std::chrono::system_clock;

Clock::time_point at(std::int64_t seconds, std::int64_t nanoseconds) {
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)));
}

TEST(ResourceValues, EachDateComesFromItsOwnSource) {
    velmor::testing::TemporaryDirectory dir;
    std::string file = dir.writeFile("f", "x");
    const struct ::timespec times[2] = {{1000000000, 111}, {1200000000, 222}}; // access, modification
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct ::statx record {};
    ASSERT_EQ(::statx(AT_FDCWD, file.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &record), 0);
    URL url = URL::fileURL(file);

    EXPECT_EQ(dateResourceValue(url, DateResourceKey::contentAccessDate), at(1000000000, 111));
    EXPECT_EQ(dateResourceValue(url, DateResourceKey::contentModificationDate), at(1200000000, 222));
    EXPECT_EQ(dateResourceValue(url, DateResourceKey::attributeModificationDate),
              at(record.stx_ctime.tv_sec, record.stx_ctime.tv_nsec));
    auto creation = dateResourceValue(url, DateResourceKey::creationDate);
    if (record.stx_mask & STATX_BTIME) {
        EXPECT_EQ(creation, at(record.stx_btime.tv_sec, record.stx_btime.tv_nsec));
    } else {
        EXPECT_EQ(creation, std::nullopt) << "this file system keeps no birth time";
    }
    EXPECT_EQ(dateResourceValue(url, DateResourceKey::addedToDirectoryDate), std::nullopt);
}

TEST(ResourceValues, DatesReadTogetherAreTheDatesReadOneByOne) {
    velmor::testing::TemporaryDirectory dir;
    std::string file = dir.writeFile("f", "x");
    const struct ::timespec times[2] = {{1000000000, 111}, {1200000000, 222}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_EQ(::symlink("f", (dir.path() + "/link").c_str()), 0);
    const DateResourceKey all[] = {DateResourceKey::creationDate, DateResourceKey::contentModificationDate,
                                   DateResourceKey::attributeModificationDate,
                                   DateResourceKey::contentAccessDate, DateResourceKey::addedToDirectoryDate};
    for (const std::string& path : {file, dir.path() + "/link"}) {
        URL url = URL::fileURL(path);
        auto together = dateResourceValues(url, all);
        for (auto key : all) {
            EXPECT_EQ(together[key], dateResourceValue(url, key)) << path << " " << static_cast<int>(key);
        }
        // A date not asked for is not given.
        const DateResourceKey some[] = {DateResourceKey::contentModificationDate};
        auto one = dateResourceValues(url, some);
        EXPECT_EQ(one[DateResourceKey::contentModificationDate],
                  dateResourceValue(url, DateResourceKey::contentModificationDate));
        EXPECT_EQ(one[DateResourceKey::contentAccessDate], std::nullopt);
    }
    EXPECT_THROW(dateResourceValues(URL::fileURL(dir.path() + "/missing"), all), ErrorException);
    const DateResourceKey addedOnly[] = {DateResourceKey::addedToDirectoryDate};
    EXPECT_EQ(dateResourceValues(URL::fileURL(dir.path() + "/missing"),
                                 addedOnly)[DateResourceKey::addedToDirectoryDate],
              std::nullopt)
        << "nothing to read, so nothing fails";
}

TEST(ResourceValues, DatesOfACurrentRecordReadTheEntryOnlyForAMissingBirthTime) {
    velmor::testing::TemporaryDirectory dir;
    std::string file = dir.writeFile("f", "x");
    const URL missing = URL::fileURL(dir.path() + "/missing");
    Stat record;
    record.st_atimespec = {1000000000, 1};
    record.st_mtimespec = {1100000000, 2};
    record.st_ctimespec = {1200000000, 3};
    record.st_birthtimespec = {900000000, 4};
    const DateResourceKey all[] = {DateResourceKey::creationDate, DateResourceKey::contentModificationDate,
                                   DateResourceKey::attributeModificationDate,
                                   DateResourceKey::contentAccessDate, DateResourceKey::addedToDirectoryDate};

    // Everything is in the record: the entry is not read, so its absence does not matter.
    auto fromRecord = dateResourceValues(missing, record, all);
    EXPECT_EQ(fromRecord[DateResourceKey::creationDate], at(900000000, 4));
    EXPECT_EQ(fromRecord[DateResourceKey::contentModificationDate], at(1100000000, 2));
    EXPECT_EQ(fromRecord[DateResourceKey::attributeModificationDate], at(1200000000, 3));
    EXPECT_EQ(fromRecord[DateResourceKey::contentAccessDate], at(1000000000, 1));
    EXPECT_EQ(fromRecord[DateResourceKey::addedToDirectoryDate], std::nullopt);
    const DateResourceKey some[] = {DateResourceKey::contentModificationDate};
    EXPECT_EQ(dateResourceValues(missing, record, some)[DateResourceKey::creationDate], std::nullopt)
        << "a date not asked for is not given";

    // Without a birth time in the record only the entry can say whether it has one.
    record.st_birthtimespec = {};
    auto withoutBirth = dateResourceValues(URL::fileURL(file), record, all);
    EXPECT_EQ(withoutBirth[DateResourceKey::creationDate],
              dateResourceValue(URL::fileURL(file), DateResourceKey::creationDate));
    EXPECT_EQ(withoutBirth[DateResourceKey::contentModificationDate], at(1100000000, 2))
        << "still the record's";
    EXPECT_THROW(dateResourceValues(missing, record, all), ErrorException);
    EXPECT_EQ(dateResourceValues(missing, record, some)[DateResourceKey::contentModificationDate],
              at(1100000000, 2));
}

TEST(ResourceValues, DescribesALinkNotItsTarget) {
    velmor::testing::TemporaryDirectory dir;
    std::string target = dir.writeFile("target", "x");
    const struct ::timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
    ASSERT_EQ(::symlink("target", (dir.path() + "/link").c_str()), 0);
    EXPECT_NE(dateResourceValue(URL::fileURL(dir.path() + "/link"), DateResourceKey::contentModificationDate),
              at(1000000000, 0));
}

TEST(ResourceValues, AnUnreadableEntryThrowsAnErrorWithItsPath) {
    velmor::testing::TemporaryDirectory dir;
    std::string missing = dir.path() + "/missing";
    try {
        dateResourceValue(URL::fileURL(missing), DateResourceKey::contentModificationDate);
        FAIL() << "read a date of a missing file";
    } catch (const ErrorException& exception) {
        EXPECT_EQ(exception.error().domain(), Error::posixDomain);
        EXPECT_EQ(exception.error().code(), ENOENT);
        ASSERT_NE(exception.error().stringValue(Error::filePathKey), nullptr);
        EXPECT_EQ(*exception.error().stringValue(Error::filePathKey), missing);
    }
    // The added date has no source, so nothing is read and nothing fails.
    EXPECT_EQ(dateResourceValue(URL::fileURL(missing), DateResourceKey::addedToDirectoryDate), std::nullopt);
}

TEST(ResourceValues, AllocatedSizeCountsBlocksOnDiskNotTheLength) {
    velmor::testing::TemporaryDirectory dir;
    std::string sparse = dir.path() + "/sparse";
    int fd = ::open(sparse.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 8 * 1024 * 1024), 0); // a hole: a length but no blocks
    ::close(fd);
    std::string full = dir.writeFile("full", std::string(10000, 'x'));
    struct ::stat record {};
    ASSERT_EQ(::lstat(full.c_str(), &record), 0);

    auto sparseSize = totalFileAllocatedSize(URL::fileURL(sparse));
    ASSERT_TRUE(sparseSize);
    EXPECT_LT(*sparseSize, 8 * 1024 * 1024);
    EXPECT_EQ(totalFileAllocatedSize(URL::fileURL(full)), std::int64_t{record.st_blocks} * 512);
    EXPECT_EQ(totalFileAllocatedSize(URL::fileURL(dir.path())), std::nullopt);
    EXPECT_EQ(totalFileAllocatedSize(URL::fileURL(dir.path() + "/missing")), std::nullopt);
}

} // namespace
} // namespace velmor
