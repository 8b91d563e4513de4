// Get against a server whose replies are drawn at random, broken ones among valid ones.
#include "tests/values/test_stream.h"
#include "tests/values/wire_fixture.h"

#include <cstdint>
#include <random>

namespace
{
constexpr int ROUNDS = 2000;
constexpr uint32_t SEED = 20261208;

const int g_aScalarTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 14, 16, 17, 18, 19, 20, 21, 22, 23};

// One drawn reply and what the client must make of it.
struct GDraw
{
    const char* szKind = "";
    std::string sReply;
    // After the reply: close the connection (the client would wait for more), or read
    // the element request that an array head brings and close without answering.
    bool bCloseAfter = false;
    bool bElementRequestFollows = false;
    HRESULT hrExpected = S_OK;   // S_FALSE: any documented result
    bool bFound = false;
    bool bStreamTarget = false;
    std::string sExpectedBytes;   // of a found string, byte array, stream or scalar image
    VARTYPE vtExpected = VT_EMPTY;
};

class GReplyDrawer
{
public:
    explicit GReplyDrawer(uint32_t nSeed) : m_random(nSeed) {}

    GDraw Draw(bool bStreamTarget)
    {
        GDraw draw;
        draw.bStreamTarget = bStreamTarget;
        switch (Below(15))
        {
        case 0: DrawScalar(draw); break;
        case 1: DrawString(draw); break;
        case 2: DrawByteArray(draw); break;
        case 3: DrawNotFound(draw); break;
        case 4: DrawCutHead(draw); break;
        case 5: DrawCutBody(draw); break;
        case 6: DrawWrongScalarLength(draw); break;
        case 7: DrawUnknownType(draw); break;
        case 8: DrawHugeLength(draw); break;
        case 9: DrawGarbage(draw); break;
        case 10: DrawBadStatusOrCode(draw); break;
        case 11: DrawArrayHead(draw); break;
        case 12: DrawStream(draw); break;
        case 13: DrawForeignImage(draw); break;
        default: DrawMutation(draw); break;
        }
        return draw;
    }

private:
    uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_random); }

    std::string RandomBytes(size_t n)
    {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(Below(256));
        return s;
    }

    static std::string Head(const std::string& sType, const std::string& sLength, const char* szCode = "0")
    {
        std::string s = std::string("HTTP/1.1 200 OK\r\nx-result-code: ") + szCode + "\r\n";
        if (!sType.empty())
            s += "content-type: application/x-variant-" + sType + "\r\n";
        if (!sLength.empty())
            s += "content-length: " + sLength + "\r\n";
        return s + "\r\n";
    }

    std::string Image(int nType)
    {
        std::string s = RandomBytes(24);
        s[0] = static_cast<char>(nType & 0xFF);
        s[1] = static_cast<char>(nType >> 8);
        return s;
    }

    void DrawScalar(GDraw& draw)
    {
        draw.szKind = "scalar";
        const int nType = g_aScalarTypes[Below(sizeof(g_aScalarTypes) / sizeof(g_aScalarTypes[0]))];
        draw.sExpectedBytes = Image(nType);
        draw.sReply = Head(std::to_string(nType), "24") + draw.sExpectedBytes;
        draw.bFound = true;
        draw.vtExpected = static_cast<VARTYPE>(nType);
    }

    void DrawString(GDraw& draw)
    {
        draw.szKind = "string";
        draw.sExpectedBytes = RandomBytes(Below(80));
        draw.sReply = Head("8", std::to_string(draw.sExpectedBytes.size())) + draw.sExpectedBytes;
        draw.bFound = true;
        draw.vtExpected = VT_BSTR;
    }

    void DrawByteArray(GDraw& draw)
    {
        draw.szKind = "byte array";
        draw.sExpectedBytes = RandomBytes(Below(80));
        draw.sReply = Head("8209", std::to_string(draw.sExpectedBytes.size())) + draw.sExpectedBytes;
        draw.bFound = true;
        draw.vtExpected = VT_BYTE_ARRAY_TYPE;
    }

    void DrawNotFound(GDraw& draw)
    {
        draw.szKind = "not found";
        const std::string sBody = RandomBytes(Below(20));
        draw.sReply = Head(Below(2) == 0 ? "" : "3", std::to_string(sBody.size()), "1") + sBody;
    }

    void DrawCutHead(GDraw& draw)
    {
        draw.szKind = "cut head";
        const std::string sHead = Head("3", "24");
        draw.sReply = sHead.substr(0, Below(static_cast<uint32_t>(sHead.size() - 1)));
        draw.bCloseAfter = true;
        draw.hrExpected = HR_HTTP;
    }

    void DrawCutBody(GDraw& draw)
    {
        draw.szKind = "cut body";
        static const char* const aTypes[] = {"3", "8", "8209"};
        const char* szType = aTypes[Below(3)];
        const size_t nLength = szType[0] == '3' ? 24 : 1 + Below(5000);
        draw.sReply = Head(szType, std::to_string(nLength)) + RandomBytes(Below(static_cast<uint32_t>(nLength)));
        draw.bCloseAfter = true;
        draw.hrExpected = HR_HTTP;
    }

    void DrawWrongScalarLength(GDraw& draw)
    {
        draw.szKind = "wrong scalar length";
        size_t nLength = Below(48);
        if (nLength == 24)
            nLength = 25;
        const int nType = g_aScalarTypes[Below(sizeof(g_aScalarTypes) / sizeof(g_aScalarTypes[0]))];
        const bool bArray = Below(4) == 0;
        if (bArray && nLength == 4)
            nLength = 5;
        draw.sReply = Head(bArray ? "8204" : std::to_string(nType), std::to_string(nLength)) + RandomBytes(nLength);
        draw.hrExpected = HR_CONTENT_TYPE;
    }

    void DrawUnknownType(GDraw& draw)
    {
        draw.szKind = "unknown type";
        int nType = 0;
        do
        {
            nType = static_cast<int>(Below(70000)) - 100;
        } while ((nType >= 0 && nType <= 23 && nType != 12 && nType != 15) || nType == 8204 || nType == 8209);
        draw.sReply = Head(std::to_string(nType), "24") + Image(nType);
        draw.hrExpected = HR_CONTENT_TYPE;
    }

    void DrawHugeLength(GDraw& draw)
    {
        draw.szKind = "huge length";
        static const char* const aLengths[] = {"2147483648", "4294967280", "4294967295", "4294967296",
                                               "5000000000", "1099511627776", "18446744073709551615"};
        static const char* const aCounts[] = {"FF FF FF FF", "00 00 00 80", "AB AA AA 0A", "56 55 55 05"};
        switch (Below(3))
        {
        case 0:
            draw.sReply = Head("8", aLengths[Below(7)]) + RandomBytes(Below(10));
            break;
        case 1:
            draw.sReply = Head("8209", aLengths[Below(7)]) + RandomBytes(Below(10));
            break;
        default:
            draw.sReply = Head("8204", "4") + Bytes(aCounts[Below(4)]);
            break;
        }
        // A length of all ones is no length at all: the reader then refuses the class.
        draw.hrExpected = draw.sReply.find("18446744073709551615") == std::string::npos ? E_OUTOFMEMORY
                                                                                       : HR_CONTENT_TYPE;
        draw.bCloseAfter = true;
    }

    void DrawGarbage(GDraw& draw)
    {
        draw.szKind = "garbage";
        draw.sReply = RandomBytes(Below(9000));
        draw.bCloseAfter = true;
        draw.hrExpected = HR_HTTP;
    }

    void DrawBadStatusOrCode(GDraw& draw)
    {
        draw.szKind = "bad status or code";
        if (Below(2) == 0)
        {
            draw.sReply = "HTTP/1.1 " + std::to_string(100 + Below(500)) + " Whatever\r\ncontent-length: 0\r\n\r\n";
            if (draw.sReply.compare(9, 3, "200") == 0)
                draw.sReply.replace(9, 3, "201");
            draw.hrExpected = HR_HTTP;
        }
        else
        {
            static const char* const aCodes[] = {"2", "-1", "x", "", "99999999999"};
            draw.sReply = Head("3", "24", aCodes[Below(5)]) + Image(3);
            draw.hrExpected = HR_RESULT_CODE;
        }
    }

    void DrawArrayHead(GDraw& draw)
    {
        draw.szKind = "array head";
        if (Below(3) == 0)
        {
            draw.sReply = Head("8204", "4") + Bytes("00 00 00 00");
            draw.bFound = true;
            draw.vtExpected = VT_VARIANT_ARRAY_TYPE;
            return;
        }
        // The element fetch finds the connection gone.
        std::string sCount = Bytes("00 00 00 00");
        sCount[0] = static_cast<char>(1 + Below(200));
        draw.sReply = Head("8204", "4") + sCount;
        draw.bElementRequestFollows = true;
        draw.hrExpected = HR_HTTP;
    }

    void DrawStream(GDraw& draw)
    {
        draw.szKind = "stream";
        draw.sExpectedBytes = RandomBytes(Below(20000));
        draw.sReply = Head(Below(2) == 0 ? "9" : "13", std::to_string(draw.sExpectedBytes.size())) + draw.sExpectedBytes;
        if (draw.bStreamTarget)
        {
            draw.bFound = true;
            draw.vtExpected = VT_UNKNOWN;
        }
        else
        {
            draw.hrExpected = HR_STREAM_REQUIRED;
        }
    }

    // An image whose type code is not the announced one: never handed to the caller.
    void DrawForeignImage(GDraw& draw)
    {
        draw.szKind = "foreign image";
        const int nType = g_aScalarTypes[Below(sizeof(g_aScalarTypes) / sizeof(g_aScalarTypes[0]))];
        static const int aForeign[] = {8, 9, 13, 0x4003, 0x2011, 0x200C, 36, 0xFFFF};
        int nImage = aForeign[Below(8)];
        draw.sReply = Head(std::to_string(nType), "24") + Image(nImage);
        draw.hrExpected = HR_CONTENT_TYPE;
    }

    // A valid reply with a few bytes changed: any documented outcome will do.
    void DrawMutation(GDraw& draw)
    {
        draw.szKind = "mutation";
        const int nType = g_aScalarTypes[Below(sizeof(g_aScalarTypes) / sizeof(g_aScalarTypes[0]))];
        std::string s = Below(2) == 0 ? Head(std::to_string(nType), "24") + Image(nType)
                                      : Head("8", "6") + RandomBytes(6);
        const uint32_t nChanges = 1 + Below(4);
        for (uint32_t i = 0; i < nChanges; ++i)
            s[Below(static_cast<uint32_t>(s.size()))] = static_cast<char>(Below(256));
        draw.sReply = s;
        draw.bCloseAfter = true;
        draw.hrExpected = S_FALSE;
    }

    std::mt19937 m_random;
};

bool IsDocumentedFailure(HRESULT hr)
{
    return hr == HR_HTTP || hr == HR_RESULT_CODE || hr == HR_CONTENT_TYPE || hr == HR_STREAM_REQUIRED
        || hr == E_OUTOFMEMORY;
}

class HostileServerTest : public GValueWireTest
{
protected:
    void CheckFound(const GDraw& draw, const VARIANT& var, GTestStream* pStream)
    {
        ASSERT_EQ(draw.vtExpected, var.vt);
        switch (draw.vtExpected)
        {
        case VT_BSTR:
            EXPECT_EQ(draw.sExpectedBytes, BytesOfString(var.bstrVal));
            break;
        case VT_BYTE_ARRAY_TYPE:
            EXPECT_EQ(draw.sExpectedBytes, BytesOfArray(var));
            break;
        case VT_VARIANT_ARRAY_TYPE:
            EXPECT_EQ(0u, var.parray->rgsabound[0].cElements);
            break;
        case VT_UNKNOWN:
            EXPECT_TRUE(draw.sExpectedBytes == pStream->m_sContent);
            break;
        default:
            EXPECT_EQ(ImageKept(draw.sExpectedBytes), ImageOf(var));
            break;
        }
    }

    // One round: a fresh connection, the reply, the Get and its checks.
    void RunRound(GReplyDrawer& drawer, int nRound)
    {
        const GDraw draw = drawer.Draw(nRound % 5 == 0);
        SCOPED_TRACE(std::string("round ") + std::to_string(nRound) + ", " + draw.szKind);
        m_server.Answer(draw.sReply);
        if (draw.bElementRequestFollows)
            m_server.CloseAfterRequest();
        else if (draw.bCloseAfter)
            m_server.CloseNow();

        m_pObject->Close();
        ASSERT_EQ(S_OK, Open());
        GTestVariant var;
        GTestStream* pStream = nullptr;
        if (draw.bStreamTarget)
        {
            pStream = new GTestStream();
            var.vt = VT_UNKNOWN;
            var.punkVal = static_cast<IDispatch*>(pStream);
        }
        else
        {
            var.vt = VT_BSTR;
            var.bstrVal = SysAllocString(L"keep");
        }
        const VARIANT varBefore = var;
        VARIANT_BOOL bFound = 5;
        ClearErrorInfo();
        const HRESULT hr = Get(L"h", var, &bFound);
        if (hr == S_OK)
        {
            EXPECT_TRUE(draw.hrExpected == S_OK || draw.hrExpected == S_FALSE) << std::hex << hr;
            EXPECT_TRUE(bFound == VARIANT_TRUE || bFound == VARIANT_FALSE);
            if (draw.hrExpected == S_OK)
            {
                EXPECT_EQ(draw.bFound ? VARIANT_TRUE : VARIANT_FALSE, bFound);
            }
            if (bFound == VARIANT_FALSE)
            {
                EXPECT_EQ(ImageOf(varBefore), ImageOf(var));
            }
            else if (draw.hrExpected == S_OK)
                CheckFound(draw, var, pStream);
            ASSERT_TRUE(m_server.WaitDone());
            return;
        }
        const GErrorText text = TakeErrorInfo();
        EXPECT_TRUE(IsDocumentedFailure(hr)) << std::hex << hr;
        if (draw.hrExpected != S_FALSE)
        {
            EXPECT_EQ(draw.hrExpected, hr) << std::hex << hr;
        }
        EXPECT_EQ(L"Harbinet", text.sSource);
        EXPECT_FALSE(text.sDescription.empty());
        EXPECT_EQ(VARIANT_FALSE, bFound);
        EXPECT_EQ(ImageOf(varBefore), ImageOf(var)) << "the caller's value is left as it was";
        ExpectClosed();
    }
};

TEST_F(HostileServerTest, RandomRepliesEndInDocumentedResultsAndLeaveTheObjectClosedAfterFailures)
{
    GReplyDrawer drawer(SEED);
    for (int nRound = 0; nRound < ROUNDS && !HasFatalFailure(); ++nRound)
        RunRound(drawer, nRound);
    m_pObject->Close();
}
}
