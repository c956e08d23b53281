#include "foundation/core/objc/Objc.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velmor {

namespace {

const std::string failureKey = Error::localizedFailureReasonKey;

Error caught(const Exception& exception) {
    Error error("untouched", 99);
    EXPECT_FALSE(Objc::throwing([&] { throw exception; }, error));
    return error;
}

} // namespace

TEST(Objc, ABlockThatReturnsLeavesTheErrorAsItWas) {
    Error error("untouched", 99);
    int runs = 0;
    EXPECT_TRUE(Objc::throwing([&] { ++runs; }, error));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(error, Error("untouched", 99));
    EXPECT_NO_THROW(Objc::throwing([] {}));
}

TEST(Objc, TheReasonBecomesTheFailureReasonOrGoesBesideAnExistingOne) {
    struct Case {
        const char* name;
        std::string reason;
        UserInfo userInfo;
        UserInfo expected;
    };
    const Case cases[] = {
        {"reason only", "R", {}, {{failureKey, std::string("R")}}},
        {"existing reason kept",
         "R",
         {{failureKey, std::string("Old")}, {"k", std::int64_t{1}}},
         {{failureKey, std::string("Old")},
          {Objc::privateFailureReasonKey, std::string("R")},
          {"k", std::int64_t{1}}}},
        {"empty existing reason overwritten",
         "R",
         {{failureKey, std::string("")}},
         {{failureKey, std::string("R")}}},
        {"no reason keeps the details", "", {{"k", std::string("v")}}, {{"k", std::string("v")}}},
        {"no reason, no details", "", {}, {}},
    };
    for (const Case& c : cases) {
        Error error = caught(Exception("N", c.reason, c.userInfo));
        EXPECT_EQ(error, Error("N", 0, c.expected)) << c.name;
    }
}

TEST(Objc, TheThrowingFormThrowsTheConvertedError) {
    try {
        Objc::throwing([] { throw Exception("NSFileHandleOperationException", "read failed"); });
        FAIL() << "expected an error";
    } catch (const ErrorException& exception) {
        EXPECT_EQ(exception.error().domain(), "NSFileHandleOperationException");
        EXPECT_EQ(exception.error().code(), 0);
        EXPECT_EQ(*exception.error().stringValue(failureKey), "read failed");
    }
}

TEST(Objc, OtherExceptionsPassThroughUnchanged) {
    struct DerivedException : Exception {
        DerivedException() : Exception("Derived", "sub") {}
    };
    Error error;
    EXPECT_FALSE(Objc::throwing([] { throw DerivedException(); }, error));
    EXPECT_EQ(error.domain(), "Derived");
    EXPECT_THROW(Objc::throwing([] { throw std::runtime_error("not ours"); }, error), std::runtime_error);
    EXPECT_THROW(Objc::throwing([] { throw 42; }), int);
}

} // namespace velmor
