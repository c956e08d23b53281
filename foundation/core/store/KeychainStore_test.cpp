#include "foundation/core/store/KeychainStore.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/core/store/StoreContract.hpp"
#include "platform/testing/ChildTestRun.hpp"

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <cstdlib>
#include <string_view>

namespace velmor {
namespace {

using velmor::testing::RecordingLogger;

// Runs only inside the wrapper that starts a private session bus and keyring daemon, so the real
// user's keyring is never reached; anywhere else the tests skip and say why.
class KeychainStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "GLib is not instrumented for ThreadSanitizer";
#endif
        if (const char* reason = std::getenv("VELMOR_TEST_KEYRING_UNAVAILABLE")) {
            GTEST_SKIP() << "no test keyring: " << reason;
        }
        const char* marker = std::getenv("VELMOR_TEST_KEYRING");
        const char* home = std::getenv("HOME");
        if (marker == nullptr || home == nullptr ||
            !std::string_view(home).starts_with("/tmp/velmor-keyring-")) {
            GTEST_SKIP() << "no test keyring: run through platform/testing/run-with-private-keyring.sh";
        }
    }

    std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
};

TEST_F(KeychainStoreTest, KeepsFetchesReplacesAndClearsValues) {
    // Each step makes a new store, so every fetch goes back to the keychain.
    velmor::testing::expectStoreContract({
        [&] { return KeychainStore("contract", kSecClassGenericPassword, logger_).wrappedValue(); },
        [&](const std::string& value) {
            KeychainStore("contract", kSecClassGenericPassword, logger_).setWrappedValue(value);
        },
        [&] { KeychainStore("contract", kSecClassGenericPassword, logger_).setWrappedValue(std::nullopt); },
    });
    EXPECT_EQ(logger_->lines(), std::vector<std::string>{});
}

TEST_F(KeychainStoreTest, AWriteIsSeenByNewStoresNotByCopiesMadeBefore) {
    KeychainStore first("service", kSecClassGenericPassword, logger_);
    KeychainStore copy = first;
    first.setWrappedValue("pässwörd");
    EXPECT_EQ(first.wrappedValue(), "pässwörd");
    EXPECT_EQ(copy.wrappedValue(), std::nullopt);
    EXPECT_EQ(KeychainStore("service", kSecClassGenericPassword).wrappedValue(), "pässwörd");
    EXPECT_EQ(first.service(), "service");
}

TEST_F(KeychainStoreTest, AnItemIsAddressedByClassAndServiceTogether) {
    KeychainStore("shared", kSecClassGenericPassword).setWrappedValue("generic");
    KeychainStore("shared", kSecClassInternetPassword).setWrappedValue("internet");
    KeychainStore("other", kSecClassGenericPassword).setWrappedValue("elsewhere");

    EXPECT_EQ(KeychainStore("shared", kSecClassGenericPassword).wrappedValue(), "generic");
    EXPECT_EQ(KeychainStore("shared", kSecClassInternetPassword).wrappedValue(), "internet");

    KeychainStore("shared", kSecClassInternetPassword).setWrappedValue(std::nullopt);
    EXPECT_EQ(KeychainStore("shared", kSecClassGenericPassword).wrappedValue(), "generic");
    EXPECT_EQ(KeychainStore("shared", kSecClassInternetPassword).wrappedValue(), std::nullopt);
}

TEST_F(KeychainStoreTest, AnItemThatIsNoTextLoadsAsEmptyText) {
    ASSERT_EQ(Keychain::store({kSecClassGenericPassword, "binary"}, std::string("\xff\xfe\x00z", 4)).status,
              errSecSuccess);
    EXPECT_EQ(KeychainStore("binary", kSecClassGenericPassword, logger_).wrappedValue(), "");
    EXPECT_EQ(logger_->lines(), std::vector<std::string>{});
}

TEST_F(KeychainStoreTest, AValueThatIsNoTextIsRefusedAndTheStoredItemKept) {
    KeychainStore store("kept", kSecClassGenericPassword, logger_);
    store.setWrappedValue("original");
    store.setWrappedValue(std::string("\xc3\x28", 2));

    EXPECT_EQ(KeychainStore("kept", kSecClassGenericPassword).wrappedValue(), "original");
    EXPECT_EQ(logger_->lines(), std::vector<std::string>{
                                    "error: Error while storing keychain item for service kept: the value is "
                                    "not valid UTF-8 text, so the stored item was kept"});
}

TEST_F(KeychainStoreTest, AServiceTheSecretServiceCannotCarryIsAnErrorNotAnotherItem) {
    KeychainStore("a", kSecClassGenericPassword).setWrappedValue("item a");
    for (const std::string& service : {std::string("a\0b", 3), std::string("\xff")}) {
        auto logger = std::make_shared<RecordingLogger>();
        KeychainStore store(service, kSecClassGenericPassword, logger);
        EXPECT_EQ(store.wrappedValue(), std::nullopt);
        store.setWrappedValue("overwritten?");
        store.setWrappedValue(std::nullopt);
        const std::string suffix = ": The item's class and service must be UTF-8 text without NUL.";
        const auto lines = logger->lines();
        ASSERT_EQ(lines.size(), 3u);
        for (const auto& [line, action] :
             {std::pair{lines[0], "loading"}, {lines[1], "storing"}, {lines[2], "deleting"}}) {
            EXPECT_EQ(line, "error: Error while " + std::string(action) + " keychain item for service " +
                                service + suffix);
        }
    }
    EXPECT_EQ(KeychainStore("a", kSecClassGenericPassword).wrappedValue(), "item a");
}

TEST_F(KeychainStoreTest, NothingForAMissingItemIsNoError) {
    KeychainStore store("absent", kSecClassGenericPassword, logger_);
    EXPECT_EQ(store.wrappedValue(), std::nullopt);
    store.setWrappedValue(std::nullopt);
    EXPECT_EQ(logger_->lines(), std::vector<std::string>{});
}

// Locks the default collection of the keyring this process talks to; only a prompt could undo that.
bool lockDefaultKeyring() {
    GError* error = nullptr;
    SecretService* service = ::secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    SecretCollection* collection =
        service == nullptr ? nullptr
                           : ::secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                SECRET_COLLECTION_NONE, nullptr, &error);
    gint locked = 0;
    if (collection != nullptr) {
        GList* objects = ::g_list_append(nullptr, collection);
        locked = ::secret_service_lock_sync(service, objects, nullptr, nullptr, &error);
        ::g_list_free(objects);
        ::g_object_unref(collection);
    }
    if (service != nullptr) {
        ::g_object_unref(service);
    }
    if (error != nullptr) {
        ADD_FAILURE() << "cannot lock the keyring: " << error->message;
        ::g_clear_error(&error);
    }
    return locked == 1;
}

TEST_F(KeychainStoreTest, AnItemInALockedKeyringIsAnErrorNotNothing) {
    if (!velmor::testing::isChildTestRun()) {
        // The lock holds for good, so the test runs again on a keyring of its own.
        const char* runner = std::getenv("VELMOR_TEST_KEYRING_RUNNER");
        ASSERT_NE(runner, nullptr) << "run through platform/testing/run-with-private-keyring.sh";
        EXPECT_EQ(velmor::testing::waitForChildTest(velmor::testing::startCurrentTestInChild({}, {runner})), 0);
        return;
    }
    KeychainStore("locked", kSecClassGenericPassword).setWrappedValue("secret");
    ASSERT_TRUE(lockDefaultKeyring());

    KeychainStore store("locked", kSecClassGenericPassword, logger_);
    EXPECT_EQ(store.wrappedValue(), std::nullopt);
    EXPECT_EQ(logger_->lines(), std::vector<std::string>{"error: Error while loading keychain item for service "
                                                         "locked: The item is in a locked keyring, so its value "
                                                         "cannot be read."});
    // An item that is not there at all is still nothing, not an error.
    EXPECT_EQ(KeychainStore("absent", kSecClassGenericPassword, logger_).wrappedValue(), std::nullopt);
    EXPECT_EQ(logger_->lines().size(), 1u);
}

} // namespace
} // namespace velmor
