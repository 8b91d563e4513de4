// The object frame of both classes: interface queries, reference counts and the type description.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include "tests/dispatch/type_info_holders.h"
#include "tests/module/module_count.h"
#include "tests/support/harbinet_module.h"

namespace
{
const wchar_t* const IID_IHARBINET_TEXT = L"{3C247946-3C6F-4710-9DDE-98DDA2D535A1}";
const wchar_t* const IID_IDISPATCH_TEXT = L"{00020400-0000-0000-C000-000000000046}";
const wchar_t* const IID_IUNKNOWN_TEXT = L"{00000000-0000-0000-C000-000000000046}";

// Every case runs on an object of each class.
class ObjectFrameTest : public testing::TestWithParam<const CLSID*>
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
        m_pObject = GHarbinetModule::Instance().Create(*GetParam());
        ASSERT_NE(nullptr, m_pObject);
    }

    void TearDown() override
    {
        if (m_pObject != nullptr)
        {
            EXPECT_EQ(0u, m_pObject->Release());
        }
        EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    }

    // The object's reference count, read without changing it.
    ULONG References() const
    {
        m_pObject->AddRef();
        return m_pObject->Release();
    }

    IHarbinet* m_pObject = nullptr;
};

TEST_P(ObjectFrameTest, NewObjectHasOneReference)
{
    EXPECT_EQ(1u, References());
}

TEST_P(ObjectFrameTest, UnknownDispatchAndIHarbinetAreTheSameObject)
{
    void* pUnknown = nullptr;
    void* pDispatch = nullptr;
    void* pHarbinet = nullptr;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(GuidOf(IID_IUNKNOWN_TEXT), &pUnknown));
    EXPECT_EQ(2u, References());
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(GuidOf(IID_IDISPATCH_TEXT), &pDispatch));
    EXPECT_EQ(3u, References());
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(GuidOf(IID_IHARBINET_TEXT), &pHarbinet));
    EXPECT_EQ(4u, References());
    EXPECT_EQ(static_cast<void*>(m_pObject), pUnknown);
    EXPECT_EQ(static_cast<void*>(m_pObject), pDispatch);
    EXPECT_EQ(static_cast<void*>(m_pObject), pHarbinet);
    EXPECT_EQ(3u, static_cast<IUnknown*>(pUnknown)->Release());
    EXPECT_EQ(2u, static_cast<IUnknown*>(pDispatch)->Release());
    EXPECT_EQ(1u, static_cast<IUnknown*>(pHarbinet)->Release());
}

TEST_P(ObjectFrameTest, QueryThroughAnotherInterfaceGivesTheSameObject)
{
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
    IUnknown* pUnknown = nullptr;
    ASSERT_EQ(S_OK, pDispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnknown)));
    EXPECT_EQ(static_cast<IUnknown*>(m_pObject), pUnknown);
    EXPECT_EQ(3u, References());
    pUnknown->Release();
    pDispatch->Release();
}

TEST_P(ObjectFrameTest, OtherInterfacesAreRefused)
{
    const IID aRefused[] = {IID_ISupportErrorInfo, IID_IProvideClassInfo, IID_IProvideClassInfo2,
                            IID_IConnectionPointContainer, IID_IConnectionPoint,
                            GuidOf(L"{A6EF9860-C720-11D0-9337-00A0C90DCAA9}"),   // IDispatchEx
                            IID_IClassFactory, IID_IPersist, IID_IPersistStream, IID_ITypeInfo,
                            IID_IMarshal, IID_IErrorInfo, IID_NULL};
    for (const IID& iid : aRefused)
    {
        void* pv = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(E_NOINTERFACE, m_pObject->QueryInterface(iid, &pv)) << std::hex << iid.Data1;
        EXPECT_EQ(nullptr, pv) << std::hex << iid.Data1;
    }
    EXPECT_EQ(1u, References());
}

TEST_P(ObjectFrameTest, AddRefAndReleaseReturnTheNewCount)
{
    EXPECT_EQ(2u, m_pObject->AddRef());
    EXPECT_EQ(3u, m_pObject->AddRef());
    EXPECT_EQ(2u, m_pObject->Release());
    EXPECT_EQ(1u, m_pObject->Release());
}

TEST_P(ObjectFrameTest, LastReleaseLowersTheModuleCountByOne)
{
    const LONG nWithOne = ModuleCount();
    EXPECT_EQ(1, nWithOne);
    IHarbinet* pSecond = GHarbinetModule::Instance().Create(*GetParam());
    ASSERT_NE(nullptr, pSecond);
    EXPECT_EQ(nWithOne + 1, ModuleCount());
    pSecond->AddRef();
    EXPECT_EQ(1u, pSecond->Release());
    EXPECT_EQ(nWithOne + 1, ModuleCount());
    EXPECT_EQ(0u, pSecond->Release());
    EXPECT_EQ(nWithOne, ModuleCount());
    EXPECT_EQ(S_FALSE, GHarbinetModule::Instance().CanUnloadNow());
}

TEST_P(ObjectFrameTest, HasOneTypeDescription)
{
    UINT nCount = 7;
    EXPECT_EQ(S_OK, m_pObject->GetTypeInfoCount(&nCount));
    EXPECT_EQ(1u, nCount);
}

TEST_P(ObjectFrameTest, TypeDescriptionIsIHarbinetForAnyIndexAndLocale)
{
    GComRef<ITypeInfo> pFirst;
    ASSERT_EQ(S_OK, m_pObject->GetTypeInfo(0, 0x409, &pFirst));
    ASSERT_NE(nullptr, pFirst.Get());
    {
        GTypeAttr attr(pFirst.Get());
        ASSERT_EQ(S_OK, attr.Result());
        EXPECT_TRUE(IsEqualGUID(GuidOf(IID_IHARBINET_TEXT), attr->guid));
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    }
    GComRef<ITypeInfo> pFifth;
    ASSERT_EQ(S_OK, m_pObject->GetTypeInfo(5, 0x407, &pFifth));
    EXPECT_EQ(pFirst.Get(), pFifth.Get());
    EXPECT_EQ(1u, References());
}

TEST_P(ObjectFrameTest, BothClassesShareOneTypeDescription)
{
    IHarbinet* pOther = GHarbinetModule::Instance().Create(
        IsEqualGUID(*GetParam(), CLSID_Harbinet) ? CLSID_Harbinet_Distributed : CLSID_Harbinet);
    ASSERT_NE(nullptr, pOther);
    GComRef<ITypeInfo> pMine;
    GComRef<ITypeInfo> pTheirs;
    EXPECT_EQ(S_OK, m_pObject->GetTypeInfo(0, 0, &pMine));
    EXPECT_EQ(S_OK, pOther->GetTypeInfo(0, 0, &pTheirs));
    EXPECT_EQ(pMine.Get(), pTheirs.Get());
    EXPECT_EQ(0u, pOther->Release());
}

TEST_P(ObjectFrameTest, TypeDescriptionOutlivesTheObject)
{
    GComRef<ITypeInfo> pInfo;
    ASSERT_EQ(S_OK, m_pObject->GetTypeInfo(0, 0, &pInfo));
    EXPECT_EQ(0u, m_pObject->Release());
    m_pObject = nullptr;
    GTypeAttr attr(pInfo.Get());
    ASSERT_EQ(S_OK, attr.Result());
    EXPECT_TRUE(IsEqualGUID(GuidOf(IID_IHARBINET_TEXT), attr->guid));
}

INSTANTIATE_TEST_SUITE_P(BothClasses, ObjectFrameTest, testing::Values(&CLSID_Harbinet, &CLSID_Harbinet_Distributed),
                         [](const testing::TestParamInfo<const CLSID*>& info) {
                             return IsEqualGUID(*info.param, CLSID_Harbinet) ? std::string("Harbinet")
                                                                             : std::string("Distributed");
                         });
}
