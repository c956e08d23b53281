#include "sdk/filesystem/Options.hpp"

#include <fts.h>
#include <gtest/gtest.h>

namespace sweepkit {

TEST(Options, RawValuesAreTheFtsFlags) {
    EXPECT_EQ(Options::commandLineFollow.rawValue, FTS_COMFOLLOW);
    EXPECT_EQ(Options::logical.rawValue, FTS_LOGICAL);
    EXPECT_EQ(Options::noChangeDirectory.rawValue, FTS_NOCHDIR);
    EXPECT_EQ(Options::physical.rawValue, FTS_PHYSICAL);
    EXPECT_EQ(Options::seeDot.rawValue, FTS_SEEDOT);
    EXPECT_EQ(Options::crossDevice.rawValue, FTS_XDEV);
    EXPECT_EQ(Options::followRootSymlink, Options::commandLineFollow);
    EXPECT_EQ((Options{Options::physical, Options::crossDevice}).rawValue, 80);
}

TEST(Options, SetAlgebra) {
    const Options a{Options::physical, Options::crossDevice};
    const Options b{Options::physical, Options::seeDot};
    EXPECT_EQ(a.union_(b), (Options{Options::physical, Options::crossDevice, Options::seeDot}));
    EXPECT_EQ(a.intersection(b), Options::physical);
    EXPECT_EQ(a.symmetricDifference(b), (Options{Options::crossDevice, Options::seeDot}));
    EXPECT_EQ(a.subtracting(b), Options::crossDevice);
    EXPECT_TRUE(Options::physical.isSubset(a));
    EXPECT_TRUE(Options::physical.isStrictSubset(a));
    EXPECT_FALSE(a.isStrictSubset(a));
    EXPECT_TRUE(a.isSuperset(Options::crossDevice));
    EXPECT_TRUE(Options::logical.isDisjoint(a));
    EXPECT_TRUE(Options().isEmpty());

    Options set = Options::physical;
    auto inserted = set.insert(Options::seeDot);
    EXPECT_TRUE(inserted.inserted);
    EXPECT_FALSE(set.insert(Options::seeDot).inserted);
    EXPECT_EQ(set.remove(Options::seeDot), Options::seeDot);
    EXPECT_EQ(set.remove(Options::seeDot), Options());
    EXPECT_EQ(set.update(Options::physical), Options::physical);
    EXPECT_EQ(set.update(Options::logical), Options());
    EXPECT_EQ(set, (Options{Options::physical, Options::logical}));
    set.formIntersection(Options::logical);
    EXPECT_EQ(set, Options::logical);
}

} // namespace sweepkit
