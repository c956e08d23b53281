#include "foundation/core/search/PatternSearch.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace velmor {

namespace {

unsigned char folded(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

} // namespace

PatternSearch::PatternSearch(const std::set<std::string>& keywords) : keywordCount_(keywords.size()) {
    std::vector<std::string> foldedPatterns;
    std::unordered_map<std::string, std::uint32_t> patternOfFolded;
    for (const auto& bytes : keywords) {
        if (bytes.empty()) {
            hasEmptyKeyword_ = true;
            continue;
        }
        Keyword keyword{bytes, {}};
        std::string fold(bytes);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte >= 'A' && byte <= 'Z') {
                keyword.upperCasePositions.push_back(static_cast<std::uint32_t>(i));
            }
            fold[i] = static_cast<char>(folded(byte));
        }
        auto [found, added] = patternOfFolded.try_emplace(fold, static_cast<std::uint32_t>(patterns_.size()));
        if (added) {
            patterns_.push_back({static_cast<std::uint32_t>(fold.size()), {}});
            foldedPatterns.push_back(std::move(fold));
        }
        patterns_[found->second].keywords.push_back(static_cast<std::uint32_t>(keywords_.size()));
        keywords_.push_back(std::move(keyword));
    }
    build(foldedPatterns);
}

void PatternSearch::build(const std::vector<std::string>& foldedPatterns) {
    // One class per byte the keywords hold; an upper-case input letter takes its lower-case class.
    std::array<std::uint8_t, 256> classOfFolded{};
    for (const auto& pattern : foldedPatterns) {
        for (unsigned char byte : pattern) {
            if (classOfFolded[byte] == 0) {
                classOfFolded[byte] = static_cast<std::uint8_t>(classCount_++);
            }
        }
    }
    for (std::size_t byte = 0; byte < 256; ++byte) {
        byteClass_[byte] = classOfFolded[folded(static_cast<unsigned char>(byte))];
    }

    // The trie has one state per distinct prefix: in sorted order, each pattern adds what it does
    // not share with the one before. Counting first lets the table be made at its final size.
    std::vector<const std::string*> sorted;
    for (const auto& pattern : foldedPatterns) {
        sorted.push_back(&pattern);
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) { return *a < *b; });
    std::size_t states = 1;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        std::size_t shared = 0;
        if (i > 0) {
            const auto [mismatch, ignored] = std::mismatch(sorted[i]->begin(), sorted[i]->end(),
                                                           sorted[i - 1]->begin(), sorted[i - 1]->end());
            shared = static_cast<std::size_t>(mismatch - sorted[i]->begin());
        }
        states += sorted[i]->size() - shared;
    }
    if (states > std::numeric_limits<std::uint32_t>::max() / classCount_) {
        throw std::length_error("PatternSearch: the keywords are too long in total");
    }
    const auto stateCount = static_cast<std::uint32_t>(states);
    const std::uint32_t width = classCount_;

    // The trie, by state number; 0 stands for "no child", since no edge leads back to the root.
    std::vector<std::uint32_t>& next = transitions_;
    next.assign(states * width, 0);
    std::vector<std::int32_t> patternAt(stateCount, -1);
    std::uint32_t made = 1;
    for (std::size_t index = 0; index < foldedPatterns.size(); ++index) {
        std::uint32_t state = 0;
        for (unsigned char byte : foldedPatterns[index]) {
            std::uint32_t& child = next[state * width + classOfFolded[byte]];
            if (child == 0) {
                child = made++;
            }
            state = child;
        }
        patternAt[state] = static_cast<std::int32_t>(index);
    }

    // Failure links, breadth first, folded into the table: a missing edge takes the edge of the
    // failure state, so the search makes exactly one step per input byte. Each state also learns
    // the nearest state on its failure chain where a pattern ends.
    std::vector<std::uint32_t> failure(stateCount, 0);
    std::vector<std::uint32_t> nextReporting(stateCount, none);
    std::vector<std::uint32_t> queue;
    queue.reserve(stateCount);
    for (std::uint32_t c = 0; c < width; ++c) {
        if (std::uint32_t child = next[c]; child != 0) {
            queue.push_back(child);
        }
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::uint32_t state = queue[head];
        const std::uint32_t fail = failure[state];
        nextReporting[state] = patternAt[fail] >= 0 ? fail : nextReporting[fail];
        for (std::uint32_t c = 0; c < width; ++c) {
            std::uint32_t& child = next[state * width + c];
            const std::uint32_t fallback = next[fail * width + c];
            if (child == 0) {
                child = fallback;
            } else {
                failure[child] = fallback;
                queue.push_back(child);
            }
        }
    }

    // Renumber so that reporting states come last.
    auto reports = [&](std::uint32_t state) { return patternAt[state] >= 0 || nextReporting[state] != none; };
    std::vector<std::uint32_t> renumbered(stateCount);
    std::uint32_t quiet = 0;
    for (std::uint32_t state = 0; state < stateCount; ++state) {
        if (!reports(state)) {
            renumbered[state] = quiet++;
        }
    }
    firstReportingState_ = quiet;
    firstReportingOffset_ = quiet * width;
    std::uint32_t loud = quiet;
    reports_.assign(stateCount - quiet, Report{-1, none});
    for (std::uint32_t state = 0; state < stateCount; ++state) {
        if (reports(state)) {
            renumbered[state] = loud++;
        }
    }
    for (std::uint32_t state = 0; state < stateCount; ++state) {
        if (reports(state)) {
            const std::uint32_t following = nextReporting[state];
            reports_[renumbered[state] - quiet] = {patternAt[state],
                                                   following == none ? none : renumbered[following]};
        }
    }

    // Move the rows in place, cycle by cycle, so the table is never held twice; then store offsets
    // instead of numbers.
    std::vector<bool> placed(stateCount, false);
    std::vector<std::uint32_t> carried(width), displaced(width);
    for (std::uint32_t start = 0; start < stateCount; ++start) {
        if (placed[start]) {
            continue;
        }
        std::copy_n(next.begin() + std::ptrdiff_t{start} * width, width, carried.begin());
        std::uint32_t state = start;
        do {
            const std::uint32_t to = renumbered[state];
            auto row = next.begin() + std::ptrdiff_t{to} * width;
            std::copy_n(row, width, displaced.begin());
            std::copy_n(carried.begin(), width, row);
            carried.swap(displaced);
            placed[to] = true;
            state = to;
        } while (state != start);
    }
    for (auto& target : next) {
        target = renumbered[target] * width;
    }
}

bool PatternSearch::report(std::uint32_t state, std::size_t end, std::string_view input,
                           std::vector<char>& found, std::size_t& missing) const {
    for (; state != none;) {
        const Report& here = reports_[state - firstReportingState_];
        if (here.pattern >= 0) {
            const FoldedPattern& pattern = patterns_[static_cast<std::size_t>(here.pattern)];
            const std::size_t start = end - pattern.length;
            for (std::uint32_t index : pattern.keywords) {
                if (found[index]) {
                    continue;
                }
                const Keyword& keyword = keywords_[index];
                bool exact = true;
                for (std::uint32_t position : keyword.upperCasePositions) {
                    exact = exact && input[start + position] == keyword.bytes[position];
                }
                if (exact) {
                    found[index] = 1;
                    if (--missing == 0) {
                        return true;
                    }
                }
            }
        }
        state = here.next;
    }
    return false;
}

bool PatternSearch::foundAllPattern(std::string_view input) const {
    if (keywordCount_ == 0) {
        return false;
    }
    std::size_t missing = keywords_.size();
    if (missing == 0) {
        return true; // only the empty keyword, found at once
    }
    std::vector<char> found(keywords_.size(), 0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    const std::uint32_t* table = transitions_.data();
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        offset = table[offset + byteClass_[bytes[i]]];
        if (offset >= firstReportingOffset_ && report(offset / classCount_, i + 1, input, found, missing)) {
            return true;
        }
    }
    return false;
}

} // namespace velmor
