#include "batch/win32/jro_compact.h"

#include "batch/compact_mdb_file.h"
#include "platform/win32/wide.h"

#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <string_view>
#include <utility>

namespace mdb::batch {
namespace {

// Microsoft's JetEngine class (msjro.dll).
constexpr CLSID kJetEngineClsid = {
    0xDE88C160, 0xFF2C, 0x11D1, {0xBB, 0x6F, 0x00, 0xC0, 0x4F, 0xAE, 0x22, 0xDA}};
// In-process server and handler, local and remote server: wherever the class lives.
constexpr DWORD kAnyServer =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr std::wstring_view kSourceFormat =
    L"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;Jet OLEDB:Database Password=%s";
// Engine Type 5 is the Jet 4 file format, whatever the source's format.
constexpr std::wstring_view kDestinationFormat =
    L"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;Jet OLEDB:Engine Type=5;"
    L"Jet OLEDB:Database Password=%s";
constexpr std::wstring_view kPassword = L"";  // no database password is ever given

// Balances its own successful CoInitialize only: a thread already in another apartment
// (RPC_E_CHANGED_MODE) is left as it was.
class ComApartment {
  public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    HRESULT result_;
};

template <class Interface>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() {
        if (ptr_) ptr_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    // REQUIRES: empty (the out-parameter of one creating call).
    void** Out() { return reinterpret_cast<void**>(&ptr_); }
    Interface* operator->() const { return ptr_; }
    Interface* get() const { return ptr_; }

  private:
    Interface* ptr_ = nullptr;
};

class Bstr {
  public:
    explicit Bstr(std::wstring_view text)
        : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(bstr_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return bstr_; }
    BSTR* Out() { return &bstr_; }  // REQUIRES: empty
    std::wstring_view View() const { return {bstr_, bstr_ ? SysStringLen(bstr_) : 0}; }

  private:
    BSTR bstr_ = nullptr;
};

std::wstring WithoutLongPrefixes(std::u16string path) {
    std::wstring wide(path.begin(), path.end());
    constexpr std::wstring_view kPrefix = L"\\\\?\\";
    for (std::size_t at; (at = wide.find(kPrefix)) != std::wstring::npos;) wide.erase(at, kPrefix.size());
    return wide;
}

std::wstring Connection(std::wstring_view format, const std::wstring& path) {
    std::wstring out;
    const std::wstring_view values[] = {path, kPassword};
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format.compare(i, 2, L"%s") == 0 && next < 2) {
            out += values[next++];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.'))
        text.pop_back();
    return text;
}

// The system's text for `code` with the code itself, e.g. "Class not registered (0x80040154)".
std::string SystemDescription(HRESULT code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string described = n ? Trimmed(platform::win32::Utf8({text, n})) : std::string();
    LocalFree(text);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return described.empty() ? hex : described + " (" + hex + ")";
}

// The engine's own description of a failed call: the exception it filled in, else the
// error object it attached to the thread, else the system's text for the code.
std::string EngineDescription(HRESULT code, EXCEPINFO* exception) {
    if (exception) {
        if (exception->pfnDeferredFillIn) exception->pfnDeferredFillIn(exception);
        std::wstring_view text{exception->bstrDescription,
                               exception->bstrDescription ? SysStringLen(exception->bstrDescription) : 0};
        if (!text.empty()) return Trimmed(platform::win32::Utf8(text));
        if (FAILED(exception->scode)) code = exception->scode;
    }
    ComRef<IErrorInfo> info;
    if (GetErrorInfo(0, reinterpret_cast<IErrorInfo**>(info.Out())) == S_OK && info.get()) {
        Bstr text;
        if (SUCCEEDED(info->GetDescription(text.Out())) && !text.View().empty())
            return Trimmed(platform::win32::Utf8(text.View()));
    }
    return SystemDescription(code);
}

// No class for this process: not registered at all, or (a 32-bit server seen from a
// 64-bit process) registered with a DLL this process cannot load.
bool ClassMissing(HRESULT code) {
    return code == REGDB_E_CLASSNOTREG || code == CO_E_CLASSSTRING || code == REGDB_E_READREGDB ||
           code == HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
}

std::string ProviderNotRegistered(HRESULT code) {
    // A 64-bit process sees only 64-bit registrations, and Jet 4.0 exists for 32-bit
    // processes alone: say so, it is the usual cause on a 64-bit build.
    const char* kind =
        sizeof(void*) == 8
            ? MDB_TEXT("压缩引擎 JRO.JetEngine（Jet 4.0 OLE DB 提供程序）未注册；本程序为 64 位，"
                       "Jet 4.0 只能由 32 位程序使用")
            : MDB_TEXT("压缩引擎 JRO.JetEngine（Jet 4.0 OLE DB 提供程序）未注册");
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return std::string(kind) + "（provider not registered, " + hex + "）";
}

void ClearExcepInfo(EXCEPINFO& exception) {
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

// The engine's CompactDatabase(SourceConnection, DestConnection); empty on success,
// else the description for the user.
std::string Compact(IDispatch& engine, const Bstr& source, const Bstr& destination) {
    wchar_t name[] = L"CompactDatabase";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    HRESULT code = engine.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(code)) return EngineDescription(code, nullptr);
    // Arguments go last to first.
    VARIANTARG arguments[2];
    VariantInit(&arguments[0]);
    VariantInit(&arguments[1]);
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = destination.get();
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = source.get();
    DISPPARAMS parameters{arguments, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT badArgument = 0;
    code = engine.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                         &exception, &badArgument);
    VariantClear(&result);
    std::string failure;
    if (FAILED(code)) failure = EngineDescription(code, code == DISP_E_EXCEPTION ? &exception : nullptr);
    ClearExcepInfo(exception);
    return failure;
}

}  // namespace

int CompactMdbFileThroughJro(std::u16string source, std::u16string destination, std::string& reason) {
    reason.clear();
    ComApartment apartment;
    const Bstr sourceConnection(Connection(kSourceFormat, WithoutLongPrefixes(std::move(source))));
    const Bstr destinationConnection(
        Connection(kDestinationFormat, WithoutLongPrefixes(std::move(destination))));

    CLSID engineClass;
    if (FAILED(CLSIDFromProgID(kJroProgId, &engineClass))) engineClass = kJetEngineClsid;
    ComRef<IUnknown> unknown;
    HRESULT code = CoCreateInstance(engineClass, nullptr, kAnyServer, IID_IUnknown, unknown.Out());
    if (ClassMissing(code)) {
        reason = std::string(kNotCompactedPrefix) + ProviderNotRegistered(code);
        return 0;
    }
    if (SUCCEEDED(code)) code = OleRun(unknown.get());
    ComRef<IDispatch> engine;
    if (SUCCEEDED(code)) code = unknown->QueryInterface(IID_IDispatch, engine.Out());
    if (SUCCEEDED(code) && !engine.get()) code = E_POINTER;
    if (FAILED(code)) {
        reason = std::string(kNotCompactedPrefix) + EngineDescription(code, nullptr);
        return 0;
    }
    const std::string failure = Compact(*engine.get(), sourceConnection, destinationConnection);
    if (failure.empty()) return 1;
    reason = std::string(kNotCompactedPrefix) + failure;
    return 0;
}

}  // namespace mdb::batch
