// Md5Hex and CommandKey: the cache name of a database command, from its text and the
// values of its parameters.
#pragma once

#include <windows.h>

#include "common/bstr.h"
#include "query/ado.h"

// The MD5 digest of the bytes as 32 lower-case hexadecimal digits and a terminating NUL.
// E_FAIL, without error information, when the cryptographic provider fails.
HRESULT Md5Hex(const void* pBytes, DWORD nBytes, wchar_t (&szHex)[33]) noexcept;

// Gives back the provider that Md5Hex acquired on first use, if any. Only the module's
// unload calls it, when no digest can run.
void ReleaseSharedProvider() noexcept;

// A new BSTR of 32 hexadecimal digits in *pbstrKey, or a failure: the ADO call's own, or
// E_FAIL reported with the source "Orrisdale" for a command that the key cannot take.
HRESULT CommandKey(_Command* pCommand, BSTR* pbstrKey);

// The name a command's result is cached under: sName when it holds a character, else the
// command key, which bstrKey then owns. Either way *psCacheName points at it.
HRESULT SettleCacheName(_Command* pCommand, BSTR sName, GBstr& bstrKey, BSTR* psCacheName);
