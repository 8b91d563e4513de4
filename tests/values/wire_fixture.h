// GValueWireTest, a Harbinet object on a scripted fake server, and the wire texts.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_server.h"
#include "tests/support/harbinet_module.h"
#include "tests/values/value_helpers.h"

// Replies without a body.
extern const char* const REPLY_STORED;
extern const char* const REPLY_NOT_STORED;
extern const char* const REPLY_NOT_FOUND;
extern const char* const REPLY_DONE;   // nop and del

// A found get reply: "content-type: <szContentType>" unless it is null, the given
// content-length line unless it is null, then the body bytes.
std::string FoundReply(const char* szContentType, const char* szLength, const std::string& sBody);
// The same with content-length equal to the body's size.
std::string FoundReply(const char* szContentType, const std::string& sBody);

// The requests the component sends, from hand-written pieces; the object's host is
// 127.0.0.1 and its base path /.
std::string SetRequest(const char* szName, const char* szType, const char* szLength, const std::string& sBody,
                       const char* szTimeout = "0");
std::string GetRequest(const char* szName);
std::string NopRequest();

class GValueWireTest : public ::testing::Test
{
protected:
    void SetUp() override;
    // Leak checks: the last Release returns 0 and the module may unload again.
    void TearDown() override;

    HRESULT Open();
    HRESULT Set(const wchar_t* szName, VARIANT& var, long nTimeout, VARIANT_BOOL* pSet);
    HRESULT Get(const wchar_t* szName, VARIANT& var, VARIANT_BOOL* pFound);

    // hr is hrExpected, and the thread's error information names "Harbinet" and the description.
    static void ExpectFailure(HRESULT hrExpected, const wchar_t* szDescription, HRESULT hr);

    // Queues an answer before a call that must send nothing, so that a client that sends
    // all the same gets a reply (and fails its checks) instead of waiting for ever.
    void GuardAgainstRequests();

    // The object is closed: a Noop without Open fails with "HTTP error.". Had it been
    // open, a queued answer would have given it another result. With bGuarded the
    // answer was queued by GuardAgainstRequests; else it is queued here. Leaves the
    // object closed and the script empty.
    void ExpectClosed(bool bGuarded = false);
    // The client sent the start of a request and closed its connection: a step takes
    // those bytes now, so that they cannot be taken for the request of a later step.
    void TakeCutRequest();
    // The object is open: a Noop goes out on it and reads its reply.
    void ExpectOpen();
    // After GuardAgainstRequests: the object is open and the guard's Noop is the only
    // request that has reached the server.
    void ExpectOpenWithNothingSent();

    // Every request read by the steps so far, after waiting for the script to finish.
    std::vector<std::string> Requests();
    // Every byte the server received, after waiting for the script to finish.
    std::string Received();

    GFakeServer m_server;
    IHarbinet* m_pObject = nullptr;
};
