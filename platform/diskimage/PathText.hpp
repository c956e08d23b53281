#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmor {

// A path as the disk-image tool's XML property lists carry it (an image's file, a volume's mount
// point): the path itself when XML can hold it unchanged, else its file URL text ("file://" and
// the path with its other bytes percent-encoded). Names need not be UTF-8 on Linux, and XML holds
// neither most control characters nor a carriage return as written. No absolute path starts with
// "file:", so the two never meet.
std::string pathText(const std::string& path);

// The path that `pathText` wrote: a file URL text gives back its path's bytes, any other text is
// the path itself; nothing when a file URL text holds no path.
std::optional<std::string> pathFromText(std::string_view text);

} // namespace velmor
