// ScanServerUrl: splits a server URL into host, port and path, the way the connection reads it.
#pragma once

// Host and path buffers hold this many bytes, one more than a scanned text may use.
constexpr int URL_TEXT_BYTES = 128;

// Reads szUrl first as "http://%[^:]:%d%s" and, failing that, as "http://%[^/]%s" with
// nPort := 80. Returns true when either form converts all its fields.
//
// The C library's scanf rules apply byte for byte, in the "C" locale:
// - "http://" must match exactly (lower case, nothing before it, no white space skipped);
// - the host takes one or more bytes up to the first ':' (first form) or '/' (second
//   form) or the end; it may hold white space, and in the first form also '/';
// - the port skips white space (space, \t, \n, \v, \f, \r), takes an optional sign and
//   at least one digit. A value outside the int range wraps modulo 2^32 (70000 stays
//   70000, 4294967297 gives 1); the caller keeps only the low 16 bits anyway;
// - the path skips white space and takes at least one byte up to the next white space
//   or the end; whatever follows it is ignored.
// Each text is given 127 bytes including its NUL, as with a bounded scanf_s: a host or
// path of 126 bytes fits, a longer token ends that form's scan there (and then the
// second form is tried). Such a token leaves its buffer "".
//
// The outputs are written as the scan goes, so a failed scan can leave some of them
// filled; the caller resets them. Byte 127 of szHost and szPath is never written.
// A null szUrl counts as "".
bool ScanServerUrl(const char* szUrl, char (&szHost)[URL_TEXT_BYTES], int& nPort,
    char (&szPath)[URL_TEXT_BYTES]);
