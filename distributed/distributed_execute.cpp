// The distributed Execute: its own checks, the local run, and the forwarded cached run.
#include "distributed/distributed_execute.h"

#include "common/bstr.h"
#include "common/com_ptr.h"
#include "query/ado.h"
#include "query/command_key.h"
#include "query/execute_command.h"

HRESULT ExecuteDistributed(GDistributedClient& client, IDispatch* pCommand, BSTR sName, long nTimeout,
                           IDispatch** ppRecordset)
{
    if (!client.IsOpen())
        return GDistributedClient::RefuseClosed();
    if (pCommand == nullptr)
        return E_INVALIDARG;
    GComPtr<_Command> pAdoCommand;
    HRESULT hr = QueryAdoCommand(pCommand, pAdoCommand);
    if (FAILED(hr))
        return hr;
    if (ppRecordset == nullptr)
        return E_POINTER;
    if (nTimeout < 0)
    {
        // Bypasses pool and server alike: the command's own result set, whatever the outcome.
        _Recordset* pRecordset = nullptr;
        hr = pAdoCommand->Execute(nullptr, nullptr, adOptionUnspecified, &pRecordset);
        *ppRecordset = pRecordset;
        return hr;
    }

    // The name is settled before routing, so that a command without one always meets its
    // cached result on the server that its key picks.
    GBstr bstrKey;
    BSTR sCacheName = nullptr;
    hr = SettleCacheName(pAdoCommand.Get(), sName, bstrKey, &sCacheName);
    if (FAILED(hr))
        return hr;
    return client.Forward(
        sCacheName, [&](IHarbinet* pConn) { return pConn->Execute(pCommand, sCacheName, nTimeout, ppRecordset); },
        [&] {
            if (*ppRecordset != nullptr)
                (*ppRecordset)->Release();
            *ppRecordset = nullptr;
        });
}
