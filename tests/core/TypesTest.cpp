// Error texts of the result codes.
#include <gtest/gtest.h>

#include "core/Types.h"

using namespace Quarvel;

TEST(ErrorText, NamedCodesHaveTheirTexts) {
    EXPECT_STREQ(to_str(QuarvelSuccess), "Success");
    EXPECT_STREQ(to_str(QuarvelInvalidParameter), "Invalid parameter");
    EXPECT_STREQ(to_str(QuarvelNoCache), "No cache");
    EXPECT_STREQ(to_str(QuarvelUnkownDevice), "Unkown device");
    EXPECT_STREQ(to_str(QuarvelNotImplemented), "Not implemented");
    EXPECT_STREQ(to_str(QuarvelSkipFrame), "Skip frame");
    EXPECT_STREQ(to_str(QuarvelSystemError), "System error");
    EXPECT_STREQ(to_str(QuarvelUnkownError), "Unknown error");
}

TEST(ErrorText, ValuesWithoutNameAreUnknown) {
    for (int value : {5, 255, -3, 239, 241}) {
        EXPECT_STREQ(to_str(static_cast<TofErrorCode>(value)), "Unknown error") << value;
    }
}
