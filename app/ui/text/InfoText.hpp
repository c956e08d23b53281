#pragma once

#include <QString>

namespace velmor {
class Bundle;
}

namespace marrowdale {

// The text under `key` in `bundle`'s information dictionary; empty when it is missing or not a text.
QString infoText(const velmor::Bundle& bundle, const char* key);

} // namespace marrowdale
