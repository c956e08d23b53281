#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/metadata/MetadataIndex.hpp"

#include <gtest/gtest.h>

namespace velmor::metadata {
namespace {

TEST(MetadataIndex, ItemsComeFromTheInstalledIndexOnly) {
    URL known = URL::fileURL("/data/a.log");
    EXPECT_EQ(MetadataIndex::current(), nullptr);
    EXPECT_FALSE(MetadataItem::forURL(known));

    auto index = std::make_shared<InMemoryMetadataIndex>();
    index->add(MetadataItem(known, {{NSMetadataItemLastUsedDateKey, coding::Date{100}}}));
    EXPECT_EQ(MetadataIndex::install(index), nullptr);

    auto item = MetadataItem::forURL(known);
    ASSERT_TRUE(item);
    ASSERT_NE(item->valueForAttribute(NSMetadataItemLastUsedDateKey), nullptr);
    EXPECT_EQ(*item->valueForAttribute(NSMetadataItemLastUsedDateKey), coding::Value(coding::Date{100}));
    EXPECT_EQ(item->valueForAttribute(NSMetadataItemDueDateKey), nullptr);
    EXPECT_FALSE(MetadataItem::forURL(URL::fileURL("/data/b.log")));

    EXPECT_EQ(MetadataIndex::install(nullptr), index);
    EXPECT_EQ(MetadataIndex::current(), nullptr);
    EXPECT_FALSE(MetadataItem::forURL(known)) << "a removed index is not asked";

    // Installed again, it answers again.
    EXPECT_EQ(MetadataIndex::install(index), nullptr);
    EXPECT_TRUE(MetadataItem::forURL(known));
    EXPECT_EQ(MetadataIndex::install(nullptr), index);
}

} // namespace
} // namespace velmor::metadata
