#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marrowdale {

// Which line of releases the program follows. The program is built on `dogfooding`; nothing reads
// the channel yet.
enum class UpdateChannel { dogfooding, beta, production };

// "dogfooding", "beta" or "production".
std::string rawValue(UpdateChannel channel);
// The channel of `raw`; nothing for any other text.
std::optional<UpdateChannel> updateChannel(std::string_view raw);

} // namespace marrowdale
