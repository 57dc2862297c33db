#include "desktop/win32/scan_config_dialog.h"

#include "desktop/scan_config.h"
#include "desktop/win32/dialog_text.h"
#include "desktop/win32/message_box.h"
#include "desktop/win32/resource_ids.h"
#include "platform/win32/wide.h"

#include <shlobj.h>

#include <string>

namespace mdb::desktop::win32 {
namespace {

using platform::win32::Utf8;
using platform::win32::Wide;

constexpr wchar_t kCaption[] = L"文件扫描设置";

class ScanConfigDialog final : public ScanConfigView {
  public:
    explicit ScanConfigDialog(const DesktopContext& ctx) : config_(ctx) {}

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            auto* self = reinterpret_cast<ScanConfigDialog*>(lParam);
            self->dialog_ = dialog;
            TranslateDialog(dialog);
            self->config_.Open(*self);
            // The focus starts on the first tab stop, "开始扫描".
            SetFocus(GetDlgItem(dialog, IDOK));
            return FALSE;
        }
        auto* self = reinterpret_cast<ScanConfigDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (!self || message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
            case IDOK:
                if (self->config_.Confirm(*self)) EndDialog(dialog, IDOK);
                return TRUE;
            case IDCANCEL:
                // Esc reaches the dialog as IDCANCEL too: it does not close it.
                if (GetKeyState(VK_ESCAPE) >= 0) EndDialog(dialog, IDCANCEL);
                return TRUE;
            case IDC_CHOOSE_DIR:
                self->config_.AddFolder(*self, self->ChooseFolder());
                return TRUE;
        }
        return FALSE;
    }

    std::string ReadBox() override {
        const HWND box = GetDlgItem(dialog_, IDC_SCAN_DIRS);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
        return Utf8(text);
    }
    void ShowBox(const std::string& text) override { SetDlgItemTextW(dialog_, IDC_SCAN_DIRS, Wide(text).c_str()); }
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        RunMessageBox(dialog_, text, Utf8(WideText(kCaption)), icon, BoxButtons::Ok);
    }
    bool AskYesNo(const std::string& text) override {
        return RunMessageBox(dialog_, text, Utf8(WideText(kCaption)), MessageIcon::Question,
                             BoxButtons::YesNo) == IDYES;
    }
    void FocusBox() override { SetFocus(GetDlgItem(dialog_, IDC_SCAN_DIRS)); }

  private:
    // The shell's folder picker, titled and starting at the box's last directory; empty
    // when cancelled.
    std::string ChooseFolder() {
        const std::wstring title = Wide(Tr(kFolderPickerTitle));
        const std::wstring start = Wide(FolderPickerStart(ReadBox()));
        BROWSEINFOW browse{};
        browse.hwndOwner = dialog_;
        browse.lpszTitle = title.c_str();
        browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        browse.lpfn = [](HWND picker, UINT message, LPARAM, LPARAM data) -> int {
            if (message == BFFM_INITIALIZED && *reinterpret_cast<const wchar_t*>(data) != L'\0')
                SendMessageW(picker, BFFM_SETSELECTIONW, TRUE, data);
            return 0;
        };
        browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
        PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
        if (!chosen) return {};
        wchar_t path[MAX_PATH];
        const bool ok = SHGetPathFromIDListW(chosen, path);
        CoTaskMemFree(chosen);
        return ok ? Utf8(path) : std::string();
    }

    ScanConfig config_;
    HWND dialog_ = nullptr;
};

}  // namespace

bool RunScanConfigDialog(HINSTANCE instance, HWND owner, const DesktopContext& ctx) {
    ScanConfigDialog dialog(ctx);
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SCAN_CONFIG), owner, ScanConfigDialog::Proc,
                           reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

}  // namespace mdb::desktop::win32
