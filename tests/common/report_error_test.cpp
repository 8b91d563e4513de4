// ReportError installs source and description as the thread's error information; CaughtHResult maps exceptions.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include <windows.h>
#include <oleauto.h>

#include "common/atl_exception.h"
#include "common/report_error.h"
#include "tests/support/harbinet_module.h"

namespace
{
// The thread's error information, kept (not cleared) so that every field can be read.
class GErrorInfoRecord
{
public:
    GErrorInfoRecord() { m_hr = GetErrorInfo(0, &m_pInfo); }
    ~GErrorInfoRecord()
    {
        if (m_pInfo != nullptr)
            m_pInfo->Release();
    }
    GErrorInfoRecord(const GErrorInfoRecord&) = delete;
    GErrorInfoRecord& operator=(const GErrorInfoRecord&) = delete;

    HRESULT Result() const { return m_hr; }
    IErrorInfo* Get() const { return m_pInfo; }

private:
    HRESULT m_hr = E_FAIL;
    IErrorInfo* m_pInfo = nullptr;
};

HRESULT CatchThrown(void (*pfnThrow)())
{
    try
    {
        pfnThrow();
    }
    catch (...)
    {
        return CaughtHResult();
    }
    return S_OK;
}

TEST(ErrorInfoTest, ReportErrorReturnsTheCodeUnchanged)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80040202), ReportError(static_cast<HRESULT>(0x80040202), L"Harbinet", L"Invalid URL."));
    EXPECT_EQ(static_cast<HRESULT>(0x80004005), ReportError(static_cast<HRESULT>(0x80004005), L"Orrisdale", L"Too many command parameter."));
    EXPECT_EQ(static_cast<HRESULT>(0x80040301), ReportError(static_cast<HRESULT>(0x80040301), L"", L""));
    ClearErrorInfo();
}

TEST(ErrorInfoTest, ReportErrorInstallsSourceAndDescription)
{
    ClearErrorInfo();
    ReportError(static_cast<HRESULT>(0x80040201), L"Harbinet.Distributed", L"Is not connecting.");
    const GErrorText text = TakeErrorInfo();
    EXPECT_EQ(L"Harbinet.Distributed", text.sSource);
    EXPECT_EQ(L"Is not connecting.", text.sDescription);
}

TEST(ErrorInfoTest, ReportErrorLeavesHelpFileAndContextEmpty)
{
    ClearErrorInfo();
    ReportError(static_cast<HRESULT>(0x80040206), L"Harbinet", L"HTTP error.");
    GErrorInfoRecord record;
    ASSERT_EQ(S_OK, record.Result());
    ASSERT_NE(nullptr, record.Get());

    // The interface id is not looked at: Wine's error object leaves it uninitialised
    // until someone sets it, so it cannot tell our doing from the platform's.
    BSTR bstrHelpFile = SysAllocString(L"x");
    EXPECT_EQ(S_OK, record.Get()->GetHelpFile(&bstrHelpFile));
    EXPECT_EQ(0u, SysStringLen(bstrHelpFile));
    SysFreeString(bstrHelpFile);

    DWORD nContext = 77;
    EXPECT_EQ(S_OK, record.Get()->GetHelpContext(&nContext));
    EXPECT_EQ(0u, nContext);
    ClearErrorInfo();
}

TEST(ErrorInfoTest, LaterReportReplacesEarlierOne)
{
    ReportError(static_cast<HRESULT>(0x80040202), L"Harbinet", L"Invalid URL.");
    ReportError(static_cast<HRESULT>(0x80040300), L"Harbinet.Distributed", L"Invalid name type.");
    const GErrorText text = TakeErrorInfo();
    EXPECT_EQ(L"Harbinet.Distributed", text.sSource);
    EXPECT_EQ(L"Invalid name type.", text.sDescription);
}

TEST(ErrorInfoTest, DescriptionTakenFromAReplyKeepsItsText)
{
    ClearErrorInfo();
    ReportError(static_cast<HRESULT>(0x80040207), L"Harbinet", L"value too large \x00E9t\x00E9");
    const GErrorText text = TakeErrorInfo();
    EXPECT_EQ(L"Harbinet", text.sSource);
    EXPECT_EQ(L"value too large \x00E9t\x00E9", text.sDescription);
}

TEST(ErrorInfoTest, CaughtHResultGivesTheCodeOfAnAtlException)
{
    EXPECT_EQ(E_INVALIDARG, CatchThrown([] { throw CAtlException(E_INVALIDARG); }));
    EXPECT_EQ(static_cast<HRESULT>(0x80070008), CatchThrown([] { throw CAtlException(static_cast<HRESULT>(0x80070008)); }));
    EXPECT_EQ(static_cast<HRESULT>(0x80040206), CatchThrown([] { throw CAtlException(static_cast<HRESULT>(0x80040206)); }));
}

TEST(ErrorInfoTest, CaughtHResultGivesOutOfMemoryForBadAlloc)
{
    EXPECT_EQ(E_OUTOFMEMORY, CatchThrown([] { throw std::bad_alloc(); }));
    EXPECT_EQ(E_OUTOFMEMORY, CatchThrown([] { throw std::bad_array_new_length(); }));
}

TEST(ErrorInfoTest, CaughtHResultGivesUnexpectedForAnythingElse)
{
    EXPECT_EQ(E_UNEXPECTED, CatchThrown([] { throw std::runtime_error("boom"); }));
    EXPECT_EQ(E_UNEXPECTED, CatchThrown([] { throw 42; }));
    EXPECT_EQ(E_UNEXPECTED, CatchThrown([] { throw static_cast<HRESULT>(E_FAIL); }));
}

TEST(ErrorInfoTest, CaughtHResultSetsNoErrorInformation)
{
    ClearErrorInfo();
    CatchThrown([] { throw CAtlException(E_FAIL); });
    CatchThrown([] { throw std::bad_alloc(); });
    GErrorInfoRecord record;
    EXPECT_EQ(S_FALSE, record.Result());
    EXPECT_EQ(nullptr, record.Get());
}

TEST(ErrorInfoTest, CaughtHResultKeepsAnEarlierReport)
{
    ClearErrorInfo();
    ReportError(static_cast<HRESULT>(0x80040204), L"Harbinet", L"Socket error.");
    CatchThrown([] { throw CAtlException(E_OUTOFMEMORY); });
    const GErrorText text = TakeErrorInfo();
    EXPECT_EQ(L"Harbinet", text.sSource);
    EXPECT_EQ(L"Socket error.", text.sDescription);
}
}
