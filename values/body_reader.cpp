// Reading value bodies: from the bytes that came with the head, then from the connection.
#include "values/body_reader.h"

#include <objidl.h>
#include <oleauto.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <cstring>
#include <new>
#include <vector>

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/result_codes.h"
#include "common/safe_array.h"
#include "values/value_class.h"

namespace
{
constexpr const wchar_t* MSG_OUT_OF_MEMORY = L"Out of memory.";
// Memory targets receive straight into their final storage, so larger reads cost no
// buffer.
constexpr size_t MEMORY_READ_BYTES = 1 << 20;

GBodyOutcome Failure(HRESULT hr, const wchar_t* szDescription)
{
    GBodyOutcome outcome;
    outcome.hr = hr;
    outcome.szDescription = szDescription;
    return outcome;
}

// Hands out the body in order: first the bytes that arrived with the head, then
// further reads. Bytes beyond the announced length that came with the head are
// not part of the body and are dropped.
class GBodySource
{
public:
    GBodySource(GServerConnection& connection, const GReplyHead& head, uint64_t nLength) noexcept
        : m_connection(connection), m_pExtra(head.Extra()), m_nMissing(nLength)
    {
        const uint64_t nExtra = head.ExtraBytes();
        m_nExtra = static_cast<size_t>(nExtra < nLength ? nExtra : nLength);
    }

    uint64_t Missing() const noexcept { return m_nMissing; }

    // Up to nMax bytes into p; 0 when the connection ended before the body did.
    size_t Next(char* p, size_t nMax) noexcept
    {
        if (m_nMissing == 0)
            return 0;
        size_t nAsk = nMax;
        if (nAsk > m_nMissing)
            nAsk = static_cast<size_t>(m_nMissing);
        size_t nGot = 0;
        if (m_nExtra > 0)
        {
            nGot = nAsk < m_nExtra ? nAsk : m_nExtra;
            std::memcpy(p, m_pExtra, nGot);
            m_pExtra += nGot;
            m_nExtra -= nGot;
        }
        else
        {
            const int n = m_connection.ReceiveSome(p, nAsk);
            if (n <= 0)
                return 0;
            nGot = static_cast<size_t>(n);
        }
        m_nMissing -= nGot;
        return nGot;
    }

    // Fills exactly n bytes at p; false when the body is cut short.
    bool Fill(char* p, size_t n) noexcept
    {
        while (n > 0)
        {
            const size_t nGot = Next(p, n < MEMORY_READ_BYTES ? n : MEMORY_READ_BYTES);
            if (nGot == 0)
                return false;
            p += nGot;
            n -= nGot;
        }
        return true;
    }

private:
    GServerConnection& m_connection;
    const char* m_pExtra;
    size_t m_nExtra = 0;
    uint64_t m_nMissing;
};

GBodyOutcome ReadStream(GBodySource& source, VARIANT* pValue)
{
    GComPtr<IStream> pStream;
    if ((pValue->vt != VT_UNKNOWN && pValue->vt != VT_DISPATCH) || pValue->punkVal == nullptr
        || FAILED(pValue->punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(pStream.Out())))
        || pStream.Get() == nullptr)
        return Failure(E_STREAM_REQUIRED, MSG_STREAM_REQUIRED);
    // Received in batches of fixed size, since receives are costly on some hosts and
    // the memory must not grow with the stream; written into the stream in pieces of
    // at most 8192 bytes, as every stream body travels.
    std::vector<char> vecBatch;
    try
    {
        vecBatch.resize(static_cast<size_t>(std::min<uint64_t>(source.Missing(), STREAM_BATCH_BYTES)));
    }
    catch (const std::bad_alloc&)
    {
        return Failure(E_OUTOFMEMORY, MSG_OUT_OF_MEMORY);
    }
    while (source.Missing() > 0)
    {
        const size_t n = source.Next(vecBatch.data(), vecBatch.size());
        if (n == 0)
            return Failure(E_HTTP, MSG_HTTP);
        for (size_t nDone = 0; nDone < n; nDone += BODY_PIECE_BYTES)
        {
            const size_t nPiece = std::min(n - nDone, BODY_PIECE_BYTES);
            pStream->Write(vecBatch.data() + nDone, static_cast<ULONG>(nPiece), nullptr);
        }
    }
    LARGE_INTEGER nZero = {};
    pStream->Seek(nZero, STREAM_SEEK_SET, nullptr);
    return GBodyOutcome();
}

// No stored body is longer than a set can announce (a signed 32-bit length), and the
// platform sizes a BSTR or SAFEARRAY in 32 bits: near 4 GiB its size arithmetic wraps
// around on some hosts and hands out a small block for a huge count. A longer
// announcement is therefore refused as unallocatable, never cut down or passed on.
constexpr uint64_t MAX_MEMORY_BODY_BYTES = INT_MAX;

GBodyOutcome CheckMemoryLength(uint64_t nLength)
{
    if (nLength == NO_CONTENT_LENGTH)
        return Failure(E_CONTENT_TYPE, MSG_CONTENT_TYPE);
    if (nLength > MAX_MEMORY_BODY_BYTES)
        return Failure(E_OUTOFMEMORY, MSG_OUT_OF_MEMORY);
    return GBodyOutcome();
}

// A body up to this size is received straight into its final storage, allocated when
// the head arrives.
constexpr size_t DIRECT_BODY_BYTES = 64 << 20;
// A longer one is first gathered in pieces of this size, each taken only when the bytes
// before it have arrived, until 1/GATHER_SHARE of it is there. Only then is its final
// storage allocated; the pieces move in, each freed as soon as it is copied, and the
// rest is received straight into place. A genuine value so peaks at its own size plus
// a fifth, while a reply that announces far more than it sends commits at most about
// GATHER_SHARE + 1 times the bytes that arrived, plus one direct body.
constexpr size_t GATHER_PIECE_BYTES = 8 << 20;
constexpr size_t GATHER_SHARE = 5;

// Receives n bytes into the storage that fnAllocate() makes for all of them (nullptr:
// none to be had).
template <class F>
GBodyOutcome ReceiveBody(GBodySource& source, size_t n, F fnAllocate)
{
    std::vector<std::unique_ptr<char[]>> vecPieces;
    size_t nGathered = 0;
    if (n > DIRECT_BODY_BYTES)
    {
        try
        {
            vecPieces.reserve(n / GATHER_SHARE / GATHER_PIECE_BYTES + 1);
            while (nGathered < n / GATHER_SHARE)
            {
                const size_t nPiece = std::min(n - nGathered, GATHER_PIECE_BYTES);
                vecPieces.emplace_back(new char[nPiece]);
                if (!source.Fill(vecPieces.back().get(), nPiece))
                    return Failure(E_HTTP, MSG_HTTP);
                nGathered += nPiece;
            }
        }
        catch (const std::bad_alloc&)
        {
            return Failure(E_OUTOFMEMORY, MSG_OUT_OF_MEMORY);
        }
    }
    char* p = fnAllocate();
    if (p == nullptr)
        return Failure(E_OUTOFMEMORY, MSG_OUT_OF_MEMORY);
    size_t nDone = 0;
    for (std::unique_ptr<char[]>& pPiece : vecPieces)
    {
        const size_t nPiece = std::min(n - nDone, GATHER_PIECE_BYTES);
        std::memcpy(p + nDone, pPiece.get(), nPiece);
        pPiece.reset();
        nDone += nPiece;
    }
    return source.Fill(p + nDone, n - nDone) ? GBodyOutcome() : Failure(E_HTTP, MSG_HTTP);
}

GBodyOutcome ReadString(GBodySource& source, uint64_t nLength, VARIANT* pValue)
{
    GBodyOutcome outcome = CheckMemoryLength(nLength);
    if (FAILED(outcome.hr))
        return outcome;
    GBstr bstr;
    outcome = ReceiveBody(source, static_cast<size_t>(nLength), [&] {
        bstr = GBstr(SysAllocStringByteLen(nullptr, static_cast<UINT>(nLength)));
        return reinterpret_cast<char*>(bstr.Get());
    });
    if (FAILED(outcome.hr))
        return outcome;
    VariantClear(pValue);
    pValue->vt = VT_BSTR;
    pValue->bstrVal = bstr.Detach();
    return outcome;
}

GBodyOutcome ReadByteArray(GBodySource& source, uint64_t nLength, VARIANT* pValue)
{
    GBodyOutcome outcome = CheckMemoryLength(nLength);
    if (FAILED(outcome.hr))
        return outcome;
    GSafeArray array(nullptr);
    outcome = ReceiveBody(source, static_cast<size_t>(nLength), [&] {
        array.Reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(nLength)));
        return array.Get() == nullptr ? nullptr : static_cast<char*>(array.Get()->pvData);
    });
    if (FAILED(outcome.hr))
        return outcome;
    VariantClear(pValue);
    pValue->vt = VT_BYTE_ARRAY;
    pValue->parray = array.Detach();
    return outcome;
}

// The image is taken whole, but only when it names the type the reply announced and
// that type is a scalar: an image claiming to hold a string or an object would hand
// the caller a pointer that came off the network.
GBodyOutcome ReadScalar(GBodySource& source, int nType, uint64_t nLength, VARIANT* pValue)
{
    if (nLength != VARIANT_IMAGE_BYTES)
        return Failure(E_CONTENT_TYPE, MSG_CONTENT_TYPE);
    GVariantImage image;
    if (!source.Fill(reinterpret_cast<char*>(image), sizeof(image)))
        return Failure(E_HTTP, MSG_HTTP);
    if ((image[0] | image[1] << 8) != nType)
        return Failure(E_CONTENT_TYPE, MSG_CONTENT_TYPE);
    ReadVariantImage(image, pValue);
    return GBodyOutcome();
}

GBodyOutcome ReadElementCount(GBodySource& source, uint64_t nLength)
{
    if (nLength != sizeof(ULONG))
        return Failure(E_CONTENT_TYPE, MSG_CONTENT_TYPE);
    unsigned char aCount[sizeof(ULONG)];
    if (!source.Fill(reinterpret_cast<char*>(aCount), sizeof(aCount)))
        return Failure(E_HTTP, MSG_HTTP);
    GBodyOutcome outcome;
    outcome.bVariantArray = true;
    outcome.nElements = static_cast<ULONG>(aCount[0]) | static_cast<ULONG>(aCount[1]) << 8
                      | static_cast<ULONG>(aCount[2]) << 16 | static_cast<ULONG>(aCount[3]) << 24;
    // The element storage is sized in 32 bits as well; a count it cannot hold would get
    // an array far smaller than its bounds claim.
    if (outcome.nElements > MAX_MEMORY_BODY_BYTES / sizeof(VARIANT))
        return Failure(E_OUTOFMEMORY, MSG_OUT_OF_MEMORY);
    return outcome;
}
}

GBodyOutcome ReadValueBody(GServerConnection& connection, const GReplyHead& head, VARIANT* pValue)
{
    int nType = 0;
    if (!MatchVariantContentType(head.fields.szContentType, nType))
        return Failure(E_CONTENT_TYPE, MSG_CONTENT_TYPE);
    const uint64_t nLength = head.nContentLength;
    GBodySource source(connection, head, nLength);
    switch (ClassifyValueType(nType))
    {
    case GValueClass::Stream:
        return ReadStream(source, pValue);
    case GValueClass::ByteArray:
        return ReadByteArray(source, nLength, pValue);
    case GValueClass::VariantArray:
        return ReadElementCount(source, nLength);
    case GValueClass::String:
        return ReadString(source, nLength, pValue);
    case GValueClass::Scalar:
        return ReadScalar(source, nType, nLength, pValue);
    case GValueClass::None:
        break;
    }
    return Failure(E_CONTENT_TYPE, MSG_CONTENT_TYPE);
}
