// The distributed Execute: its own checks, the local run, and the forwarded cached run.
#include "distributed/distributed_execute.h"

#include <adoint.h>

#include "common/com_ptr.h"

namespace
{
const IID IID_AdoCommand = {0xB08400BD, 0xF9D1, 0x4D02, {0xB8, 0x56, 0x71, 0xD5, 0xDB, 0xA1, 0x23, 0xE9}};
}

HRESULT ExecuteDistributed(GDistributedClient& client, IDispatch* pCommand, BSTR sName, long nTimeout,
                           IDispatch** ppRecordset)
{
    if (!client.IsOpen())
        return GDistributedClient::RefuseClosed();
    if (pCommand == nullptr)
        return E_INVALIDARG;
    GComPtr<_ADOCommand> pAdoCommand;
    HRESULT hr = pCommand->QueryInterface(IID_AdoCommand, reinterpret_cast<void**>(pAdoCommand.Out()));
    if (FAILED(hr))
        return hr;
    if (nTimeout < 0)
    {
        // Bypasses pool and server alike: the command's own result set, whatever the outcome.
        _ADORecordset* pRecordset = nullptr;
        hr = pAdoCommand->Execute(nullptr, nullptr, -1, &pRecordset);
        if (ppRecordset != nullptr)
            *ppRecordset = pRecordset;
        else if (pRecordset != nullptr)
            pRecordset->Release();
        return hr;
    }
    return client.Forward(sName, [&](IHarbinet* pConn) {
        return pConn->Execute(pCommand, sName, nTimeout, ppRecordset);
    });
}
