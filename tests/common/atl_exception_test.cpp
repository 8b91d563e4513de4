// CAtlException: the code it carries, and the last platform error turned into an HRESULT.
#include <gtest/gtest.h>

#include "common/atl_exception.h"

namespace
{
HRESULT FromLastError(DWORD nError)
{
    SetLastError(nError);
    return CAtlException::FromLastError();
}

TEST(ErrorInfoTest, AtlExceptionCarriesItsCode)
{
    EXPECT_EQ(E_OUTOFMEMORY, static_cast<HRESULT>(CAtlException(E_OUTOFMEMORY)));
    EXPECT_EQ(E_INVALIDARG, static_cast<HRESULT>(CAtlException(E_INVALIDARG)));
    EXPECT_EQ(E_FAIL, static_cast<HRESULT>(CAtlException(E_FAIL)));
    EXPECT_EQ(S_OK, static_cast<HRESULT>(CAtlException(S_OK)));
}

TEST(ErrorInfoTest, PositiveLastErrorMovesIntoTheWin32Facility)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80070001), FromLastError(1));
    EXPECT_EQ(static_cast<HRESULT>(0x80070005), FromLastError(ERROR_ACCESS_DENIED));
    EXPECT_EQ(static_cast<HRESULT>(0x8007007A), FromLastError(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(static_cast<HRESULT>(0x80070459), FromLastError(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(static_cast<HRESULT>(0x8007FFFF), FromLastError(0xFFFF));
}

TEST(ErrorInfoTest, PositiveLastErrorKeepsOnlyItsLowWord)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80070000), FromLastError(0x10000));
    EXPECT_EQ(static_cast<HRESULT>(0x80072345), FromLastError(0x12345));
    EXPECT_EQ(static_cast<HRESULT>(0x8007FFFF), FromLastError(0x7FFFFFFF));
}

TEST(ErrorInfoTest, ZeroOrNegativeLastErrorIsUsedAsItIs)
{
    EXPECT_EQ(S_OK, FromLastError(0));
    EXPECT_EQ(static_cast<HRESULT>(0x80004005), FromLastError(0x80004005));
    EXPECT_EQ(static_cast<HRESULT>(0x8007000E), FromLastError(0x8007000E));
    EXPECT_EQ(static_cast<HRESULT>(0xFFFFFFFF), FromLastError(0xFFFFFFFF));
    EXPECT_EQ(static_cast<HRESULT>(0x80000000), FromLastError(0x80000000));
}
}
