// The frame over a recording implementation: which member a call by name reaches and with which arguments.
#include "tests/dispatch/dispatch_fixture.h"

#include "dispatch/dual_impl.h"
#include "tests/dispatch/type_info_holders.h"

namespace
{
// What the last member call received, written out as text: "VT_BSTR:user7", "VT_I4:60",
// "(null)" for a null string.
struct GCall
{
    std::wstring sMember;
    std::vector<std::wstring> vecArgs;
};
GCall g_call;

std::wstring Describe(BSTR s)
{
    return s == nullptr ? L"(null)" : L"VT_BSTR:" + std::wstring(s, SysStringLen(s));
}

std::wstring Describe(long n)
{
    return L"VT_I4:" + std::to_wstring(n);
}

std::wstring Describe(const VARIANT* pVar)
{
    if (pVar == nullptr)
        return L"(no variant)";
    switch (V_VT(pVar))
    {
    case VT_BSTR: return Describe(V_BSTR(pVar));
    case VT_I4: return Describe(static_cast<long>(V_I4(pVar)));
    case VT_I2: return L"VT_I2:" + std::to_wstring(V_I2(pVar));
    case VT_EMPTY: return L"VT_EMPTY";
    case VT_ERROR: return L"VT_ERROR:" + std::to_wstring(V_ERROR(pVar));
    default: return L"vt " + std::to_wstring(V_VT(pVar));
    }
}

void Record(const wchar_t* szMember, std::vector<std::wstring> vecArgs)
{
    g_call.sMember = szMember;
    g_call.vecArgs = std::move(vecArgs);
}

// Answers every member with a fixed result, so that a test sees which one was reached.
template <class I>
class GRecordingImpl : public I
{
public:
    HRESULT STDMETHODCALLTYPE put_Item(VARIANT* pName, VARIANT* pNewValue) override
    {
        Record(L"put_Item", {Describe(pName), Describe(pNewValue)});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT* pName, VARIANT* pValue) override
    {
        Record(L"get_Item", {Describe(pName)});
        V_VT(pValue) = VT_I4;
        V_I4(pValue) = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Open(BSTR sURL) override
    {
        Record(L"Open", {Describe(sURL)});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        Record(L"Close", {});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Cookie(BSTR sCookie) override
    {
        Record(L"put_Cookie", {Describe(sCookie)});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Cookie(BSTR* p) override
    {
        Record(L"get_Cookie", {});
        *p = SysAllocString(L"c00k1e");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Set(BSTR sName, VARIANT* pValue, long nTimeout, VARIANT_BOOL* pSet) override
    {
        Record(L"Set", {Describe(sName), Describe(pValue), Describe(nTimeout)});
        *pSet = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Get(BSTR sName, VARIANT* pValue, VARIANT_BOOL* pFound) override
    {
        Record(L"Get", {Describe(sName), Describe(pValue)});
        VariantClear(pValue);
        V_VT(pValue) = VT_BSTR;
        V_BSTR(pValue) = SysAllocString(L"fetched");
        *pFound = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Delete(BSTR sName) override
    {
        Record(L"Delete", {Describe(sName)});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Noop(BSTR sName) override
    {
        Record(L"Noop", {Describe(sName)});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Execute(IDispatch* pCommand, BSTR sName, long nTimeout, IDispatch** ppRecordset) override
    {
        Record(L"Execute", {pCommand == nullptr ? L"(no command)" : L"command", Describe(sName), Describe(nTimeout)});
        // The command itself stands in for the result set.
        pCommand->AddRef();
        *ppRecordset = pCommand;
        return S_OK;
    }
};

ITypeInfo* g_pTI_Recording = nullptr;
LONG g_nRecordingCount = 0;

using GRecordingObject = GDualImpl<IHarbinet, GRecordingImpl, g_pTI_Recording, &g_nRecordingCount>;

// One recording object over the IHarbinet description of the module file.
class GRecording
{
public:
    GRecording()
    {
        GComRef<ITypeLib> pLib;
        if (SUCCEEDED(LoadTypeLib(GHarbinetModule::Instance().Path().c_str(), &pLib)))
            pLib->GetTypeInfoOfGuid(GuidOf(L"{3C247946-3C6F-4710-9DDE-98DDA2D535A1}"), &g_pTI_Recording);
        if (g_pTI_Recording != nullptr)
            m_pObject = GRecordingObject::Create();
        g_call = GCall();
    }
    ~GRecording()
    {
        if (m_pObject != nullptr)
        {
            EXPECT_EQ(0u, m_pObject->Release());
        }
        EXPECT_EQ(0, g_nRecordingCount);
        if (g_pTI_Recording != nullptr)
            g_pTI_Recording->Release();
        g_pTI_Recording = nullptr;
    }
    GRecording(const GRecording&) = delete;
    GRecording& operator=(const GRecording&) = delete;

    IHarbinet* Get() const { return m_pObject; }

private:
    IHarbinet* m_pObject = nullptr;
};

using GTexts = std::vector<std::wstring>;

TEST_F(DispatchTest, FrameCountsItsObjectsInTheModuleCount)
{
    {
        GRecording recording;
        ASSERT_NE(nullptr, recording.Get());
        EXPECT_EQ(1, g_nRecordingCount);
    }
    EXPECT_EQ(0, g_nRecordingCount);
}

TEST_F(DispatchTest, SetWithTwoArgumentsGetsTimeoutZero)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    GArguments args;
    args.Text(L"user7").Long(42);
    const GInvokeResult result = Invoke(recording.Get(), 0x60020006, DISPATCH_METHOD, args);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(L"Set", g_call.sMember);
    EXPECT_EQ((GTexts{L"VT_BSTR:user7", L"VT_I4:42", L"VT_I4:0"}), g_call.vecArgs);
    EXPECT_EQ(VT_BOOL, result.vtResult);
    EXPECT_EQ(VARIANT_TRUE, result.nResult);
}

TEST_F(DispatchTest, SetWithAShortTimeoutGetsItAsLong)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    GArguments args;
    args.Text(L"user7").Short(5).Short(60);
    EXPECT_EQ(S_OK, Invoke(recording.Get(), 0x60020006, DISPATCH_METHOD, args).hr);
    EXPECT_EQ((GTexts{L"VT_BSTR:user7", L"VT_I2:5", L"VT_I4:60"}), g_call.vecArgs);
}

TEST_F(DispatchTest, NoopWithoutArgumentsGetsTheEmptyName)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    GArguments args;
    EXPECT_EQ(S_OK, Invoke(recording.Get(), 0x60020009, DISPATCH_METHOD, args).hr);
    EXPECT_EQ(L"Noop", g_call.sMember);
    EXPECT_EQ((GTexts{L"VT_BSTR:"}), g_call.vecArgs);
}

TEST_F(DispatchTest, ExecuteWithOnlyTheCommandGetsEmptyNameAndTimeoutZero)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    IHarbinet* pCommand = m_pHarbinet;   // any object will do as the command
    GArguments args;
    args.Object(pCommand);
    const GInvokeResult result = Invoke(recording.Get(), 0x6002000A, DISPATCH_METHOD, args);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(L"Execute", g_call.sMember);
    EXPECT_EQ((GTexts{L"command", L"VT_BSTR:", L"VT_I4:0"}), g_call.vecArgs);
    EXPECT_EQ(VT_DISPATCH, result.vtResult);
    EXPECT_EQ(static_cast<void*>(pCommand), result.pResult);
}

TEST_F(DispatchTest, ReadingTheDefaultMemberReachesItemGet)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    GArguments args;
    args.Text(L"user7");
    const GInvokeResult result = Invoke(recording.Get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(L"get_Item", g_call.sMember);
    EXPECT_EQ((GTexts{L"VT_BSTR:user7"}), g_call.vecArgs);
    EXPECT_EQ(VT_I4, result.vtResult);
    EXPECT_EQ(7, result.nResult);
}

TEST_F(DispatchTest, AssigningTheDefaultMemberReachesItemPut)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    GArguments args;
    args.Text(L"user7").Short(42).PropertyValue();
    EXPECT_EQ(S_OK, Invoke(recording.Get(), DISPID_VALUE, DISPATCH_PROPERTYPUT, args).hr);
    EXPECT_EQ(L"put_Item", g_call.sMember);
    EXPECT_EQ((GTexts{L"VT_BSTR:user7", L"VT_I2:42"}), g_call.vecArgs);
}

TEST_F(DispatchTest, CookieReadAndWriteReachTheirAccessors)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    GArguments put;
    put.Text(L"abc").PropertyValue();
    EXPECT_EQ(S_OK, Invoke(recording.Get(), 0x60020004, DISPATCH_PROPERTYPUT, put).hr);
    EXPECT_EQ(L"put_Cookie", g_call.sMember);
    EXPECT_EQ((GTexts{L"VT_BSTR:abc"}), g_call.vecArgs);

    GArguments none;
    const GInvokeResult result = Invoke(recording.Get(), 0x60020004, DISPATCH_PROPERTYGET, none);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(L"get_Cookie", g_call.sMember);
    EXPECT_EQ(L"c00k1e", result.sResult);
}

TEST_F(DispatchTest, GetWritesItsValueIntoTheCallersVariable)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    VARIANT varValue;
    VariantInit(&varValue);
    GArguments args;
    args.Text(L"user7").Reference(&varValue);
    const GInvokeResult result = Invoke(recording.Get(), 0x60020007, DISPATCH_METHOD, args);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(L"Get", g_call.sMember);
    EXPECT_EQ(L"VT_BSTR:user7", g_call.vecArgs.at(0));
    ASSERT_EQ(VT_BSTR, V_VT(&varValue));
    EXPECT_STREQ(L"fetched", V_BSTR(&varValue));
    EXPECT_EQ(VT_BOOL, result.vtResult);
    EXPECT_EQ(VARIANT_TRUE, result.nResult);
    VariantClear(&varValue);
}

TEST_F(DispatchTest, EachMethodReachesItsOwnSlot)
{
    GRecording recording;
    ASSERT_NE(nullptr, recording.Get());
    struct GCase
    {
        DISPID nDispId;
        const wchar_t* szMember;
        bool bTakesName;
    };
    for (const GCase& c : {GCase{0x60020002, L"Open", true}, GCase{0x60020003, L"Close", false},
                           GCase{0x60020008, L"Delete", true}, GCase{0x60020009, L"Noop", true}})
    {
        GArguments args;
        if (c.bTakesName)
            args.Text(L"x");
        EXPECT_EQ(S_OK, Invoke(recording.Get(), c.nDispId, DISPATCH_METHOD, args).hr) << c.szMember;
        EXPECT_EQ(c.szMember, g_call.sMember);
    }
}
}
