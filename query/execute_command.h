// Execute: the result set of a database command, from the cache server when it holds
// one, else from the database and then stored.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "common/com_ptr.h"
#include "harbinet_h.h"
#include "query/ado.h"

// The ADO command behind pCommand (not null): the failure of the query, or E_NOINTERFACE
// when it succeeds without giving one.
HRESULT QueryAdoCommand(IDispatch* pCommand, GComPtr<_Command>& pAdoCommand);

// pSelf is the object's own interface: the cached result is fetched and stored through
// its Get and Set. An empty or null sName caches under the command key; a negative
// nTimeout runs the command without the server.
HRESULT RunExecute(IHarbinet* pSelf, IDispatch* pCommand, BSTR sName, long nTimeout, IDispatch** ppRecordset);
