#include "platform/format/ByteCountFormatter.hpp"
#include "platform/format/DateFormatter.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velmor {

TEST(ByteCountFormatter, DecimalFileStyle) {
    struct Case {
        std::int64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1499, "1 KB"},
        {1500, "2 KB"},
        {999'499, "999 KB"},
        {999'500, "1 MB"},
        {1'500'000, "1.5 MB"},
        {2'000'000, "2 MB"},
        {1'234'567'890, "1.23 GB"},
        {4'096, "4 KB"},
        {5'000'000'000'000, "5 TB"},
        {-1500, "-2 KB"},
    };
    ByteCountFormatter formatter;
    for (const auto& c : cases) {
        EXPECT_EQ(formatter.string(c.bytes), c.text) << c.bytes;
    }
    formatter.allowsNonnumericFormatting = false;
    EXPECT_EQ(formatter.string(0), "0 bytes");
    formatter.includesActualByteCount = true;
    EXPECT_EQ(formatter.string(1'500'000), "1.5 MB (1,500,000 bytes)");
}

TEST(ByteCountFormatter, TheInterfacesStyleWritesALowerCaseKilo) {
    struct Case {
        std::int64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "Zero kB"},      {1, "1 byte"},          {999, "999 bytes"},      {1000, "1 kB"},
        {999'499, "999 kB"}, {999'500, "1 MB"},      {1'500'000, "1.5 MB"},   {1'234'567'890, "1.23 GB"},
        {-1500, "-2 kB"},    {INT64_MAX, "9.22 EB"}, {INT64_MIN, "-9.22 EB"},
    };
    const ByteCountFormatter formatter = ByteCountFormatter::forInterface();
    for (const auto& c : cases) {
        EXPECT_EQ(formatter.string(c.bytes), c.text) << c.bytes;
    }
    EXPECT_EQ(ByteCountFormatter().string(1000), "1 KB") << "the classic style is unchanged";
}

TEST(DateFormatter, ShortDateAndTimeInTheLocale) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ::setenv("LC_ALL", "C", 1);
    // 2001-01-02 03:04 UTC
    EXPECT_EQ(DateFormatter().string(coding::Date{86400 + 3 * 3600 + 4 * 60 + 30}), "01/02/01 03:04");
    EXPECT_EQ(DateFormatter().string(std::chrono::system_clock::time_point(std::chrono::seconds(978404640))),
              "01/02/01 03:04");
}

TEST(DateFormatter, ShortestDescriptionOfDoubles) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {{3600, "3600.0"}, {0.25, "0.25"},        {0, "0.0"},
                          {-2, "-2.0"},     {1e16, "1e+16"},       {100000000, "100000000.0"},
                          {0.1, "0.1"},     {2592000, "2592000.0"}};
    for (const auto& c : cases) {
        EXPECT_EQ(shortestDescription(c.value), c.text);
    }
}

} // namespace velmor
