// DispatchTest: one object of each class, and Invoke with its arguments and results written out.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "tests/support/harbinet_module.h"

// Arguments of one Invoke, last argument first as IDispatch wants them.
class GArguments
{
public:
    GArguments() = default;
    ~GArguments()
    {
        for (VARIANT& var : m_vecArgs)
            VariantClear(&var);
    }
    GArguments(const GArguments&) = delete;
    GArguments& operator=(const GArguments&) = delete;

    GArguments& Text(const wchar_t* sz)
    {
        VARIANT var;
        VariantInit(&var);
        V_VT(&var) = VT_BSTR;
        V_BSTR(&var) = SysAllocString(sz);
        m_vecArgs.insert(m_vecArgs.begin(), var);
        return *this;
    }
    GArguments& Short(SHORT n)
    {
        VARIANT var;
        VariantInit(&var);
        V_VT(&var) = VT_I2;
        V_I2(&var) = n;
        m_vecArgs.insert(m_vecArgs.begin(), var);
        return *this;
    }
    GArguments& Long(LONG n)
    {
        VARIANT var;
        VariantInit(&var);
        V_VT(&var) = VT_I4;
        V_I4(&var) = n;
        m_vecArgs.insert(m_vecArgs.begin(), var);
        return *this;
    }
    GArguments& Object(IDispatch* p)
    {
        VARIANT var;
        VariantInit(&var);
        V_VT(&var) = VT_DISPATCH;
        V_DISPATCH(&var) = p;
        p->AddRef();
        m_vecArgs.insert(m_vecArgs.begin(), var);
        return *this;
    }
    // A variable of the caller that the member may write into.
    GArguments& Reference(VARIANT* pTarget)
    {
        VARIANT var;
        VariantInit(&var);
        V_VT(&var) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&var) = pTarget;
        m_vecArgs.insert(m_vecArgs.begin(), var);
        return *this;
    }
    GArguments& PropertyValue()
    {
        m_nNamed = DISPID_PROPERTYPUT;
        return *this;
    }

    DISPPARAMS* Params()
    {
        m_params.rgvarg = m_vecArgs.empty() ? nullptr : m_vecArgs.data();
        m_params.cArgs = static_cast<UINT>(m_vecArgs.size());
        m_params.rgdispidNamedArgs = m_nNamed == 0 ? nullptr : &m_nNamed;
        m_params.cNamedArgs = m_nNamed == 0 ? 0 : 1;
        return &m_params;
    }

private:
    std::vector<VARIANT> m_vecArgs;
    DISPID m_nNamed = 0;
    DISPPARAMS m_params = {};
};

// What one Invoke gave back.
struct GInvokeResult
{
    HRESULT hr = E_FAIL;
    std::wstring sResult;
    VARTYPE vtResult = VT_ILLEGAL;
    LONG nResult = 0;          // VT_I4, VT_I2 and VT_BOOL results
    void* pResult = nullptr;   // a VT_DISPATCH result, compared only, already released
    SCODE nScode = 0;
    std::wstring sSource;
    std::wstring sDescription;
};

class DispatchTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
        m_pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
        m_pDistributed = GHarbinetModule::Instance().CreateDistributed();
        ASSERT_NE(nullptr, m_pHarbinet);
        ASSERT_NE(nullptr, m_pDistributed);
        ClearErrorInfo();
    }

    void TearDown() override
    {
        ClearErrorInfo();
        if (m_pHarbinet != nullptr)
        {
            EXPECT_EQ(0u, m_pHarbinet->Release());
        }
        if (m_pDistributed != nullptr)
        {
            EXPECT_EQ(0u, m_pDistributed->Release());
        }
        EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    }

    static GInvokeResult Invoke(IHarbinet* pObject, DISPID nDispId, WORD wFlags, GArguments& args,
                                REFIID riid = IID_NULL, LCID lcid = 0x409)
    {
        GInvokeResult result;
        VARIANT varResult;
        VariantInit(&varResult);
        EXCEPINFO excep = {};
        UINT nArgErr = 0;
        result.hr = pObject->Invoke(nDispId, riid, lcid, wFlags, args.Params(), &varResult, &excep, &nArgErr);
        result.vtResult = V_VT(&varResult);
        if (V_VT(&varResult) == VT_BSTR && V_BSTR(&varResult) != nullptr)
            result.sResult = V_BSTR(&varResult);
        if (V_VT(&varResult) == VT_I4)
            result.nResult = V_I4(&varResult);
        if (V_VT(&varResult) == VT_I2)
            result.nResult = V_I2(&varResult);
        if (V_VT(&varResult) == VT_BOOL)
            result.nResult = V_BOOL(&varResult);
        if (V_VT(&varResult) == VT_DISPATCH)
            result.pResult = V_DISPATCH(&varResult);
        VariantClear(&varResult);
        result.nScode = excep.scode;
        if (excep.bstrSource != nullptr)
            result.sSource = excep.bstrSource;
        if (excep.bstrDescription != nullptr)
            result.sDescription = excep.bstrDescription;
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        return result;
    }

    static DISPID IdOf(IHarbinet* pObject, const wchar_t* szName, REFIID riid = IID_NULL, LCID lcid = 0x409)
    {
        LPOLESTR aNames[] = {const_cast<LPOLESTR>(szName)};
        DISPID nId = 12345;
        const HRESULT hr = pObject->GetIDsOfNames(riid, aNames, 1, lcid, &nId);
        return hr == S_OK ? nId : static_cast<DISPID>(hr);
    }

    std::vector<IHarbinet*> BothObjects() const { return {m_pHarbinet, m_pDistributed}; }

    IHarbinet* m_pHarbinet = nullptr;
    IHarbinet* m_pDistributed = nullptr;
};
