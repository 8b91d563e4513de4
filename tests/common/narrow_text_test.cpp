// GNarrowText: UTF-16 to narrow text in the thread's ANSI code page, inline for short texts.
#include <gtest/gtest.h>

#include <string>

#include "common/narrow_text.h"
#include "tests/common/thread_code_page.h"

namespace
{
HRESULT ThrownByNarrowText(const wchar_t* szText, UINT nCodePage)
{
    try
    {
        GNarrowText text(szText, nCodePage);
    }
    catch (const CAtlException& e)
    {
        return e;
    }
    return S_OK;
}

TEST(TextConversionTest, NarrowNullGivesNull)
{
    GNarrowText text(nullptr);
    EXPECT_EQ(nullptr, text.Get());
    EXPECT_EQ(nullptr, static_cast<const char*>(text));
    EXPECT_EQ(0u, text.Capacity());
}

TEST(TextConversionTest, NarrowEmptyGivesEmptyInlineText)
{
    GNarrowText text(L"");
    ASSERT_NE(nullptr, text.Get());
    EXPECT_STREQ("", text.Get());
    EXPECT_TRUE(text.IsInline());
    EXPECT_EQ(128u, text.Capacity());
}

TEST(TextConversionTest, Narrow31UnitsStayInline)
{
    const std::wstring sText(31, L'q');
    GNarrowText text(sText.c_str());
    EXPECT_TRUE(text.IsInline());
    EXPECT_EQ(128u, text.Capacity());
    EXPECT_EQ(std::string(31, 'q'), text.Get());
}

TEST(TextConversionTest, Narrow32UnitsTakeA132ByteHeapBlock)
{
    const std::wstring sText = L"0123456789abcdefghijklmnopqrstuv";
    ASSERT_EQ(32u, sText.size());
    GNarrowText text(sText.c_str());
    EXPECT_FALSE(text.IsInline());
    EXPECT_EQ(132u, text.Capacity());
    EXPECT_STREQ("0123456789abcdefghijklmnopqrstuv", text.Get());
}

TEST(TextConversionTest, NarrowLongTextConvertsWhole)
{
    const std::wstring sText(70000, L'z');
    GNarrowText text(sText.c_str());
    EXPECT_EQ(4u * 70001u, text.Capacity());
    EXPECT_EQ(std::string(70000, 'z'), text.Get());
}

TEST(TextConversionTest, NarrowUsesTheThreadCodePage)
{
    {
        GThreadLocale locale(LANGUAGE_RUSSIAN);
        ASSERT_TRUE(locale.IsSet());
        GNarrowText text(L"\x0416\x0438\x0432 1");
        EXPECT_STREQ("\xC6\xE8\xE2 1", text.Get());
    }
    {
        GThreadLocale locale(LANGUAGE_GERMAN);
        ASSERT_TRUE(locale.IsSet());
        GNarrowText text(L"\x0416 \x00E9\x00DF\x20AC");
        EXPECT_STREQ("? \xE9\xDF\x80", text.Get());
    }
}

TEST(TextConversionTest, NarrowDoubleByteCodePageKeepsBothBytes)
{
    GThreadLocale locale(LANGUAGE_JAPANESE);
    ASSERT_TRUE(locale.IsSet());
    GNarrowText text(L"a\x3042\x65E5");
    EXPECT_STREQ("a\x82\xA0\x93\xFA", text.Get());
}

TEST(TextConversionTest, NarrowWithoutTheCharacterGivesTheDefaultCharacter)
{
    GThreadLocale locale(LANGUAGE_GERMAN);
    ASSERT_TRUE(locale.IsSet());
    GNarrowText text(L"\x3042\x0416x");
    EXPECT_STREQ("??x", text.Get());
}

TEST(TextConversionTest, NarrowLoneSurrogateDoesNotFail)
{
    GThreadLocale locale(LANGUAGE_GERMAN);
    ASSERT_TRUE(locale.IsSet());
    GNarrowText text(L"a\xD800z");
    ASSERT_NE(nullptr, text.Get());
    EXPECT_EQ('a', text.Get()[0]);
    EXPECT_EQ('z', text.Get()[2]);
}

TEST(TextConversionTest, NarrowUnknownCodePageThrowsTheLastError)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), ThrownByNarrowText(L"abc", 12345));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), ThrownByNarrowText(L"", 12345));
    EXPECT_EQ(S_OK, ThrownByNarrowText(nullptr, 12345));
}
}
