// Calls by name through IDispatch on objects of both classes: DISPIDs, invocation and exception information.
#include "tests/dispatch/dispatch_fixture.h"

namespace
{
TEST_F(DispatchTest, NamesGiveTheDispidsOfTheTable)
{
    for (IHarbinet* pObject : BothObjects())
    {
        SCOPED_TRACE(pObject == m_pHarbinet ? "Harbinet" : "Harbinet.Distributed");
        EXPECT_EQ(0, IdOf(pObject, L"Item"));
        EXPECT_EQ(0x60020002, IdOf(pObject, L"Open"));
        EXPECT_EQ(0x60020003, IdOf(pObject, L"Close"));
        EXPECT_EQ(0x60020004, IdOf(pObject, L"Cookie"));
        EXPECT_EQ(0x60020006, IdOf(pObject, L"Set"));
        EXPECT_EQ(0x60020007, IdOf(pObject, L"Get"));
        EXPECT_EQ(0x60020008, IdOf(pObject, L"Delete"));
        EXPECT_EQ(0x60020009, IdOf(pObject, L"Noop"));
        EXPECT_EQ(0x6002000A, IdOf(pObject, L"Execute"));
    }
}

TEST_F(DispatchTest, NamesAreFoundWhateverTheirLetterCase)
{
    EXPECT_EQ(0x60020009, IdOf(m_pHarbinet, L"noop"));
    EXPECT_EQ(0x6002000A, IdOf(m_pDistributed, L"EXECUTE"));
    EXPECT_EQ(0, IdOf(m_pHarbinet, L"item"));
}

TEST_F(DispatchTest, NamesDoNotDependOnInterfaceIdOrLocale)
{
    for (IHarbinet* pObject : BothObjects())
    {
        EXPECT_EQ(0x60020008, IdOf(pObject, L"Delete", IID_IHarbinet, 0x411));
        EXPECT_EQ(0x60020002, IdOf(pObject, L"Open", IID_IDispatch, 0));
    }
}

TEST_F(DispatchTest, ParameterNamesFollowTheMemberName)
{
    LPOLESTR aNames[] = {const_cast<LPOLESTR>(L"Set"), const_cast<LPOLESTR>(L"nTimeout"),
                         const_cast<LPOLESTR>(L"sName")};
    DISPID aIds[3] = {};
    ASSERT_EQ(S_OK, m_pHarbinet->GetIDsOfNames(IID_NULL, aNames, 3, 0x409, aIds));
    EXPECT_EQ(0x60020006, aIds[0]);
    EXPECT_EQ(2, aIds[1]);
    EXPECT_EQ(0, aIds[2]);
}

TEST_F(DispatchTest, UnknownNameIsReported)
{
    for (IHarbinet* pObject : BothObjects())
    {
        LPOLESTR aNames[] = {const_cast<LPOLESTR>(L"Flush")};
        DISPID nId = 12345;
        EXPECT_EQ(DISP_E_UNKNOWNNAME, pObject->GetIDsOfNames(IID_NULL, aNames, 1, 0x409, &nId));
        EXPECT_EQ(DISPID_UNKNOWN, nId);
    }
}

TEST_F(DispatchTest, UnknownDispidIsNoMember)
{
    GArguments args;
    for (IHarbinet* pObject : BothObjects())
    {
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(pObject, 0x60020005, DISPATCH_METHOD, args).hr);
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(pObject, 0x12345, DISPATCH_METHOD, args).hr);
    }
}

TEST_F(DispatchTest, RequiredArgumentCannotBeLeftOut)
{
    GArguments args;
    for (IHarbinet* pObject : BothObjects())
    {
        const HRESULT hr = Invoke(pObject, 0x60020008, DISPATCH_METHOD, args).hr;   // Delete
        EXPECT_TRUE(hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_BADPARAMCOUNT) << std::hex << hr;
    }
}

// The members run and fail on objects that are not open; a dispatch failure (no such
// member, wrong arguments) would come back as itself instead of as an exception.
TEST_F(DispatchTest, DefaultMemberWithANameReachesItem)
{
    for (IHarbinet* pObject : BothObjects())
    {
        SCOPED_TRACE(pObject == m_pHarbinet ? "Harbinet" : "Harbinet.Distributed");
        GArguments args;
        args.Text(L"user7");
        const GInvokeResult result = Invoke(pObject, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
        EXPECT_EQ(DISP_E_EXCEPTION, result.hr);
        EXPECT_TRUE(FAILED(result.nScode)) << std::hex << result.nScode;
    }
}

TEST_F(DispatchTest, DefaultMemberAssignmentReachesItem)
{
    for (IHarbinet* pObject : BothObjects())
    {
        SCOPED_TRACE(pObject == m_pHarbinet ? "Harbinet" : "Harbinet.Distributed");
        GArguments args;
        args.Text(L"user7").Text(L"value").PropertyValue();
        const GInvokeResult result = Invoke(pObject, DISPID_VALUE, DISPATCH_PROPERTYPUT, args);
        EXPECT_EQ(DISP_E_EXCEPTION, result.hr);
        EXPECT_TRUE(FAILED(result.nScode)) << std::hex << result.nScode;
    }
}

TEST_F(DispatchTest, NoopWithoutArgumentsReachesTheMember)
{
    GArguments args;
    const GInvokeResult result = Invoke(m_pDistributed, 0x60020009, DISPATCH_METHOD, args);
    EXPECT_EQ(DISP_E_EXCEPTION, result.hr);
    EXPECT_TRUE(FAILED(result.nScode)) << std::hex << result.nScode;
}

TEST_F(DispatchTest, NoopWithoutArgumentsOnClosedObjectReportsHttpError)
{
    GArguments args;
    const GInvokeResult result = Invoke(m_pHarbinet, 0x60020009, DISPATCH_METHOD, args);
    EXPECT_EQ(DISP_E_EXCEPTION, result.hr);
    EXPECT_EQ(static_cast<SCODE>(0x80040206), result.nScode);
    EXPECT_EQ(L"Harbinet", result.sSource);
    EXPECT_EQ(L"HTTP error.", result.sDescription);
}

TEST_F(DispatchTest, DeleteByNameOnClosedObjectReportsHttpError)
{
    GArguments args;
    args.Text(L"user7");
    // Interface id and locale are passed along unexamined.
    const GInvokeResult result = Invoke(m_pHarbinet, 0x60020008, DISPATCH_METHOD, args, IID_IHarbinet, 0x407);
    EXPECT_EQ(DISP_E_EXCEPTION, result.hr);
    EXPECT_EQ(static_cast<SCODE>(0x80040206), result.nScode);
    EXPECT_EQ(L"Harbinet", result.sSource);
    EXPECT_EQ(L"HTTP error.", result.sDescription);
}

TEST_F(DispatchTest, OpenByNameWithoutPathReportsInvalidUrl)
{
    GArguments args;
    args.Text(L"http://cachehost:8000");
    const GInvokeResult result = Invoke(m_pHarbinet, 0x60020002, DISPATCH_METHOD, args);
    EXPECT_EQ(DISP_E_EXCEPTION, result.hr);
    EXPECT_EQ(static_cast<SCODE>(0x80040202), result.nScode);
    EXPECT_EQ(L"Harbinet", result.sSource);
    EXPECT_EQ(L"Invalid URL.", result.sDescription);
}

TEST_F(DispatchTest, CookieByNameStartsEmptyAndReadsBackWhatWasPut)
{
    GArguments none;
    GInvokeResult result = Invoke(m_pHarbinet, 0x60020004, DISPATCH_PROPERTYGET, none);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(VT_BSTR, result.vtResult);
    // The member hands back a null string; Wine's dispatch turns it into an empty one,
    // and a caller by name cannot tell the two apart anyway.
    EXPECT_TRUE(result.sResult.empty());

    GArguments put;
    put.Text(L"abc").PropertyValue();
    EXPECT_EQ(S_OK, Invoke(m_pHarbinet, 0x60020004, DISPATCH_PROPERTYPUT, put).hr);
    result = Invoke(m_pHarbinet, 0x60020004, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(VT_BSTR, result.vtResult);
    EXPECT_EQ(L"abc", result.sResult);
}

TEST_F(DispatchTest, CloseByNameSucceedsOnClosedObject)
{
    GArguments args;
    const GInvokeResult result = Invoke(m_pHarbinet, 0x60020003, DISPATCH_METHOD, args);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(VT_EMPTY, result.vtResult);
}
}
