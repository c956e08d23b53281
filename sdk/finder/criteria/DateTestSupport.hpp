#pragma once

#include "platform/metadata/MetadataIndex.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace sweepkit::testing {

using Clock = std::chrono::system_clock;
inline constexpr double day = 86400;

// Seconds since 1970 of the moment `seconds` ago.
inline double secondsAgo(double seconds) {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count() - seconds;
}

inline velmor::coding::Date metadataDate(double secondsSince1970) {
    return velmor::coding::Date{secondsSince1970 - velmor::coding::Date::unixEpochOffset};
}

inline velmor::Timespec timespecAgo(double seconds) {
    double at = secondsAgo(seconds);
    return velmor::Timespec{static_cast<std::int64_t>(at), 0};
}

// Installs an in-memory metadata index for one test and removes it afterwards.
class MetadataIndexTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = velmor::metadata::MetadataIndex::install(index_); }
    void TearDown() override { velmor::metadata::MetadataIndex::install(previous_); }

    std::shared_ptr<velmor::metadata::InMemoryMetadataIndex> index_ =
        std::make_shared<velmor::metadata::InMemoryMetadataIndex>();

private:
    std::shared_ptr<const velmor::metadata::MetadataIndex> previous_;
};

} // namespace sweepkit::testing
