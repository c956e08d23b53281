#include "sdk/finder/criteria/AndMatchingCriterion.hpp"
#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"
#include "sdk/finder/criteria/FilePathCriterion.hpp"
#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"
#include "sdk/finder/criteria/OrMatchingCriterion.hpp"
#include "sdk/finder/criteria/SpotlightPredicates.hpp"

#include "platform/metadata/CompoundPredicate.hpp"

namespace sweepkit {
namespace {

using testing::itemAt;
using testing::make;
using velmor::metadata::CompoundPredicate;
using velmor::metadata::CompoundPredicateType;

// Answers as told and counts how often it is asked.
class ScriptedCriterion : public FileMatchingCriterion {
public:
    explicit ScriptedCriterion(bool answer) : answer_(answer) {}
    bool matches(const FileSystemItem&) const override {
        ++asked;
        return answer_;
    }
    velmor::metadata::PredicatePointer spotlightPredicate() const override {
        return spotlightAlwaysTruePredicate();
    }
    bool includes(const FileMatchingCriterion&) const override { return false; }
    std::string description() const override { return answer_ ? "Yes()" : "No()"; }
    mutable int asked = 0;

private:
    bool answer_;
};

const FileSystemItem anyItem = itemAt("/tmp/x.log");

AnyFileMatchingCriterion logName() {
    return make<FileNameCriterion>(FileNameCriterion::initWithExtension("log"));
}

TEST(CompoundCriteria, MatchingStopsAtTheFirstDecisivePart) {
    auto yes = std::make_shared<const ScriptedCriterion>(true);
    auto no = std::make_shared<const ScriptedCriterion>(false);
    auto later = std::make_shared<const ScriptedCriterion>(true);

    EXPECT_FALSE(AndMatchingCriterion({yes, no, later}).matches(anyItem));
    EXPECT_EQ(yes->asked, 1);
    EXPECT_EQ(no->asked, 1);
    EXPECT_EQ(later->asked, 0);
    EXPECT_TRUE(OrMatchingCriterion({no, yes, later}).matches(anyItem));
    EXPECT_EQ(later->asked, 0);

    EXPECT_TRUE(AndMatchingCriterion({yes, later}).matches(anyItem));
    EXPECT_FALSE(OrMatchingCriterion({no, no}).matches(anyItem));
    EXPECT_FALSE(AndMatchingCriterion({}).matches(anyItem));
    EXPECT_FALSE(OrMatchingCriterion({}).matches(anyItem));
    EXPECT_FALSE(NotMatchingCriterion(yes).matches(anyItem));
    EXPECT_TRUE(NotMatchingCriterion(no).matches(anyItem));
}

TEST(CompoundCriteria, IsDeletableReadsTheItemsPermission) {
    IsDeletableMatchingCriterion deletable;
    EXPECT_TRUE(deletable.matches(itemAt("/a", {}, true)));
    EXPECT_FALSE(deletable.matches(itemAt("/a", {}, false)));
    EXPECT_EQ(deletable.spotlightPredicate(), spotlightAlwaysTruePredicate());
}

TEST(CompoundCriteria, SharedPredicatesAreSingleObjects) {
    EXPECT_EQ(spotlightAlwaysTruePredicate(), spotlightAlwaysTruePredicate());
    EXPECT_EQ(spotlightAlwaysFalsePredicate(), spotlightAlwaysFalsePredicate());
    EXPECT_EQ(spotlightAlwaysTruePredicate()->predicateFormat(), "kMDItemFSSize >= 0");
    EXPECT_EQ(spotlightAlwaysFalsePredicate()->predicateFormat(), "kMDItemFSSize < 0");
}

TEST(CompoundCriteria, PredicatesOfTheCombinators) {
    auto name = logName();
    auto namePredicate = name->spotlightPredicate();
    auto deletable = make<IsDeletableMatchingCriterion>();

    // Empty combinators ask for nothing; one part passes its own predicate object through.
    EXPECT_EQ(AndMatchingCriterion({}).spotlightPredicate(), spotlightAlwaysFalsePredicate());
    EXPECT_EQ(OrMatchingCriterion({}).spotlightPredicate(), spotlightAlwaysFalsePredicate());
    EXPECT_EQ(AndMatchingCriterion({name}).spotlightPredicate(), namePredicate);
    EXPECT_EQ(OrMatchingCriterion({name}).spotlightPredicate(), namePredicate);

    // The always-true object is dropped from an and, by identity only.
    auto andPredicate = AndMatchingCriterion({deletable, name}).spotlightPredicate();
    auto& compound = dynamic_cast<const CompoundPredicate&>(*andPredicate);
    EXPECT_EQ(compound.type(), CompoundPredicateType::and_);
    ASSERT_EQ(compound.subpredicates().size(), 1u);
    EXPECT_EQ(compound.subpredicates()[0], namePredicate);
    EXPECT_EQ(andPredicate->predicateFormat(), "kMDItemFSName LIKE[c] \"*.log\"");

    auto allDropped = AndMatchingCriterion({deletable, deletable}).spotlightPredicate();
    EXPECT_TRUE(dynamic_cast<const CompoundPredicate&>(*allDropped).subpredicates().empty());
    EXPECT_EQ(allDropped->predicateFormat(), "TRUEPREDICATE");

    // An or keeps every part.
    auto orPredicate = OrMatchingCriterion({deletable, name}).spotlightPredicate();
    EXPECT_EQ(orPredicate->predicateFormat(), "kMDItemFSSize >= 0 OR kMDItemFSName LIKE[c] \"*.log\"");

    // Not deletable cannot be asked of the index: every file is.
    EXPECT_EQ(NotMatchingCriterion(deletable).spotlightPredicate(), spotlightAlwaysTruePredicate());
    EXPECT_EQ(NotMatchingCriterion(name).spotlightPredicate()->predicateFormat(),
              "NOT kMDItemFSName LIKE[c] \"*.log\"");
}

TEST(CompoundCriteria, TheFirstUnsupportedPartFailsTheWholePredicate) {
    auto path = make<FilePathCriterion>("/Caches/");
    auto name = logName();
    for (const AnyFileMatchingCriterion& criterion :
         {make<AndMatchingCriterion>(FileMatchingCriteria{name, path}),
          make<OrMatchingCriterion>(FileMatchingCriteria{path, name}), make<NotMatchingCriterion>(path),
          make<AndMatchingCriterion>(FileMatchingCriteria{path})}) {
        auto error = testing::predicateError(*criterion);
        ASSERT_TRUE(error) << criterion->description();
        EXPECT_EQ(*error, SpotlightFileFinderAnalyzerError::unsupportedCriterion("FilePathCriterion"));
    }
}

TEST(CompoundCriteria, InclusionProbes) {
    auto deletable = make<IsDeletableMatchingCriterion>();
    auto notDeletable = make<NotMatchingCriterion>(deletable);
    auto name = logName();
    auto path = make<FilePathCriterion>("/Caches/");
    auto nestedAnd = make<AndMatchingCriterion>(
        FileMatchingCriteria{name, make<OrMatchingCriterion>(FileMatchingCriteria{make<AndMatchingCriterion>(
                                       FileMatchingCriteria{path, notDeletable})})});

    struct Case {
        const char* name;
        AnyFileMatchingCriterion criterion;
        bool includesDeletable;
        bool includesNotDeletable;
    };
    const Case cases[] = {
        {"bare deletable", deletable, true, false},
        {"negation", notDeletable, false, true},
        {"and holding deletable", make<AndMatchingCriterion>(FileMatchingCriteria{name, deletable}), true,
         false},
        {"and holding the negation", make<AndMatchingCriterion>(FileMatchingCriteria{name, notDeletable}),
         false, true},
        {"negation deep in ands and a one-part or", nestedAnd, false, true},
        {"or of two deletable parts", make<OrMatchingCriterion>(FileMatchingCriteria{deletable, deletable}),
         false, false},
        {"one-part or", make<OrMatchingCriterion>(FileMatchingCriteria{deletable}), true, false},
        {"empty and", make<AndMatchingCriterion>(FileMatchingCriteria{}), false, false},
        {"negation of a negation", make<NotMatchingCriterion>(notDeletable), false, false},
        {"name", name, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.criterion->includes(IsDeletableMatchingCriterion()), c.includesDeletable) << c.name;
        EXPECT_EQ(c.criterion->includes(NotMatchingCriterion(deletable)), c.includesNotDeletable) << c.name;
    }
}

TEST(CompoundCriteria, DescriptionsNameEveryPart) {
    AndMatchingCriterion criterion({make<IsDeletableMatchingCriterion>(),
                                    make<NotMatchingCriterion>(make<FilePathCriterion>("/Caches/")),
                                    make<OrMatchingCriterion>(FileMatchingCriteria{})});
    EXPECT_EQ(
        criterion.description(),
        "AndMatchingCriterion(criteria: [IsDeletableMatchingCriterion(), NotMatchingCriterion(criterion: "
        "FilePathCriterion(pattern: \"/Caches/\")), OrMatchingCriterion(criteria: [])])");
}

TEST(SpotlightFileFinderAnalyzerError, PresentsItsCaseIndexAndPayload) {
    using Error = SpotlightFileFinderAnalyzerError;
    struct Case {
        Error error;
        std::int64_t code;
        std::string description;
    };
    const Case cases[] = {
        {Error::unsupportedCriterion("FilePathCriterion"), 0,
         "unsupportedCriterion(description: \"FilePathCriterion\")"},
        {Error::unsupportedValue("date-based request"), 1,
         "unsupportedValue(description: \"date-based request\")"},
        {Error(Error::Case::notIndexed), 2, "notIndexed"},
        {Error(Error::Case::unsupportedComparaison), 3, "unsupportedComparaison"},
        {Error(Error::Case::timeoutWaitingForResults), 4, "timeoutWaitingForResults"},
        {Error(Error::Case::failedToAttachToResultHierarchy), 5, "failedToAttachToResultHierarchy"},
    };
    for (const auto& c : cases) {
        auto error = c.error.toError();
        EXPECT_EQ(error.domain(), "SweepKit.SpotlightFileFinderAnalyzer.Error");
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.description(), c.description);
    }
}

} // namespace
} // namespace sweepkit
