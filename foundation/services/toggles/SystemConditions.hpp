#pragma once

#include "foundation/services/toggles/Condition.hpp"

namespace velmor {

// Whether the process runs under the test harness: GoogleTest's entry point is visible in it.
class IsRunningForTests : public Condition {
public:
    bool isFulfilled() const override;
};

// Every system this library runs on meets it.
class MacOSVersionAtLeast10Dot14 : public Condition {
public:
    bool isFulfilled() const override { return true; }
};

class AppleSilicon : public Condition {
public:
    bool isFulfilled() const override { return true; }
};

class DebugMode : public Condition {
public:
    bool isFulfilled() const override { return false; }
};

} // namespace velmor
