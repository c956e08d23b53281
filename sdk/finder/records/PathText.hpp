#pragma once

#include <string>
#include <string_view>

namespace sweepkit {

// A record's path as text that every coding format carries, JSON included: the path as it stands
// when it is valid UTF-8 (or not absolute), else its file URL text, "file://" and the path with
// its other bytes percent-encoded. No absolute path starts with "file:", so the two never meet.
std::string pathText(const std::string& path);

// The path that `pathText` wrote: a file URL text gives back its path's bytes, any other text is
// the path itself.
std::string pathFromText(std::string_view text);

} // namespace sweepkit
