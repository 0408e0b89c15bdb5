#include <gtest/gtest.h>

#include <stdexcept>

#include "common/CGenericException.h"

namespace {

TEST(CGenericException, CarriesCodeDetailAndEmptyText) {
    try {
        throw mstd::CGenericException(mstd::ErrNotConnected, 5);
    } catch (const std::exception& e) {
        // A handler for std::exception sees it too, and the copy keeps all three members.
        const auto* generic = dynamic_cast<const mstd::CGenericException*>(&e);
        ASSERT_NE(generic, nullptr);
        mstd::CGenericException copy = *generic;
        EXPECT_EQ(copy.GetCode(), 1000);
        EXPECT_EQ(copy.GetDetail(), 5);
        EXPECT_TRUE(copy.GetText().empty());
        EXPECT_STREQ(copy.what(), std::exception().what());
    }
}

TEST(CGenericException, TextIsWritableAndCopied) {
    mstd::CGenericException e(mstd::ErrNotInUpdateMode, 0);
    e.GetText() = L"note";
    mstd::CGenericException copy = e;
    EXPECT_EQ(copy.GetCode(), 1002);
    EXPECT_EQ(copy.GetText(), L"note");
}

TEST(ReportException, WritesOneLineToStandardError) {
    testing::internal::CaptureStderr();
    ReportException();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception caught!\n");
}

}  // namespace
