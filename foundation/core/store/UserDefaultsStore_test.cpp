#include "foundation/core/store/UserDefaultsStore.hpp"

#include "foundation/core/store/StoreContract.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace velmor {
namespace {

TEST(UserDefaultsStore, KeepsFetchesReplacesAndClearsValues) {
    velmor::testing::TemporaryDirectory dir;
    velmor::testing::ScopedEnvironment environment({{"XDG_CONFIG_HOME", dir.path()}});
    UserDefaultsStore store(std::make_shared<UserDefaults>("com.example.store"));
    velmor::testing::expectStoreContract(store);
    // Names are entry keys, not file names: a slash is fine here.
    store.store(7, StoreKey<int>{"a/b"});
    EXPECT_EQ(store.fetch(StoreKey<int>{"a/b"}), 7);
    EXPECT_TRUE(velmor::testing::exists(dir / "Velmor/Preferences/com.example.store.plist"));
}

} // namespace
} // namespace velmor
