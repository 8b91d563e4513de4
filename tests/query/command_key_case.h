// GKeyCase: one row of the generated command key table.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

// A number carries its value bytes in hex (a decimal: the 14 bytes after its type code);
// a string carries its text, or its bytes in hex, or neither for a null string.
struct GKeyParam
{
    VARTYPE vt;
    const char* szHex;
    const wchar_t* szText;
};

struct GKeyCase
{
    const char* szName;
    const wchar_t* szText;   // nullptr: the command's text is a null string
    std::vector<GKeyParam> vecParams;
    const char* szKey;
};
