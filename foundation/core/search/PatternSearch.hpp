#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velmor {

// Tells whether every one of a set of keywords occurs in a block of bytes, in one pass that stops
// as soon as the last missing keyword is seen. A lower-case ASCII letter in a keyword also matches
// its upper-case form in the input; every other keyword byte matches only itself. The empty keyword
// occurs in every input.
//
// Built once, then read-only: it may be searched from several threads at once. Memory grows
// linearly with the total length of the keywords.
class PatternSearch {
public:
    explicit PatternSearch(const std::set<std::string>& keywords);

    // True when every keyword occurs at least once in `input` (occurrences may overlap); false for
    // an empty keyword set.
    bool foundAllPattern(std::string_view input) const;

private:
    // A keyword as the automaton finds it, with ASCII letters lowered. Several keywords that differ
    // only in the case of their letters share one.
    struct FoldedPattern {
        std::uint32_t length;
        std::vector<std::uint32_t> keywords;
    };
    // A keyword's upper-case letters match only themselves, so they are checked in the input once
    // the folded pattern is found.
    struct Keyword {
        std::string bytes;
        std::vector<std::uint32_t> upperCasePositions;
    };
    // What a state reports: the folded pattern ending there (or none), and the next state on its
    // failure chain that reports one (or none).
    struct Report {
        std::int32_t pattern;
        std::uint32_t next;
    };
    static constexpr std::uint32_t none = UINT32_MAX;

    void build(const std::vector<std::string>& foldedPatterns);
    // Marks the keywords that end at `end` through the reporting state `state`; true once all are
    // found.
    bool report(std::uint32_t state, std::size_t end, std::string_view input, std::vector<char>& found,
                std::size_t& missing) const;

    std::size_t keywordCount_ = 0;
    bool hasEmptyKeyword_ = false;
    std::vector<Keyword> keywords_;
    std::vector<FoldedPattern> patterns_;

    // The automaton: a dense table of next states, indexed by a state's offset (its number times
    // `classCount_`) plus the class of the input byte. Bytes that no keyword holds share class 0.
    // States that report come last, so one comparison per byte tells whether to look.
    std::array<std::uint8_t, 256> byteClass_{};
    std::uint32_t classCount_ = 1;
    std::vector<std::uint32_t> transitions_;
    std::uint32_t firstReportingState_ = 0;
    std::uint32_t firstReportingOffset_ = 0;
    std::vector<Report> reports_; // indexed by state - firstReportingState_
};

} // namespace velmor
