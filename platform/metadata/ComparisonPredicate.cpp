#include "platform/metadata/ComparisonPredicate.hpp"

#include <charconv>
#include <cstdio>

namespace velmor::metadata {

namespace {

constexpr double referenceDateOffset = 978307200.0; // 2001-01-01 in seconds since 1970

std::string operatorText(ComparisonOperator type) {
    switch (type) {
    case ComparisonOperator::lessThan:
        return "<";
    case ComparisonOperator::lessThanOrEqualTo:
        return "<=";
    case ComparisonOperator::greaterThan:
        return ">";
    case ComparisonOperator::greaterThanOrEqualTo:
        return ">=";
    case ComparisonOperator::equalTo:
        return "==";
    case ComparisonOperator::notEqualTo:
        return "!=";
    case ComparisonOperator::matches:
        return "MATCHES";
    case ComparisonOperator::like:
        return "LIKE";
    case ComparisonOperator::beginsWith:
        return "BEGINSWITH";
    case ComparisonOperator::endsWith:
        return "ENDSWITH";
    case ComparisonOperator::in:
        return "IN";
    case ComparisonOperator::contains:
        return "CONTAINS";
    case ComparisonOperator::between:
        return "BETWEEN";
    }
    return "<operator " + std::to_string(static_cast<std::uint32_t>(type)) + ">";
}

std::string optionsText(ComparisonOptions options) {
    if (!options.caseInsensitive && !options.diacriticInsensitive) {
        return "";
    }
    return std::string("[") + (options.caseInsensitive ? "c" : "") +
           (options.diacriticInsensitive ? "d" : "") + "]";
}

std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            result += '\\';
        }
        result += c;
    }
    return result + "\"";
}

std::string shortest(double value) {
    char buffer[32];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

struct ConstantPrinter {
    std::string operator()(std::int64_t value) const { return std::to_string(value); }
    std::string operator()(double value) const { return shortest(value); }
    std::string operator()(const std::string& value) const { return quoted(value); }
    std::string operator()(const Date& value) const {
        double seconds =
            std::chrono::duration<double>(value.time_since_epoch()).count() - referenceDateOffset;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "CAST(%.6f, \"NSDate\")", seconds);
        return buffer;
    }
};

} // namespace

ComparisonPredicate::ComparisonPredicate(std::string keyPath, ComparisonOperator operatorType,
                                         Constant constant, ComparisonOptions options)
    : keyPath_(std::move(keyPath)), operatorType_(operatorType), constant_(std::move(constant)),
      options_(options) {}

PredicatePointer ComparisonPredicate::make(std::string keyPath, ComparisonOperator operatorType,
                                           Constant constant, ComparisonOptions options) {
    return std::make_shared<const ComparisonPredicate>(std::move(keyPath), operatorType, std::move(constant),
                                                       options);
}

std::string ComparisonPredicate::predicateFormat() const {
    return keyPath_ + " " + operatorText(operatorType_) + optionsText(options_) + " " +
           std::visit(ConstantPrinter{}, constant_);
}

} // namespace velmor::metadata
