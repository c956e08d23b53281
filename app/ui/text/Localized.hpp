#pragma once

#include <QString>

#include <string>

namespace marrowdale {

// The interface's text for `key`, from the program's bundle in the user's language.
QString localized(const std::string& key);
// The same for a key that takes one argument (the key ends in "%@"): the argument, which may be a
// file's name or an error's message, goes in as it stands and is shown as display text.
QString localized(const std::string& key, const std::string& argument);

} // namespace marrowdale
