#include "platform/error/Result.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace velmor {

TEST(Result, HoldsAValueOrAnErrorAndThrowsTheErrorOnGet) {
    auto bytes = Result<std::vector<std::uint8_t>>::success({1, 2, 3});
    ASSERT_TRUE(bytes.isSuccess());
    EXPECT_EQ(bytes.get(), (std::vector<std::uint8_t>{1, 2, 3}));

    auto failed = Result<std::vector<std::uint8_t>>::failure(Error::posix(EPIPE));
    ASSERT_FALSE(failed.isSuccess());
    try {
        failed.get();
        FAIL() << "no error";
    } catch (const ErrorException& thrown) {
        EXPECT_EQ(thrown.error(), Error::posix(EPIPE));
    }
    EXPECT_NE(bytes, failed);

    // An error as the value is still a success.
    EXPECT_TRUE(Result<Error>::success(Error::posix(EIO)).isSuccess());
    EXPECT_FALSE(Result<Error>::failure(Error::posix(EIO)).isSuccess());

    EXPECT_TRUE(Result<void>::success().isSuccess());
    EXPECT_NO_THROW(Result<void>::success().get());
    auto voidFailure = Result<void>::failure(Error::posix(EIO));
    EXPECT_THROW(voidFailure.get(), ErrorException);
    EXPECT_EQ(voidFailure, Result<void>::failure(Error::posix(EIO)));
    EXPECT_NE(voidFailure, Result<void>::success());
}

} // namespace velmor
