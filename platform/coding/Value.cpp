#include "platform/coding/Value.hpp"

#include <limits>

namespace velmor::coding {

Object::Object(std::initializer_list<Entry> entries) {
    for (const auto& entry : entries) {
        set(entry.first, entry.second);
    }
}

std::size_t Object::position(const std::string& key) const {
    if (!index_.empty()) {
        auto found = index_.find(key);
        return found != index_.end() ? found->second : entries_.size();
    }
    std::size_t at = 0;
    while (at < entries_.size() && entries_[at].first != key) {
        ++at;
    }
    return at;
}

void Object::set(std::string key, Value value) {
    if (std::size_t at = position(key); at < entries_.size()) {
        entries_[at].second = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
    if (!index_.empty()) {
        try {
            index_.emplace(entries_.back().first, entries_.size() - 1);
        } catch (...) {
            entries_.pop_back();
            throw;
        }
    } else if (entries_.size() >= indexedSize) {
        // Built whole before it is used, so a failure leaves the scan in charge.
        std::unordered_map<std::string, std::size_t> index;
        index.reserve(entries_.size() * 2);
        for (std::size_t at = 0; at < entries_.size(); ++at) {
            index.emplace(entries_[at].first, at);
        }
        index_ = std::move(index);
    }
}

void Object::erase(const std::string& key) {
    const std::size_t at = position(key);
    if (at == entries_.size()) {
        return;
    }
    // `key` may be the entry's own, so the index lets go of it first.
    index_.erase(key);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t later = at; !index_.empty() && later < entries_.size(); ++later) {
        index_[entries_[later].first] = later;
    }
}

const Value* Object::find(const std::string& key) const {
    const std::size_t at = position(key);
    return at < entries_.size() ? &entries_[at].second : nullptr;
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
