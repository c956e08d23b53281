#include "app/ui/update/UpdateChannel.hpp"
#include "app/ui/update/UpdateVersion.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

TEST(UpdateVersion, ComparesDotSeparatedNumbersIgnoringTrailingZeros) {
    struct Case {
        const char* lower;
        const char* higher;
    };
    for (const Case& c : {Case{"1.9", "1.10"}, Case{"1", "1.0.1"}, Case{"2.9.9", "10"}, Case{"0.1", "1"},
                          Case{"1.2", "1.2.0.1"}}) {
        EXPECT_LT(*UpdateVersion::parse(c.lower), *UpdateVersion::parse(c.higher)) << c.lower << " < " << c.higher;
    }
    EXPECT_EQ(*UpdateVersion::parse("1.2"), *UpdateVersion::parse("1.2.0"));
    EXPECT_EQ(*UpdateVersion::parse("0"), *UpdateVersion::parse("0.0"));
}

TEST(UpdateVersion, RefusesWhatIsNotDotSeparatedNumbers) {
    for (const char* text : {"", ".", "1.", ".1", "1..2", "1.a", "1.2b", "-1", "+1", " 1", "1 ", "v1.2", "1,2",
                             "99999999999999999999999"}) {
        EXPECT_FALSE(UpdateVersion::parse(text)) << '"' << text << '"';
    }
}

TEST(UpdateChannel, RawValuesRoundTripAndOthersGiveNothing) {
    for (UpdateChannel channel : {UpdateChannel::dogfooding, UpdateChannel::beta, UpdateChannel::production}) {
        EXPECT_EQ(updateChannel(rawValue(channel)), channel);
    }
    EXPECT_EQ(rawValue(UpdateChannel::dogfooding), "dogfooding");
    EXPECT_FALSE(updateChannel("Beta"));
    EXPECT_FALSE(updateChannel(""));
}

} // namespace
} // namespace marrowdale
