#pragma once

#include "platform/log/CaptureSink.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmor::testing {

// Installs a capture sink for the loggers a test makes, and puts the previous sink back afterwards.
class CapturedLogTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = log::LogSink::install(sink_); }
    void TearDown() override { log::LogSink::install(previous_); }

    std::vector<std::string> messages() const {
        std::vector<std::string> result;
        for (const auto& entry : sink_->entries()) {
            result.push_back(std::string(log::logTypeName(entry.type)) + ": " + entry.message);
        }
        return result;
    }

    std::shared_ptr<log::CaptureSink> sink_ = std::make_shared<log::CaptureSink>();

private:
    std::shared_ptr<log::LogSink> previous_;
};

// A message closure that counts how often it is evaluated.
struct CountingMessage {
    std::string text;
    mutable int evaluations = 0;
    std::string operator()() const {
        ++evaluations;
        return text;
    }
};

} // namespace velmor::testing
