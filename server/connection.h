// One client connection: reads request heads and bodies, runs the commands
// against the store and writes each reply in one go, in request order. Its
// transport is in connection.cpp, its request handling in request_handling.cpp.
#pragma once

#include "connection_list.h"
#include "metrics.h"
#include "request.h"
#include "request_parser.h"
#include "shared.h"
#include "socket.h"
#include "value_store.h"

#include <asio.hpp>
#include <memory>
#include <string>
#include <vector>

struct GReply;
struct GRequest;

// Pipelined requests are answered in batches of about this many bytes.
constexpr size_t kFlushAt = 64 * 1024;

class GConnection final : public std::enable_shared_from_this<GConnection>, public IStoreWaiter
{
public:
    GConnection(GServerShared& shared, GConnectionList& list, GSocket sock);
    ~GConnection();
    GConnection(const GConnection&) = delete;
    GConnection& operator=(const GConnection&) = delete;

    void Start();
    // Answers 503 and closes: the server already has all the connections it may.
    void Refuse();
    // The worker's periodic look at the idle, request and linger deadlines.
    void CheckDeadlines(int64_t nNowMs);
    void StoreDone(GStoreOutcome& outcome) override;

private:
    enum class EPhase
    {
        Head,     // waiting for or scanning a request head
        Body,     // receiving a set's body into its entry
        Skip,     // reading past a body nobody needs
        Wait,     // the store has the command; nothing more is read until it answers
        Linger,   // reply sent, send side shut; draining until the client closes
    };

    // Request handling (request_handling.cpp): a parsed head to a command,
    // the store and the reply, and the counts.
    void Process();
    void HandleRequest(GRequest& request);
    void FinishSet();
    void CallStore(void (IStore::*pfn)(const GKey&, int64_t, IStoreWaiter&), const GKey& key);
    void WaitForStore();
    void ApplyOutcome(GStoreOutcome& outcome);
    void Count(EMetricCommand command, EMetricOutcome outcome);
    void StartSkip(uint64_t nBytes);
    void EndRequest();

    // Transport (connection.cpp): reading, writing, time limits and closing.
    void Pump();
    void Append(const GReply& reply);
    void FailAndClose(uint16_t nStatus, const char* szReason);
    bool TryWrite();
    void ClearOutput();
    void OnWritten(const asio::error_code& ec);
    void ReadMore();
    void ScheduleRead();
    asio::mutable_buffer FreeInput();
    bool FinishRead(const asio::error_code& ec);
    void OnRead(const asio::error_code& ec, size_t nBytes);
    void OnBodyRead(const asio::error_code& ec, size_t nBytes);
    void StartLinger();
    void Close();

    GServerShared& m_shared;
    GConnectionList& m_list;
    GConnectionList::GPlace m_itInList;
    GSocket m_sock;

    std::vector<char> m_vecIn;
    size_t m_nInStart = 0;
    size_t m_nInEnd = 0;
    GRequestParser m_parser;
    EPhase m_phase = EPhase::Head;

    GEntryRef m_refBody;         // set whose body is arriving
    uint64_t m_nBodyDone = 0;
    uint64_t m_nSkipLeft = 0;
    std::string m_strCookie;     // cookie issued to the request in progress
    ECommand m_command = ECommand::Nop;
    uint64_t m_nSkipAfter = 0;   // body bytes to pass over once the store has answered
    bool m_bStoreInline = false; // inside a store call, which may answer before it returns
    bool m_bAwaitsContinue = false;
    // An answer that came while earlier replies were still being written; it
    // is added to the output once that is free again.
    GStoreOutcome m_outcomeHeld;
    bool m_bOutcomeHeld = false;
    // Held while the store works elsewhere, so the answer finds the connection.
    std::shared_ptr<GConnection> m_pSelfWhileWaiting;

    std::string m_strOut;        // reply heads and small bodies
    GEntryRef m_refOut;          // large body sent straight from its entry

    bool m_bReading = false;
    bool m_bReadDue = false;     // a ReadMore is posted and has not run yet
    bool m_bWriting = false;
    bool m_bCloseAfterWrite = false;
    bool m_bClosed = false;

    int64_t m_nNowMs = 0;
    int64_t m_nLastActivityMs = 0;
    int64_t m_nRequestStartMs = 0;
    int64_t m_nWriteStartMs = 0;
    int64_t m_nLingerUntilMs = 0;
    uint64_t m_nLingerBudget = 0;
};
