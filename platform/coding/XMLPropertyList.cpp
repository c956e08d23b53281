#include "platform/coding/XMLPropertyList.hpp"

#include "platform/coding/Decoding.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

namespace velmor::coding {

namespace {

constexpr const char* notAPropertyList = "The given data was not a valid property list.";

struct ReaderDeleter {
    void operator()(xmlTextReaderPtr reader) const { ::xmlFreeTextReader(reader); }
};

// An array or dictionary being filled, with the key waiting for its value.
struct OpenContainer {
    bool isArray = false;
    Array array;
    Object object;
    std::optional<std::string> pendingKey;
};

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The readers of scalar text report their errors at the root; the reader of the document puts in the
// value's path.

// The whole text must be one decimal integer with an optional sign: "1e3", "0x10" or "" are not,
// and a number past the 64-bit range is refused rather than wrapped.
Value integerValue(std::string_view text) {
    text = trimmed(text);
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = text;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        digits.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (digits.empty() || failure == std::errc::invalid_argument || end != digits.data() + digits.size()) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "Expected an integer but found \"" + shownInMessage(text) + "\".");
    }
    constexpr std::uint64_t signedMagnitudeLimit = std::uint64_t{1} << 63;
    if (failure == std::errc::result_out_of_range || (negative && magnitude > signedMagnitudeLimit)) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "Parsed number does not fit in the expected integer type.");
    }
    if (negative) {
        return magnitude == signedMagnitudeLimit ? std::numeric_limits<std::int64_t>::min()
                                                 : -static_cast<std::int64_t>(magnitude);
    }
    return static_cast<unsigned long long>(magnitude);
}

Value realValue(std::string_view text) {
    const std::string whole(trimmed(text));
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(whole.c_str(), &end);
    if (whole.empty() || end != whole.c_str() + whole.size()) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "Expected a real number but found \"" + shownInMessage(whole) + "\".");
    }
    return value;
}

// ISO 8601 in UTC, the only form property lists write: 2001-01-01T00:00:00Z.
Value dateValue(std::string_view text) {
    const std::string whole(trimmed(text));
    struct ::tm parts {};
    const char* end = ::strptime(whole.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (end == nullptr || *end != '\0') {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "Expected a date but found \"" + shownInMessage(whole) + "\".");
    }
    return Date{static_cast<double>(::timegm(&parts)) - Date::unixEpochOffset};
}

Value dataValue(std::string_view text) {
    Data data;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int sextet;
        if (c >= 'A' && c <= 'Z') {
            sextet = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            sextet = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            sextet = c - '0' + 52;
        } else if (c == '+') {
            sextet = 62;
        } else if (c == '/') {
            sextet = 63;
        } else if (c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        } else {
            throw DecodingError(DecodingError::Kind::dataCorrupted, {}, "Expected base64 data.");
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(sextet);
        if (++count == 4) {
            data.bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
            data.bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
            data.bytes.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        data.bytes.push_back(static_cast<std::uint8_t>(bits >> 4));
    } else if (count == 3) {
        data.bytes.push_back(static_cast<std::uint8_t>(bits >> 10));
        data.bytes.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return data;
}

// Reads documents element by element with a stack of its own, so no depth of nesting costs the
// reader any of the thread's stack.
class Reader {
public:
    explicit Reader(std::string_view bytes)
        : initialized_(initializeParser()),
          // No XML_PARSE_HUGE: it would lift libxml2's bounds on entity expansion and text size.
          reader_(bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())
                      ? nullptr
                      : ::xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)) {}

    Value read() {
        if (!reader_) {
            corrupted();
        }
        std::optional<Value> root;
        while (next()) {
            const int type = ::xmlTextReaderNodeType(reader_.get());
            if (type == XML_READER_TYPE_END_ELEMENT) {
                if (name() != "plist") {
                    closeContainer(root);
                }
                continue;
            }
            if (type != XML_READER_TYPE_ELEMENT) {
                continue;
            }
            const std::string element = name();
            const bool empty = ::xmlTextReaderIsEmptyElement(reader_.get()) == 1;
            if (element == "plist" && stack_.empty() && !root) {
                continue;
            }
            if (root) {
                corrupted();
            }
            if (element == "array" || element == "dict") {
                if (stack_.size() >= maximumNestingDepth) {
                    throw DecodingError(DecodingError::Kind::dataCorrupted, path(), nestedTooDeeply());
                }
                stack_.push_back(OpenContainer{element == "array", {}, {}, std::nullopt});
                if (empty) {
                    closeContainer(root);
                }
                continue;
            }
            const std::string text = empty ? std::string() : textUntilEnd();
            if (element == "key") {
                if (stack_.empty() || stack_.back().isArray || stack_.back().pendingKey) {
                    corrupted();
                }
                stack_.back().pendingKey = text;
                continue;
            }
            add(scalar(element, text), root);
        }
        if (!finished_ || !stack_.empty() || !root) {
            corrupted();
        }
        return std::move(*root);
    }

private:
    static bool initializeParser() {
        static std::once_flag once;
        std::call_once(once, [] {
            ::xmlInitParser();
            // libxml2 stops at 256 levels with no word of why: our own limit, with its message, comes
            // first. The parser reads some way ahead of the reader, hence the margin.
            ::xmlParserMaxDepth = std::max<unsigned>(::xmlParserMaxDepth, 4 * maximumNestingDepth);
        });
        return true;
    }

    [[noreturn]] void corrupted() const {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {}, notAPropertyList);
    }

    // Advances to the next node. An entity reference left in the document (anything but the five
    // predefined entities and character references, which the parser replaces) would read as
    // nothing, so it is refused.
    bool next() {
        const int status = ::xmlTextReaderRead(reader_.get());
        if (status < 0) {
            corrupted();
        }
        finished_ = status == 0;
        if (status == 1 && ::xmlTextReaderNodeType(reader_.get()) == XML_READER_TYPE_ENTITY_REFERENCE) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, path(),
                                "The data refers to the entity \"" + name() +
                                    "\"; only the predefined entities are read.");
        }
        return status == 1;
    }

    std::string name() const {
        const xmlChar* text = ::xmlTextReaderConstLocalName(reader_.get());
        return text ? reinterpret_cast<const char*>(text) : "";
    }

    // The text of the element just opened, up to its end.
    std::string textUntilEnd() {
        std::string text;
        while (next()) {
            const int type = ::xmlTextReaderNodeType(reader_.get());
            if (type == XML_READER_TYPE_END_ELEMENT) {
                return text;
            }
            if (type == XML_READER_TYPE_ELEMENT) {
                corrupted();
            }
            if (const xmlChar* value = ::xmlTextReaderConstValue(reader_.get());
                value && type != XML_READER_TYPE_COMMENT) {
                text += reinterpret_cast<const char*>(value);
            }
        }
        corrupted();
    }

    // The coding path of the value about to be added to the innermost container, made only for an
    // error: each open container sits under its parent's pending key or next index.
    CodingPath path() const {
        CodingPath path;
        for (const OpenContainer& container : stack_) {
            if (container.isArray) {
                path.emplace_back(container.array.size());
            } else if (container.pendingKey) {
                path.emplace_back(*container.pendingKey);
            }
        }
        return path;
    }

    Value scalar(const std::string& element, const std::string& text) const {
        if (element == "string") {
            return text;
        }
        if (element == "true" || element == "false") {
            return element == "true";
        }
        try {
            if (element == "integer") {
                return integerValue(text);
            }
            if (element == "real") {
                return realValue(text);
            }
            if (element == "date") {
                return dateValue(text);
            }
            if (element == "data") {
                return dataValue(text);
            }
        } catch (const DecodingError& error) {
            throw DecodingError(error.kind(), path(), error.debugDescription());
        }
        corrupted();
    }

    void closeContainer(std::optional<Value>& root) {
        if (stack_.empty() || stack_.back().pendingKey) {
            corrupted();
        }
        OpenContainer& open = stack_.back();
        Value done = open.isArray ? Value(std::move(open.array)) : Value(std::move(open.object));
        stack_.pop_back();
        add(std::move(done), root);
    }

    void add(Value value, std::optional<Value>& root) {
        if (stack_.empty()) {
            if (root) {
                corrupted();
            }
            root = std::move(value);
            return;
        }
        OpenContainer& parent = stack_.back();
        if (parent.isArray) {
            parent.array.push_back(std::move(value));
            return;
        }
        if (!parent.pendingKey) {
            corrupted();
        }
        parent.object.set(std::move(*parent.pendingKey), std::move(value));
        parent.pendingKey.reset();
    }

    bool initialized_;
    std::unique_ptr<xmlTextReader, ReaderDeleter> reader_;
    std::vector<OpenContainer> stack_;
    bool finished_ = false;
};

} // namespace

Value fromXMLPropertyList(std::string_view bytes) {
    return Reader(bytes).read();
}

} // namespace velmor::coding
