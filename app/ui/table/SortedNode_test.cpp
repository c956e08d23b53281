#include "app/ui/table/SortedNode.hpp"

#include <gtest/gtest.h>

#include <string>

namespace marrowdale {
namespace {

struct TestNode {
    std::string name;
    std::int64_t size = 0;
    std::optional<std::vector<std::shared_ptr<TestNode>>> children;
    int keyReads = 0;

    std::string id() const { return name; }
};
using Row = SortedNode<TestNode>;
using Nodes = Row::Nodes;

std::shared_ptr<TestNode> leaf(std::string name, std::int64_t size) {
    return std::make_shared<TestNode>(TestNode{std::move(name), size, std::nullopt, 0});
}
std::shared_ptr<TestNode> folder(std::string name, std::int64_t size, Nodes children) {
    return std::make_shared<TestNode>(TestNode{std::move(name), size, std::move(children), 0});
}

Row::Comparator byName(SortOrder order = SortOrder::forward) {
    return Row::Comparator::make(
        "name", [](TestNode& node) { return ++node.keyReads, node.name; }, order);
}
Row::Comparator bySize(SortOrder order = SortOrder::forward) {
    return Row::Comparator::make(
        "size", [](TestNode& node) { return ++node.keyReads, node.size; }, order);
}
Row::ChildrenKeyPath childrenOf() {
    return [](TestNode& node) -> const std::optional<Nodes>& { return node.children; };
}

std::vector<std::string> ids(const std::vector<Row>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows) {
        names.push_back(row.id());
    }
    return names;
}

TEST(SortedNode, OrdersALevel) {
    using Names = std::vector<std::string>;
    struct Case {
        const char* what;
        Row::Comparators order;
        Names expected;
    };
    // b1 and b2 tie on size, a and c on name's first letter never: ties show model order.
    const Case cases[] = {
        {"no comparator keeps the given order", {}, {"c", "b1", "a", "b2"}},
        {"by name ascending", {byName()}, {"a", "b1", "b2", "c"}},
        {"by name descending", {byName(SortOrder::reverse)}, {"c", "b2", "b1", "a"}},
        {"ties keep model order ascending", {bySize()}, {"a", "b1", "b2", "c"}},
        {"ties keep model order descending", {bySize(SortOrder::reverse)}, {"c", "b1", "b2", "a"}},
        {"the next comparator decides ties",
         {bySize(SortOrder::reverse), byName(SortOrder::reverse)},
         {"c", "b2", "b1", "a"}},
    };
    for (const auto& c : cases) {
        Nodes nodes = {leaf("c", 30), leaf("b1", 20), leaf("a", 10), leaf("b2", 20)};
        auto rows = Row::sortedNodes(nodes, c.order, childrenOf());
        EXPECT_EQ(ids(rows), c.expected) << c.what;
        // Each key is read once per node per sort, not once per comparison.
        for (const auto& node : nodes) {
            EXPECT_EQ(node->keyReads, static_cast<int>(c.order.size())) << c.what;
        }
    }
}

TEST(SortedNode, AnEmptyLevelReadsNoKey) {
    EXPECT_TRUE(Row::sortedNodes({}, {byName()}, childrenOf()).empty());
    auto only = leaf("only", 1);
    EXPECT_EQ(ids(Row::sortedNodes({only}, {byName()}, childrenOf())), std::vector<std::string>{"only"});
    EXPECT_EQ(only->keyReads, 0);
}

TEST(SortedNode, ChildrenAreSortedLikeTheirParent) {
    auto tree = folder(
        "top", 60,
        {leaf("small", 1), folder("inner", 50, {leaf("x", 5), leaf("y", 45)}), folder("empty", 0, {})});
    auto rows = Row::sortedNodes({tree}, {bySize(SortOrder::reverse)}, childrenOf());
    ASSERT_EQ(rows.size(), 1u);
    auto level = rows[0].children();
    ASSERT_TRUE(level);
    EXPECT_EQ(ids(*level), (std::vector<std::string>{"inner", "small", "empty"}));
    EXPECT_EQ((*level)[0].sortOrder(), Row::Comparators{bySize(SortOrder::reverse)});
    auto deeper = (*level)[0].children();
    ASSERT_TRUE(deeper);
    EXPECT_EQ(ids(*deeper), (std::vector<std::string>{"y", "x"}));
    // Neither an empty folder nor a file opens.
    EXPECT_FALSE((*level)[1].children());
    EXPECT_FALSE((*level)[2].children());
}

TEST(SortedNode, HeaderClicksFlipTheFirstColumnOrSortAnotherAscending) {
    struct Case {
        const char* what;
        Row::Comparators before;
        Row::Comparator clicked;
        Row::Comparators after;
    };
    const Case cases[] = {
        {"the sorting column flips", {bySize(SortOrder::reverse)}, bySize(), {bySize()}},
        {"and flips back", {bySize()}, bySize(), {bySize(SortOrder::reverse)}},
        {"another column sorts ascending", {bySize(SortOrder::reverse)}, byName(), {byName()}},
        {"whatever order it was clicked with", {byName()}, bySize(SortOrder::reverse), {bySize()}},
        {"an empty order takes the click", {}, byName(), {byName()}},
        {"later comparators are dropped", {byName(), bySize()}, byName(), {byName(SortOrder::reverse)}},
    };
    for (const auto& c : cases) {
        auto order = c.before;
        applyHeaderSort(order, c.clicked);
        EXPECT_EQ(order, c.after) << c.what;
    }
}

} // namespace
} // namespace marrowdale
