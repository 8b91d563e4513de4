// GTextBuffer: the reservation rules of the text holders, inline up to 128 units and on the heap beyond.
#include <gtest/gtest.h>

#include <cstring>

#include "common/text_buffer.h"

namespace
{
bool IsZeroFilled(const char* p, size_t nFrom, size_t nTo)
{
    for (size_t i = nFrom; i < nTo; ++i)
    {
        if (p[i] != 0)
            return false;
    }
    return true;
}

TEST(TextConversionTest, NewBufferHoldsNoText)
{
    GTextBuffer<char> buffer;
    EXPECT_EQ(nullptr, buffer.Get());
    EXPECT_FALSE(buffer.IsInline());
    EXPECT_EQ(0u, buffer.Capacity());
}

TEST(TextConversionTest, NegativeReservationThrowsInvalidArg)
{
    GTextBuffer<char> buffer;
    try
    {
        buffer.Reserve(-1);
        FAIL() << "no exception";
    }
    catch (const CAtlException& e)
    {
        EXPECT_EQ(E_INVALIDARG, static_cast<HRESULT>(e));
    }
    GTextBuffer<wchar_t> wide;
    EXPECT_THROW(wide.Reserve(-2147483647 - 1), CAtlException);
}

TEST(TextConversionTest, NegativeReservationLeavesTheHeldTextAlone)
{
    GTextBuffer<char> buffer;
    char* p = buffer.Reserve(200);
    std::strcpy(p, "kept");
    EXPECT_THROW(buffer.Reserve(-5), CAtlException);
    EXPECT_EQ(p, buffer.Get());
    EXPECT_STREQ("kept", buffer.Get());
    EXPECT_EQ(200u, buffer.Capacity());
}

TEST(TextConversionTest, ReservationUpTo128StaysInline)
{
    GTextBuffer<char> buffer;
    char* p = buffer.Reserve(0);
    EXPECT_TRUE(buffer.IsInline());
    EXPECT_EQ(128u, buffer.Capacity());
    EXPECT_EQ(p, buffer.Reserve(1));
    EXPECT_EQ(p, buffer.Reserve(128));
    EXPECT_TRUE(buffer.IsInline());
    EXPECT_EQ(128u, buffer.Capacity());
}

TEST(TextConversionTest, InlineTextSurvivesASmallerReservation)
{
    GTextBuffer<wchar_t> buffer;
    wchar_t* p = buffer.Reserve(100);
    std::wcscpy(p, L"inline");
    EXPECT_EQ(p, buffer.Reserve(10));
    EXPECT_STREQ(L"inline", buffer.Get());
}

TEST(TextConversionTest, ReservationAbove128TakesAZeroFilledHeapBlock)
{
    GTextBuffer<char> buffer;
    char* pInline = buffer.Reserve(128);
    std::memset(pInline, 'x', 128);
    char* pHeap = buffer.Reserve(129);
    EXPECT_NE(pInline, pHeap);
    EXPECT_FALSE(buffer.IsInline());
    EXPECT_EQ(129u, buffer.Capacity());
    EXPECT_TRUE(IsZeroFilled(pHeap, 0, 129));
}

TEST(TextConversionTest, WideHeapBlockCountsUnitsNotBytes)
{
    GTextBuffer<wchar_t> buffer;
    wchar_t* p = buffer.Reserve(300);
    EXPECT_EQ(300u, buffer.Capacity());
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(L'\0', p[i]) << "unit " << i;
    p[299] = L'z';   // the last unit of the block is usable
    EXPECT_EQ(L'z', buffer.Get()[299]);
}

TEST(TextConversionTest, HeapBlockReturnsInlineAtOrBelow128)
{
    GTextBuffer<char> buffer;
    buffer.Reserve(500);
    ASSERT_FALSE(buffer.IsInline());
    buffer.Reserve(128);
    EXPECT_TRUE(buffer.IsInline());
    EXPECT_EQ(128u, buffer.Capacity());
    buffer.Reserve(1000);
    buffer.Reserve(0);
    EXPECT_TRUE(buffer.IsInline());
}

TEST(TextConversionTest, GrownHeapBlockKeepsItsTextAndZeroFillsTheGrowth)
{
    GTextBuffer<char> buffer;
    char* p = buffer.Reserve(200);
    std::memset(p, 'a', 200);
    p = buffer.Reserve(5000);
    EXPECT_EQ(5000u, buffer.Capacity());
    for (size_t i = 0; i < 200; ++i)
        ASSERT_EQ('a', p[i]) << "byte " << i;
    EXPECT_TRUE(IsZeroFilled(p, 200, 5000));
}

TEST(TextConversionTest, ShrunkHeapBlockKeepsItsFrontAndRegrowsZeroFilled)
{
    GTextBuffer<char> buffer;
    char* p = buffer.Reserve(400);
    std::memset(p, 'b', 400);
    p = buffer.Reserve(150);
    EXPECT_FALSE(buffer.IsInline());
    EXPECT_EQ(150u, buffer.Capacity());
    for (size_t i = 0; i < 150; ++i)
        ASSERT_EQ('b', p[i]) << "byte " << i;
    p = buffer.Reserve(400);
    EXPECT_TRUE(IsZeroFilled(p, 150, 400));
}
}
