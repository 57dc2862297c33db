// A stand-in for JRO's JetEngine: an in-process COM server whose CompactDatabase takes
// the two OLE DB connection strings, records them and compacts "Data Source" into
// "Data Source" with our own engine. Failures come back as DISP_E_EXCEPTION with the
// engine's reason as description, as a real automation server reports them.
#include "tests/batch_win32/jro_test_server.h"

#include "jet/compact/compactor.h"
#include "platform/win32/wide.h"

#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

namespace {

using mdb::platform::win32::Utf8;
using mdb::platform::win32::Wide;

HMODULE g_module = nullptr;
constexpr DISPID kCompactDatabase = 1;

void Record(std::wstring_view source, std::wstring_view destination) {
    wchar_t logPath[MAX_PATH];
    if (!GetEnvironmentVariableW(JRO_TEST_SERVER_LOG_VARIABLE, logPath, MAX_PATH)) return;
    if (FILE* log = _wfopen(logPath, L"ab")) {
        const std::string text = "source=" + Utf8(source) + "\ndestination=" +
                                 Utf8(destination) + "\n";
        std::fwrite(text.data(), 1, text.size(), log);
        std::fclose(log);
    }
}

// The value of "Data Source=" up to the next ';'.
std::wstring DataSource(std::wstring_view connection) {
    constexpr std::wstring_view kKey = L"Data Source=";
    const std::size_t at = connection.find(kKey);
    if (at == std::wstring_view::npos) return {};
    const std::size_t from = at + kKey.size();
    return std::wstring(connection.substr(from, connection.find(L';', from) - from));
}

HRESULT Fail(EXCEPINFO* exception, const std::string& reason) {
    if (exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = SysAllocString(L"JRO test engine");
        const std::wstring text = Wide(reason);
        exception->bstrDescription = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        exception->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
}

class TestJetEngine final : public IDispatch {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (count != 1 || _wcsicmp(names[0], L"CompactDatabase") != 0) {
            for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        ids[0] = kCompactDatabase;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                     VARIANT*, EXCEPINFO* exception, UINT*) override {
        if (id != kCompactDatabase) return DISP_E_MEMBERNOTFOUND;
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (!parameters || parameters->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        const VARIANTARG& destinationArgument = parameters->rgvarg[0];  // last to first
        const VARIANTARG& sourceArgument = parameters->rgvarg[1];
        if (sourceArgument.vt != VT_BSTR || destinationArgument.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        const std::wstring_view source{sourceArgument.bstrVal, SysStringLen(sourceArgument.bstrVal)};
        const std::wstring_view destination{destinationArgument.bstrVal,
                                            SysStringLen(destinationArgument.bstrVal)};
        Record(source, destination);
        const jet::CompactResult result = jet::Compact(DataSource(source), DataSource(destination));
        return result.compacted ? S_OK : Fail(exception, result.reason);
    }

  private:
    std::atomic<ULONG> references_{1};
};

class EngineFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // a static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* engine = new TestJetEngine;
        const HRESULT code = engine->QueryInterface(iid, out);
        engine->Release();
        return code;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

EngineFactory g_factory;

CLSID ServerClsid() {
    CLSID id{};
    CLSIDFromString(JRO_TEST_SERVER_CLSID_TEXT, &id);
    return id;
}

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

const std::wstring kClassKey = std::wstring(L"Software\\Classes\\CLSID\\") + JRO_TEST_SERVER_CLSID_TEXT;
const std::wstring kProgIdKey = L"Software\\Classes\\JRO.JetEngine";

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (clsid != ServerClsid()) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

// Loaded for the whole test process: unloading it early gains nothing.
STDAPI DllCanUnloadNow() { return S_FALSE; }

STDAPI DllRegisterServer() {
    wchar_t modulePath[MAX_PATH];
    const DWORD n = GetModuleFileNameW(g_module, modulePath, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return SELFREG_E_CLASS;
    const bool ok = SetValue(kClassKey, nullptr, L"JRO test engine") &&
                    SetValue(kClassKey + L"\\InprocServer32", nullptr, modulePath) &&
                    SetValue(kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                    SetValue(kClassKey + L"\\ProgID", nullptr, L"JRO.JetEngine") &&
                    SetValue(kProgIdKey + L"\\CLSID", nullptr, JRO_TEST_SERVER_CLSID_TEXT);
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    const LONG classGone = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey.c_str());
    const LONG progIdGone = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProgIdKey.c_str());
    const auto gone = [](LONG status) { return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND; };
    return gone(classGone) && gone(progIdGone) ? S_OK : SELFREG_E_CLASS;
}
