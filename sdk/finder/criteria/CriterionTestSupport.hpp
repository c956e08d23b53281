#pragma once

#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace sweepkit::testing {

inline FileSystemItem itemAt(const std::string& path, velmor::Stat stat = {}, bool deletable = false) {
    return FileSystemItem{velmor::URL::fileURL(path), stat, deletable};
}

template <typename C, typename... Args> AnyFileMatchingCriterion make(Args&&... args) {
    return std::make_shared<const C>(std::forward<Args>(args)...);
}

// The Spotlight error that asking for `criterion`'s predicate throws; fails the test when none is.
inline std::optional<SpotlightFileFinderAnalyzerError>
predicateError(const FileMatchingCriterion& criterion) {
    try {
        auto predicate = criterion.spotlightPredicate();
        ADD_FAILURE() << "got a predicate: " << predicate->predicateFormat();
    } catch (const SpotlightFileFinderAnalyzerError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace sweepkit::testing
