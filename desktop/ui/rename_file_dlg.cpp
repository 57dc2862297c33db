#include "rename_file_dlg.h"

#include "message_boxes.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>

namespace {

constexpr std::size_t kReservedChars = 102'400;

}  // namespace

CReNameFileDlg::CReNameFileDlg(wxWindow* parent, const std::vector<std::string>& paths) {
    // Dialog units depend on the font: set it before anything is placed.
    SetFont(wxFont(9, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                   U8("宋体")));
    Create(parent, wxID_ANY, UiText("数据库文件压缩确认"), wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    wxString text;
    text.reserve(kReservedChars);
    for (const std::string& path : paths) text << U8(path) << "\n";
    files_ = new wxTextCtrl(
        this, IDC_CHOSEN_FILES, text, at(7, 7), size(455, 247),
        wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxHSCROLL | wxVSCROLL | wxBORDER_SUNKEN);
    auto* ok = new wxButton(this, wxID_OK, UiText("确定批量压缩已选文件"), at(76, 264), size(100, 23));
    new wxButton(this, wxID_CANCEL, UiText("取消"), at(267, 264), size(100, 23));
    ok->SetDefault();
    SetClientSize(size(469, 298));
    CentreOnParent();
    Bind(wxEVT_BUTTON, &CReNameFileDlg::OnOk, this, wxID_OK);
}

wxString CReNameFileDlg::FilesText() const {
    return files_->GetValue();
}

void CReNameFileDlg::OnOk(wxCommandEvent&) {
    // No leaves the dialog open.
    if (AskYesNoBox(this, ToU8(UiText("确定对选择的文件进行批量压缩吗？")), true, GetTitle())) EndModal(wxID_OK);
}
