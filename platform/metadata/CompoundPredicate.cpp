#include "platform/metadata/CompoundPredicate.hpp"

#include <algorithm>

namespace velmor::metadata {

namespace {

std::string nested(const Predicate& predicate) {
    return predicate.isCompound() ? "(" + predicate.predicateFormat() + ")" : predicate.predicateFormat();
}

} // namespace

std::string CompoundPredicate::predicateFormat() const {
    if (type_ == CompoundPredicateType::not_) {
        return subpredicates_.empty() ? "NOT TRUEPREDICATE" : "NOT " + nested(*subpredicates_.front());
    }
    bool isAnd = type_ == CompoundPredicateType::and_;
    if (subpredicates_.empty()) {
        return isAnd ? "TRUEPREDICATE" : "FALSEPREDICATE";
    }
    if (subpredicates_.size() == 1) {
        return subpredicates_.front()->predicateFormat();
    }
    std::string text;
    for (const auto& subpredicate : subpredicates_) {
        if (!text.empty()) {
            text += isAnd ? " AND " : " OR ";
        }
        text += nested(*subpredicate);
    }
    return text;
}

bool CompoundPredicate::evaluate(const MetadataItem& item) const {
    auto holds = [&item](const PredicatePointer& predicate) { return predicate->evaluate(item); };
    switch (type_) {
    case CompoundPredicateType::not_:
        // "NOT TRUEPREDICATE" without a subpredicate.
        return !subpredicates_.empty() && !holds(subpredicates_.front());
    case CompoundPredicateType::and_:
        return std::all_of(subpredicates_.begin(), subpredicates_.end(), holds);
    case CompoundPredicateType::or_:
        return std::any_of(subpredicates_.begin(), subpredicates_.end(), holds);
    }
    return false;
}

} // namespace velmor::metadata
