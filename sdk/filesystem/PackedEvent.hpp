#pragma once

#include "sdk/filesystem/Event.hpp"

#include <cstdint>
#include <memory>
#include <string_view>

namespace sweepkit {

// An event kept for a long while in little memory: its kind, flags, path and status record packed
// into one block, most numbers in a few bytes each, at well under half of what an `Event` and its
// path take. A search that holds an event for most files it meets keeps them so. Unpacking gives
// back an event equal to the one packed, its failure included.
class PackedEvent {
public:
    explicit PackedEvent(const Event& event);
    ~PackedEvent();
    PackedEvent(PackedEvent&& other) noexcept : bytes_(std::move(other.bytes_)) {}
    PackedEvent& operator=(PackedEvent&& other) noexcept;
    PackedEvent(const PackedEvent&) = delete;
    PackedEvent& operator=(const PackedEvent&) = delete;

    Event unpack() const;
    std::string_view path() const;

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
};

} // namespace sweepkit
