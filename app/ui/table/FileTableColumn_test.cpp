#include "app/ui/table/FileTableColumn.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

TEST(NameSortKey, OrdersByScalarsOfTheComposedForm) {
    struct Case {
        std::string smaller;
        std::string larger;
    };
    const Case cases[] = {
        {"Zed", "apple"},                 // case-sensitive, upper case first
        {"file10", "file9"},              // no numeric awareness
        {"ab", "abc"},                    // a prefix first
        {"abcdefgh", "abcdefghi"},        // past the packed bytes
        {"abcdefgh1", "abcdefgh2"},       // decided after the packed bytes
        {"z", "\xC3\xA9"},                // é after every ASCII letter
        {"\xC3\xA9", "\xF0\x9F\x98\x80"}, // scalar order across lengths
        {"a\xFF"
         "b",
         "a\xFF"
         "c"}, // no UTF-8: by the bytes
    };
    for (const auto& c : cases) {
        EXPECT_LT(NameSortKey::of(c.smaller), NameSortKey::of(c.larger)) << c.smaller << " < " << c.larger;
    }
    // The composed and the decomposed spelling of "é" are the same name.
    EXPECT_EQ(NameSortKey::of("caf\xC3\xA9") <=> NameSortKey::of("cafe\xCC\x81"),
              std::strong_ordering::equal);
    // A name that is no UTF-8 keeps its bytes.
    EXPECT_EQ(NameSortKey::of("a\xFF"
                              "b")
                  .bytes,
              "a\xFF"
              "b");
}

TEST(FileTableColumn, ComparatorsKnowTheirColumn) {
    for (auto column : {FileTableColumn::name, FileTableColumn::size, FileTableColumn::lastOpened}) {
        EXPECT_EQ(columnOf(columnComparator(column)), column);
        EXPECT_EQ(columnOf(columnComparator(column, SortOrder::reverse)), column);
    }
    ASSERT_EQ(initialFileSortOrder().size(), 1u);
    EXPECT_EQ(initialFileSortOrder().front(), columnComparator(FileTableColumn::size, SortOrder::reverse));
}

} // namespace
} // namespace marrowdale
