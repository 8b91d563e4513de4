// The byte stream under a Redis link: TCP, TLS over TCP, or a Unix socket,
// behind one interface so that the link has one code path for all three.
#pragma once

#include "redis_address.h"

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>

namespace asio::ssl
{
class context;
}

class GRedisTransport
{
public:
    using FnConnected = std::function<void(const asio::error_code&)>;
    using FnMoved = std::function<void(const asio::error_code&, size_t)>;

    virtual ~GRedisTransport() = default;
    // Resolves, connects and, for TLS, completes the handshake with the
    // server's certificate checked against the host name.
    virtual void Connect(FnConnected fnDone) = 0;
    // Writes all of the buffer.
    virtual void Write(asio::const_buffer buffer, FnMoved fnDone) = 0;
    virtual void ReadSome(asio::mutable_buffer buffer, FnMoved fnDone) = 0;
    // Ends every wait, which then reports operation_aborted.
    virtual void Close() = 0;
};

// With pTls, the stream is TLS and nothing else.
std::unique_ptr<GRedisTransport> MakeTcpTransport(asio::io_context& io, const GRedisEndpoint& endpoint,
    asio::ssl::context* pTls);
std::unique_ptr<GRedisTransport> MakeUnixTransport(asio::io_context& io, const std::string& szPath);

// The client side of TLS: the CA file (or the system's trust store when
// empty) and an optional client certificate. Throws with a message that names
// the file at fault.
std::unique_ptr<asio::ssl::context> MakeTlsContext(const std::string& szCaFile, const std::string& szCertFile,
    const std::string& szKeyFile);
