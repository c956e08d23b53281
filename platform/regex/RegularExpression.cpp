#define PCRE2_CODE_UNIT_WIDTH 8
#include "platform/regex/RegularExpression.hpp"

#include "platform/error/Error.hpp"
#include "platform/text/UTF8.hpp"

#include <pcre2.h>
#include <vector>

namespace velmor {

namespace {

// One match block per thread, enough for the whole-match range: matching allocates nothing per call.
pcre2_match_data* threadMatchData() {
    struct Holder {
        pcre2_match_data* data = ::pcre2_match_data_create(1, nullptr);
        ~Holder() { ::pcre2_match_data_free(data); }
    };
    thread_local Holder holder;
    return holder.data;
}

bool isUTF8Error(int code) {
    return code <= PCRE2_ERROR_UTF8_ERR1 && code >= PCRE2_ERROR_UTF8_ERR21;
}

} // namespace

RegularExpression::RegularExpression(std::string pattern, Options options)
    : pattern_(std::move(pattern)), options_(options) {
    std::uint32_t flags = PCRE2_UTF | PCRE2_UCP;
    if (options.caseInsensitive) {
        flags |= PCRE2_CASELESS;
    }
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = ::pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(), flags,
                                       &errorCode, &errorOffset, nullptr);
    if (code == nullptr) {
        PCRE2_UCHAR reason[256];
        ::pcre2_get_error_message(errorCode, reason, sizeof reason);
        std::string description = "The value \"" + pattern_ + "\" is not a valid regular expression: " +
                                  reinterpret_cast<const char*>(reason) + " at offset " +
                                  std::to_string(errorOffset) + ".";
        throw ErrorException(
            Error(errorDomain, invalidPatternCode,
                  {{"NSInvalidValue", pattern_}, {Error::localizedDescriptionKey, description}}));
    }
    if (options.withoutBacktracking) {
        // Each state takes a few integers, and a pattern has at most a few states per character.
        workspaceSize_ = 1000 + 8 * pattern_.size();
    } else {
        // Without JIT support the interpreter serves the same matches, only slower.
        ::pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    }
    std::uint32_t allOptions = 0;
    ::pcre2_pattern_info(code, PCRE2_INFO_ALLOPTIONS, &allOptions);
    anchoredByPattern_ = (allOptions & PCRE2_ANCHORED) != 0;
    code_ = std::shared_ptr<const pcre2_code>(
        code, [](const pcre2_code* owned) { ::pcre2_code_free(const_cast<pcre2_code*>(owned)); });
}

std::string RegularExpression::escapedPattern(std::string_view text) {
    static constexpr std::string_view metacharacters = "\\^$.|?*+()[]{}-/#";
    std::string escaped;
    escaped.reserve(text.size() * 2);
    for (char c : text) {
        if (c == '\0') {
            escaped += "\\x{0}";
            continue;
        }
        if (metacharacters.find(c) != std::string_view::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

bool RegularExpression::hasMatch(std::string_view subject, MatchingOptions matching) const {
    // A pattern that anchors itself needs no match-time flag, and keeps the JIT path, which
    // match-time anchoring would leave.
    std::uint32_t flags = matching.anchored && !anchoredByPattern_ ? PCRE2_ANCHORED : 0;
    auto* code = const_cast<pcre2_code*>(code_.get());
    auto match = [&](std::string_view text, std::uint32_t extraFlags) {
        if (!options_.withoutBacktracking) {
            return ::pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                 flags | extraFlags, threadMatchData(), nullptr);
        }
        thread_local std::vector<int> workspace;
        if (workspace.size() < workspaceSize_) {
            workspace.resize(workspaceSize_);
        }
        return ::pcre2_dfa_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                 flags | extraFlags, threadMatchData(), nullptr, workspace.data(),
                                 workspace.size());
    };
    int result = match(subject, 0);
    if (isUTF8Error(result)) {
        thread_local std::string decoded;
        decodeUTF8Lossily(subject, decoded);
        result = match(decoded, PCRE2_NO_UTF_CHECK);
    }
    if (result >= 0) {
        return true;
    }
    if (result == PCRE2_ERROR_NOMATCH) {
        return false;
    }
    PCRE2_UCHAR reason[256];
    ::pcre2_get_error_message(result, reason, sizeof reason);
    throw ErrorException(Error(
        matchingErrorDomain, result,
        {{Error::localizedDescriptionKey, "Matching the regular expression \"" + pattern_ +
                                              "\" failed: " + reinterpret_cast<const char*>(reason) + "."}}));
}

} // namespace velmor
