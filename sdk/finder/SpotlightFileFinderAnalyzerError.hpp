#pragma once

#include "platform/error/Error.hpp"

#include <string>

namespace sweepkit {

// The errors of the Spotlight engine, which criteria also throw when the metadata index cannot
// express them. The engine names this type `SpotlightFileFinderAnalyzer::Error`.
class SpotlightFileFinderAnalyzerError : public velmor::ComponentError {
public:
    static constexpr const char* domain = "SweepKit.SpotlightFileFinderAnalyzer.Error";

    // Cases in order; the code of each is its index.
    enum class Case {
        unsupportedCriterion,
        unsupportedValue,
        notIndexed,
        unsupportedComparaison,
        timeoutWaitingForResults,
        failedToAttachToResultHierarchy,
    };

    static SpotlightFileFinderAnalyzerError unsupportedCriterion(std::string description) {
        return {Case::unsupportedCriterion, std::move(description)};
    }
    static SpotlightFileFinderAnalyzerError unsupportedValue(std::string description) {
        return {Case::unsupportedValue, std::move(description)};
    }
    // For the cases without a payload.
    explicit SpotlightFileFinderAnalyzerError(Case value) : case_(value) {}

    Case errorCase() const { return case_; }
    // The payload of the first two cases; empty for the others.
    const std::string& description() const { return description_; }
    // The case as it is written out, e.g. `unsupportedCriterion(description: "FilePathCriterion")`.
    std::string caseDescription() const;

    velmor::Error toError() const override;

    friend bool operator==(const SpotlightFileFinderAnalyzerError& a,
                           const SpotlightFileFinderAnalyzerError& b) {
        return a.case_ == b.case_ && a.description_ == b.description_;
    }

private:
    SpotlightFileFinderAnalyzerError(Case value, std::string description)
        : case_(value), description_(std::move(description)) {}

    Case case_;
    std::string description_;
};

} // namespace sweepkit
