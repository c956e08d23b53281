#include "foundation/core/store/KeychainStore.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace velmor {
namespace {

// The only test of its program: GLib keeps the first session bus a process reaches, so the missing
// bus must be the first one this process ever asks for.
TEST(KeychainStoreWithoutBus, LoadingGivesNothingAndLogsTheServiceError) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "GLib is not instrumented for ThreadSanitizer";
#endif
    velmor::testing::TemporaryDirectory dir;
    velmor::testing::ScopedEnvironment environment(
        {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir / "no-bus"},
         {"HOME", dir.path()},
         {"XDG_RUNTIME_DIR", dir.path()}});
    auto logger = std::make_shared<velmor::testing::RecordingLogger>();

    KeychainStore store("token", kSecClassGenericPassword, logger);
    EXPECT_EQ(store.wrappedValue(), std::nullopt);
    store.setWrappedValue("lost");

    const auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string loading = "error: Error while loading keychain item for service token: ";
    const std::string storing = "error: Error while storing keychain item for service token: ";
    EXPECT_EQ(lines[0].rfind(loading, 0), 0u) << lines[0];
    EXPECT_GT(lines[0].size(), loading.size()) << "the service's own message follows";
    EXPECT_EQ(lines[1].rfind(storing, 0), 0u) << lines[1];
}

} // namespace
} // namespace velmor
