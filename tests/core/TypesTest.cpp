// Error texts and the fixed numeric values of the shared vocabulary.
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

TEST(Vocabulary, ValuesAreTheExternalInterface) {
    EXPECT_EQ(static_cast<int>(CameraCtrl::CONFIG_DIR_EXT), 256);
    EXPECT_EQ(static_cast<int>(CameraCtrl::AUTO_FRAME_RATE), 9);
    EXPECT_EQ(static_cast<int>(FrameType::AMPLITUDE), 3);
    EXPECT_EQ(static_cast<int>(TofFrameWorkMode::GRAY_ONLY), 19);
    EXPECT_EQ(static_cast<int>(TofWorkMode::GRAY_ONLY), 8);
    EXPECT_EQ(BOARD_RADXA_ROCK, 7);
    EXPECT_EQ(QuarvelSkipFrame, 240);
}
