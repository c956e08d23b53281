#include "platform/metadata/ComparisonPredicate.hpp"

#include "platform/metadata/MetadataItem.hpp"

#include <cctype>
#include <charconv>
#include <compare>
#include <cstdio>
#include <optional>

namespace velmor::metadata {

namespace {

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
        double seconds = coding::Date::fromTimePoint(value).secondsSinceReferenceDate;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "CAST(%.6f, \"NSDate\")", seconds);
        return buffer;
    }
};

std::string folded(std::string text, bool caseInsensitive) {
    if (caseInsensitive) {
        for (char& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return text;
}

// `*` stands for any run of characters, `?` for one; everything else for itself.
bool wildcardMatch(std::string_view text, std::string_view pattern) {
    std::size_t t = 0, p = 0;
    std::size_t starPattern = std::string_view::npos, starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starText = t;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::optional<double> numberOf(const coding::Value& value) {
    if (auto integer = value.get<std::int64_t>()) {
        return static_cast<double>(*integer);
    }
    if (auto unsignedInteger = value.get<std::uint64_t>()) {
        return static_cast<double>(*unsignedInteger);
    }
    if (auto real = value.get<double>()) {
        return *real;
    }
    return std::nullopt;
}

// The attribute's value against the constant, when the two are of comparable kinds.
std::optional<std::partial_ordering> order(const coding::Value& value, const Constant& constant,
                                           bool caseInsensitive) {
    if (auto integer = std::get_if<std::int64_t>(&constant)) {
        if (auto exact = value.get<std::int64_t>()) {
            return *exact <=> *integer;
        }
        if (auto number = numberOf(value)) {
            return *number <=> static_cast<double>(*integer);
        }
    } else if (auto real = std::get_if<double>(&constant)) {
        if (auto number = numberOf(value)) {
            return *number <=> *real;
        }
    } else if (auto text = std::get_if<std::string>(&constant)) {
        if (auto string = value.get<std::string>()) {
            return folded(*string, caseInsensitive) <=> folded(*text, caseInsensitive);
        }
    } else if (auto date = std::get_if<Date>(&constant)) {
        if (auto valueDate = value.get<coding::Date>()) {
            return valueDate->secondsSinceReferenceDate <=>
                   coding::Date::fromTimePoint(*date).secondsSinceReferenceDate;
        }
    }
    return std::nullopt;
}

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

bool ComparisonPredicate::evaluate(const MetadataItem& item) const {
    const coding::Value* value = item.valueForAttribute(keyPath_);
    if (value == nullptr) {
        return false;
    }
    if (operatorType_ == ComparisonOperator::like) {
        auto text = value->get<std::string>();
        auto pattern = std::get_if<std::string>(&constant_);
        return text && pattern &&
               wildcardMatch(folded(*text, options_.caseInsensitive),
                             folded(*pattern, options_.caseInsensitive));
    }
    auto ordering = order(*value, constant_, options_.caseInsensitive);
    if (!ordering) {
        return false;
    }
    switch (operatorType_) {
    case ComparisonOperator::lessThan:
        return *ordering < 0;
    case ComparisonOperator::lessThanOrEqualTo:
        return *ordering <= 0;
    case ComparisonOperator::greaterThan:
        return *ordering > 0;
    case ComparisonOperator::greaterThanOrEqualTo:
        return *ordering >= 0;
    case ComparisonOperator::equalTo:
        return *ordering == 0;
    case ComparisonOperator::notEqualTo:
        return *ordering != 0;
    default:
        return false;
    }
}

} // namespace velmor::metadata
