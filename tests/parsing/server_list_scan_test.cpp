// Unit tests of ScanServerList and SplitServerEntry: entries, idle limits and fallbacks.
#include "distributed/server_list_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::vector<std::u16string> EntriesOf(const std::u16string& sText, const GServerList& list)
{
    std::vector<std::u16string> vecEntries;
    for (const GServerEntry& entry : list.vecEntries)
        vecEntries.push_back(sText.substr(entry.nStart, entry.nLength));
    return vecEntries;
}

}   // namespace

TEST(ServerListScanTest, EntriesAndIdleLimit)
{
    struct GCase
    {
        const char* szWhy;
        std::u16string sText;
        std::vector<std::u16string> vecEntries;
        uint32_t nMaxIdle;
    };
    const GCase aCases[] = {
        {"empty text, no entries", u"", {}, 256},
        {"one entry kept whole, blanks and fallback included", u" http://a/ ,http://b/", {u" http://a/ ,http://b/"}, 256},
        {"a ';' at the end adds nothing", u"a;b;", {u"a", u"b"}, 256},
        {"two ';' in a row give an empty entry", u"a;;b", {u"a", u"", u"b"}, 256},
        {"a lone ';' is one empty entry", u";", {u""}, 256},
        {"limit 0 turns pooling off", u"a|0", {u"a"}, 0},
        {"no digits read as 0", u"a|x", {u"a"}, 0},
        {"empty field keeps the default", u"a|", {u"a"}, 256},
        {"a second '|' at once keeps the default", u"a||5", {u"a"}, 256},
        {"minus one wraps", u"a|-1", {u"a"}, 4294967295u},
        {"minus wraps modulo 2^32", u"a|-4294967295", {u"a"}, 1},
        {"beyond 32 bits gives the largest", u"a|4294967296", {u"a"}, 4294967295u},
        {"many digits still give the largest", u"a|-99999999999999999999999", {u"a"}, 4294967295u},
        {"the number ends at the next '|'", u"a|12|7", {u"a"}, 12},
        {"entries end at the first '|'", u"a|5;b", {u"a"}, 5},
        {"white space and a plus sign before the number", u"a| \t+42x", {u"a"}, 42},
        {"a sign alone is no digits", u"a|-", {u"a"}, 0},
        {"the number stops at a NUL", std::u16string(u"a|1\0" u"2", 5), {u"a"}, 1},
        {"a NUL inside an entry belongs to it", std::u16string(u"a\0b;c", 5), {std::u16string(u"a\0b", 3), u"c"}, 256},
        {"no entries before the limit", u"|3", {}, 3},
    };
    for (const GCase& c : aCases)
    {
        SCOPED_TRACE(c.szWhy);
        const GServerList list = ScanServerList(c.sText.data(), c.sText.size());
        EXPECT_EQ(c.vecEntries, EntriesOf(c.sText, list));
        EXPECT_EQ(c.nMaxIdle, list.nMaxIdle);
    }
    EXPECT_TRUE(ScanServerList(nullptr, 0).vecEntries.empty());
}

TEST(ServerListScanTest, EntrySplitsAtItsFirstComma)
{
    struct GCase
    {
        std::u16string sEntry;
        size_t nPrimaryLength;
        bool bFallback;
        size_t nFallbackStart;
    };
    const GCase aCases[] = {
        {u"http://a/", 9, false, 0},
        {u"http://a/,http://b/", 9, true, 10},
        {u"http://a/,http://b/,http://c/", 9, true, 10},
        {u",http://b/", 0, true, 1},
        {u"http://a/,", 9, true, 10},
        {u"", 0, false, 0},
    };
    for (const GCase& c : aCases)
    {
        const GEntryUrls urls = SplitServerEntry(c.sEntry.data(), c.sEntry.size());
        EXPECT_EQ(c.nPrimaryLength, urls.nPrimaryLength);
        EXPECT_EQ(c.bFallback, urls.bFallback);
        EXPECT_EQ(c.nFallbackStart, urls.nFallbackStart);
    }
}
