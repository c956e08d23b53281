#pragma once

#include "platform/metadata/Predicate.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>

namespace velmor::metadata {

// Comparison operators by their raw values. A raw value outside this list can still be held; it
// prints as "<operator N>" and matches nothing.
enum class ComparisonOperator : std::uint32_t {
    lessThan = 0,
    lessThanOrEqualTo = 1,
    greaterThan = 2,
    greaterThanOrEqualTo = 3,
    equalTo = 4,
    notEqualTo = 5,
    matches = 6,
    like = 7,
    beginsWith = 8,
    endsWith = 9,
    in = 10,
    contains = 99,
    between = 100,
};

struct ComparisonOptions {
    bool caseInsensitive = false;
    bool diacriticInsensitive = false;
    friend bool operator==(const ComparisonOptions&, const ComparisonOptions&) = default;
};

using Date = std::chrono::system_clock::time_point;
using Constant = std::variant<std::int64_t, double, std::string, Date>;

// "<key path> <operator> <constant>": the attribute named by the key path on the left, a constant on
// the right.
class ComparisonPredicate : public Predicate {
public:
    ComparisonPredicate(std::string keyPath, ComparisonOperator operatorType, Constant constant,
                        ComparisonOptions options);

    static PredicatePointer make(std::string keyPath, ComparisonOperator operatorType, Constant constant,
                                 ComparisonOptions options);
    static PredicatePointer make(std::string keyPath, ComparisonOperator operatorType, Constant constant) {
        return make(std::move(keyPath), operatorType, std::move(constant), ComparisonOptions{});
    }

    const std::string& keyPath() const { return keyPath_; }
    ComparisonOperator operatorType() const { return operatorType_; }
    const Constant& constant() const { return constant_; }
    ComparisonOptions options() const { return options_; }

    // Strings are quoted with `"` and `\` escaped; dates print as CAST(<seconds since 2001>, "NSDate").
    std::string predicateFormat() const override;
    // Numbers compare with numbers, texts with texts and dates with dates; `like` takes `*` and `?`
    // as wildcards. An item without the attribute, a value of another kind, and the operators other
    // than the six orderings and `like` satisfy nothing.
    bool evaluate(const MetadataItem& item) const override;

private:
    std::string keyPath_;
    ComparisonOperator operatorType_;
    Constant constant_;
    ComparisonOptions options_;
};

} // namespace velmor::metadata
