// Class objects, object creation, the module count, and a module file without its type library.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <string>

#include "tests/module/module_count.h"
#include "tests/support/harbinet_module.h"

namespace
{
GUID GuidOf(const wchar_t* szGuid)
{
    GUID guid = {};
    IIDFromString(const_cast<LPOLESTR>(szGuid), &guid);
    return guid;
}

const GUID CLSID_HARBINET_EXPECTED = GuidOf(L"{8C812366-4C56-400A-AB1A-9AB2B3FB8DC6}");
const GUID CLSID_DISTRIBUTED_EXPECTED = GuidOf(L"{2A4B9357-34BB-4C78-884F-A7B3F67C1A95}");
const GUID IID_IHARBINET_EXPECTED = GuidOf(L"{3C247946-3C6F-4710-9DDE-98DDA2D535A1}");

void* const UNTOUCHED = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5A));

class ClassObjectTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(S_OK, Module().CanUnloadNow()); }
    void TearDown() override { EXPECT_EQ(S_OK, Module().CanUnloadNow()); }

    static GHarbinetModule& Module() { return GHarbinetModule::Instance(); }

    // The class object for a class id, as IClassFactory; the caller releases it.
    static IClassFactory* ClassObject(REFCLSID rclsid)
    {
        void* pv = nullptr;
        if (Module().GetClassObject(rclsid, IID_IClassFactory, &pv) != S_OK)
            return nullptr;
        return static_cast<IClassFactory*>(pv);
    }

    // The class object that a class name chooses with CLSID_NULL; S_OK or the failure.
    static HRESULT ClassObjectByName(const wchar_t* szName, void** ppv)
    {
        *ppv = const_cast<wchar_t*>(szName);
        return Module().GetClassObject(CLSID_NULL, IID_IClassFactory, ppv);
    }

    // Whether a class name chooses the same class object as the class id does.
    static ::testing::AssertionResult NameChooses(const wchar_t* szName, REFCLSID rclsid)
    {
        IClassFactory* pExpected = ClassObject(rclsid);
        void* pv = nullptr;
        const HRESULT hr = ClassObjectByName(szName, &pv);
        const bool bSame = hr == S_OK && pv == pExpected;
        if (hr == S_OK)
            static_cast<IUnknown*>(pv)->Release();
        if (pExpected != nullptr)
            pExpected->Release();
        if (bSame)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "hr " << std::hex << hr << ", class object " << pv;
    }
};

TEST_F(ClassObjectTest, CreatesBothClassesAndReturnsToIdle)
{
    IHarbinet* pHarbinet = Module().CreateHarbinet();
    IHarbinet* pDistributed = Module().CreateDistributed();
    ASSERT_NE(nullptr, pHarbinet);
    ASSERT_NE(nullptr, pDistributed);
    EXPECT_EQ(S_FALSE, Module().CanUnloadNow());
    EXPECT_EQ(2, ModuleCount());
    EXPECT_EQ(0u, pHarbinet->Release());
    EXPECT_EQ(1, ModuleCount());
    EXPECT_EQ(0u, pDistributed->Release());
    EXPECT_EQ(0, ModuleCount());
}

TEST_F(ClassObjectTest, EachClassIdHasItsOwnLastingClassObject)
{
    IClassFactory* pHarbinet = ClassObject(CLSID_HARBINET_EXPECTED);
    IClassFactory* pDistributed = ClassObject(CLSID_DISTRIBUTED_EXPECTED);
    IClassFactory* pHarbinetAgain = ClassObject(CLSID_HARBINET_EXPECTED);
    ASSERT_NE(nullptr, pHarbinet);
    ASSERT_NE(nullptr, pDistributed);
    EXPECT_NE(pHarbinet, pDistributed);
    EXPECT_EQ(pHarbinet, pHarbinetAgain);
    pHarbinetAgain->Release();
    pDistributed->Release();
    pHarbinet->Release();
}

TEST_F(ClassObjectTest, NullClassIdWithNullOrEmptyNameChoosesHarbinet)
{
    EXPECT_TRUE(NameChooses(nullptr, CLSID_HARBINET_EXPECTED));
    EXPECT_TRUE(NameChooses(L"", CLSID_HARBINET_EXPECTED));
}

TEST_F(ClassObjectTest, NullClassIdWithAProgIdChoosesItsClass)
{
    EXPECT_TRUE(NameChooses(L"Harbinet", CLSID_HARBINET_EXPECTED));
    EXPECT_TRUE(NameChooses(L"Harbinet.Distributed", CLSID_DISTRIBUTED_EXPECTED));
}

TEST_F(ClassObjectTest, NullClassIdWithAnyOtherNameIsNotAvailable)
{
    for (const wchar_t* szName : {L"harbinet.distributed", L"HARBINET.DISTRIBUTED", L"Harbinet.distributed",
                                  L"harbinet", L"Harbinet ", L" Harbinet", L"Harbinet_Distributed", L"Harbinet.Distributed.1",
                                  L"Harbinet.Distribute", L"{8C812366-4C56-400A-AB1A-9AB2B3FB8DC6}", L"Orrisdale"})
    {
        void* pv = nullptr;
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ClassObjectByName(szName, &pv)) << szName;
        EXPECT_EQ(static_cast<const void*>(szName), pv) << szName;
    }
}

TEST_F(ClassObjectTest, UnknownClassIdIsNotAvailable)
{
    for (const GUID& clsid : {GuidOf(L"{8C812366-4C56-400A-AB1A-9AB2B3FB8DC7}"), IID_IHARBINET_EXPECTED,
                              GuidOf(L"{FBB7E7E0-704D-4B54-9C99-5037698FD304}"), IID_IUnknown})
    {
        void* pv = UNTOUCHED;
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Module().GetClassObject(clsid, IID_IClassFactory, &pv));
        EXPECT_EQ(UNTOUCHED, pv);
    }
}

TEST_F(ClassObjectTest, ClassObjectAnswersUnknownAndClassFactoryAsItself)
{
    void* pUnknown = nullptr;
    ASSERT_EQ(S_OK, Module().GetClassObject(CLSID_HARBINET_EXPECTED, IID_IUnknown, &pUnknown));
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, static_cast<IUnknown*>(pUnknown)->QueryInterface(IID_IClassFactory,
                                                                        reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(pUnknown, static_cast<void*>(pFactory));
    EXPECT_EQ(2, ModuleCount());
    pFactory->Release();
    static_cast<IUnknown*>(pUnknown)->Release();
}

TEST_F(ClassObjectTest, OtherInterfacesOfTheClassObjectAreRefused)
{
    for (REFCLSID rclsid : {CLSID_HARBINET_EXPECTED, CLSID_DISTRIBUTED_EXPECTED})
    {
        for (const IID& iid : {IID_IDispatch, IID_IHARBINET_EXPECTED, IID_IClassFactory2, IID_IMarshal, IID_NULL})
        {
            void* pv = UNTOUCHED;
            EXPECT_EQ(E_NOINTERFACE, Module().GetClassObject(rclsid, iid, &pv)) << std::hex << iid.Data1;
            EXPECT_EQ(nullptr, pv);
            EXPECT_EQ(0, ModuleCount());
        }
    }
}

TEST_F(ClassObjectTest, HeldClassObjectKeepsTheModuleInUse)
{
    IClassFactory* pFactory = ClassObject(CLSID_DISTRIBUTED_EXPECTED);
    ASSERT_NE(nullptr, pFactory);
    EXPECT_EQ(S_FALSE, Module().CanUnloadNow());
    EXPECT_EQ(0u, pFactory->Release());
    EXPECT_EQ(S_OK, Module().CanUnloadNow());
}

TEST_F(ClassObjectTest, ClassObjectAddRefAndReleaseReturnTheModuleCount)
{
    IClassFactory* pHarbinet = ClassObject(CLSID_HARBINET_EXPECTED);
    IClassFactory* pDistributed = ClassObject(CLSID_DISTRIBUTED_EXPECTED);
    ASSERT_NE(nullptr, pHarbinet);
    ASSERT_NE(nullptr, pDistributed);
    // Both class objects count into the one module count.
    EXPECT_EQ(3u, pHarbinet->AddRef());
    EXPECT_EQ(4u, pDistributed->AddRef());
    EXPECT_EQ(3u, pHarbinet->Release());
    EXPECT_EQ(2u, pHarbinet->Release());
    EXPECT_EQ(1u, pDistributed->Release());
    EXPECT_EQ(S_FALSE, Module().CanUnloadNow());
    EXPECT_EQ(0u, pDistributed->Release());
}

TEST_F(ClassObjectTest, LockServerDoesNotKeepTheModuleInUse)
{
    IClassFactory* pFactory = ClassObject(CLSID_HARBINET_EXPECTED);
    ASSERT_NE(nullptr, pFactory);
    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    EXPECT_EQ(1, ModuleCount());
    EXPECT_EQ(0u, pFactory->Release());
    EXPECT_EQ(S_OK, Module().CanUnloadNow());

    pFactory = ClassObject(CLSID_HARBINET_EXPECTED);
    ASSERT_NE(nullptr, pFactory);
    EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
    EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
    EXPECT_EQ(1, ModuleCount());
    EXPECT_EQ(0u, pFactory->Release());
}

TEST_F(ClassObjectTest, AggregationIsRefusedAndCreatesNothing)
{
    IHarbinet* pOuter = Module().CreateHarbinet();
    ASSERT_NE(nullptr, pOuter);
    for (REFCLSID rclsid : {CLSID_HARBINET_EXPECTED, CLSID_DISTRIBUTED_EXPECTED})
    {
        IClassFactory* pFactory = ClassObject(rclsid);
        ASSERT_NE(nullptr, pFactory);
        EXPECT_EQ(2, ModuleCount());
        void* pv = nullptr;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, pFactory->CreateInstance(pOuter, IID_IUnknown, &pv));
        EXPECT_EQ(2, ModuleCount());
        EXPECT_EQ(1u, pFactory->Release());
    }
    EXPECT_EQ(0u, pOuter->Release());
}

TEST_F(ClassObjectTest, CreatingForAMissingInterfaceLeavesTheCountWhereItWas)
{
    for (REFCLSID rclsid : {CLSID_HARBINET_EXPECTED, CLSID_DISTRIBUTED_EXPECTED})
    {
        IClassFactory* pFactory = ClassObject(rclsid);
        ASSERT_NE(nullptr, pFactory);
        for (const IID& iid : {IID_ISupportErrorInfo, IID_IClassFactory, IID_IProvideClassInfo})
        {
            void* pv = UNTOUCHED;
            EXPECT_EQ(E_NOINTERFACE, pFactory->CreateInstance(nullptr, iid, &pv)) << std::hex << iid.Data1;
            EXPECT_EQ(nullptr, pv);
            EXPECT_EQ(1, ModuleCount());
        }
        EXPECT_EQ(0u, pFactory->Release());
    }
}

TEST_F(ClassObjectTest, CreatesForEachInterfaceOfTheObject)
{
    for (REFCLSID rclsid : {CLSID_HARBINET_EXPECTED, CLSID_DISTRIBUTED_EXPECTED})
    {
        IClassFactory* pFactory = ClassObject(rclsid);
        ASSERT_NE(nullptr, pFactory);
        for (const IID& iid : {IID_IUnknown, IID_IDispatch, IID_IHARBINET_EXPECTED})
        {
            void* pv = nullptr;
            ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, iid, &pv)) << std::hex << iid.Data1;
            EXPECT_EQ(2, ModuleCount());
            // Creation's own reference is gone: the caller holds the only one.
            EXPECT_EQ(0u, static_cast<IUnknown*>(pv)->Release());
            EXPECT_EQ(1, ModuleCount());
        }
        EXPECT_EQ(0u, pFactory->Release());
    }
}

TEST_F(ClassObjectTest, ModuleWithoutTypeLibraryRefusesToLoad)
{
    std::wstring sPath = Module().Path();
    sPath = sPath.substr(0, sPath.find_last_of(L"\\/") + 1) + L"harbinet_notlb.dll";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(sPath.c_str())) << "not built next to harbinet.dll";
    SetLastError(0);
    HMODULE hModule = LoadLibraryW(sPath.c_str());
    EXPECT_EQ(nullptr, hModule);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), GetLastError());
    if (hModule != nullptr)
        FreeLibrary(hModule);

    // The refusal touched nothing of the module that did load.
    IHarbinet* pObject = Module().CreateHarbinet();
    ASSERT_NE(nullptr, pObject);
    EXPECT_EQ(0u, pObject->Release());
}
}
