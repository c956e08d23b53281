#include "platform/metadata/ComparisonPredicate.hpp"
#include "platform/metadata/CompoundPredicate.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/metadata/MetadataItem.hpp"

#include <gtest/gtest.h>

namespace velmor::metadata {
namespace {

using namespace std::chrono_literals;

TEST(Predicate, FormatsAsTheQueryLanguageWritesIt) {
    auto size = ComparisonPredicate::make(NSMetadataItemFSSizeKey, ComparisonOperator::greaterThan,
                                          std::int64_t{1000000});
    auto name = ComparisonPredicate::make(NSMetadataItemFSNameKey, ComparisonOperator::like, "*.log",
                                          {.caseInsensitive = true});
    auto quote = ComparisonPredicate::make(NSMetadataItemFSNameKey, ComparisonOperator::equalTo,
                                           std::string("say \"hi\" \\ bye"));
    auto date = ComparisonPredicate::make(NSMetadataItemDateAddedKey, ComparisonOperator::lessThan,
                                          Date(std::chrono::seconds(978307200 + 86400)) + 500ms);
    auto unknown = ComparisonPredicate::make("k", static_cast<ComparisonOperator>(42), std::int64_t{1});
    auto both = CompoundPredicate::make(CompoundPredicateType::and_, {name, size});
    auto either = CompoundPredicate::make(CompoundPredicateType::or_, {both, size});

    struct Case {
        PredicatePointer predicate;
        std::string format;
    };
    const Case cases[] = {
        {size, "kMDItemFSSize > 1000000"},
        {name, "kMDItemFSName LIKE[c] \"*.log\""},
        {quote, "kMDItemFSName == \"say \\\"hi\\\" \\\\ bye\""},
        {date, "kMDItemDateAdded < CAST(86400.500000, \"NSDate\")"},
        {unknown, "k <operator 42> 1"},
        {ComparisonPredicate::make("k", ComparisonOperator::greaterThanOrEqualTo, std::int64_t{0}), "k >= 0"},
        {ComparisonPredicate::make("k", ComparisonOperator::lessThanOrEqualTo, 1.5), "k <= 1.5"},
        {ComparisonPredicate::make("k", ComparisonOperator::notEqualTo, std::int64_t{-3}), "k != -3"},
        {both, "kMDItemFSName LIKE[c] \"*.log\" AND kMDItemFSSize > 1000000"},
        {either, "(kMDItemFSName LIKE[c] \"*.log\" AND kMDItemFSSize > 1000000) OR kMDItemFSSize > 1000000"},
        {CompoundPredicate::make(CompoundPredicateType::not_, {name}), "NOT kMDItemFSName LIKE[c] \"*.log\""},
        {CompoundPredicate::make(CompoundPredicateType::not_, {both}),
         "NOT (kMDItemFSName LIKE[c] \"*.log\" AND kMDItemFSSize > 1000000)"},
        {CompoundPredicate::make(CompoundPredicateType::and_, {}), "TRUEPREDICATE"},
        {CompoundPredicate::make(CompoundPredicateType::or_, {}), "FALSEPREDICATE"},
        {CompoundPredicate::make(CompoundPredicateType::and_, {size}), "kMDItemFSSize > 1000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.predicate->predicateFormat(), c.format);
    }
}

TEST(Predicate, KeepsItsPartsForInspection) {
    auto name = ComparisonPredicate::make(NSMetadataItemFSNameKey, ComparisonOperator::like, "*.log",
                                          {.caseInsensitive = true});
    auto& comparison = static_cast<const ComparisonPredicate&>(*name);
    EXPECT_EQ(comparison.keyPath(), "kMDItemFSName");
    EXPECT_EQ(comparison.operatorType(), ComparisonOperator::like);
    EXPECT_EQ(std::get<std::string>(comparison.constant()), "*.log");
    EXPECT_TRUE(comparison.options().caseInsensitive);

    auto compound = CompoundPredicate::make(CompoundPredicateType::or_, {name, name});
    auto& parts = static_cast<const CompoundPredicate&>(*compound);
    EXPECT_EQ(parts.type(), CompoundPredicateType::or_);
    ASSERT_EQ(parts.subpredicates().size(), 2u);
    EXPECT_EQ(parts.subpredicates()[0], name);
}

TEST(Predicate, EvaluatesAgainstTheAttributesOfAnItem) {
    const MetadataItem item(URL::fileURL("/data/Report.LOG"),
                            {{NSMetadataItemFSNameKey, "Report.LOG"},
                             {NSMetadataItemFSSizeKey, 2000},
                             {NSMetadataItemDateAddedKey, coding::Date{86400}}});
    auto size = [](ComparisonOperator op, Constant value) {
        return ComparisonPredicate::make(NSMetadataItemFSSizeKey, op, std::move(value));
    };
    auto name = [](ComparisonOperator op, std::string value, bool caseInsensitive) {
        return ComparisonPredicate::make(NSMetadataItemFSNameKey, op, std::move(value),
                                         {.caseInsensitive = caseInsensitive});
    };
    const Date dayOne = Date(std::chrono::seconds(978307200 + 86400));
    auto large = size(ComparisonOperator::greaterThan, std::int64_t{1000});

    struct Case {
        PredicatePointer predicate;
        bool holds;
    };
    const Case cases[] = {
        {large, true},
        {size(ComparisonOperator::lessThan, std::int64_t{2000}), false},
        {size(ComparisonOperator::lessThanOrEqualTo, std::int64_t{2000}), true},
        {size(ComparisonOperator::greaterThanOrEqualTo, 2000.5), false},
        {size(ComparisonOperator::equalTo, std::int64_t{2000}), true},
        {size(ComparisonOperator::notEqualTo, std::int64_t{2000}), false},
        {size(ComparisonOperator::equalTo, std::string("2000")), false}, // a text is no number
        {name(ComparisonOperator::like, "*.log", true), true},
        {name(ComparisonOperator::like, "*.log", false), false},
        {name(ComparisonOperator::like, "R?port*", false), true},
        {name(ComparisonOperator::like, "*port", true), false},
        {name(ComparisonOperator::equalTo, "report.log", true), true},
        {name(ComparisonOperator::beginsWith, "Report", false), false}, // not served
        {ComparisonPredicate::make(NSMetadataItemDateAddedKey, ComparisonOperator::equalTo, dayOne), true},
        {ComparisonPredicate::make(NSMetadataItemDateAddedKey, ComparisonOperator::lessThan, dayOne), false},
        {ComparisonPredicate::make(NSMetadataItemDueDateKey, ComparisonOperator::lessThan, dayOne), false},
        {CompoundPredicate::make(CompoundPredicateType::and_,
                                 {large, name(ComparisonOperator::like, "*.log", true)}),
         true},
        {CompoundPredicate::make(CompoundPredicateType::and_,
                                 {large, name(ComparisonOperator::like, "x*", true)}),
         false},
        {CompoundPredicate::make(CompoundPredicateType::or_,
                                 {name(ComparisonOperator::like, "x*", true), large}),
         true},
        {CompoundPredicate::make(CompoundPredicateType::not_, {large}), false},
        {CompoundPredicate::make(CompoundPredicateType::and_, {}), true},
        {CompoundPredicate::make(CompoundPredicateType::or_, {}), false},
        {CompoundPredicate::make(CompoundPredicateType::not_, {}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.predicate->evaluate(item), c.holds) << c.predicate->predicateFormat();
    }
}

} // namespace
} // namespace velmor::metadata
