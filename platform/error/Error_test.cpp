#include "platform/error/Error.hpp"

#include <gtest/gtest.h>

namespace velmor {

enum class SampleError { first, second, third };
template <> struct ErrorDomain<SampleError> { static constexpr const char* value = "Sample.SampleError"; };

TEST(Error, PosixCodesAreKeptWhenKnownAndReplacedOtherwise) {
    EXPECT_EQ(Error::posix(ENOENT).code(), ENOENT);
    EXPECT_EQ(Error::posix(ENOENT).domain(), Error::posixDomain);
    EXPECT_EQ(Error::posix(0).code(), ENOTSUP);
    EXPECT_EQ(Error::posix(100000).code(), ENOTSUP);
    EXPECT_EQ(Error::posix(-3, EINVAL).code(), EINVAL);
    EXPECT_EQ(*Error::posixForPath(EACCES, "/x").stringValue(Error::filePathKey), "/x");
    EXPECT_EQ(Error::posixForPath(EACCES, "/x").code(), EACCES);
    EXPECT_EQ(ENOTSUP, 95);
}

TEST(Error, DescriptionPrefersTheLocalizedText) {
    EXPECT_EQ(Error::posix(ENOENT).description(), "No such file or directory");
    Error custom("D", 7, {{Error::localizedDescriptionKey, std::string("Something broke")}});
    EXPECT_EQ(custom.description(), "Something broke");
    EXPECT_NE(Error("D", 7).description().find("D error 7"), std::string::npos);
}

TEST(Error, UserInfoHoldsNestedErrorsAndComparesByValue) {
    auto underlying = std::make_shared<const Error>(Error::posix(EACCES));
    Error outer("Outer", 1, {{Error::underlyingErrorKey, underlying}, {"count", std::int64_t{3}}});
    Error copy = outer;
    ASSERT_NE(copy.underlyingError(), nullptr);
    EXPECT_EQ(copy.underlyingError()->code(), EACCES);
    EXPECT_EQ(copy, outer);
    Error otherNested("Outer", 1,
                      {{Error::underlyingErrorKey, std::make_shared<const Error>(Error::posix(EPERM))},
                       {"count", std::int64_t{3}}});
    EXPECT_FALSE(otherNested == outer);
}

TEST(Error, TypedErrorsBridgeWithTheirDomainAndCaseIndex) {
    try {
        throw TypedError<SampleError>(SampleError::third);
    } catch (...) {
        Error error = errorFromException(std::current_exception());
        EXPECT_EQ(error.domain(), "Sample.SampleError");
        EXPECT_EQ(error.code(), 2);
    }
}

TEST(Error, AnyExceptionBecomesAnError) {
    Error fromPosix = errorFromException(std::make_exception_ptr(ErrorException(Error::posix(EEXIST))));
    EXPECT_EQ(fromPosix, Error::posix(EEXIST));
    Error fromRuntime = errorFromException(std::make_exception_ptr(std::runtime_error("bad thing")));
    EXPECT_EQ(fromRuntime.description(), "bad thing");
}

} // namespace velmor
