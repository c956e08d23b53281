#include "sdk/filesystem/PackedEvent.hpp"

#include <cstring>
#include <type_traits>
#include <vector>

namespace sweepkit {

namespace {

// The block: kind and flags; for an event with a failure, the address of a shared handle to it;
// the path's length and bytes; then, for an event with a status record, its fields in the order
// `codeStat` gives, each a LEB128 number (signed ones zigzagged).
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

    void raw(const void* data, std::size_t size) {
        const auto* from = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), from, from + size);
    }
    template <typename Number> void field(const Number& value) {
        auto bits = static_cast<std::uint64_t>(value);
        if constexpr (std::is_signed_v<Number>) {
            bits = (bits << 1) ^ static_cast<std::uint64_t>(static_cast<std::int64_t>(value) >> 63);
        }
        while (bits >= 0x80) {
            bytes_.push_back(static_cast<std::uint8_t>(bits | 0x80));
            bits >>= 7;
        }
        bytes_.push_back(static_cast<std::uint8_t>(bits));
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

    void raw(void* data, std::size_t size) {
        std::memcpy(data, at_, size);
        at_ += size;
    }
    template <typename Number> void field(Number& value) {
        std::uint64_t bits = 0;
        for (int shift = 0;; shift += 7) {
            const std::uint8_t next = *at_++;
            bits |= static_cast<std::uint64_t>(next & 0x7f) << shift;
            if ((next & 0x80) == 0) {
                break;
            }
        }
        if constexpr (std::is_signed_v<Number>) {
            bits = (bits >> 1) ^ (~(bits & 1) + 1);
        }
        value = static_cast<Number>(bits);
    }
    std::string_view text(std::size_t size) {
        std::string_view view(reinterpret_cast<const char*>(at_), size);
        at_ += size;
        return view;
    }

private:
    const std::uint8_t* at_;
};

// Hands every field of the record to `coder`, in one order for packing and unpacking.
template <typename Coder, typename Record> void codeStat(Coder& coder, Record& stat) {
    coder.field(stat.st_dev);
    coder.field(stat.st_mode);
    coder.field(stat.st_nlink);
    coder.field(stat.st_ino);
    coder.field(stat.st_uid);
    coder.field(stat.st_gid);
    coder.field(stat.st_rdev);
    for (auto* time : {&stat.st_atimespec, &stat.st_mtimespec, &stat.st_ctimespec, &stat.st_birthtimespec}) {
        coder.field(time->tv_sec);
        coder.field(time->tv_nsec);
    }
    coder.field(stat.st_size);
    coder.field(stat.st_blocks);
    coder.field(stat.st_blksize);
    coder.field(stat.st_flags);
    coder.field(stat.st_gen);
    coder.field(stat.st_lspare);
    coder.field(stat.st_qspare[0]);
    coder.field(stat.st_qspare[1]);
}

struct Header {
    Event::Kind kind;
    std::uint8_t flags;
};

Header readHeader(Reader& reader) {
    Header header{};
    reader.raw(&header, sizeof header);
    return header;
}

// The address of the failure's handle, read past the header; nothing without a failure.
ErrorHandle* readErrorHandle(Reader& reader, const Header& header) {
    ErrorHandle* handle = nullptr;
    if ((header.flags & hasError) != 0) {
        reader.raw(&handle, sizeof handle);
    }
    return handle;
}

std::string_view readPath(Reader& reader) {
    std::size_t size = 0;
    reader.field(size);
    return reader.text(size);
}

} // namespace

PackedEvent::PackedEvent(const Event& event) {
    Writer writer;
    const velmor::Stat* stat = event.stat();
    const Header header{event.kind(),
                        static_cast<std::uint8_t>((stat != nullptr ? hasStat : 0) |
                                                  (event.hasDeletePermission() ? hasDeletePermission : 0) |
                                                  (event.error_ ? hasError : 0))};
    writer.raw(&header, sizeof header);
    // The handle is owned by the block only once the block exists.
    std::unique_ptr<ErrorHandle> handle;
    if (event.error_) {
        handle = std::make_unique<ErrorHandle>(event.error_);
        ErrorHandle* address = handle.get();
        writer.raw(&address, sizeof address);
    }
    writer.field(event.path().size());
    writer.raw(event.path().data(), event.path().size());
    if (stat != nullptr) {
        codeStat(writer, *stat);
    }
    bytes_ = writer.take();
    handle.release();
}

PackedEvent::~PackedEvent() {
    if (bytes_) {
        Reader reader(bytes_.get());
        delete readErrorHandle(reader, readHeader(reader));
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
    readErrorHandle(reader, readHeader(reader));
    return readPath(reader);
}

Event PackedEvent::unpack() const {
    Reader reader(bytes_.get());
    const Header header = readHeader(reader);
    const ErrorHandle* handle = readErrorHandle(reader, header);
    Event event(header.kind, std::string(readPath(reader)));
    if ((header.flags & hasStat) != 0) {
        event.hasStat_ = true;
        codeStat(reader, event.stat_);
    }
    event.hasDeletePermission_ = (header.flags & hasDeletePermission) != 0;
    if (handle != nullptr) {
        event.error_ = *handle;
    }
    return event;
}

} // namespace sweepkit
