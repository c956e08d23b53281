#include "platform/coding/BinaryPropertyListCheck.hpp"

#include "platform/coding/Decoding.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace velmor::coding {

namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::size_t trailerSize = 32;
// How many times its own size, or a mebibyte for smaller ones, a document may grow once its shared
// strings and data are copied out at each reference.
constexpr std::uint64_t expansionFactor = 8;
// The most values a document may hold once read out, whatever its size: each costs the parser and
// the tree made of it a few hundred bytes and some time.
constexpr std::uint64_t maximumNodeCount = 1 << 18;

[[noreturn]] void corrupted() {
    throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                        "The given data was not a valid property list.");
}

[[noreturn]] void tooDeep() {
    throw DecodingError(DecodingError::Kind::dataCorrupted, {}, nestedTooDeeply());
}

// The layout the trailer gives, and the reads that stay inside it.
class Layout {
public:
    explicit Layout(std::string_view bytes) : bytes_(bytes) {
        if (bytes.size() < magic.size() + 1 + trailerSize || !bytes.starts_with(magic)) {
            corrupted();
        }
        const std::size_t trailer = bytes.size() - trailerSize;
        offsetSize_ = static_cast<unsigned char>(bytes[trailer + 6]);
        referenceSize_ = static_cast<unsigned char>(bytes[trailer + 7]);
        const std::uint64_t count = number(trailer + 8, 8);
        top_ = number(trailer + 16, 8);
        tableOffset_ = number(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8 || count == 0 ||
            top_ >= count || tableOffset_ < magic.size() + 1 || tableOffset_ > trailer ||
            count > (trailer - tableOffset_) / offsetSize_) {
            corrupted();
        }
        count_ = static_cast<std::size_t>(count);
    }

    std::size_t count() const { return count_; }
    std::size_t top() const { return static_cast<std::size_t>(top_); }

    // Where `object` starts; objects lie between the header and the offset table.
    std::size_t offset(std::size_t object) const {
        const std::uint64_t at =
            number(static_cast<std::size_t>(tableOffset_) + object * offsetSize_, offsetSize_);
        if (at < magic.size() || at >= tableOffset_) {
            corrupted();
        }
        return static_cast<std::size_t>(at);
    }

    // The object references `object` holds when it is an array, a set or a dictionary (keys and
    // values alike): where they start and how many there are. Nothing for other objects.
    bool references(std::size_t object, std::size_t& first, std::size_t& count) const {
        std::size_t at = offset(object);
        const auto marker = static_cast<unsigned char>(bytes_[at]);
        const unsigned kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) {
            return false;
        }
        const std::uint64_t entries = length(at);
        const std::uint64_t perEntry = kind == 0xD ? 2 : 1;
        if (entries > (tableOffset_ - at) / referenceSize_ / perEntry) {
            corrupted();
        }
        first = at;
        count = static_cast<std::size_t>(entries * perEntry);
        return true;
    }

    // How many bytes the parser makes of an object that holds no references: a string, key or data
    // is copied in full at every reference to it, UTF-16 text growing by up to half as UTF-8.
    std::uint64_t leafBytes(std::size_t object) const {
        std::size_t at = offset(object);
        const unsigned kind = static_cast<unsigned char>(bytes_[at]) >> 4;
        if (kind != 0x4 && kind != 0x5 && kind != 0x6) {
            return sizeof(std::uint64_t);
        }
        const std::uint64_t units = length(at);
        const std::uint64_t unitSize = kind == 0x6 ? 2 : 1;
        if (units > (tableOffset_ - at) / unitSize) {
            corrupted();
        }
        return kind == 0x6 ? units * 3 : units;
    }
    // The object named by the reference at `at`.
    std::size_t reference(std::size_t at) const {
        const std::uint64_t object = number(at, referenceSize_);
        if (object >= count_) {
            corrupted();
        }
        return static_cast<std::size_t>(object);
    }

    std::size_t referenceSize() const { return referenceSize_; }

private:
    // The count in the marker at `at`, which past 14 follows as an integer object of 1, 2, 4 or 8
    // bytes; `at` moves past both.
    std::uint64_t length(std::size_t& at) const {
        std::uint64_t count = static_cast<unsigned char>(bytes_[at]) & 0xF;
        ++at;
        if (count != 0xF) {
            return count;
        }
        if (at >= tableOffset_) {
            corrupted();
        }
        const auto countMarker = static_cast<unsigned char>(bytes_[at]);
        const std::size_t width = std::size_t{1} << (countMarker & 0xF);
        if ((countMarker >> 4) != 0x1 || width > 8 || width > tableOffset_ - at - 1) {
            corrupted();
        }
        count = number(at + 1, width);
        at += 1 + width;
        return count;
    }

    // A big-endian number; callers keep `at` + `width` within the bytes.
    std::uint64_t number(std::size_t at, std::size_t width) const {
        std::uint64_t value = 0;
        for (std::size_t index = 0; index < width; ++index) {
            value = (value << 8) | static_cast<unsigned char>(bytes_[at + index]);
        }
        return value;
    }

    std::string_view bytes_;
    std::size_t offsetSize_ = 0;
    std::size_t referenceSize_ = 0;
    std::size_t count_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t tableOffset_ = 0;
};

// An array or dictionary on the path from the top object, with what its contents have shown so far.
struct Frame {
    std::size_t object;
    std::size_t nextReference;
    std::size_t referencesLeft;
    std::uint16_t deepestChild = 0;
    std::uint64_t nodes = 1;
    std::uint64_t bytes = 0;
};

enum class Visit : std::uint8_t { never, underway, done };

} // namespace

void checkBinaryPropertyList(std::string_view bytes) {
    const Layout layout(bytes);
    // Every reference takes at least a byte, so a tree with more nodes than the document has bytes
    // repeats shared objects; repeated at will, they would multiply what the parser builds. Small
    // documents may share a little more, and none may hold more than a fixed count. The same holds
    // for the bytes of shared strings and data, within a multiple of what the document may take,
    // which the reader's size cap bounds.
    const std::uint64_t nodeLimit = std::clamp<std::uint64_t>(bytes.size(), 1 << 16, maximumNodeCount);
    const std::uint64_t byteLimit = expansionFactor * std::max<std::uint64_t>(bytes.size(), 1 << 20);
    auto expandsTooFar = [&] {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "The property list refers to its shared objects so often that, read out, it "
                            "would hold more than " +
                                std::to_string(nodeLimit) + " values or " + std::to_string(byteLimit) +
                                " bytes.");
    };

    std::vector<Visit> visits(layout.count(), Visit::never);
    // For containers done: how many levels of containers they hold, themselves included, and how many
    // nodes their tree has.
    std::vector<std::uint16_t> depths(layout.count(), 0);
    std::vector<std::uint64_t> nodes(layout.count(), 1);
    // For objects done: how many bytes of strings and data their tree holds once read out.
    std::vector<std::uint64_t> expandedBytes(layout.count(), 0);
    std::vector<Frame> path;

    auto enter = [&](std::size_t object) {
        std::size_t first = 0;
        std::size_t count = 0;
        if (!layout.references(object, first, count)) {
            visits[object] = Visit::done;
            expandedBytes[object] = layout.leafBytes(object);
            return;
        }
        if (path.size() >= maximumNestingDepth) {
            tooDeep();
        }
        visits[object] = Visit::underway;
        path.push_back(Frame{object, first, count});
    };
    // Adds a finished child to the innermost open container.
    auto takeIn = [&](std::size_t child) {
        Frame& parent = path.back();
        if (path.size() + depths[child] > maximumNestingDepth) {
            tooDeep();
        }
        parent.deepestChild = std::max(parent.deepestChild, depths[child]);
        parent.nodes += nodes[child];
        parent.bytes += expandedBytes[child];
        if (parent.nodes > nodeLimit || parent.bytes > byteLimit) {
            expandsTooFar();
        }
    };

    enter(layout.top());
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.referencesLeft == 0) {
            const Frame done = frame;
            path.pop_back();
            visits[done.object] = Visit::done;
            depths[done.object] = static_cast<std::uint16_t>(done.deepestChild + 1);
            nodes[done.object] = done.nodes;
            expandedBytes[done.object] = done.bytes;
            if (!path.empty()) {
                takeIn(done.object);
            }
            continue;
        }
        const std::size_t child = layout.reference(frame.nextReference);
        frame.nextReference += layout.referenceSize();
        --frame.referencesLeft;
        switch (visits[child]) {
        case Visit::underway:
            corrupted(); // a container within itself
        case Visit::done:
            takeIn(child);
            break;
        case Visit::never:
            enter(child);
            if (visits[child] == Visit::done) {
                takeIn(child);
            }
            break;
        }
    }
}

} // namespace velmor::coding
