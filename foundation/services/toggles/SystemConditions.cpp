#include "foundation/services/toggles/SystemConditions.hpp"

#include <dlfcn.h>

namespace velmor {

bool IsRunningForTests::isFulfilled() const {
    // testing::UnitTest::GetInstance(); test executables export their symbols.
    return ::dlsym(RTLD_DEFAULT, "_ZN7testing8UnitTest11GetInstanceEv") != nullptr;
}

} // namespace velmor
