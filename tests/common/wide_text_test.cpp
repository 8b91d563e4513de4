// GWideText: narrow text in the thread's ANSI code page to UTF-16, inline up to 127 bytes.
#include <gtest/gtest.h>

#include <string>

#include "common/narrow_text.h"
#include "common/wide_text.h"
#include "tests/common/thread_code_page.h"

namespace
{
HRESULT ThrownByWideText(const char* szText, UINT nCodePage)
{
    try
    {
        GWideText text(szText, nCodePage);
    }
    catch (const CAtlException& e)
    {
        return e;
    }
    return S_OK;
}

TEST(TextConversionTest, WideNullGivesNull)
{
    GWideText text(nullptr);
    EXPECT_EQ(nullptr, text.Get());
    EXPECT_EQ(nullptr, static_cast<const wchar_t*>(text));
    EXPECT_EQ(0u, text.Capacity());
}

TEST(TextConversionTest, WideEmptyGivesEmptyInlineText)
{
    GWideText text("");
    ASSERT_NE(nullptr, text.Get());
    EXPECT_STREQ(L"", text.Get());
    EXPECT_TRUE(text.IsInline());
    EXPECT_EQ(128u, text.Capacity());
}

TEST(TextConversionTest, Wide127BytesStayInline)
{
    const std::string sText(127, 'k');
    GWideText text(sText.c_str());
    EXPECT_TRUE(text.IsInline());
    EXPECT_EQ(std::wstring(127, L'k'), text.Get());
}

TEST(TextConversionTest, Wide128BytesTakeA129UnitHeapBlock)
{
    const std::string sText(128, 'k');
    GWideText text(sText.c_str());
    EXPECT_FALSE(text.IsInline());
    EXPECT_EQ(129u, text.Capacity());
    EXPECT_EQ(std::wstring(128, L'k'), text.Get());
}

TEST(TextConversionTest, WideUsesTheThreadCodePage)
{
    {
        GThreadLocale locale(LANGUAGE_RUSSIAN);
        ASSERT_TRUE(locale.IsSet());
        GWideText text("\xC6\xE8\xE2 1");
        EXPECT_STREQ(L"\x0416\x0438\x0432 1", text.Get());
    }
    {
        GThreadLocale locale(LANGUAGE_GERMAN);
        ASSERT_TRUE(locale.IsSet());
        GWideText text("\xC6\xE8\xE2\x80");
        EXPECT_STREQ(L"\x00C6\x00E8\x00E2\x20AC", text.Get());
    }
}

TEST(TextConversionTest, WideDoubleByteCodePageJoinsBothBytes)
{
    GThreadLocale locale(LANGUAGE_JAPANESE);
    ASSERT_TRUE(locale.IsSet());
    GWideText text("a\x82\xA0\x93\xFA");
    EXPECT_STREQ(L"a\x3042\x65E5", text.Get());
    EXPECT_TRUE(text.IsInline());
}

TEST(TextConversionTest, NonAsciiTextRoundTripsThroughTheThreadCodePage)
{
    struct GCase
    {
        LANGID nLanguage;
        const wchar_t* szText;
    };
    const GCase aCases[] = {
        {LANGUAGE_GERMAN, L"Stra\x00DF" L"e \x00E4\x00F6\x00FC \x20AC 5"},
        {LANGUAGE_RUSSIAN, L"\x041A\x044D\x0448 \x2116 7"},
        {LANGUAGE_JAPANESE, L"\x30AD\x30E3\x30C3\x30B7\x30E5 key"},
    };
    for (const GCase& c : aCases)
    {
        GThreadLocale locale(c.nLanguage);
        ASSERT_TRUE(locale.IsSet());
        GNarrowText szNarrow(c.szText);
        GWideText szWide(szNarrow.Get());
        EXPECT_STREQ(c.szText, szWide.Get()) << "language " << c.nLanguage;
    }
}

TEST(TextConversionTest, WideUnknownCodePageThrowsTheLastError)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), ThrownByWideText("abc", 12345));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), ThrownByWideText("", 12345));
    EXPECT_EQ(S_OK, ThrownByWideText(nullptr, 12345));
}
}
