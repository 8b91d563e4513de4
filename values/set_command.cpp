// Set: one set exchange, after the elements of a variant array have been stored one by one.
#include "values/value_commands.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "common/narrow_text.h"
#include "common/result_codes.h"
#include "values/body_writer.h"
#include "values/element_name.h"

namespace
{
// Sends exactly nLength bytes of the stream. The stream is read in pieces of at most
// 8192 bytes, gathered into a batch of fixed size before each send: every socket call
// is costly on some hosts, and the memory still does not grow with the stream. A
// stream that runs dry early would leave the server waiting for the rest of a body it
// was promised, so it is reported rather than left hanging; a failed send is left to
// the reply read.
HRESULT SendStreamBody(GServerConnection& connection, IStream* pStream, long nLength, char* pBatch,
                       size_t nBatchBytes)
{
    ULONG nMissing = static_cast<ULONG>(nLength);
    while (nMissing > 0)
    {
        size_t nFilled = 0;
        while (nMissing > 0 && nFilled < nBatchBytes)
        {
            ULONG nAsk = static_cast<ULONG>(BODY_PIECE_BYTES);
            if (nAsk > nMissing)
                nAsk = nMissing;
            if (nAsk > nBatchBytes - nFilled)
                nAsk = static_cast<ULONG>(nBatchBytes - nFilled);
            ULONG nRead = 0;
            if (FAILED(pStream->Read(pBatch + nFilled, nAsk, &nRead)) || nRead == 0)
                return connection.FailAndClose(E_STREAM_REQUIRED, MSG_STREAM_REQUIRED);
            if (nRead > nAsk)
                nRead = nAsk;
            nFilled += nRead;
            nMissing -= nRead;
        }
        if (!connection.SendAll(pBatch, nFilled))
            return S_OK;
    }
    return S_OK;
}

// The exchange itself; kept out of RunSet so that nested arrays, which recurse
// through RunSet, do not stack a reply buffer per level.
HRESULT ExchangeSet(GServerConnection& connection, const char* szName, const GValueBody& body, long nTimeout,
                    VARIANT_BOOL* pSet)
{
    GRequest request;
    request.szCommand = "set";
    request.szName = szName;
    request.nValueType = body.Type();
    request.nBodyLength = body.Length();
    request.bTimeout = true;
    request.nTimeout = nTimeout;
    if (body.Stream() == nullptr)
    {
        request.pBody = body.Memory();
        request.nBody = static_cast<size_t>(body.Length());
    }
    // Taken before the head goes out, so that a lack of memory cannot leave a request
    // half sent.
    std::vector<char> vecBatch;
    if (body.Stream() != nullptr && body.Length() > 0)
        vecBatch.resize(std::min(static_cast<size_t>(body.Length()), STREAM_BATCH_BYTES));

    HRESULT hr = connection.WriteRequestHead(request);
    if (FAILED(hr))
        return hr;
    if (body.Stream() != nullptr && connection.m_sock != INVALID_SOCKET)
    {
        hr = SendStreamBody(connection, body.Stream(), body.Length(), vecBatch.data(), vecBatch.size());
        if (FAILED(hr))
            return hr;
    }

    GReplyHead head;
    long nCode = 0;
    hr = connection.ReadReply(head, false, 1, nCode);
    if (FAILED(hr))
        return hr;
    *pSet = nCode == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    connection.DrainReplyBody(head);
    return S_OK;
}

// Stores every element under its derived name. bStopped tells the caller that the
// array's own entry must not be written.
HRESULT StoreElements(GServerConnection& connection, IHarbinet* pSelf, const wchar_t* szName, const GValueBody& body,
                      long nTimeout, VARIANT_BOOL* pSet, bool& bStopped)
{
    bStopped = true;
    VARIANT* pElements = body.Elements();
    for (ULONG i = 0; i < body.ElementCount(); ++i)
    {
        GBstr bstrElement;
        MakeElementName(szName, i, bstrElement);
        const HRESULT hr = pSelf->Set(bstrElement.Get(), &pElements[i], nTimeout, pSet);
        if (FAILED(hr) || *pSet == VARIANT_FALSE)
        {
            connection.CloseConnection();
            return hr;
        }
    }
    bStopped = false;
    return S_OK;
}
}

HRESULT RunSet(GServerConnection& connection, IHarbinet* pSelf, BSTR sName, VARIANT* pValue, long nTimeout,
               VARIANT_BOOL* pSet)
{
    if (nTimeout < 0)
        return S_FALSE;
    if (pValue == nullptr || pSet == nullptr)
        return E_POINTER;
    const wchar_t* szName = sName == nullptr ? L"" : sName;
    GNarrowText szNarrowName(szName);
    if (!IsNameAcceptable(szNarrowName.Get()))
        return RefuseName();

    GValueBody body;
    HRESULT hr = body.Prepare(pValue);
    if (FAILED(hr))
        return connection.FailAndClose(hr, hr == E_STREAM_REQUIRED ? MSG_STREAM_REQUIRED : MSG_VALUE_TYPE);

    if (body.Class() == GValueClass::VariantArray)
    {
        // Refusing a name too long at any depth now stores nothing.
        if (!CanNameElements(wcslen(szName), *pValue))
            return RefuseName();
        bool bStopped = false;
        hr = StoreElements(connection, pSelf, szName, body, nTimeout, pSet, bStopped);
        if (bStopped)
            return hr;
        body.UseElementCountAsBody();
    }
    return ExchangeSet(connection, szNarrowName.Get(), body, nTimeout, pSet);
}
