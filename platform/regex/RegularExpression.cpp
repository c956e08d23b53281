#define PCRE2_CODE_UNIT_WIDTH 8
#include "platform/regex/RegularExpression.hpp"

#include "platform/error/Error.hpp"
#include "platform/text/UTF8.hpp"

#include <pcre2.h>

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
    // Without JIT support the interpreter serves the same matches, only slower.
    ::pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
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
    int result = ::pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, flags,
                               threadMatchData(), nullptr);
    if (isUTF8Error(result)) {
        thread_local std::string decoded;
        decodeUTF8Lossily(subject, decoded);
        result = ::pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(decoded.data()), decoded.size(), 0,
                               flags | PCRE2_NO_UTF_CHECK, threadMatchData(), nullptr);
    }
    return result >= 0;
}

} // namespace velmor
