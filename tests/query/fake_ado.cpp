// Fake ADO objects: just what Execute calls, each call written into the shared log.
#include "tests/query/fake_ado.h"

#include <string>

namespace
{
// The ADO ids, written out here rather than taken from the code under test.
const GUID TEST_IID_COMMAND = {0xB08400BD, 0xF9D1, 0x4D02, {0xB8, 0x56, 0x71, 0xD5, 0xDB, 0xA1, 0x23, 0xE9}};
const GUID TEST_CLSID_STREAM = {0x00000566, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const GUID TEST_IID_STREAM = {0x00000565, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const GUID TEST_CLSID_RECORDSET = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const GUID TEST_IID_RECORDSET = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

const char* const SAVED_PREFIX = "FAKERS:";

// Logs the call, and fails it when the test asked for that step to fail.
HRESULT Step(GAdoStep step, const std::string& sCall)
{
    if (AdoWorld().bLogCalls)
        AdoWorld().vecCalls.push_back(sCall);
    return AdoWorld().failAt == step ? HR_ADO_FAILURE : S_OK;
}

std::string Describe(const VARIANT& var)
{
    if (var.vt == VT_ERROR && var.scode == DISP_E_PARAMNOTFOUND)
        return "missing";
    IStream* pStream = nullptr;
    if (var.vt == VT_DISPATCH && var.pdispVal != nullptr
        && SUCCEEDED(var.pdispVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(&pStream))))
    {
        pStream->Release();
        return "stream";
    }
    return "vt " + std::to_string(var.vt);
}

std::string Pointer(const void* p)
{
    return p == nullptr ? "null" : "set";
}

// The stream behind the VARIANT that Save and Open are given, with its own reference.
IStream* StreamOf(const VARIANT& var)
{
    IStream* pStream = nullptr;
    if ((var.vt == VT_DISPATCH || var.vt == VT_UNKNOWN) && var.punkVal != nullptr)
        var.punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(&pStream));
    return pStream;
}

class GLive
{
public:
    GLive() { ++AdoWorld().nLive; }
    ~GLive() { --AdoWorld().nLive; }
};

class GFakeParameter : public GFake<GStubParameter>
{
public:
    GFakeParameter(GFakeCommand* pCommand, long i) : GFake(nullptr), m_pCommand(pCommand), m_i(i)
    {
        m_pCommand->AddRef();
    }
    virtual ~GFakeParameter() { m_pCommand->Release(); }

    // Scalars keep all 24 bytes, unused ones included, as a provider's VARIANT might.
    HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pValue) override
    {
        const HRESULT hr = Step(GAdoStep::Value, "Parameter.Value");
        if (FAILED(hr))
            return hr;
        if (pValue->vt != VT_EMPTY)
            return E_INVALIDARG;
        const VARIANT& var = m_pCommand->m_vecValues[static_cast<size_t>(m_i)];
        if (var.vt == VT_BSTR || var.vt == VT_DISPATCH || var.vt == VT_UNKNOWN || (var.vt & VT_ARRAY) != 0)
            return VariantCopy(pValue, const_cast<VARIANT*>(&var));
        *pValue = var;
        return S_OK;
    }

private:
    GLive m_live;
    GFakeCommand* m_pCommand;
    long m_i;
};

class GFakeParameters : public GFake<GStubParameters>
{
public:
    explicit GFakeParameters(GFakeCommand* pCommand) : GFake(nullptr), m_pCommand(pCommand) { m_pCommand->AddRef(); }
    virtual ~GFakeParameters() { m_pCommand->Release(); }

    HRESULT STDMETHODCALLTYPE get_Count(long* pCount) override
    {
        const HRESULT hr = Step(GAdoStep::Count, "Parameters.Count");
        if (SUCCEEDED(hr))
            *pCount = static_cast<long>(m_pCommand->m_vecValues.size());
        return hr;
    }
    // Only a VT_I4 position inside the collection is an index here.
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT varIndex, _ADOParameter** ppParameter) override
    {
        const HRESULT hr = Step(GAdoStep::Item, "Parameters.Item");
        if (FAILED(hr))
            return hr;
        if (varIndex.vt != VT_I4 || varIndex.lVal < 0
            || static_cast<size_t>(varIndex.lVal) >= m_pCommand->m_vecValues.size())
            return E_INVALIDARG;
        *ppParameter = new GFakeParameter(m_pCommand, varIndex.lVal);
        return S_OK;
    }

private:
    GLive m_live;
    GFakeCommand* m_pCommand;
};

// An in-memory ADO stream that also answers for IStream.
class GFakeStream : public GFake<GStubStream>, public IStream
{
public:
    GFakeStream() : GFake(&TEST_IID_STREAM) {}
    virtual ~GFakeStream() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == TEST_IID_STREAM)
            *ppv = static_cast<_ADOStream*>(this);
        else if (riid == IID_IStream || riid == IID_ISequentialStream)
            *ppv = static_cast<IStream*>(this);
        else
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return GFake::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return GFake::Release(); }

    HRESULT STDMETHODCALLTYPE Open(VARIANT varSource, ConnectModeEnum nMode, StreamOpenOptionsEnum nOptions,
                                   BSTR sUser, BSTR sPassword) override
    {
        return Step(GAdoStep::StreamOpen, "Stream.Open(" + Describe(varSource) + ", " + std::to_string(nMode) + ", "
                                              + std::to_string(nOptions) + ", " + Pointer(sUser) + ", "
                                              + Pointer(sPassword) + ")");
    }
    HRESULT STDMETHODCALLTYPE put_Position(ADO_LONGPTR nPosition) override
    {
        const HRESULT hr = Step(GAdoStep::Position, "Stream.Position = " + std::to_string(nPosition));
        if (SUCCEEDED(hr))
            m_nPosition = static_cast<size_t>(nPosition);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        const size_t n = m_nPosition < m_sContent.size() ? std::min<size_t>(cb, m_sContent.size() - m_nPosition) : 0;
        m_sContent.copy(static_cast<char*>(pv), n, m_nPosition);
        m_nPosition += n;
        if (pcbRead != nullptr)
            *pcbRead = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (m_sContent.size() < m_nPosition + cb)
            m_sContent.resize(m_nPosition + cb);
        m_sContent.replace(m_nPosition, cb, static_cast<const char*>(pv), cb);
        m_nPosition += cb;
        if (pcbWritten != nullptr)
            *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER nMove, DWORD nOrigin, ULARGE_INTEGER* pNew) override
    {
        const LONGLONG nBase = nOrigin == STREAM_SEEK_SET   ? 0
                             : nOrigin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(m_nPosition)
                                                          : static_cast<LONGLONG>(m_sContent.size());
        if (nBase + nMove.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        m_nPosition = static_cast<size_t>(nBase + nMove.QuadPart);
        if (pNew != nullptr)
            pNew->QuadPart = m_nPosition;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pStat, DWORD) override
    {
        *pStat = STATSTG();
        pStat->type = STGTY_STREAM;
        pStat->cbSize.QuadPart = m_sContent.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    using GStubStream::CopyTo;
    using GStubStream::Read;
    using GStubStream::Write;

private:
    GLive m_live;
    std::string m_sContent;
    size_t m_nPosition = 0;
};

template <class T>
class GFakeClassFactory : public IClassFactory
{
public:
    explicit GFakeClassFactory(GAdoStep step, const char* szCall) : m_step(step), m_szCall(szCall) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory)
        {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Static objects: COM's references do not decide their life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (pOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        const HRESULT hr = Step(m_step, m_szCall);
        if (FAILED(hr))
            return hr;
        T* pObject = MakeObject();
        const HRESULT hrQuery = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hrQuery;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    T* MakeObject();
    GAdoStep m_step;
    const char* m_szCall;
};

template <>
GFakeStream* GFakeClassFactory<GFakeStream>::MakeObject()
{
    return new GFakeStream();
}

template <>
GFakeRecordset* GFakeClassFactory<GFakeRecordset>::MakeObject()
{
    // Closed until it is opened from a stream.
    GFakeRecordset* pRecordset = new GFakeRecordset(std::string());
    pRecordset->m_bOpen = false;
    return pRecordset;
}

GFakeClassFactory<GFakeStream> g_streamFactory(GAdoStep::CreateStream, "create Stream");
GFakeClassFactory<GFakeRecordset> g_recordsetFactory(GAdoStep::CreateRecordset, "create Recordset");
}

GAdoWorld& AdoWorld()
{
    static GAdoWorld world;
    return world;
}

GFakeCommand::GFakeCommand(const wchar_t* szText, std::string sRows)
    : GFake(&TEST_IID_COMMAND), m_bstrText(szText == nullptr ? nullptr : SysAllocString(szText)), m_sRows(std::move(sRows))
{
    ++AdoWorld().nLive;
}

GFakeCommand::~GFakeCommand()
{
    for (VARIANT& var : m_vecValues)
        VariantClear(&var);
    SysFreeString(m_bstrText);
    --AdoWorld().nLive;
}

HRESULT GFakeCommand::get_CommandText(BSTR* pbstr)
{
    const HRESULT hr = Step(GAdoStep::CommandText, "Command.CommandText");
    if (SUCCEEDED(hr))
        *pbstr = m_bstrText == nullptr ? nullptr : SysAllocString(m_bstrText);
    return hr;
}

HRESULT GFakeCommand::get_Parameters(ADOParameters** ppParameters)
{
    const HRESULT hr = Step(GAdoStep::Parameters, "Command.Parameters");
    if (SUCCEEDED(hr))
        *ppParameters = new GFakeParameters(this);
    return hr;
}

HRESULT GFakeCommand::Execute(VARIANT* pAffected, VARIANT* pParameters, long nOptions, _ADORecordset** ppRecordset)
{
    const HRESULT hr = Step(GAdoStep::Execute, "Command.Execute(" + Pointer(pAffected) + ", " + Pointer(pParameters)
                                                   + ", " + std::to_string(nOptions) + ")");
    if (FAILED(hr))
        return hr;
    ++m_nExecutions;
    *ppRecordset = new GFakeRecordset(m_sRows);
    return S_OK;
}

GFakeRecordset::GFakeRecordset(std::string sRows) : GFake(&TEST_IID_RECORDSET), m_sRows(std::move(sRows))
{
    ++AdoWorld().nLive;
}

GFakeRecordset::~GFakeRecordset()
{
    --AdoWorld().nLive;
}

HRESULT GFakeRecordset::Save(VARIANT varDestination, PersistFormatEnum nFormat)
{
    HRESULT hr = Step(GAdoStep::Save, "Recordset.Save(" + Describe(varDestination) + ", " + std::to_string(nFormat) + ")");
    if (FAILED(hr))
        return hr;
    IStream* pStream = StreamOf(varDestination);
    if (pStream == nullptr || !m_bOpen)
        return E_INVALIDARG;
    const std::string sSaved = SAVED_PREFIX + m_sRows;
    hr = pStream->Write(sSaved.data(), static_cast<ULONG>(sSaved.size()), nullptr);
    pStream->Release();
    return hr;
}

HRESULT GFakeRecordset::Close()
{
    const HRESULT hr = Step(GAdoStep::Close, "Recordset.Close()");
    if (SUCCEEDED(hr))
        m_bOpen = false;
    return hr;
}

HRESULT GFakeRecordset::Open(VARIANT varSource, VARIANT varConnection, CursorTypeEnum nCursor, LockTypeEnum nLock,
                             LONG nOptions)
{
    const HRESULT hr = Step(GAdoStep::RecordsetOpen, "Recordset.Open(" + Describe(varSource) + ", "
                                                         + Describe(varConnection) + ", " + std::to_string(nCursor)
                                                         + ", " + std::to_string(nLock) + ", "
                                                         + std::to_string(nOptions) + ")");
    if (FAILED(hr))
        return hr;
    IStream* pStream = StreamOf(varSource);
    if (pStream == nullptr || m_bOpen)
        return E_INVALIDARG;
    // The rows are what the stream holds from where it stands.
    std::string sSaved;
    char buffer[256];
    ULONG nRead = 0;
    while (SUCCEEDED(pStream->Read(buffer, sizeof(buffer), &nRead)) && nRead > 0)
        sSaved.append(buffer, nRead);
    pStream->Release();
    if (sSaved.compare(0, std::string(SAVED_PREFIX).size(), SAVED_PREFIX) != 0)
        return E_FAIL;
    m_sRows = sSaved.substr(std::string(SAVED_PREFIX).size());
    m_bOpen = true;
    m_bFromStream = true;
    return S_OK;
}

GAdoRegistration::GAdoRegistration()
{
    CoRegisterClassObject(TEST_CLSID_STREAM, &g_streamFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &m_nStreamCookie);
    CoRegisterClassObject(TEST_CLSID_RECORDSET, &g_recordsetFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &m_nRecordsetCookie);
}

GAdoRegistration::~GAdoRegistration()
{
    CoRevokeClassObject(m_nStreamCookie);
    CoRevokeClassObject(m_nRecordsetCookie);
}

GFakeRecordset* FakeRecordsetOf(IDispatch* pRecordset)
{
    return dynamic_cast<GFakeRecordset*>(pRecordset);
}
