// ReportError and CaughtHResult: how interface methods fail.
#pragma once

#include <windows.h>

// Installs source and description as the calling thread's error information and
// returns hr unchanged, also when no error object can be made.
HRESULT ReportError(HRESULT hr, const wchar_t* szSource, const wchar_t* szDescription) noexcept;

// Called only from a catch block: maps the exception in flight to an HRESULT
// (CAtlException to its code, std::bad_alloc to E_OUTOFMEMORY, anything else to
// E_UNEXPECTED). Sets no error information.
HRESULT CaughtHResult() noexcept;
