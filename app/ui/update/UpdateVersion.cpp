#include "app/ui/update/UpdateVersion.hpp"

#include <charconv>

namespace marrowdale {

std::optional<UpdateVersion> UpdateVersion::parse(std::string_view text) {
    std::vector<std::uint64_t> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        std::uint64_t number = 0;
        const char* end = part.data() + part.size();
        // from_chars takes no sign and no space here, but a leading '+' or '-' must not slip through.
        if (part.empty() || part.front() < '0' || part.front() > '9') {
            return std::nullopt;
        }
        const auto [stop, error] = std::from_chars(part.data(), end, number);
        if (error != std::errc() || stop != end) {
            return std::nullopt;
        }
        parts.push_back(number);
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    while (!parts.empty() && parts.back() == 0) {
        parts.pop_back();
    }
    return UpdateVersion(std::move(parts));
}

} // namespace marrowdale
