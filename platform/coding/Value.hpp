#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace velmor::coding {

class Value;

// Raw bytes (property-list data, base64 text in JSON).
struct Data {
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const Data&, const Data&) = default;
};

// A point in time as seconds since 2001-01-01 00:00:00 UTC, the epoch of property-list dates.
struct Date {
    double secondsSinceReferenceDate = 0;
    static constexpr double unixEpochOffset = 978307200.0;

    static Date fromTimePoint(std::chrono::system_clock::time_point time) {
        return Date{std::chrono::duration<double>(time.time_since_epoch()).count() - unixEpochOffset};
    }
    std::chrono::system_clock::time_point timePoint() const {
        return timePointSince1970(secondsSinceReferenceDate + unixEpochOffset);
    }
    // Seconds since 1970 as a clock time, saturated at the clock's range (about 292 years either
    // side of 1970), so no stored or computed number can overflow the clock. NaN is the earliest time.
    static std::chrono::system_clock::time_point timePointSince1970(double seconds) {
        using Clock = std::chrono::system_clock;
        // A second inside the ends, so rounding in the conversion cannot step past them.
        const double earliest =
            std::chrono::duration<double>(Clock::time_point::min().time_since_epoch()).count() + 1;
        const double latest =
            std::chrono::duration<double>(Clock::time_point::max().time_since_epoch()).count() - 1;
        if (!(seconds > earliest)) {
            return Clock::time_point::min();
        }
        if (seconds >= latest) {
            return Clock::time_point::max();
        }
        return Clock::time_point(
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    }

    friend bool operator==(const Date&, const Date&) = default;
};

using Array = std::vector<Value>;

// A dictionary that keeps its keys in insertion order, so encoded records list their fields in the
// order they are declared. Larger ones keep an index of their keys, so that filling one from a
// document and looking its keys up take time in step with its size.
class Object {
public:
    using Entry = std::pair<std::string, Value>;

    Object() = default;
    Object(std::initializer_list<Entry> entries);

    // Replaces the value of an existing key in place, else appends.
    void set(std::string key, Value value);
    // Removes the entry of `key`, if any; the others keep their order.
    void erase(const std::string& key);
    const Value* find(const std::string& key) const;
    bool contains(const std::string& key) const { return find(key) != nullptr; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const std::vector<Entry>& entries() const { return entries_; }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    friend bool operator==(const Object&, const Object&);

private:
    // Below this size a scan is cheaper than the index, and most records are this small.
    static constexpr std::size_t indexedSize = 16;

    // The position of `key` in `entries_`, or `entries_.size()`.
    std::size_t position(const std::string& key) const;

    std::vector<Entry> entries_;
    // Key to position in `entries_`, kept in step with it once it has grown to `indexedSize`
    // entries; while empty, look-ups scan.
    std::unordered_map<std::string, std::size_t> index_;
};

// One node of the value tree that every encodable record passes through on its way to JSON or to a
// property list.
class Value {
public:
    using Storage = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Data,
                                 Date, Array, Object>;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool value) : storage_(value) {}
    Value(int value) : storage_(static_cast<std::int64_t>(value)) {}
    Value(long value) : storage_(static_cast<std::int64_t>(value)) {}
    Value(long long value) : storage_(static_cast<std::int64_t>(value)) {}
    Value(unsigned value) : storage_(static_cast<std::int64_t>(value)) {}
    Value(unsigned long value);
    Value(unsigned long long value);
    Value(double value) : storage_(value) {}
    Value(const char* value) : storage_(std::string(value)) {}
    Value(std::string value) : storage_(std::move(value)) {}
    Value(Data value) : storage_(std::move(value)) {}
    Value(Date value) : storage_(value) {}
    Value(Array value) : storage_(std::move(value)) {}
    Value(Object value) : storage_(std::move(value)) {}

    const Storage& storage() const { return storage_; }
    template <typename T> const T* get() const { return std::get_if<T>(&storage_); }
    bool isNull() const { return std::holds_alternative<std::monostate>(storage_); }
    // A short name of the kind of value, for decoding messages ("a dictionary", "a string", ...).
    const char* kindDescription() const;

    friend bool operator==(const Value&, const Value&) = default;

private:
    Storage storage_;
};

} // namespace velmor::coding
