// ScanServerList and SplitServerEntry: how a distributed object reads its server list text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The idle limit of a list that gives none.
constexpr uint32_t DEFAULT_MAX_IDLE = 256;

// One server entry, as a stretch of the list text.
struct GServerEntry
{
    size_t nStart = 0;
    size_t nLength = 0;
};

struct GServerList
{
    std::vector<GServerEntry> vecEntries;
    uint32_t nMaxIdle = DEFAULT_MAX_IDLE;
};

// Reads "entry;entry;...|limit" over exactly nLength UTF-16 units (NULs included):
// - entries are separated by ';' and end at the first '|'; nothing is trimmed, an entry
//   may be empty, and a ';' at the very end adds no empty entry;
// - after the first '|' a decimal number, read as the C library's wcstoul reads it into
//   32 bits, sets the idle limit: white space skipped, one sign, digits up to the first
//   other unit; no digits gives 0, a value beyond 32 bits 4294967295, a minus sign
//   negates modulo 2^32. White space and digits are the ASCII ones. A field left empty
//   (end of text or another '|' at once) keeps the default; anything after the number is
//   ignored.
GServerList ScanServerList(const char16_t* pText, size_t nLength);

// An entry is a URL, optionally followed by ',' and a fallback URL. The primary is the
// text before the first ',' (the whole entry without one); the fallback, the rest.
struct GEntryUrls
{
    size_t nPrimaryLength = 0;
    bool bFallback = false;
    size_t nFallbackStart = 0;
};

GEntryUrls SplitServerEntry(const char16_t* pEntry, size_t nLength);
