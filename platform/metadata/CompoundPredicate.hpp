#pragma once

#include "platform/metadata/Predicate.hpp"

#include <cstdint>
#include <vector>

namespace velmor::metadata {

// Compound types by their raw values.
enum class CompoundPredicateType : std::uint32_t { not_ = 0, and_ = 1, or_ = 2 };

// Not over its first subpredicate, or the and / or of all of them. An and without subpredicates is
// true, an or without subpredicates false.
class CompoundPredicate : public Predicate {
public:
    CompoundPredicate(CompoundPredicateType type, std::vector<PredicatePointer> subpredicates)
        : type_(type), subpredicates_(std::move(subpredicates)) {}

    static PredicatePointer make(CompoundPredicateType type, std::vector<PredicatePointer> subpredicates) {
        return std::make_shared<const CompoundPredicate>(type, std::move(subpredicates));
    }

    CompoundPredicateType type() const { return type_; }
    const std::vector<PredicatePointer>& subpredicates() const { return subpredicates_; }

    std::string predicateFormat() const override;
    bool isCompound() const override { return true; }
    bool evaluate(const MetadataItem& item) const override;

private:
    CompoundPredicateType type_;
    std::vector<PredicatePointer> subpredicates_;
};

} // namespace velmor::metadata
