// Set, Get and the Item property of a single-server object.
#pragma once

#include "client/server_connection.h"
#include "harbinet_h.h"

// pSelf is the object's own interface: the elements of a variant array are stored
// and fetched through it, one member call each.
HRESULT RunSet(GServerConnection& connection, IHarbinet* pSelf, BSTR sName, VARIANT* pValue, long nTimeout,
               VARIANT_BOOL* pSet);
HRESULT RunGet(GServerConnection& connection, IHarbinet* pSelf, BSTR sName, VARIANT* pValue, VARIANT_BOOL* pFound);
// The Item property over the object's own Set, Get and Execute; szSource names the class
// that refuses a name of the wrong type.
HRESULT PutItem(IHarbinet* pSelf, VARIANT* pName, VARIANT* pNewValue, const wchar_t* szSource);
HRESULT GetItem(IHarbinet* pSelf, VARIANT* pName, VARIANT* pValue, const wchar_t* szSource);
