#pragma once

#include <memory>
#include <string>
#include <string_view>

struct pcre2_real_code_8;

namespace velmor {

// A compiled regular expression over Unicode text (PCRE2 with UTF, Unicode properties and JIT).
// Compiled once; matching is safe from any number of threads at once.
class RegularExpression {
public:
    struct Options {
        bool caseInsensitive = false;
        // Matches by following every alternative at once (PCRE2's DFA matcher) instead of by
        // backtracking: time linear in the subject for any pattern, so no pattern can run away on a
        // long name. Only whether there is a match is known, which is all `hasMatch` asks.
        bool withoutBacktracking = false;
        friend bool operator==(const Options&, const Options&) = default;
    };
    struct MatchingOptions {
        // The match must start at the beginning of the subject.
        bool anchored = false;
    };

    static constexpr const char* errorDomain = "NSCocoaErrorDomain";
    static constexpr std::int64_t invalidPatternCode = 2048;
    // Matching failures (a limit reached, no memory) carry PCRE2's own negative code in this domain.
    static constexpr const char* matchingErrorDomain = "velmor.RegularExpression.matching";

    // Throws `ErrorException` with the domain and code above, the pattern under "NSInvalidValue" and
    // the compiler's reason in the description, when `pattern` does not compile.
    RegularExpression(std::string pattern, Options options);
    explicit RegularExpression(std::string pattern) : RegularExpression(std::move(pattern), Options{}) {}

    // `text` with every character that has a meaning in a pattern preceded by a backslash, so that
    // the result matches `text` literally.
    static std::string escapedPattern(std::string_view text);

    const std::string& pattern() const { return pattern_; }
    Options options() const { return options_; }

    // Whether the expression matches somewhere in `subject` (at its start when anchored). A subject
    // that is not valid UTF-8 is matched as its lossy decoding. Throws `ErrorException` (in
    // `matchingErrorDomain`) when the engine cannot tell: a failure is never an answer.
    bool hasMatch(std::string_view subject, MatchingOptions matching) const;
    bool hasMatch(std::string_view subject) const { return hasMatch(subject, MatchingOptions{}); }

    // Two expressions are equal when their patterns and options are.
    friend bool operator==(const RegularExpression& a, const RegularExpression& b) {
        return a.pattern_ == b.pattern_ && a.options_ == b.options_;
    }

private:
    std::string pattern_;
    Options options_;
    std::shared_ptr<const pcre2_real_code_8> code_;
    bool anchoredByPattern_ = false;
    // Room for the matcher's active states when matching without backtracking.
    std::size_t workspaceSize_ = 0;
};

} // namespace velmor
