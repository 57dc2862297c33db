// The installer's message at an uninstall: where the data stays. Windows Installer calls
// ShowDataNotice from the package's Binary table (it is not installed); it shows the
// package's property DataNotice, formatted (so [INSTALLDIR] names the program directory),
// through the installer's own messages: a message box with the basic or full interface,
// a line in the log (msiexec /l), nothing with /qn.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

// A property or a formatted record's text; empty when there is none.
template <typename Read>
std::wstring ReadText(Read read) {
    DWORD size = 0;
    wchar_t none[1] = {};
    if (read(none, &size) != ERROR_MORE_DATA) return {};
    std::wstring text(size + 1, L'\0');
    ++size;
    if (read(text.data(), &size) != ERROR_SUCCESS) return {};
    text.resize(size);
    return text;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ShowDataNotice(MSIHANDLE install) {
    const std::wstring notice = ReadText([&](wchar_t* buffer, DWORD* size) {
        return MsiGetPropertyW(install, L"DataNotice", buffer, size);
    });
    if (notice.empty()) return ERROR_SUCCESS;
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, notice.c_str());
    const std::wstring text = ReadText([&](wchar_t* buffer, DWORD* size) {
        return MsiFormatRecordW(install, record, buffer, size);
    });
    // '|' (which no Windows path holds) marks the notice's line breaks: each path on a line
    // of its own, where the message box cannot break it after its drive ("d:").
    std::wstring lines = text;
    for (wchar_t& c : lines)
        if (c == L'|') c = L'\n';
    PMSIHANDLE message = MsiCreateRecord(0);
    MsiRecordSetStringW(message, 0, lines.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_USER | MB_OK | MB_ICONINFORMATION), message);
    // A message is never a reason to fail the uninstall.
    return ERROR_SUCCESS;
}
