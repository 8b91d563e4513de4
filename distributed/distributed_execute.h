// Execute on a distributed object: run locally, or forwarded under a name settled before routing.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "distributed/distributed_client.h"

HRESULT ExecuteDistributed(GDistributedClient& client, IDispatch* pCommand, BSTR sName, long nTimeout,
                           IDispatch** ppRecordset);
