#include "scan_config_dlg.h"

#include "message_boxes.h"

#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace dk = mdb::desktop;

CScanConfigDlg::CScanConfigDlg(wxWindow* parent, dk::DesktopContext ctx) : config_(std::move(ctx)) {
    // Dialog units depend on the font: set it before anything is placed.
    SetFont(wxFont(9, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                   U8("宋体")));
    Create(parent, wxID_ANY, UiText("文件扫描设置"), wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    // Created in tab order.
    new wxButton(this, wxID_OK, UiText("开始扫描"), at(51, 105), size(75, 21));
    new wxButton(this, wxID_CANCEL, UiText("取消"), at(176, 105), size(75, 21));
    box_ = new wxTextCtrl(
        this, IDC_SCAN_DIRS, wxString(), at(13, 24), size(283, 64),
        wxTE_MULTILINE | wxTE_DONTWRAP | wxHSCROLL | wxVSCROLL | wxBORDER_SUNKEN | wxTAB_TRAVERSAL);
    auto* choose = new wxButton(this, IDC_CHOOSE_DIR, UiText("选择目录"), at(308, 65), size(75, 21));
    new wxStaticText(this, wxID_ANY, UiText("需要扫描的目录（每行填写一个目录名）"), at(13, 10),
                     size(145, 8), wxST_NO_AUTORESIZE);
    choose->SetDefault();
    SetClientSize(size(399, 142));
    CentreOnParent();

    Bind(wxEVT_INIT_DIALOG, &CScanConfigDlg::OnInit, this);
    Bind(wxEVT_BUTTON, &CScanConfigDlg::OnOk, this, wxID_OK);
    Bind(wxEVT_BUTTON, &CScanConfigDlg::OnChooseDir, this, IDC_CHOOSE_DIR);
    Bind(wxEVT_CHAR_HOOK, &CScanConfigDlg::OnCharHook, this);
}

wxString CScanConfigDlg::BoxText() const {
    return box_->GetValue();
}

void CScanConfigDlg::OnInit(wxInitDialogEvent& event) {
    event.Skip();
    config_.Open(*this);
    // The focus starts on the first tab stop, "开始扫描".
    if (wxWindow* ok = FindWindow(wxID_OK)) ok->SetFocus();
}

void CScanConfigDlg::OnOk(wxCommandEvent&) {
    if (config_.Confirm(*this)) EndModal(wxID_OK);
}

void CScanConfigDlg::OnChooseDir(wxCommandEvent&) {
    wxDirDialog picker(this, UiText(dk::kFolderPickerTitle), U8(dk::FolderPickerStart(ReadBox())),
                       wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (picker.ShowModal() != wxID_OK) return;
    config_.AddFolder(*this, ToU8(picker.GetPath()));
}

void CScanConfigDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
        // Esc goes to the focused control; it does not close the dialog.
        event.DoAllowNextEvent();
        return;
    }
    event.Skip();
}

std::string CScanConfigDlg::ReadBox() {
    wxString text = box_->GetValue();
    text.Replace("\n", "\r\n");
    return ToU8(text);
}

void CScanConfigDlg::ShowBox(const std::string& text) {
    wxString shown = U8(text);
    shown.Replace("\r\n", "\n");
    box_->ChangeValue(shown);
}

void CScanConfigDlg::ShowMessage(const std::string& text, dk::MessageIcon icon) {
    ShowMessageBox(this, text, icon);
}

bool CScanConfigDlg::AskYesNo(const std::string& text) {
    return AskYesNoBox(this, text, false);
}

void CScanConfigDlg::FocusBox() {
    box_->SetFocus();
}
