#pragma once

#include <memory>
#include <string>

namespace velmor::metadata {

class MetadataItem;

// A query condition of the metadata index. Predicates are immutable and shared: code that needs to
// recognise one particular predicate compares the objects themselves.
class Predicate {
public:
    virtual ~Predicate() = default;
    // The condition as the query language writes it, e.g. `kMDItemFSSize > 1000000`.
    virtual std::string predicateFormat() const = 0;
    // Whether the item satisfies the condition, as an index answering a query judges it.
    virtual bool evaluate(const MetadataItem& item) const = 0;
    // Whether the format needs parentheses when it stands inside a compound.
    virtual bool isCompound() const { return false; }
};

using PredicatePointer = std::shared_ptr<const Predicate>;

} // namespace velmor::metadata
