// GThreadLocale: gives the calling thread another locale, and so another ANSI code page, for one test.
#pragma once

#include <windows.h>

class GThreadLocale
{
public:
    explicit GThreadLocale(LANGID nLanguage) : m_nOld(GetThreadLocale())
    {
        m_bSet = SetThreadLocale(MAKELCID(nLanguage, SORT_DEFAULT)) != FALSE;
    }
    ~GThreadLocale() { SetThreadLocale(m_nOld); }
    GThreadLocale(const GThreadLocale&) = delete;
    GThreadLocale& operator=(const GThreadLocale&) = delete;

    bool IsSet() const { return m_bSet; }

private:
    LCID m_nOld;
    bool m_bSet = false;
};

constexpr LANGID LANGUAGE_GERMAN = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);           // code page 1252
constexpr LANGID LANGUAGE_RUSSIAN = MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA);  // code page 1251
constexpr LANGID LANGUAGE_JAPANESE = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN); // code page 932
