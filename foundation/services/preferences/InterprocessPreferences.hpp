#pragma once

#include "foundation/core/log/Logger.hpp"
#include "platform/coding/Decoding.hpp"
#include "platform/fs/URL.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

namespace velmor {

class FSEventMonitor;

// Values a preference table can hold. Other types may be declared convertible; setting one stores
// nothing (the key is removed), since a table holds booleans, strings and data only.
template <typename T> struct IsPreferenceValueConvertible : std::false_type {};
template <> struct IsPreferenceValueConvertible<bool> : std::true_type {};
template <> struct IsPreferenceValueConvertible<std::string> : std::true_type {};
template <> struct IsPreferenceValueConvertible<coding::Data> : std::true_type {};

template <typename T>
concept PreferenceValueConvertible = IsPreferenceValueConvertible<T>::value && requires(const coding::Decoder& d, const T& v) {
    { coding::Coding<T>::decode(d) } -> std::convertible_to<T>;
    { coding::Coding<T>::encode(v) } -> std::convertible_to<coding::Value>;
};

// A small typed key-value table that the processes of one machine share through one binary
// property-list file. Root processes write it; any process reads it. Each object keeps the whole
// table in memory, serves reads from it and reloads when the file changes on disk. Each accepted
// change is stored under an exclusive lock on the table (a lock file beside it): the file is read
// again, changed in that one entry and replaced, and the object takes what the file then holds, so
// writers in several processes lose nothing of each other's. Only the table's writers can open the
// lock file, and a writer waits a few seconds at most for another's lock: then the write fails and
// is logged naming the table, the file keeps what it held. Reads never wait. Nothing here throws:
// failures are logged and a safe default stands.
class InterprocessPreferences {
public:
    struct TableName {
        std::string rawValue;
        friend bool operator==(const TableName&, const TableName&) = default;
    };

    template <PreferenceValueConvertible T> struct PrefName {
        std::string rawValue;
        friend bool operator==(const PrefName&, const PrefName&) = default;
    };

    // Equality goes by the raw value alone: names with different defaults are the same name.
    template <PreferenceValueConvertible T> struct PrefNameWithDefault {
        std::string rawValue;
        T defaultValue;
        friend bool operator==(const PrefNameWithDefault& a, const PrefNameWithDefault& b) {
            return a.rawValue == b.rawValue;
        }
    };

    // The machine-wide folder of name-based tables.
    static constexpr const char* sharedFolder = "/var/lib/Velmor/Preferences";

    // The table `name` in the machine-wide folder, reloaded whenever its file changes.
    InterprocessPreferences(const TableName& name, const LoggerFactory& loggerFactory);
    // The table in the file at `filePath`; it is loaded once and never reloads on its own.
    InterprocessPreferences(const URL& filePath, const LoggerFactory& loggerFactory);
    // The table `name` in `folder` instead of the machine-wide one.
    InterprocessPreferences(const TableName& name, const LoggerFactory& loggerFactory, const URL& folder);
    // Stops watching, waiting for a reload in flight.
    ~InterprocessPreferences();
    InterprocessPreferences(const InterprocessPreferences&) = delete;
    InterprocessPreferences& operator=(const InterprocessPreferences&) = delete;

    template <PreferenceValueConvertible T> std::optional<T> get(const PrefName<T>& name) const {
        return convert<T>(lookUp(name.rawValue));
    }
    template <PreferenceValueConvertible T> T get(const PrefNameWithDefault<T>& name) const {
        if (auto value = convert<T>(lookUp(name.rawValue))) {
            return std::move(*value);
        }
        return name.defaultValue;
    }
    // Nothing removes the key. Either way the file is rewritten (root only).
    template <PreferenceValueConvertible T> void set(const PrefName<T>& name, std::type_identity_t<std::optional<T>> value) {
        store(name.rawValue, value ? toStored(*value) : std::nullopt);
    }
    // Stores `value` even when it equals the default.
    template <PreferenceValueConvertible T> void set(const PrefNameWithDefault<T>& name, std::type_identity_t<T> value) {
        store(name.rawValue, toStored(value));
    }
    // Reads the value, lets `change` alter it and stores the result.
    template <PreferenceValueConvertible T, typename Change> void modify(const PrefName<T>& name, Change&& change) {
        std::optional<T> value = get(name);
        std::forward<Change>(change)(value);
        set(name, std::move(value));
    }
    template <PreferenceValueConvertible T, typename Change>
    void modify(const PrefNameWithDefault<T>& name, Change&& change) {
        T value = get(name);
        std::forward<Change>(change)(value);
        set(name, std::move(value));
    }

    // The one observer, called after every reload (failed ones too), from any thread, never with
    // the table locked. Replaces the previous one.
    void observe(std::function<void()> observer);
    void stopObserving();

    const URL& storagePath() const;

    // While true, sets are accepted from users other than root.
    void setRunnningForTests(bool value);
    bool isRunnningForTests() const;

    using PrefValue = std::variant<bool, std::string, coding::Data>;
    struct Table;

private:
    std::optional<PrefValue> lookUp(const std::string& key) const;
    void store(const std::string& key, std::optional<PrefValue> value);

    template <typename T> static std::optional<PrefValue> toStored(const T& value) {
        if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::string> ||
                      std::is_same_v<T, coding::Data>) {
            return PrefValue(value);
        } else {
            return std::nullopt;
        }
    }
    template <typename T> static std::optional<T> convert(const std::optional<PrefValue>& stored) {
        if (!stored) {
            return std::nullopt;
        }
        if (auto payload = std::get_if<T>(&*stored)) {
            return *payload;
        }
        return std::nullopt;
    }

    std::shared_ptr<Table> table_;
    std::unique_ptr<FSEventMonitor> eventMonitor_;
};

} // namespace velmor

namespace velmor::coding {

template <> struct Coding<InterprocessPreferences::TableName> {
    static Value encode(const InterprocessPreferences::TableName& name) { return name.rawValue; }
    static InterprocessPreferences::TableName decode(const Decoder& decoder) {
        return {decoder.as<std::string>()};
    }
};

template <typename T> struct Coding<InterprocessPreferences::PrefName<T>> {
    static Value encode(const InterprocessPreferences::PrefName<T>& name) { return name.rawValue; }
    static InterprocessPreferences::PrefName<T> decode(const Decoder& decoder) {
        return {decoder.as<std::string>()};
    }
};

template <typename T> struct Coding<InterprocessPreferences::PrefNameWithDefault<T>> {
    static Value encode(const InterprocessPreferences::PrefNameWithDefault<T>& name) {
        return Object{{"rawValue", name.rawValue}, {"defaultValue", Coding<T>::encode(name.defaultValue)}};
    }
    static InterprocessPreferences::PrefNameWithDefault<T> decode(const Decoder& decoder) {
        std::string rawValue = decoder.decode<std::string>("rawValue");
        T defaultValue = decoder.decode<T>("defaultValue");
        return {std::move(rawValue), std::move(defaultValue)};
    }
};

} // namespace velmor::coding

template <> struct std::hash<velmor::InterprocessPreferences::TableName> {
    std::size_t operator()(const velmor::InterprocessPreferences::TableName& name) const noexcept {
        return std::hash<std::string>{}(name.rawValue);
    }
};
template <typename T> struct std::hash<velmor::InterprocessPreferences::PrefName<T>> {
    std::size_t operator()(const velmor::InterprocessPreferences::PrefName<T>& name) const noexcept {
        return std::hash<std::string>{}(name.rawValue);
    }
};
template <typename T> struct std::hash<velmor::InterprocessPreferences::PrefNameWithDefault<T>> {
    std::size_t operator()(const velmor::InterprocessPreferences::PrefNameWithDefault<T>& name) const noexcept {
        return std::hash<std::string>{}(name.rawValue);
    }
};
