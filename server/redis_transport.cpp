// Asio streams for Redis links; OpenSSL (through asio::ssl) for TLS.
#include "redis_transport.h"

#include <asio/ssl.hpp>
#include <optional>
#include <stdexcept>

namespace
{

class GTcpTransport final : public GRedisTransport
{
public:
    GTcpTransport(asio::io_context& io, const GRedisEndpoint& endpoint, asio::ssl::context* pTls)
        : m_endpoint(endpoint), m_resolver(io), m_plain(io)
    {
        if (pTls != nullptr)
            m_tls.emplace(io, *pTls);
    }

    void Connect(FnConnected fnDone) override
    {
        m_resolver.async_resolve(m_endpoint.szHost, std::to_string(m_endpoint.nPort),
            [this, fnDone = std::move(fnDone)](const asio::error_code& ec,
                const asio::ip::tcp::resolver::results_type& results) mutable {
                if (ec)
                {
                    fnDone(ec);
                    return;
                }
                asio::async_connect(Socket(), results,
                    [this, fnDone = std::move(fnDone)](const asio::error_code& ec, const asio::ip::tcp::endpoint&) mutable {
                        if (ec)
                        {
                            fnDone(ec);
                            return;
                        }
                        asio::error_code ecIgnored;
                        Socket().set_option(asio::ip::tcp::no_delay(true), ecIgnored);
                        if (m_tls)
                            Handshake(std::move(fnDone));
                        else
                            fnDone(ec);
                    });
            });
    }

    void Write(asio::const_buffer buffer, FnMoved fnDone) override
    {
        if (m_tls)
            asio::async_write(*m_tls, buffer, std::move(fnDone));
        else
            asio::async_write(m_plain, buffer, std::move(fnDone));
    }

    void ReadSome(asio::mutable_buffer buffer, FnMoved fnDone) override
    {
        if (m_tls)
            m_tls->async_read_some(buffer, std::move(fnDone));
        else
            m_plain.async_read_some(buffer, std::move(fnDone));
    }

    void Close() override
    {
        asio::error_code ec;
        m_resolver.cancel();
        Socket().close(ec);
    }

private:
    asio::ip::tcp::socket& Socket() { return m_tls ? m_tls->next_layer() : m_plain; }

    void Handshake(FnConnected fnDone)
    {
        // The name goes out for servers that pick their certificate by it,
        // and the certificate must be for that name (or IP address).
        asio::error_code ec;
        asio::ip::make_address(m_endpoint.szHost, ec);
        if (ec)
            SSL_set_tlsext_host_name(m_tls->native_handle(), m_endpoint.szHost.c_str());
        m_tls->set_verify_mode(asio::ssl::verify_peer, ec);
        if (!ec)
            m_tls->set_verify_callback(asio::ssl::host_name_verification(m_endpoint.szHost), ec);
        if (ec)
        {
            fnDone(ec);
            return;
        }
        m_tls->async_handshake(asio::ssl::stream_base::client, std::move(fnDone));
    }

    const GRedisEndpoint m_endpoint;
    asio::ip::tcp::resolver m_resolver;
    asio::ip::tcp::socket m_plain;
    std::optional<asio::ssl::stream<asio::ip::tcp::socket>> m_tls;
};

class GUnixTransport final : public GRedisTransport
{
public:
    GUnixTransport(asio::io_context& io, const std::string& szPath) : m_szPath(szPath), m_sock(io) {}

    void Connect(FnConnected fnDone) override
    {
        m_sock.async_connect(asio::local::stream_protocol::endpoint(m_szPath), std::move(fnDone));
    }

    void Write(asio::const_buffer buffer, FnMoved fnDone) override
    {
        asio::async_write(m_sock, buffer, std::move(fnDone));
    }

    void ReadSome(asio::mutable_buffer buffer, FnMoved fnDone) override
    {
        m_sock.async_read_some(buffer, std::move(fnDone));
    }

    void Close() override
    {
        asio::error_code ec;
        m_sock.close(ec);
    }

private:
    const std::string m_szPath;
    asio::local::stream_protocol::socket m_sock;
};

void Load(const char* szOption, const std::string& szFile, const std::function<void(asio::error_code&)>& fnLoad)
{
    asio::error_code ec;
    fnLoad(ec);
    if (ec)
        throw std::runtime_error(std::string("cannot use ") + szOption + " " + szFile + ": " + ec.message());
}

} // namespace

std::unique_ptr<GRedisTransport> MakeTcpTransport(asio::io_context& io, const GRedisEndpoint& endpoint,
    asio::ssl::context* pTls)
{
    return std::make_unique<GTcpTransport>(io, endpoint, pTls);
}

std::unique_ptr<GRedisTransport> MakeUnixTransport(asio::io_context& io, const std::string& szPath)
{
    return std::make_unique<GUnixTransport>(io, szPath);
}

std::unique_ptr<asio::ssl::context> MakeTlsContext(const std::string& szCaFile, const std::string& szCertFile,
    const std::string& szKeyFile)
{
    auto pContext = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
    pContext->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2
        | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
    if (szCaFile.empty())
        Load("the system's trust store", "", [&](asio::error_code& ec) { pContext->set_default_verify_paths(ec); });
    else
        Load("--redis-tls-ca", szCaFile, [&](asio::error_code& ec) { pContext->load_verify_file(szCaFile, ec); });
    if (!szCertFile.empty())
    {
        Load("--redis-tls-cert", szCertFile,
            [&](asio::error_code& ec) { pContext->use_certificate_chain_file(szCertFile, ec); });
        Load("--redis-tls-key", szKeyFile,
            [&](asio::error_code& ec) { pContext->use_private_key_file(szKeyFile, asio::ssl::context::pem, ec); });
    }
    return pContext;
}
