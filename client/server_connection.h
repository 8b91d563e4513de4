// GServerConnection: the state and the exchanges of one connection to one cache server.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "client/reply_head_scanner.h"

constexpr size_t HEAD_BUFFER_BYTES = 8192;
constexpr size_t REPLY_BUFFER_BYTES = 8192;
constexpr size_t BODY_PIECE_BYTES = 8192;
// Stream bodies cross the socket in batches of at most this size, whatever their length.
constexpr size_t STREAM_BATCH_BYTES = 1 << 20;
constexpr size_t TEXT_FIELD_BYTES = 128;
constexpr size_t COOKIE_BYTES = 256;
constexpr uint64_t NO_CONTENT_LENGTH = UINT64_MAX;

// What one request carries besides its command word; the head is built from it.
struct GRequest
{
    const char* szCommand = nullptr;
    const char* szName = "";          // narrow, never null
    int nValueType = -1;              // -1: no body, "content-length: 0"
    long nBodyLength = 0;
    bool bTimeout = false;
    long nTimeout = 0;
    const void* pBody = nullptr;      // a memory body leaves together with the head
    size_t nBody = 0;
};

// One reply head as read off the connection. The header values point into aBuffer.
struct GReplyHead
{
    char aBuffer[REPLY_BUFFER_BYTES];
    int nReceived = 0;
    int nHeadLength = 0;
    GReplyFields fields = {};
    uint64_t nContentLength = NO_CONTENT_LENGTH;

    // Body bytes that arrived together with the head.
    const char* Extra() const noexcept { return aBuffer + nHeadLength; }
    size_t ExtraBytes() const noexcept { return nHeadLength == 0 ? 0 : static_cast<size_t>(nReceived - nHeadLength); }
};

class GServerConnection
{
public:
    GServerConnection() noexcept = default;
    ~GServerConnection();
    GServerConnection(const GServerConnection&) = delete;
    GServerConnection& operator=(const GServerConnection&) = delete;

    HRESULT OpenConnection(BSTR sURL);
    void CloseConnection() noexcept;

    HRESULT PutCookie(BSTR sCookie);
    HRESULT GetCookie(BSTR* p);

    // del and nop: one exchange whose only accepted result code is 0.
    HRESULT RunSimpleCommand(const char* szCommand, BSTR sName);

    // Framing. WriteRequestHead refuses (E_INVALIDARG, "Invalid name.", nothing sent,
    // connection untouched) a head that does not fit or a name that would break it.
    HRESULT WriteRequestHead(const GRequest& request);
    void ReadReplyHead(GReplyHead& head, bool bContentType);
    // S_OK with the accepted result code in nCode (0 up to nHighestCode), or the
    // failure after FailAndClose.
    HRESULT CheckReply(const GReplyHead& head, long nHighestCode, long& nCode);
    // The two steps above, as every command takes them.
    HRESULT ReadReply(GReplyHead& head, bool bContentType, long nHighestCode, long& nCode);
    void DrainReplyBody(const GReplyHead& head) noexcept;
    HRESULT FailAndClose(HRESULT hr, const wchar_t* szDescription) noexcept;

    // Sends the whole buffer; false when the connection fails.
    bool SendAll(const void* p, size_t n) noexcept;
    // One receive of at most n bytes; 0 or less when the connection has ended or failed.
    int ReceiveSome(void* p, size_t n) noexcept;

    bool IsLive() const noexcept;

    SOCKET m_sock = INVALID_SOCKET;
    char m_szHost[TEXT_FIELD_BYTES] = "";
    int m_nPort = 0;
    char m_szPath[TEXT_FIELD_BYTES] = "/";
    BYTE m_bCookie = 0;
    char m_szCookie[COOKIE_BYTES] = "";

private:
    // Which of the administrator's time limits ran out during the current exchange.
    enum class GLimit
    {
        None,
        Connect,
        Send,
        Receive,
    };

    void TakeSetCookie(const char* szValue) noexcept;
    HRESULT ConnectWithinLimit(const sockaddr_in& address);
    void ApplyTimeLimits() noexcept;
    // After a failed send or receive: notes a limit that ran out.
    void NoteTimeOut(GLimit limit, DWORD nLimitMs) noexcept;

    GLimit m_limitRunOut = GLimit::None;
};

// A name that would end a header line early cannot go into a head.
bool IsNameAcceptable(const char* szName) noexcept;

// Reports the refusal of a name: E_INVALIDARG, "Invalid name.".
HRESULT RefuseName() noexcept;
