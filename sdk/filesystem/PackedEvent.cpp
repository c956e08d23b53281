#include "sdk/filesystem/PackedEvent.hpp"

#include <cstring>
#include <vector>

namespace sweepkit {

namespace {

// The block: kind, flags, the path's length and bytes, then, for an event with a status record,
// its fields in their declared order, each an unsigned LEB128 number (signed ones zigzagged), and
// for an event with a failure, the address of a shared handle to it.
enum Flags : std::uint8_t {
    hasStat = 1,
    hasDeletePermission = 2,
    hasError = 4,
};

using ErrorHandle = std::shared_ptr<const velmor::Error>;

// Writes into one scratch buffer for each thread, so that packing allocates only the block.
class Writer {
public:
    Writer() : bytes_(scratch()) { bytes_.clear(); }

    void byte(std::uint8_t value) { bytes_.push_back(value); }
    void number(std::uint64_t value) {
        while (value >= 0x80) {
            bytes_.push_back(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        bytes_.push_back(static_cast<std::uint8_t>(value));
    }
    void signedNumber(std::int64_t value) {
        number((static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63));
    }
    void raw(const void* data, std::size_t size) {
        const auto* from = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), from, from + size);
    }
    std::unique_ptr<std::uint8_t[]> take() const {
        auto block = std::make_unique_for_overwrite<std::uint8_t[]>(bytes_.size());
        std::memcpy(block.get(), bytes_.data(), bytes_.size());
        return block;
    }

private:
    static std::vector<std::uint8_t>& scratch() {
        thread_local std::vector<std::uint8_t> bytes;
        return bytes;
    }

    std::vector<std::uint8_t>& bytes_;
};

class Reader {
public:
    explicit Reader(const std::uint8_t* at) : at_(at) {}
    std::uint8_t byte() { return *at_++; }
    std::uint64_t number() {
        std::uint64_t value = 0;
        for (int shift = 0;; shift += 7) {
            const std::uint8_t next = *at_++;
            value |= static_cast<std::uint64_t>(next & 0x7f) << shift;
            if ((next & 0x80) == 0) {
                return value;
            }
        }
    }
    std::int64_t signedNumber() {
        const std::uint64_t value = number();
        return static_cast<std::int64_t>((value >> 1) ^ (~(value & 1) + 1));
    }
    std::string_view text(std::size_t size) {
        std::string_view view(reinterpret_cast<const char*>(at_), size);
        at_ += size;
        return view;
    }
    void raw(void* data, std::size_t size) {
        std::memcpy(data, at_, size);
        at_ += size;
    }

private:
    const std::uint8_t* at_;
};

void writeTime(Writer& writer, const velmor::Timespec& time) {
    writer.signedNumber(time.tv_sec);
    writer.signedNumber(time.tv_nsec);
}

velmor::Timespec readTime(Reader& reader) {
    velmor::Timespec time;
    time.tv_sec = reader.signedNumber();
    time.tv_nsec = reader.signedNumber();
    return time;
}

void writeStat(Writer& writer, const velmor::Stat& stat) {
    writer.signedNumber(stat.st_dev);
    writer.number(stat.st_mode);
    writer.number(stat.st_nlink);
    writer.number(stat.st_ino);
    writer.number(stat.st_uid);
    writer.number(stat.st_gid);
    writer.signedNumber(stat.st_rdev);
    writeTime(writer, stat.st_atimespec);
    writeTime(writer, stat.st_mtimespec);
    writeTime(writer, stat.st_ctimespec);
    writeTime(writer, stat.st_birthtimespec);
    writer.signedNumber(stat.st_size);
    writer.signedNumber(stat.st_blocks);
    writer.signedNumber(stat.st_blksize);
    writer.number(stat.st_flags);
    writer.number(stat.st_gen);
    writer.signedNumber(stat.st_lspare);
    writer.signedNumber(stat.st_qspare[0]);
    writer.signedNumber(stat.st_qspare[1]);
}

velmor::Stat readStat(Reader& reader) {
    velmor::Stat stat;
    stat.st_dev = static_cast<std::int32_t>(reader.signedNumber());
    stat.st_mode = static_cast<std::uint16_t>(reader.number());
    stat.st_nlink = static_cast<std::uint16_t>(reader.number());
    stat.st_ino = reader.number();
    stat.st_uid = static_cast<std::uint32_t>(reader.number());
    stat.st_gid = static_cast<std::uint32_t>(reader.number());
    stat.st_rdev = static_cast<std::int32_t>(reader.signedNumber());
    stat.st_atimespec = readTime(reader);
    stat.st_mtimespec = readTime(reader);
    stat.st_ctimespec = readTime(reader);
    stat.st_birthtimespec = readTime(reader);
    stat.st_size = reader.signedNumber();
    stat.st_blocks = reader.signedNumber();
    stat.st_blksize = static_cast<std::int32_t>(reader.signedNumber());
    stat.st_flags = static_cast<std::uint32_t>(reader.number());
    stat.st_gen = static_cast<std::uint32_t>(reader.number());
    stat.st_lspare = static_cast<std::int32_t>(reader.signedNumber());
    stat.st_qspare[0] = reader.signedNumber();
    stat.st_qspare[1] = reader.signedNumber();
    return stat;
}

// Reads past the kind, the flags and the path.
struct Header {
    Event::Kind kind;
    std::uint8_t flags;
    std::string_view path;
};

Header readHeader(Reader& reader) {
    Header header;
    header.kind = static_cast<Event::Kind>(reader.byte());
    header.flags = reader.byte();
    const auto size = static_cast<std::size_t>(reader.number());
    header.path = reader.text(size);
    return header;
}

} // namespace

PackedEvent::PackedEvent(const Event& event) {
    Writer writer;
    writer.byte(static_cast<std::uint8_t>(event.kind()));
    const velmor::Stat* stat = event.stat();
    writer.byte(static_cast<std::uint8_t>((stat != nullptr ? hasStat : 0) |
                                          (event.hasDeletePermission() ? hasDeletePermission : 0) |
                                          (event.error_ ? hasError : 0)));
    writer.number(event.path().size());
    writer.raw(event.path().data(), event.path().size());
    if (stat != nullptr) {
        writeStat(writer, *stat);
    }
    // The handle is owned by the block only once the block exists.
    std::unique_ptr<ErrorHandle> handle;
    if (event.error_) {
        handle = std::make_unique<ErrorHandle>(event.error_);
        ErrorHandle* address = handle.get();
        writer.raw(&address, sizeof address);
    }
    bytes_ = writer.take();
    handle.release();
}

PackedEvent::~PackedEvent() {
    if (!bytes_) {
        return;
    }
    Reader reader(bytes_.get());
    const Header header = readHeader(reader);
    if ((header.flags & hasError) != 0) {
        if ((header.flags & hasStat) != 0) {
            readStat(reader);
        }
        ErrorHandle* handle = nullptr;
        reader.raw(&handle, sizeof handle);
        delete handle;
    }
}

PackedEvent& PackedEvent::operator=(PackedEvent&& other) noexcept {
    if (this != &other) {
        PackedEvent gone(std::move(*this));
        bytes_ = std::move(other.bytes_);
    }
    return *this;
}

std::string_view PackedEvent::path() const {
    Reader reader(bytes_.get());
    return readHeader(reader).path;
}

Event PackedEvent::unpack() const {
    Reader reader(bytes_.get());
    const Header header = readHeader(reader);
    Event event(header.kind, std::string(header.path));
    if ((header.flags & hasStat) != 0) {
        event.hasStat_ = true;
        event.stat_ = readStat(reader);
    }
    event.hasDeletePermission_ = (header.flags & hasDeletePermission) != 0;
    if ((header.flags & hasError) != 0) {
        ErrorHandle* handle = nullptr;
        reader.raw(&handle, sizeof handle);
        event.error_ = *handle;
    }
    return event;
}

} // namespace sweepkit
