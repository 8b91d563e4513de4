// GFakeServer: a scripted loopback cache server for the wire tests (test fixture code).
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Listens on 127.0.0.1 on a port of the system's choice from construction on. A test
// gives the script first (steps may also be added later; they queue), then lets the
// client act; a worker thread runs the steps in order.
//
// Connections. The worker accepts every connection as it comes and reads whatever
// arrives on it, script or no script, so Received() shows every byte that reached the
// server once the worker has had a moment (a later step that waits for a request makes
// that moment certain). A connection stays open until a step closes it, the client
// closes it, or the server is destroyed.
// A step that reads a request takes it from whichever connection brings one first
// (not counting connections held silent), and that connection becomes the current
// one. So a client that reconnects after a failure, or several client objects with
// connections of their own, need no extra steps. Accept() is only needed to act on a
// connection before anything arrives on it: it takes the next connection that no step
// has used yet, waiting for it if need be.
//
// A request is the bytes up to and including the first CR LF CR LF, then as many body
// bytes as its first content-length header (name in any letter case) announces. A head
// that reaches 65536 bytes without an empty line is cut there and counts as a request.
// Bytes after a request stay for the next one on that connection. When a step finds no
// whole request anywhere and a connection the client has closed holds the start of
// one, those bytes are recorded as a request of their own and the step ends there
// without answering.
//
// Every wait is a select or a sleep of at most 20 ms that also watches for the
// destructor, so the destructor only briefly waits for the worker: it stops it, joins
// it, then closes every socket. A step waiting for a client that never comes simply
// never finishes; WaitDone then says so.
//
// Winsock: the server calls WSAStartup itself and WSACleanup when destroyed (the
// library counts them). Code that uses sockets outside a server's lifetime, such as a
// raw test client that reads after the server is gone, starts Winsock itself too.
// Construction throws std::runtime_error when the listening socket cannot be made.
class GFakeServer
{
public:
    GFakeServer();
    ~GFakeServer();
    GFakeServer(const GFakeServer&) = delete;
    GFakeServer& operator=(const GFakeServer&) = delete;

    int Port() const;
    // "http://127.0.0.1:<port><path>"
    std::string Url(const char* szPath = "/") const;

    // Steps. Each returns the server, so a script can be chained.
    // Makes the next connection that no step has used yet current (waits for it).
    GFakeServer& Accept();
    // Reads one request, then sends the reply in one send.
    GFakeServer& Answer(std::string sReply);
    // Reads one request, then sends each segment in its own send (TCP_NODELAY is on),
    // pausing nMsBetween milliseconds between segments.
    GFakeServer& AnswerInSegments(std::vector<std::string> vecSegments, int nMsBetween = 0);
    GFakeServer& Delay(int nMs);
    // Reads one request and closes its connection without answering.
    GFakeServer& CloseAfterRequest();
    // Closes the current connection; with none current, first does what Accept() does.
    // A connection the client has closed already needs nothing more.
    GFakeServer& CloseNow();
    // Reads one request and never answers on that connection: it stays open and unread
    // until the server is destroyed. The script goes on with the next step.
    GFakeServer& ReadRequestAndStaySilent();

    // Each request as a step read it, byte for byte (cut-short ones included), in order.
    std::vector<std::string> Requests() const;
    // Every byte received on every connection, in the order it was received.
    std::string Received() const;
    // Waits at most nMs milliseconds for every step given so far to have run.
    bool WaitDone(int nMs = 5000);
    // Connections accepted so far.
    int Connections() const;
    // Waits at most nMs milliseconds until the client has closed at least nCount
    // connections; the number it has closed so far.
    int WaitClientCloses(int nCount, int nMs = 5000) const;

private:
    enum class GStepKind
    {
        Accept,
        Answer,
        Delay,
        CloseAfterRequest,
        CloseNow,
        StaySilent,
    };

    struct GStep
    {
        GStepKind kind;
        std::vector<std::string> vecSegments;
        int nMs;
    };

    struct GConnection
    {
        SOCKET sock;            // INVALID_SOCKET once either side has closed it
        std::string sPending;   // received, not yet part of a request
        bool bSilent;
    };

    GFakeServer& AddStep(GStepKind kind, std::vector<std::string> vecSegments, int nMs);
    void RunScript();
    void RunStep(const GStep& step);
    void PollConnections();
    bool ClaimConnection();
    bool ReadRequest();
    bool TakeRequest(GConnection& connection);
    void SendSegments(const std::vector<std::string>& vecSegments, int nMsBetween);
    void CloseCurrent();
    bool PauseFor(int nMs);

    SOCKET m_sockListen = INVALID_SOCKET;
    int m_nPort = 0;

    // Touched by the worker only, and by the destructor after the join.
    std::vector<GConnection> m_vecConnections;
    int m_nCurrent = -1;
    size_t m_nUnclaimed = 0;   // first connection no step has used

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<GStep> m_vecSteps;
    size_t m_nStepsDone = 0;
    std::vector<std::string> m_vecRequests;
    std::string m_sReceived;

    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nConnections{0};
    std::atomic<int> m_nClientCloses{0};
    std::thread m_thread;
};
