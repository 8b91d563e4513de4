// Pure parsing of a reply head: where it ends, its marked header values, and their numbers.
#pragma once

#include <cstddef>
#include <cstdint>

// Pointers into the scanned buffer; nullptr = none. Each text ends at a NUL that the
// scanner wrote (for a head that ends in CR LF CR LF always), or, when the scanned
// range stops inside a text, at the byte just past the range, which the caller sets
// to NUL. Every pointer lies in [pHead, pHead + nHeadLength].
struct GReplyFields
{
    const char* szStatus;          // text after the status line's first space
    const char* szContentLength;
    const char* szContentType;     // only looked for when bContentType
    const char* szSetCookie;
    const char* szResultCode;
    const char* szResultReason;
};

// Position just past the first CR LF CR LF in p[0..n), or 0 when there is none.
// Bytes are compared as they are; a NUL is ordinary data here.
size_t FindHeadEnd(const char* p, size_t n);

// One pass over pHead[0..nHeadLength) in four phases: the status line's first byte,
// then up to the first space (made NUL, the status text follows it), then up to a CR
// (made NUL; the byte after it is passed over unseen and a header name begins after
// that), then up to a colon (made NUL; spaces, 0x20 only, are passed over and the value
// begins at the next byte). Only CR ends a line and only a colon ends a name, so a line
// without a colon runs on into the next one, and a status line without a space lets
// the status text begin inside the header lines.
// Names are matched whole (every byte up to the colon, nothing trimmed) against
// "content-length", "set-cookie", "x-result-code", "x-result-reason" and, when
// bContentType, "content-type", ASCII case-insensitively; each takes its first
// occurrence. Values keep trailing spaces and any colons.
// All fields are set to nullptr first. Nothing outside [0, nHeadLength) is read or
// written.
void ScanReplyHead(char* pHead, size_t nHeadLength, bool bContentType, GReplyFields& fields);

// The content-length value by the C library's strtoull rules in base 10: leading white
// space (space, \t, \n, \v, \f, \r) skipped, an optional sign ('-' negates modulo 2^64,
// so "-1" is all ones), digits up to the first other byte, all ones on overflow.
// A present value without digits ("", "abc") gives 0, as strtoull does.
// nullptr, the header being absent, gives UINT64_MAX: "read until the connection ends".
uint64_t ParseContentLength(const char* sz);

// The x-result-code value by strtol rules in base 10 (leading white space, optional
// sign, digits, anything after them ignored; out of the long range it clamps to
// LONG_MIN or LONG_MAX). True with nCode set only when at least one digit was read;
// false for nullptr, "" or a value without digits, and nCode is then left as it was.
bool ParseResultCode(const char* sz, long& nCode);

// The status text converted by the same strtol rules; 0 when it has no digits or is
// nullptr. Clamping (rather than wrapping) keeps a huge number from passing for 200.
long ParseStatusCode(const char* sz);

// Matches sz against the scanf pattern "application/x-variant-%d": the prefix exactly,
// case included, with no white space before it; then white space skipped, an optional
// sign and at least one digit; anything after the number is ignored. A number outside
// the int range wraps modulo 2^32. True with nType set on a match; nullptr is matched
// as "" and fails, and nType is left as it was on failure.
bool MatchVariantContentType(const char* sz, int& nType);
