// The socket type that connections and workers share.
#pragma once

#include <asio.hpp>

// A socket bound to one worker's context; the concrete executor type spares
// every operation the cost of a type-erased one.
using GSocket = asio::basic_stream_socket<asio::ip::tcp, asio::io_context::executor_type>;
