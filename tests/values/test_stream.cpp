// GTestStream and the platform-stream helpers of the value tests.
#include "tests/values/test_stream.h"

#include <cstring>

GTestStream::GTestStream(std::string sContent) : m_sContent(std::move(sContent)) {}

HRESULT STDMETHODCALLTYPE GTestStream::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch)
        *ppv = static_cast<IDispatch*>(this);
    else if (!m_bRefuseStream && (riid == IID_IStream || riid == IID_ISequentialStream))
        *ppv = static_cast<IStream*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE GTestStream::AddRef()
{
    return ++m_nReferences;
}

ULONG STDMETHODCALLTYPE GTestStream::Release()
{
    const ULONG n = --m_nReferences;
    if (n == 0)
        delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE GTestStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    m_vecReadSizes.push_back(cb);
    if (m_bFailRead)
        return STG_E_READFAULT;
    ULONG n = 0;
    if (m_nPosition < m_sContent.size())
    {
        const ULONGLONG nLeft = m_sContent.size() - m_nPosition;
        n = nLeft < cb ? static_cast<ULONG>(nLeft) : cb;
        std::memcpy(pv, m_sContent.data() + m_nPosition, n);
        m_nPosition += n;
    }
    if (pcbRead != nullptr)
        *pcbRead = n;
    return n < cb ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE GTestStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    m_vecWriteSizes.push_back(cb);
    if (m_sContent.size() < m_nPosition + cb)
        m_sContent.resize(static_cast<size_t>(m_nPosition + cb));
    std::memcpy(&m_sContent[static_cast<size_t>(m_nPosition)], pv, cb);
    m_nPosition += cb;
    if (pcbWritten != nullptr)
        *pcbWritten = cb;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GTestStream::Seek(LARGE_INTEGER nMove, DWORD dwOrigin, ULARGE_INTEGER* pNewPosition)
{
    if (m_bFailSeek)
        return STG_E_INVALIDFUNCTION;
    LONGLONG nBase = 0;
    if (dwOrigin == STREAM_SEEK_CUR)
        nBase = static_cast<LONGLONG>(m_nPosition);
    else if (dwOrigin == STREAM_SEEK_END)
        nBase = static_cast<LONGLONG>(m_sContent.size());
    else if (dwOrigin != STREAM_SEEK_SET)
        return STG_E_INVALIDFUNCTION;
    if (nBase + nMove.QuadPart < 0)
        return STG_E_INVALIDFUNCTION;
    m_nPosition = static_cast<ULONGLONG>(nBase + nMove.QuadPart);
    if (dwOrigin == STREAM_SEEK_SET && nMove.QuadPart == 0)
        ++m_nSeeksToStart;
    if (pNewPosition != nullptr)
        pNewPosition->QuadPart = m_nPosition;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GTestStream::Stat(STATSTG* pStat, DWORD)
{
    if (m_bFailStat)
        return STG_E_ACCESSDENIED;
    std::memset(pStat, 0, sizeof(*pStat));
    pStat->type = STGTY_STREAM;
    pStat->cbSize.QuadPart = m_bClaimSize ? m_nClaimedSize : m_sContent.size();
    return S_OK;
}

std::string ContentOf(IStream* pStream)
{
    STATSTG stat = {};
    pStream->Stat(&stat, STATFLAG_NONAME);
    LARGE_INTEGER nZero = {};
    ULARGE_INTEGER nWas = {};
    pStream->Seek(nZero, STREAM_SEEK_CUR, &nWas);
    pStream->Seek(nZero, STREAM_SEEK_SET, nullptr);
    std::string s(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    ULONG nRead = 0;
    if (!s.empty())
        pStream->Read(&s[0], static_cast<ULONG>(s.size()), &nRead);
    s.resize(nRead);
    LARGE_INTEGER nBack;
    nBack.QuadPart = static_cast<LONGLONG>(nWas.QuadPart);
    pStream->Seek(nBack, STREAM_SEEK_SET, nullptr);
    return s;
}

ULONGLONG PositionOf(IStream* pStream)
{
    LARGE_INTEGER nZero = {};
    ULARGE_INTEGER nPosition = {};
    pStream->Seek(nZero, STREAM_SEEK_CUR, &nPosition);
    return nPosition.QuadPart;
}

IStream* MakeMemoryStream(const std::string& sContent)
{
    IStream* pStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &pStream)))
        return nullptr;
    if (!sContent.empty())
        pStream->Write(sContent.data(), static_cast<ULONG>(sContent.size()), nullptr);
    return pStream;
}
