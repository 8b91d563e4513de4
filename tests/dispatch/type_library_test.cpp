// The type library inside harbinet.dll, read back entry by entry.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "dispatch/type_description.h"
#include "tests/dispatch/type_info_holders.h"
#include "tests/support/harbinet_module.h"

namespace
{
const wchar_t* const LIBID_TEXT = L"{FBB7E7E0-704D-4B54-9C99-5037698FD304}";
const wchar_t* const IID_IHARBINET_TEXT = L"{3C247946-3C6F-4710-9DDE-98DDA2D535A1}";
const wchar_t* const CLSID_HARBINET_TEXT = L"{8C812366-4C56-400A-AB1A-9AB2B3FB8DC6}";
const wchar_t* const CLSID_DISTRIBUTED_TEXT = L"{2A4B9357-34BB-4C78-884F-A7B3F67C1A95}";
const wchar_t* const IID_IDISPATCH_TEXT = L"{00020400-0000-0000-C000-000000000046}";
const wchar_t* const LIBID_STDOLE_TEXT = L"{00020430-0000-0000-C000-000000000046}";

constexpr USHORT FLAGS_IN = PARAMFLAG_FIN;
constexpr USHORT FLAGS_OUT = PARAMFLAG_FOUT;
constexpr USHORT FLAGS_RETVAL = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr USHORT FLAGS_OPTIONAL = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;

// One parameter as the table gives it: VT_PTR is followed by the type pointed at.
struct GParam
{
    VARTYPE vt;
    VARTYPE vtPointee;
    USHORT nFlags;
};

struct GMember
{
    const wchar_t* szName;
    MEMBERID nMemberId;
    INVOKEKIND nInvokeKind;
    std::vector<GParam> vecParams;
};

const GParam PARAM_BSTR_IN = {VT_BSTR, VT_EMPTY, FLAGS_IN};
const GParam PARAM_VARIANT_IN = {VT_PTR, VT_VARIANT, FLAGS_IN};

// Positions 7 to 17 of the interface table, in order.
const std::vector<GMember> EXPECTED_MEMBERS = {
    {L"Item", 0, INVOKE_PROPERTYPUT, {PARAM_VARIANT_IN, PARAM_VARIANT_IN}},
    {L"Item", 0, INVOKE_PROPERTYGET, {PARAM_VARIANT_IN, {VT_PTR, VT_VARIANT, FLAGS_RETVAL}}},
    {L"Open", 0x60020002, INVOKE_FUNC, {PARAM_BSTR_IN}},
    {L"Close", 0x60020003, INVOKE_FUNC, {}},
    {L"Cookie", 0x60020004, INVOKE_PROPERTYPUT, {PARAM_BSTR_IN}},
    {L"Cookie", 0x60020004, INVOKE_PROPERTYGET, {{VT_PTR, VT_BSTR, FLAGS_RETVAL}}},
    {L"Set", 0x60020006, INVOKE_FUNC,
     {PARAM_BSTR_IN, PARAM_VARIANT_IN, {VT_I4, VT_EMPTY, FLAGS_OPTIONAL}, {VT_PTR, VT_BOOL, FLAGS_RETVAL}}},
    {L"Get", 0x60020007, INVOKE_FUNC,
     {PARAM_BSTR_IN, {VT_PTR, VT_VARIANT, FLAGS_OUT}, {VT_PTR, VT_BOOL, FLAGS_RETVAL}}},
    {L"Delete", 0x60020008, INVOKE_FUNC, {PARAM_BSTR_IN}},
    {L"Noop", 0x60020009, INVOKE_FUNC, {{VT_BSTR, VT_EMPTY, FLAGS_OPTIONAL}}},
    {L"Execute", 0x6002000A, INVOKE_FUNC,
     {{VT_DISPATCH, VT_EMPTY, FLAGS_IN}, {VT_BSTR, VT_EMPTY, FLAGS_OPTIONAL}, {VT_I4, VT_EMPTY, FLAGS_OPTIONAL},
      {VT_PTR, VT_DISPATCH, FLAGS_RETVAL}}},
};

class TypeLibraryTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        const std::wstring sPath = GHarbinetModule::Instance().Path();
        ASSERT_EQ(S_OK, LoadTypeLib(sPath.c_str(), &s_pLib));
    }
    static void TearDownTestSuite()
    {
        if (s_pLib != nullptr)
            s_pLib->Release();
        s_pLib = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(nullptr, s_pLib);
        ASSERT_EQ(S_OK, s_pLib->GetTypeInfoOfGuid(GuidOf(IID_IHARBINET_TEXT), &m_pInterface));
    }

    static std::wstring NameOf(ITypeInfo* pInfo, MEMBERID nMemberId)
    {
        BSTR bstrName = nullptr;
        if (FAILED(pInfo->GetDocumentation(nMemberId, &bstrName, nullptr, nullptr, nullptr)) || bstrName == nullptr)
            return L"(none)";
        std::wstring sName(bstrName);
        SysFreeString(bstrName);
        return sName;
    }

    static std::vector<std::wstring> NamesOf(ITypeInfo* pInfo, MEMBERID nMemberId)
    {
        BSTR aNames[16] = {};
        UINT nNames = 0;
        std::vector<std::wstring> vecNames;
        if (FAILED(pInfo->GetNames(nMemberId, aNames, 16, &nNames)))
            return vecNames;
        for (UINT i = 0; i < nNames; ++i)
        {
            vecNames.push_back(aNames[i] == nullptr ? L"(null)" : aNames[i]);
            SysFreeString(aNames[i]);
        }
        return vecNames;
    }

    static ITypeLib* s_pLib;
    GComRef<ITypeInfo> m_pInterface;
};

ITypeLib* TypeLibraryTest::s_pLib = nullptr;

TEST_F(TypeLibraryTest, LibraryCarriesItsIdVersionLocaleAndSystem)
{
    GLibAttr attr(s_pLib);
    ASSERT_EQ(S_OK, attr.Result());
    EXPECT_TRUE(IsEqualGUID(GuidOf(LIBID_TEXT), attr->guid));
    EXPECT_EQ(0x409u, attr->lcid);
    // The library is made for the module's own width.
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    EXPECT_EQ(0, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    // The loader marks every library read from a file; the library itself sets none.
    EXPECT_EQ(LIBFLAG_FHASDISKIMAGE, attr->wLibFlags);
}

TEST_F(TypeLibraryTest, LibraryIsNamedLHarbinetWithoutHelp)
{
    BSTR bstrName = nullptr;
    BSTR bstrDoc = nullptr;
    BSTR bstrHelpFile = nullptr;
    DWORD nHelpContext = 99;
    ASSERT_EQ(S_OK, s_pLib->GetDocumentation(-1, &bstrName, &bstrDoc, &nHelpContext, &bstrHelpFile));
    EXPECT_STREQ(L"LHarbinet", bstrName);
    EXPECT_EQ(0u, SysStringLen(bstrDoc));
    EXPECT_EQ(0u, SysStringLen(bstrHelpFile));
    EXPECT_EQ(0u, nHelpContext);
    SysFreeString(bstrName);
    SysFreeString(bstrDoc);
    SysFreeString(bstrHelpFile);
}

TEST_F(TypeLibraryTest, LibraryHoldsTheInterfaceAndTwoClasses)
{
    ASSERT_EQ(3u, s_pLib->GetTypeInfoCount());
    TYPEKIND nKind = TKIND_MAX;
    GComRef<ITypeInfo> pInfo;
    for (const wchar_t* szGuid : {IID_IHARBINET_TEXT, CLSID_HARBINET_TEXT, CLSID_DISTRIBUTED_TEXT})
    {
        EXPECT_EQ(S_OK, s_pLib->GetTypeInfoOfGuid(GuidOf(szGuid), &pInfo)) << szGuid;
    }
    int nInterfaces = 0;
    int nClasses = 0;
    for (UINT i = 0; i < 3; ++i)
    {
        ASSERT_EQ(S_OK, s_pLib->GetTypeInfoType(i, &nKind));
        nInterfaces += nKind == TKIND_INTERFACE;
        nClasses += nKind == TKIND_COCLASS;
    }
    EXPECT_EQ(1, nInterfaces);
    EXPECT_EQ(2, nClasses);
}

TEST_F(TypeLibraryTest, InterfaceIsDispatchableOnly)
{
    GTypeAttr attr(m_pInterface.Get());
    ASSERT_EQ(S_OK, attr.Result());
    EXPECT_TRUE(IsEqualGUID(GuidOf(IID_IHARBINET_TEXT), attr->guid));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    // Neither FDUAL (0x40) nor FOLEAUTOMATION (0x100).
    EXPECT_EQ(0x1000, attr->wTypeFlags);
    EXPECT_EQ(L"IHarbinet", NameOf(m_pInterface.Get(), MEMBERID_NIL));
}

TEST_F(TypeLibraryTest, InterfaceHasElevenOwnMembersAndEighteenSlots)
{
    GTypeAttr attr(m_pInterface.Get());
    ASSERT_EQ(S_OK, attr.Result());
    EXPECT_EQ(11, attr->cFuncs);
    EXPECT_EQ(0, attr->cVars);
    EXPECT_EQ(1, attr->cImplTypes);
    EXPECT_EQ(18 * sizeof(void*), attr->cbSizeVft);
}

TEST_F(TypeLibraryTest, InterfaceDerivesFromTheStandardIDispatch)
{
    HREFTYPE hRef = 0;
    ASSERT_EQ(S_OK, m_pInterface->GetRefTypeOfImplType(0, &hRef));
    GComRef<ITypeInfo> pBase;
    ASSERT_EQ(S_OK, m_pInterface->GetRefTypeInfo(hRef, &pBase));
    GTypeAttr attr(pBase.Get());
    ASSERT_EQ(S_OK, attr.Result());
    EXPECT_TRUE(IsEqualGUID(GuidOf(IID_IDISPATCH_TEXT), attr->guid));

    GComRef<ITypeLib> pBaseLib;
    UINT nIndex = 0;
    ASSERT_EQ(S_OK, pBase->GetContainingTypeLib(&pBaseLib, &nIndex));
    GLibAttr libAttr(pBaseLib.Get());
    ASSERT_EQ(S_OK, libAttr.Result());
    EXPECT_TRUE(IsEqualGUID(GuidOf(LIBID_STDOLE_TEXT), libAttr->guid));
}

TEST_F(TypeLibraryTest, MembersSitInTableOrderWithTheirDispids)
{
    for (UINT i = 0; i < EXPECTED_MEMBERS.size(); ++i)
    {
        const GMember& expected = EXPECTED_MEMBERS[i];
        GFuncDesc desc(m_pInterface.Get(), i);
        ASSERT_EQ(S_OK, desc.Result()) << "member " << i;
        SCOPED_TRACE(testing::Message() << "position " << 7 + i);
        EXPECT_EQ(expected.nMemberId, desc->memid);
        EXPECT_EQ(expected.nInvokeKind, desc->invkind);
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), desc->oVft);
        EXPECT_EQ(FUNC_PUREVIRTUAL, desc->funckind);
        EXPECT_EQ(CC_STDCALL, desc->callconv);
        EXPECT_EQ(VT_HRESULT, desc->elemdescFunc.tdesc.vt);
        EXPECT_EQ(0, desc->wFuncFlags);
        EXPECT_EQ(std::wstring(expected.szName), NameOf(m_pInterface.Get(), desc->memid));
    }
}

TEST_F(TypeLibraryTest, ParametersHaveTheirTypesAndDirections)
{
    for (UINT i = 0; i < EXPECTED_MEMBERS.size(); ++i)
    {
        const GMember& expected = EXPECTED_MEMBERS[i];
        GFuncDesc desc(m_pInterface.Get(), i);
        ASSERT_EQ(S_OK, desc.Result());
        SCOPED_TRACE(testing::Message() << "position " << 7 + i);
        ASSERT_EQ(static_cast<SHORT>(expected.vecParams.size()), desc->cParams);
        for (size_t j = 0; j < expected.vecParams.size(); ++j)
        {
            const GParam& param = expected.vecParams[j];
            const ELEMDESC& elem = desc->lprgelemdescParam[j];
            SCOPED_TRACE(testing::Message() << "parameter " << j);
            EXPECT_EQ(param.vt, elem.tdesc.vt);
            if (param.vt == VT_PTR)
            {
                ASSERT_NE(nullptr, elem.tdesc.lptdesc);
                EXPECT_EQ(param.vtPointee, elem.tdesc.lptdesc->vt);
            }
            EXPECT_EQ(param.nFlags, elem.paramdesc.wParamFlags);
        }
    }
}

TEST_F(TypeLibraryTest, OptionalParametersRecordZeroAndTheEmptyString)
{
    struct GDefault
    {
        UINT nFunction;
        UINT nParam;
        VARTYPE vt;
    };
    // Set's nTimeout, Noop's sName, Execute's sName and nTimeout.
    for (const GDefault& d : {GDefault{6, 2, VT_I4}, GDefault{9, 0, VT_BSTR}, GDefault{10, 1, VT_BSTR},
                              GDefault{10, 2, VT_I4}})
    {
        GFuncDesc desc(m_pInterface.Get(), d.nFunction);
        ASSERT_EQ(S_OK, desc.Result());
        SCOPED_TRACE(testing::Message() << "position " << 7 + d.nFunction << " parameter " << d.nParam);
        const PARAMDESC& param = desc->lprgelemdescParam[d.nParam].paramdesc;
        ASSERT_NE(nullptr, param.pparamdescex);
        const VARIANT& var = param.pparamdescex->varDefaultValue;
        ASSERT_EQ(d.vt, V_VT(&var));
        if (d.vt == VT_I4)
        {
            EXPECT_EQ(0, V_I4(&var));
        }
        else
        {
            EXPECT_EQ(0u, SysStringLen(V_BSTR(&var)));
        }
    }
}

TEST_F(TypeLibraryTest, MembersCarryTheirParameterNames)
{
    using GNames = std::vector<std::wstring>;
    EXPECT_EQ((GNames{L"Open", L"sURL"}), NamesOf(m_pInterface.Get(), 0x60020002));
    EXPECT_EQ((GNames{L"Close"}), NamesOf(m_pInterface.Get(), 0x60020003));
    EXPECT_EQ((GNames{L"Set", L"sName", L"pValue", L"nTimeout", L"pSet"}), NamesOf(m_pInterface.Get(), 0x60020006));
    EXPECT_EQ((GNames{L"Get", L"sName", L"pValue", L"pFound"}), NamesOf(m_pInterface.Get(), 0x60020007));
    EXPECT_EQ((GNames{L"Delete", L"sName"}), NamesOf(m_pInterface.Get(), 0x60020008));
    EXPECT_EQ((GNames{L"Noop", L"sName"}), NamesOf(m_pInterface.Get(), 0x60020009));
    EXPECT_EQ((GNames{L"Execute", L"pCommand", L"sName", L"nTimeout", L"ppRecordset"}),
              NamesOf(m_pInterface.Get(), 0x6002000A));
}

// The names of a property are those of its first accessor, the put, whose assigned
// value has no name of its own.
TEST_F(TypeLibraryTest, PropertiesNameTheirKeyButNotTheAssignedValue)
{
    using GNames = std::vector<std::wstring>;
    EXPECT_EQ((GNames{L"Item", L"pName"}), NamesOf(m_pInterface.Get(), 0));
    EXPECT_EQ((GNames{L"Cookie"}), NamesOf(m_pInterface.Get(), 0x60020004));
}

TEST_F(TypeLibraryTest, MembersHaveNoHelpText)
{
    for (UINT i = 0; i < EXPECTED_MEMBERS.size(); ++i)
    {
        GFuncDesc desc(m_pInterface.Get(), i);
        ASSERT_EQ(S_OK, desc.Result());
        BSTR bstrDoc = nullptr;
        DWORD nHelpContext = 99;
        ASSERT_EQ(S_OK, m_pInterface->GetDocumentation(desc->memid, nullptr, &bstrDoc, &nHelpContext, nullptr));
        EXPECT_EQ(0u, SysStringLen(bstrDoc)) << "position " << 7 + i;
        EXPECT_EQ(0u, nHelpContext) << "position " << 7 + i;
        SysFreeString(bstrDoc);
    }
}

TEST_F(TypeLibraryTest, BothClassesAreCreatableWithIHarbinetAsDefault)
{
    struct GClass
    {
        const wchar_t* szClsid;
        const wchar_t* szName;
    };
    for (const GClass& c : {GClass{CLSID_HARBINET_TEXT, L"Harbinet"}, GClass{CLSID_DISTRIBUTED_TEXT, L"Harbinet_Distributed"}})
    {
        SCOPED_TRACE(testing::Message() << c.szName);
        GComRef<ITypeInfo> pClass;
        ASSERT_EQ(S_OK, s_pLib->GetTypeInfoOfGuid(GuidOf(c.szClsid), &pClass));
        {
            GTypeAttr attr(pClass.Get());
            ASSERT_EQ(S_OK, attr.Result());
            EXPECT_EQ(TKIND_COCLASS, attr->typekind);
            EXPECT_EQ(TYPEFLAG_FCANCREATE, attr->wTypeFlags);
            EXPECT_EQ(1, attr->cImplTypes);
            EXPECT_TRUE(IsEqualGUID(GuidOf(c.szClsid), attr->guid));
        }
        EXPECT_EQ(c.szName, NameOf(pClass.Get(), MEMBERID_NIL));

        INT nImplFlags = 0;
        ASSERT_EQ(S_OK, pClass->GetImplTypeFlags(0, &nImplFlags));
        EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, nImplFlags);
        HREFTYPE hRef = 0;
        ASSERT_EQ(S_OK, pClass->GetRefTypeOfImplType(0, &hRef));
        GComRef<ITypeInfo> pImplemented;
        ASSERT_EQ(S_OK, pClass->GetRefTypeInfo(hRef, &pImplemented));
        GTypeAttr attr(pImplemented.Get());
        ASSERT_EQ(S_OK, attr.Result());
        EXPECT_TRUE(IsEqualGUID(GuidOf(IID_IHARBINET_TEXT), attr->guid));
    }
}

// The module's own loader, run here on the module files: the one with its library gives
// the IHarbinet description, the one without gives nothing.
TEST_F(TypeLibraryTest, ModuleLoaderFindsIHarbinetInTheModuleFile)
{
    const std::wstring sPath = GHarbinetModule::Instance().Path();
    ASSERT_TRUE(LoadTypeDescription(sPath.c_str()));
    ASSERT_NE(nullptr, g_pTI_IHarbinet);
    {
        GTypeAttr attr(g_pTI_IHarbinet);
        ASSERT_EQ(S_OK, attr.Result());
        EXPECT_TRUE(IsEqualGUID(GuidOf(IID_IHARBINET_TEXT), attr->guid));
    }
    ReleaseTypeDescription();
    EXPECT_EQ(nullptr, g_pTI_IHarbinet);
}

TEST_F(TypeLibraryTest, ModuleLoaderFindsNothingInAFileWithoutLibrary)
{
    std::wstring sPath = GHarbinetModule::Instance().Path();
    sPath = sPath.substr(0, sPath.find_last_of(L"\\/") + 1) + L"harbinet_notlb.dll";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(sPath.c_str()));
    EXPECT_FALSE(LoadTypeDescription(sPath.c_str()));
    EXPECT_EQ(nullptr, g_pTI_IHarbinet);
}
}
