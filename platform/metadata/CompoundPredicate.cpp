#include "platform/metadata/CompoundPredicate.hpp"

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

} // namespace velmor::metadata
