// Fake ADO objects for the query cache tests: a command with text, parameters and an
// execution counter, and the Stream and Recordset classes that the module creates by
// their ADO class ids, registered for this process only.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/query/ado_stubs.h"

// The ADO steps that a test can make fail, one at a time.
enum class GAdoStep
{
    None,
    CommandText,
    Parameters,
    Count,
    Item,
    Value,
    Execute,
    CreateStream,
    StreamOpen,
    Save,
    Close,
    Position,
    CreateRecordset,
    RecordsetOpen,
};

// What every fake shares: the failure plan, the calls in order, and the objects alive.
struct GAdoWorld
{
    GAdoStep failAt = GAdoStep::None;
    bool bLogCalls = true;   // a benchmark turns the log off
    std::vector<std::string> vecCalls;
    int nLive = 0;
};
GAdoWorld& AdoWorld();
// The code a failing fake step returns (an OLE DB "errors in command" code).
constexpr HRESULT HR_ADO_FAILURE = static_cast<HRESULT>(0x80040E14);

// What every fake's IUnknown does: made with one reference, deleted at its last Release,
// answering for IUnknown, IDispatch and its own interface (with none, for nothing).
template <class TStub>
class GFake : public TStub
{
public:
    explicit GFake(const IID* piidOwn) : m_piidOwn(piidOwn) {}
    virtual ~GFake() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (m_piidOwn != nullptr && (riid == IID_IUnknown || riid == IID_IDispatch || riid == *m_piidOwn))
        {
            *ppv = static_cast<TStub*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nReferences; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG n = --m_nReferences;
        if (n == 0)
            delete this;
        return n;
    }

private:
    const IID* m_piidOwn;
    ULONG m_nReferences = 1;
};

// Made with one reference, which the test releases.
class GFakeCommand : public GFake<GStubCommand>
{
public:
    GFakeCommand(const wchar_t* szText, std::string sRows);
    virtual ~GFakeCommand();

    // Takes the value over; the fake clears it when it goes.
    void AddParameter(const VARIANT& var) { m_vecValues.push_back(var); }

    std::vector<VARIANT> m_vecValues;
    int m_nExecutions = 0;

    HRESULT STDMETHODCALLTYPE get_CommandText(BSTR* pbstr) override;
    HRESULT STDMETHODCALLTYPE get_Parameters(ADOParameters** ppParameters) override;
    HRESULT STDMETHODCALLTYPE Execute(VARIANT* pAffected, VARIANT* pParameters, long nOptions,
                                      _ADORecordset** ppRecordset) override;

private:
    BSTR m_bstrText;
    std::string m_sRows;
};

// A command whose Execute first calls back, as an ADO event or a pumped message may.
class GCallbackCommand : public GFakeCommand
{
public:
    explicit GCallbackCommand(std::function<void()> fn) : GFakeCommand(L"SELECT 1", "one"), m_fn(std::move(fn)) {}
    HRESULT STDMETHODCALLTYPE Execute(VARIANT* pAffected, VARIANT* pParameters, long nOptions,
                                      _ADORecordset** ppRecordset) override
    {
        m_fn();
        return GFakeCommand::Execute(pAffected, pParameters, nOptions, ppRecordset);
    }
    std::function<void()> m_fn;
};

// A result set whose rows are one text. It saves itself as "FAKERS:" and the text.
class GFakeRecordset : public GFake<GStubRecordset>
{
public:
    explicit GFakeRecordset(std::string sRows);
    virtual ~GFakeRecordset();

    std::string m_sRows;
    bool m_bOpen = true;
    bool m_bFromStream = false;

    HRESULT STDMETHODCALLTYPE Save(VARIANT varDestination, PersistFormatEnum nFormat) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Open(VARIANT varSource, VARIANT varConnection, CursorTypeEnum nCursor,
                                   LockTypeEnum nLock, LONG nOptions) override;
};

// The Stream and Recordset class objects, registered for as long as this lives.
class GAdoRegistration
{
public:
    GAdoRegistration();
    ~GAdoRegistration();
    GAdoRegistration(const GAdoRegistration&) = delete;
    GAdoRegistration& operator=(const GAdoRegistration&) = delete;

private:
    DWORD m_nStreamCookie = 0;
    DWORD m_nRecordsetCookie = 0;
};

// The fake result set behind an interface that Execute handed out.
GFakeRecordset* FakeRecordsetOf(IDispatch* pRecordset);
