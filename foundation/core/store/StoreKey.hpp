#pragma once

#include <string>

namespace velmor {

// The name under which a value of type T is stored; the type fixes what the key reads and writes.
template <typename T> struct StoreKey { std::string name; };

} // namespace velmor
