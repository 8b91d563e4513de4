// DllRegisterServer and DllUnregisterServer against the registry of the wine prefix.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/module/registry_tree.h"
#include "tests/support/harbinet_module.h"

namespace
{
const wchar_t* const PROGID_HARBINET = L"Harbinet";
const wchar_t* const PROGID_DISTRIBUTED = L"Harbinet.Distributed";
const wchar_t* const CLASS_KEY_HARBINET = L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}";
const wchar_t* const CLASS_KEY_DISTRIBUTED = L"{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}";

using GLines = std::vector<std::wstring>;

// Listings come sorted; so do the expectations, whatever order they are written in.
GLines Sorted(GLines vecLines)
{
    std::sort(vecLines.begin(), vecLines.end());
    return vecLines;
}

GLines ProgIdLines(const wchar_t* szProgId, const wchar_t* szClassKey)
{
    return Sorted({std::wstring(szProgId), std::wstring(szProgId) + L"\\CLSID",
                   std::wstring(szProgId) + L"\\CLSID|@=REG_SZ:" + szClassKey + L"\\0"});
}

GLines ClassKeyLines(const wchar_t* szClassKey, const wchar_t* szProgId, const std::wstring& sPath)
{
    const std::wstring sKey(szClassKey);
    return Sorted({sKey, sKey + L"|@=REG_SZ:" + szProgId + L"\\0", sKey + L"\\InProcServer32",
                   sKey + L"\\InProcServer32|@=REG_SZ:" + sPath + L"\\0",
                   sKey + L"\\InProcServer32|ThreadingModel=REG_SZ:Apartment\\0"});
}

// Everything that registration may touch below HKEY_CLASSES_ROOT, with the registry
// as it was before the test put back afterwards: the script tests share this registry.
class RegistrationTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS, &m_hClsid));
        m_savedProgId = ReadRegTree(HKEY_CLASSES_ROOT, PROGID_HARBINET);
        m_savedProgIdDistributed = ReadRegTree(HKEY_CLASSES_ROOT, PROGID_DISTRIBUTED);
        m_savedClass = ReadRegTree(m_hClsid, CLASS_KEY_HARBINET);
        m_savedClassDistributed = ReadRegTree(m_hClsid, CLASS_KEY_DISTRIBUTED);
        ClearAll();
        ASSERT_TRUE(IsHarbinetAbsent());
        ASSERT_TRUE(IsDistributedAbsent());
    }

    void TearDown() override
    {
        ClearAll();
        for (const std::optional<GRegTree>* pSaved : {&m_savedProgId, &m_savedProgIdDistributed})
        {
            if (*pSaved)
            {
                EXPECT_TRUE(WriteRegTree(HKEY_CLASSES_ROOT, **pSaved));
            }
        }
        for (const std::optional<GRegTree>* pSaved : {&m_savedClass, &m_savedClassDistributed})
        {
            if (*pSaved)
            {
                EXPECT_TRUE(WriteRegTree(m_hClsid, **pSaved));
            }
        }
        RegCloseKey(m_hClsid);
        EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    }

    void ClearAll()
    {
        EXPECT_TRUE(DeleteRegTree(HKEY_CLASSES_ROOT, PROGID_HARBINET));
        EXPECT_TRUE(DeleteRegTree(HKEY_CLASSES_ROOT, PROGID_DISTRIBUTED));
        EXPECT_TRUE(DeleteRegTree(m_hClsid, CLASS_KEY_HARBINET));
        EXPECT_TRUE(DeleteRegTree(m_hClsid, CLASS_KEY_DISTRIBUTED));
    }

    GLines HarbinetLines() const
    {
        GLines vecLines = ListRegTree(HKEY_CLASSES_ROOT, PROGID_HARBINET);
        const GLines vecClass = ListRegTree(m_hClsid, CLASS_KEY_HARBINET);
        vecLines.insert(vecLines.end(), vecClass.begin(), vecClass.end());
        return Sorted(vecLines);
    }

    GLines DistributedLines() const
    {
        GLines vecLines = ListRegTree(HKEY_CLASSES_ROOT, PROGID_DISTRIBUTED);
        const GLines vecClass = ListRegTree(m_hClsid, CLASS_KEY_DISTRIBUTED);
        vecLines.insert(vecLines.end(), vecClass.begin(), vecClass.end());
        return Sorted(vecLines);
    }

    static GLines ExpectedHarbinet(const std::wstring& sPath)
    {
        GLines vecLines = ProgIdLines(PROGID_HARBINET, CLASS_KEY_HARBINET);
        const GLines vecClass = ClassKeyLines(CLASS_KEY_HARBINET, PROGID_HARBINET, sPath);
        vecLines.insert(vecLines.end(), vecClass.begin(), vecClass.end());
        return Sorted(vecLines);
    }

    static GLines ExpectedDistributed(const std::wstring& sPath)
    {
        GLines vecLines = ProgIdLines(PROGID_DISTRIBUTED, CLASS_KEY_DISTRIBUTED);
        const GLines vecClass = ClassKeyLines(CLASS_KEY_DISTRIBUTED, PROGID_DISTRIBUTED, sPath);
        vecLines.insert(vecLines.end(), vecClass.begin(), vecClass.end());
        return Sorted(vecLines);
    }

    bool IsHarbinetAbsent() const { return HarbinetLines().empty(); }
    bool IsDistributedAbsent() const { return DistributedLines().empty(); }

    static std::wstring ModulePath() { return GHarbinetModule::Instance().Path(); }

    HKEY m_hClsid = nullptr;

private:
    std::optional<GRegTree> m_savedProgId;
    std::optional<GRegTree> m_savedProgIdDistributed;
    std::optional<GRegTree> m_savedClass;
    std::optional<GRegTree> m_savedClassDistributed;
};

TEST_F(RegistrationTest, RegisterWritesExactlyTheEntriesOfBothClasses)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    EXPECT_EQ(ExpectedHarbinet(ModulePath()), HarbinetLines());
    EXPECT_EQ(ExpectedDistributed(ModulePath()), DistributedLines());
}

TEST_F(RegistrationTest, RegisteredKeyNamesKeepTheirLetterCase)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    EXPECT_EQ(L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}", StoredKeyName(m_hClsid, CLASS_KEY_HARBINET).value_or(L"(none)"));
    EXPECT_EQ(L"{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}", StoredKeyName(m_hClsid, CLASS_KEY_DISTRIBUTED).value_or(L"(none)"));
    EXPECT_EQ(L"Harbinet", StoredKeyName(HKEY_CLASSES_ROOT, PROGID_HARBINET).value_or(L"(none)"));
    EXPECT_EQ(L"Harbinet.Distributed", StoredKeyName(HKEY_CLASSES_ROOT, PROGID_DISTRIBUTED).value_or(L"(none)"));
}

TEST_F(RegistrationTest, RegisteringTwiceOverwritesTheValues)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    HKEY hServer = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(m_hClsid, L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\\InProcServer32", 0,
                                           KEY_SET_VALUE, &hServer));
    const wchar_t szStale[] = L"C:\\old\\harbinet.dll";
    const wchar_t szBoth[] = L"Both";
    RegSetValueExW(hServer, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(szStale), sizeof(szStale));
    RegSetValueExW(hServer, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(szBoth), sizeof(szBoth));
    RegCloseKey(hServer);

    EXPECT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    EXPECT_EQ(ExpectedHarbinet(ModulePath()), HarbinetLines());
    EXPECT_EQ(ExpectedDistributed(ModulePath()), DistributedLines());
}

TEST_F(RegistrationTest, RegisterThenUnregisterRemovesEveryEntryAndNoOther)
{
    // A neighbour below CLSID that only differs in its last digit.
    const wchar_t* szNeighbour = L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC7}";
    HKEY hNeighbour = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_hClsid, szNeighbour, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &hNeighbour, nullptr));
    RegCloseKey(hNeighbour);

    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    EXPECT_EQ(S_OK, GHarbinetModule::Instance().UnregisterServer());
    EXPECT_EQ(GLines{}, HarbinetLines());
    EXPECT_EQ(GLines{}, DistributedLines());
    EXPECT_EQ(GLines{std::wstring(szNeighbour)}, ListRegTree(m_hClsid, szNeighbour));
    EXPECT_TRUE(DeleteRegTree(m_hClsid, szNeighbour));
}

TEST_F(RegistrationTest, UnregisterWithNothingRegisteredFailsAndChangesNothing)
{
    EXPECT_EQ(E_FAIL, GHarbinetModule::Instance().UnregisterServer());
    EXPECT_EQ(GLines{}, HarbinetLines());
    EXPECT_EQ(GLines{}, DistributedLines());
}

TEST_F(RegistrationTest, UnregisterWithOnlyDistributedRegisteredFailsAndKeepsIt)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    ASSERT_TRUE(DeleteRegTree(HKEY_CLASSES_ROOT, PROGID_HARBINET));
    ASSERT_TRUE(DeleteRegTree(m_hClsid, CLASS_KEY_HARBINET));

    EXPECT_EQ(E_FAIL, GHarbinetModule::Instance().UnregisterServer());
    EXPECT_EQ(GLines{}, HarbinetLines());
    EXPECT_EQ(ExpectedDistributed(ModulePath()), DistributedLines());
}

TEST_F(RegistrationTest, ProgIdWithAnotherSubkeyLosesOnlyItsClsidSubkey)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    HKEY hExtra = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Harbinet\\CurVer", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &hExtra, nullptr));
    RegCloseKey(hExtra);

    EXPECT_EQ(E_FAIL, GHarbinetModule::Instance().UnregisterServer());
    EXPECT_EQ((GLines{L"Harbinet", L"Harbinet\\CurVer"}), ListRegTree(HKEY_CLASSES_ROOT, PROGID_HARBINET));
    EXPECT_EQ(ClassKeyLines(CLASS_KEY_HARBINET, PROGID_HARBINET, ModulePath()), ListRegTree(m_hClsid, CLASS_KEY_HARBINET));
    // The run ended with the first class: the second is still registered.
    EXPECT_EQ(ExpectedDistributed(ModulePath()), DistributedLines());
}

TEST_F(RegistrationTest, ClassIdKeyWithAnotherSubkeyStaysWithoutItsServer)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    HKEY hExtra = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_hClsid, L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\\Implemented Categories",
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hExtra, nullptr));
    RegCloseKey(hExtra);

    EXPECT_EQ(E_FAIL, GHarbinetModule::Instance().UnregisterServer());
    EXPECT_EQ(GLines{}, ListRegTree(HKEY_CLASSES_ROOT, PROGID_HARBINET));
    EXPECT_EQ((GLines{L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}",
                      L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\\Implemented Categories",
                      L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}|@=REG_SZ:Harbinet\\0"}),
              ListRegTree(m_hClsid, CLASS_KEY_HARBINET));
    EXPECT_EQ(ExpectedDistributed(ModulePath()), DistributedLines());
}

TEST_F(RegistrationTest, RegisteredClassesAreFoundByProgIdAndCreated)
{
    ASSERT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Harbinet.Distributed", &clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_Harbinet_Distributed, clsid));
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Harbinet", &clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_Harbinet, clsid));

    IDispatch* pObject = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&pObject)));
    EXPECT_EQ(S_FALSE, GHarbinetModule::Instance().CanUnloadNow());
    EXPECT_EQ(0u, pObject->Release());
}

// The module's own copy under another name in another folder writes its own path.
TEST_F(RegistrationTest, RegisteringAMovedModuleWritesItsNewPath)
{
    wchar_t szTemp[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, szTemp));
    const std::wstring sFolder = std::wstring(szTemp) + L"harbinet-moved-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring sCopy = sFolder + L"\\moved_harbinet.dll";
    ASSERT_TRUE(CreateDirectoryW(sFolder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileW(ModulePath().c_str(), sCopy.c_str(), FALSE));

    HMODULE hCopy = LoadLibraryW(sCopy.c_str());
    ASSERT_NE(nullptr, hCopy);
    EXPECT_NE(GHarbinetModule::Instance().Handle(), hCopy);
    wchar_t szLoaded[MAX_PATH] = {};
    GetModuleFileNameW(hCopy, szLoaded, MAX_PATH);
    EXPECT_EQ(CSTR_EQUAL, CompareStringOrdinal(sCopy.c_str(), -1, szLoaded, -1, TRUE)) << szLoaded;
    using PfnRegister = HRESULT(STDAPICALLTYPE*)();
    const auto pfnRegister = reinterpret_cast<PfnRegister>(GetProcAddress(hCopy, "DllRegisterServer"));
    ASSERT_NE(nullptr, pfnRegister);

    EXPECT_EQ(S_OK, pfnRegister());
    EXPECT_EQ(ExpectedHarbinet(szLoaded), HarbinetLines());
    EXPECT_EQ(ExpectedDistributed(szLoaded), DistributedLines());
    FreeLibrary(hCopy);
    EXPECT_TRUE(DeleteFileW(sCopy.c_str()));
    EXPECT_TRUE(RemoveDirectoryW(sFolder.c_str()));

    EXPECT_EQ(S_OK, GHarbinetModule::Instance().RegisterServer());
    EXPECT_EQ(ExpectedHarbinet(ModulePath()), HarbinetLines());
    EXPECT_EQ(ExpectedDistributed(ModulePath()), DistributedLines());
}
}
