// The body reader: the body of a found get reply, placed into the caller's VARIANT.
#pragma once

#include <windows.h>

#include "client/server_connection.h"

// What a found reply turned out to be. For a variant array only its element count has
// been read; the elements are fetched by the command, after the reply is done with.
struct GBodyOutcome
{
    HRESULT hr = S_OK;
    const wchar_t* szDescription = nullptr;   // for a failure: what FailAndClose reports
    bool bVariantArray = false;
    ULONG nElements = 0;
};

// Reads the body that head announces. Nothing is written into pValue unless the whole
// body has arrived (a stream target keeps what was written into it).
GBodyOutcome ReadValueBody(GServerConnection& connection, const GReplyHead& head, VARIANT* pValue);
