#pragma once

#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// Entries the searching user may delete, as the item records it.
class IsDeletableMatchingCriterion : public FileMatchingCriterion {
public:
    bool matches(const FileSystemItem& item) const override { return item.hasDeletePermission; }
    // The index knows nothing of permissions: every file, to be judged after the query.
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    bool includes(const FileMatchingCriterion& other) const override {
        return dynamic_cast<const IsDeletableMatchingCriterion*>(&other) != nullptr;
    }
    std::string description() const override { return "IsDeletableMatchingCriterion()"; }
};

} // namespace sweepkit
