// Delete and Noop: a bodiless exchange whose only accepted result code is 0.
#include "client/server_connection.h"

#include "common/narrow_text.h"

HRESULT GServerConnection::RunSimpleCommand(const char* szCommand, BSTR sName)
{
    GNarrowText szName(sName);
    GRequest request;
    request.szCommand = szCommand;
    request.szName = szName.Get() == nullptr ? "" : szName.Get();
    HRESULT hr = WriteRequestHead(request);
    if (FAILED(hr))
        return hr;

    GReplyHead head;
    long nCode = 0;
    hr = ReadReply(head, false, 0, nCode);
    if (FAILED(hr))
        return hr;
    DrainReplyBody(head);
    return S_OK;
}
