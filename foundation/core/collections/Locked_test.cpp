#include "foundation/core/collections/Locked.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace velmor {
namespace {

TEST(Locked, AReaderSeesTheOldOrTheNewValueNeverAMixture) {
    const std::string first(4096, 'a');
    const std::string second(8192, 'b');
    Locked<std::string> box(first);
    std::atomic<bool> done{false};
    std::jthread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            box.setProperty(i % 2 == 0 ? second : first);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        std::string seen = box.property();
        ASSERT_TRUE(seen == first || seen == second) << "a value of " << seen.size() << " bytes";
        ++reads;
    }
}

} // namespace
} // namespace velmor
