#include "platform/log/CaptureSink.hpp"
#include "platform/log/JournalSink.hpp"
#include "platform/log/OSLog.hpp"
#include "platform/log/StderrSink.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace velmor::log {
namespace {

std::string readAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

TEST(LogSink, JournalPrioritiesFollowTheLogTypes) {
    EXPECT_EQ(journalPriority(LogType::debug), 7);
    EXPECT_EQ(journalPriority(LogType::info), 6);
    EXPECT_EQ(journalPriority(LogType::default_), 5);
    EXPECT_EQ(journalPriority(LogType::error), 3);
}

TEST(LogSink, DebugIsSwitchedOnOnlyByTheExactValueOne) {
    ::unsetenv("VELMOR_LOG_DEBUG");
    EXPECT_FALSE(debugEnabledByEnvironment());
    for (const char* value : {"0", "true", "", " 1"}) {
        ::setenv("VELMOR_LOG_DEBUG", value, 1);
        EXPECT_FALSE(debugEnabledByEnvironment()) << '"' << value << '"';
    }
    ::setenv("VELMOR_LOG_DEBUG", "1", 1);
    EXPECT_TRUE(debugEnabledByEnvironment());
    ::unsetenv("VELMOR_LOG_DEBUG");
}

TEST(StderrSink, WritesOneLinePerMessageAndKeepsDebugOffUnlessAsked) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    StderrSink quiet(false, fds[1]);
    StderrSink verbose(true, fds[1]);
    EXPECT_FALSE(quiet.isEnabled(LogType::debug));
    EXPECT_TRUE(quiet.isEnabled(LogType::info));
    EXPECT_TRUE(quiet.isEnabled(LogType::error));
    EXPECT_TRUE(verbose.isEnabled(LogType::debug));

    quiet.write("com.example", "Cleaner", LogType::default_, "100% done: %s %@");
    ::close(fds[1]);
    EXPECT_EQ(readAll(fds[0]), "com.example [Cleaner] default: 100% done: %s %@\n");
    ::close(fds[0]);
}

TEST(JournalSink, IsAvailableOnlyWhereASocketListens) {
    velmor::testing::TemporaryDirectory dir;
    std::string socketPath = dir.path() + "/socket";
    int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    dir.writeFile("file", "x");

    EXPECT_TRUE(JournalSink::isAvailable(socketPath));
    EXPECT_FALSE(JournalSink::isAvailable(dir.path() + "/file"));
    EXPECT_FALSE(JournalSink::isAvailable(dir.path() + "/missing"));
    ::close(fd);
}

TEST(CaptureSink, DisabledLevelsReportThemselvesAndDropTheirMessages) {
    CaptureSink sink;
    sink.setEnabled(LogType::info, false);
    EXPECT_FALSE(sink.isEnabled(LogType::info));
    EXPECT_TRUE(sink.isEnabled(LogType::debug));
    sink.write("s", "c", LogType::info, "dropped");
    sink.write("s", "c", LogType::debug, "kept");
    sink.setEnabled(LogType::info, true);
    sink.write("s", "c", LogType::info, "kept too");
    ASSERT_EQ(sink.entries().size(), 2u);
    EXPECT_EQ(sink.entries()[0].message, "kept");
    EXPECT_EQ(sink.entries()[1].message, "kept too");
}

TEST(OSLog, KeepsTheSinkSharedWhenItWasMade) {
    auto first = std::make_shared<CaptureSink>();
    auto second = std::make_shared<CaptureSink>();
    auto original = LogSink::install(first);
    OSLog early("sub", "early");
    LogSink::install(second);
    OSLog late("sub", "late");
    early.write(LogType::info, "a");
    late.write(LogType::info, "b");
    EXPECT_EQ(LogSink::install(original), second);

    ASSERT_EQ(first->entries().size(), 1u);
    EXPECT_EQ(first->entries()[0].category, "early");
    ASSERT_EQ(second->entries().size(), 1u);
    EXPECT_EQ(second->entries()[0].category, "late");
}

TEST(OSLog, ConcurrentWritersLoseNothing) {
    auto sink = std::make_shared<CaptureSink>();
    OSLog log("sub", "cat", sink);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log] {
            for (int i = 0; i < 100; ++i) {
                log.write(LogType::error, "m");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(sink->entries().size(), 400u);
}

} // namespace
} // namespace velmor::log
