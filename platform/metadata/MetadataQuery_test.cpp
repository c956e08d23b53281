#include "platform/metadata/MetadataQuery.hpp"

#include "platform/metadata/ComparisonPredicate.hpp"
#include "platform/metadata/MetadataAttributes.hpp"

#include <gtest/gtest.h>

namespace velmor::metadata {
namespace {

MetadataItem file(const std::string& path, std::int64_t size) {
    return MetadataItem(URL::fileURL(path), {{NSMetadataItemPathKey, path}, {NSMetadataItemFSSizeKey, size}});
}

PredicatePointer largerThan(std::int64_t size) {
    return ComparisonPredicate::make(NSMetadataItemFSSizeKey, ComparisonOperator::greaterThan, size);
}

std::vector<std::string> paths(const MetadataQuery& query) {
    std::vector<std::string> found;
    for (const auto& item : query.results()) {
        found.push_back(item.url().path());
    }
    return found;
}

// Installs an index for one test and puts the previous one back.
struct InstalledIndex {
    std::shared_ptr<InMemoryMetadataIndex> index = std::make_shared<InMemoryMetadataIndex>();
    std::shared_ptr<const MetadataIndex> previous = MetadataIndex::install(index);
    ~InstalledIndex() { MetadataIndex::install(previous); }
};

TEST(MetadataQuery, WithoutAnIndexGathersNothingAtOnce) {
    ASSERT_EQ(MetadataIndex::current(), nullptr);
    MetadataQuery query;
    query.setSearchScopes({URL::fileURL("/")});
    EXPECT_FALSE(query.start()) << "a query needs a predicate";
    query.setPredicate(largerThan(0));
    EXPECT_FALSE(query.isGathering()) << "not started";
    EXPECT_TRUE(query.start());
    EXPECT_FALSE(query.start()) << "started once only";
    EXPECT_TRUE(query.isStarted());
    EXPECT_FALSE(query.isGathering());
    EXPECT_EQ(query.resultCount(), 0u);
}

TEST(MetadataQuery, FindsTheMatchingItemsWithinWholeScopeComponentsInIndexOrder) {
    InstalledIndex installed;
    for (auto [path, size] : std::initializer_list<std::pair<const char*, int>>{{"/r/b/big", 5000},
                                                                                {"/r/a/small", 10},
                                                                                {"/r/abc/big", 5000},
                                                                                {"/r/a/big", 5000},
                                                                                {"/s/big", 9000}}) {
        installed.index->add(file(path, size));
    }
    installed.index->add(file("/r/b/big", 6000)); // replaced in its place

    MetadataQuery query;
    query.setSearchScopes({URL::fileURL("/r/a"), URL::fileURL("/r/b/")});
    query.setPredicate(largerThan(1000));
    query.setValueListAttributes({NSMetadataItemFSSizeKey});
    ASSERT_TRUE(query.start());
    EXPECT_FALSE(query.isGathering());
    EXPECT_EQ(paths(query), (std::vector<std::string>{"/r/b/big", "/r/a/big"}));
    EXPECT_EQ(*query.results()[0].valueForAttribute(NSMetadataItemFSSizeKey), coding::Value(6000));
    EXPECT_EQ(query.valueListAttributes(), std::vector<std::string>{NSMetadataItemFSSizeKey});
}

TEST(MetadataQuery, AHeldIndexKeepsItGatheringUntilReleasedOrStopped) {
    InstalledIndex installed;
    installed.index->add(file("/r/f", 5));
    installed.index->holdGathering(true);

    MetadataQuery released, stopped;
    for (auto* query : {&released, &stopped}) {
        query->setSearchScopes({URL::fileURL("/r")});
        query->setPredicate(largerThan(0));
        ASSERT_TRUE(query->start());
        EXPECT_TRUE(query->isGathering());
        EXPECT_EQ(query->resultCount(), 1u) << "what is found shows while gathering";
    }
    stopped.stop();
    EXPECT_TRUE(stopped.isStopped());
    EXPECT_FALSE(stopped.isGathering());
    EXPECT_EQ(stopped.resultCount(), 1u);

    installed.index->holdGathering(false);
    EXPECT_FALSE(released.isGathering());
    installed.index->holdGathering(true);
    EXPECT_FALSE(released.isGathering()) << "a query that has gathered stays so";
}

} // namespace
} // namespace velmor::metadata
