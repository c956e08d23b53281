#include "platform/coding/Value.hpp"

#include <limits>

namespace velmor::coding {

Object::Object(std::initializer_list<Entry> entries) {
    for (const auto& entry : entries) {
        set(entry.first, entry.second);
    }
}

void Object::set(std::string key, Value value) {
    for (auto& entry : entries_) {
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

const Value* Object::find(const std::string& key) const {
    for (const auto& entry : entries_) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

bool operator==(const Object& a, const Object& b) {
    return a.entries_ == b.entries_;
}

// Unsigned values that fit a signed integer are stored signed, so the two spellings of one number
// compare equal.
Value::Value(unsigned long value) {
    if (value <= static_cast<unsigned long>(std::numeric_limits<std::int64_t>::max())) {
        storage_ = static_cast<std::int64_t>(value);
    } else {
        storage_ = static_cast<std::uint64_t>(value);
    }
}

Value::Value(unsigned long long value) : Value(static_cast<unsigned long>(value)) {}

const char* Value::kindDescription() const {
    switch (storage_.index()) {
    case 0:
        return "null";
    case 1:
        return "a boolean";
    case 2:
    case 3:
        return "a number";
    case 4:
        return "a number";
    case 5:
        return "a string";
    case 6:
        return "data";
    case 7:
        return "a date";
    case 8:
        return "an array";
    default:
        return "a dictionary";
    }
}

} // namespace velmor::coding
