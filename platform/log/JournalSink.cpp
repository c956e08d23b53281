#include "platform/log/JournalSink.hpp"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace velmor::log {

JournalSink::JournalSink(bool debugEnabled, std::shared_ptr<LogSink> fallback)
    : debugEnabled_(debugEnabled), fallback_(std::move(fallback)) {}

bool JournalSink::isAvailable(const std::string& socketPath) {
    struct ::stat record {};
    return ::stat(socketPath.c_str(), &record) == 0 && S_ISSOCK(record.st_mode);
}

void JournalSink::write(std::string_view subsystem, std::string_view category, LogType type,
                        std::string_view message) {
    // Fields are passed as byte ranges, so a message is never read as a format and may hold any byte.
    std::string fields[4] = {
        "MESSAGE=" + std::string(message),
        "PRIORITY=" + std::to_string(journalPriority(type)),
        "SUBSYSTEM=" + std::string(subsystem),
        "CATEGORY=" + std::string(category),
    };
    struct ::iovec vectors[4];
    for (int i = 0; i < 4; ++i) {
        vectors[i].iov_base = fields[i].data();
        vectors[i].iov_len = fields[i].size();
    }
    if (::sd_journal_sendv(vectors, 4) < 0 && fallback_) {
        fallback_->write(subsystem, category, type, message);
    }
}

} // namespace velmor::log
