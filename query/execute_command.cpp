// Execute: look the command's result up under its cache name, run the command only on a
// miss, and always hand back a result set rebuilt from the persisted bytes.
#include "query/execute_command.h"

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "common/report_error.h"
#include "common/result_codes.h"
#include "common/variant.h"
#include "query/ado.h"
#include "query/command_key.h"

namespace
{
// What an ADO call gets for an optional argument that it is not given.
class GMissingArgument : public GVariant
{
public:
    GMissingArgument() noexcept
    {
        vt = VT_ERROR;
        scode = DISP_E_PARAMNOTFOUND;
    }
};

// A VT_DISPATCH VARIANT with a reference of its own to the stream.
class GStreamArgument : public GVariant
{
public:
    explicit GStreamArgument(_Stream* pStream) noexcept
    {
        pStream->AddRef();
        vt = VT_DISPATCH;
        pdispVal = pStream;
    }

    // Whether the VARIANT still holds the stream that it was made with: fetching a value
    // that is not a stream into it replaces the stream with that value.
    bool HoldsStream(_Stream* pStream) const noexcept
    {
        return (vt == VT_DISPATCH || vt == VT_UNKNOWN) && punkVal == static_cast<IUnknown*>(pStream);
    }
};

// Runs the command with its current parameters. A call that succeeds without giving a
// result set leaves nothing to cache or hand out.
HRESULT RunCommand(_Command* pCommand, GComPtr<_Recordset>& pRecordset)
{
    const HRESULT hr = pCommand->Execute(nullptr, nullptr, adOptionUnspecified, pRecordset.Out());
    if (FAILED(hr))
        return hr;
    return pRecordset.Get() == nullptr ? E_POINTER : S_OK;
}

HRESULT OpenFromStream(_Recordset* pRecordset, GStreamArgument& varStream)
{
    GMissingArgument varConnection;
    return pRecordset->Open(varStream, varConnection, adOpenUnspecified, adLockUnspecified, adCmdUnspecified);
}

HRESULT HandOut(GComPtr<_Recordset>& pRecordset, IDispatch** ppRecordset)
{
    // The holder drops its reference on the way out; this one is the caller's.
    pRecordset->AddRef();
    *ppRecordset = pRecordset.Get();
    return S_OK;
}

HRESULT CreateOpenStream(GComPtr<_Stream>& pStream)
{
    HRESULT hr = CoCreateInstance(CLSID_ADO_STREAM, nullptr, CLSCTX_ALL, IID_ADO_STREAM,
                                  reinterpret_cast<void**>(pStream.Out()));
    if (FAILED(hr))
        return hr;
    if (pStream.Get() == nullptr)
        return E_POINTER;
    GMissingArgument varSource;
    return pStream->Open(varSource, adModeUnknown, adOpenStreamUnspecified, nullptr, nullptr);
}

HRESULT ServeHit(GStreamArgument& varStream, GComPtr<_Recordset>& pRecordset)
{
    HRESULT hr = CoCreateInstance(CLSID_ADO_RECORDSET, nullptr, CLSCTX_ALL, IID_ADO_RECORDSET,
                                  reinterpret_cast<void**>(pRecordset.Out()));
    if (FAILED(hr))
        return hr;
    if (pRecordset.Get() == nullptr)
        return E_POINTER;
    return OpenFromStream(pRecordset.Get(), varStream);
}

// The result set that the command returned is handed out only after it has been reopened
// from the stream, so that a miss and a later hit give the same thing.
HRESULT ServeMiss(IHarbinet* pSelf, _Command* pCommand, BSTR bstrName, long nTimeout, _Stream* pStream,
                  GStreamArgument& varStream, GComPtr<_Recordset>& pRecordset)
{
    HRESULT hr = RunCommand(pCommand, pRecordset);
    if (FAILED(hr))
        return hr;
    hr = pRecordset->Save(varStream, adPersistADTG);
    if (FAILED(hr))
        return hr;
    // A value that the server did not keep still leaves a result to hand out.
    VARIANT_BOOL bStored = VARIANT_FALSE;
    hr = pSelf->Set(bstrName, &varStream, nTimeout, &bStored);
    if (FAILED(hr))
        return hr;
    hr = pRecordset->Close();
    if (FAILED(hr))
        return hr;
    hr = pStream->put_Position(0);
    if (FAILED(hr))
        return hr;
    return OpenFromStream(pRecordset.Get(), varStream);
}
}

HRESULT QueryAdoCommand(IDispatch* pCommand, GComPtr<_Command>& pAdoCommand)
{
    const HRESULT hr = pCommand->QueryInterface(IID_ADO_COMMAND, reinterpret_cast<void**>(pAdoCommand.Out()));
    if (FAILED(hr))
        return hr;
    return pAdoCommand.Get() == nullptr ? E_NOINTERFACE : S_OK;
}

HRESULT RunExecute(IHarbinet* pSelf, IDispatch* pCommand, BSTR sName, long nTimeout, IDispatch** ppRecordset)
{
    if (pCommand == nullptr)
        return E_INVALIDARG;
    if (ppRecordset == nullptr)
        return E_POINTER;
    GComPtr<_Command> pAdoCommand;
    HRESULT hr = QueryAdoCommand(pCommand, pAdoCommand);
    if (FAILED(hr))
        return hr;

    GComPtr<_Recordset> pRecordset;
    if (nTimeout < 0)
    {
        hr = RunCommand(pAdoCommand.Get(), pRecordset);
        if (FAILED(hr))
            return hr;
        return HandOut(pRecordset, ppRecordset);
    }

    GBstr bstrKey;
    BSTR bstrName = nullptr;
    hr = SettleCacheName(pAdoCommand.Get(), sName, bstrKey, &bstrName);
    if (FAILED(hr))
        return hr;

    GComPtr<_Stream> pStream;
    hr = CreateOpenStream(pStream);
    if (FAILED(hr))
        return hr;
    GStreamArgument varStream(pStream.Get());
    VARIANT_BOOL bFound = VARIANT_FALSE;
    hr = pSelf->Get(bstrName, &varStream, &bFound);
    if (FAILED(hr))
        return hr;
    if (bFound == VARIANT_TRUE)
    {
        // Someone stored something else under this name: it is neither a result set nor
        // ours to overwrite.
        if (!varStream.HoldsStream(pStream.Get()))
            return ReportError(E_STREAM_REQUIRED, SOURCE_HARBINET, MSG_STREAM_REQUIRED);
        hr = ServeHit(varStream, pRecordset);
    }
    else
    {
        hr = ServeMiss(pSelf, pAdoCommand.Get(), bstrName, nTimeout, pStream.Get(), varStream, pRecordset);
    }
    if (FAILED(hr))
        return hr;
    return HandOut(pRecordset, ppRecordset);
}
