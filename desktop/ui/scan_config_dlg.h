// The scan settings dialog "文件扫描设置": the directories to scan, one per line.
// Its handlers live in desktop/scan_config; this class is the window around them.
#pragma once

#include <wx/dialog.h>

#include <string>

#include "desktop/desktop_context.h"
#include "desktop/scan_config.h"

class wxTextCtrl;

enum ScanConfigDlgControlId {
    IDC_SCAN_DIRS = 1046,
    IDC_CHOOSE_DIR = 1080,
};

class CScanConfigDlg : public wxDialog, private mdb::desktop::ScanConfigView {
  public:
    CScanConfigDlg(wxWindow* parent, mdb::desktop::DesktopContext ctx);

    // The text of the directory box (line breaks as "\n").
    wxString BoxText() const;

  private:
    void OnInit(wxInitDialogEvent& event);
    void OnOk(wxCommandEvent& event);
    void OnChooseDir(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);

    // mdb::desktop::ScanConfigView
    std::string ReadBox() override;
    void ShowBox(const std::string& text) override;
    void ShowMessage(const std::string& text, mdb::desktop::MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    void FocusBox() override;

    mdb::desktop::ScanConfig config_;
    wxTextCtrl* box_ = nullptr;
};
