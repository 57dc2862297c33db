#include "message_boxes.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <cstdio>

#include "gtk_style.h"
#include "platform/text_mark.h"

namespace {

const char* const kBoxCaption = MDB_TEXT("Veloran MDB 助手");

// Message texts use CR LF line breaks; GTK wants LF.
wxString MessageText(const std::string& text) {
    wxString s = U8(text);
    s.Replace("\r\n", "\n");
    return s;
}

// Every box is also written to stderr, one line each, so that a session can be read
// afterwards (and the end-to-end run can follow the boxes).
void Trace(const char* kind, const std::string& text) {
    std::string line = text;
    for (std::size_t at = 0; (at = line.find("\r\n", at)) != std::string::npos;) line.replace(at, 2, " ");
    std::fprintf(stderr, "mdbwarden: %s: %s\n", kind, line.c_str());
    std::fflush(stderr);
}

}  // namespace

wxString U8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

wxString U8(const char* text) {
    return wxString::FromUTF8(text);
}

wxString UiText(const char* text) {
    return wxGetTranslation(U8(text));
}

std::string ToU8(const wxString& text) {
    const wxScopedCharBuffer buf = text.utf8_str();
    return std::string(buf.data(), buf.length());
}

void ShowMessageBox(wxWindow* parent, const std::string& text, mdb::desktop::MessageIcon icon) {
    long style = wxOK;
    switch (icon) {
        case mdb::desktop::MessageIcon::Question:
            style |= wxICON_QUESTION;
            break;
        case mdb::desktop::MessageIcon::Information:
            style |= wxICON_INFORMATION;
            break;
        case mdb::desktop::MessageIcon::Error:
            style |= wxICON_ERROR;
            break;
    }
    Trace("box", text);
    MakeMessageBoxesReadable();
    wxMessageDialog box(parent, MessageText(text), UiText(kBoxCaption), style);
    box.SetOKLabel(UiText("确定"));
    box.ShowModal();
}

bool AskYesNoBox(wxWindow* parent, const std::string& text, bool noByDefault,
                 const wxString& caption) {
    Trace("question", text);
    MakeMessageBoxesReadable();
    wxMessageDialog box(parent, MessageText(text), caption.empty() ? UiText(kBoxCaption) : caption,
                        wxYES_NO | wxICON_QUESTION | (noByDefault ? wxNO_DEFAULT : 0));
    box.SetYesNoLabels(UiText("是(&Y)"), UiText("否(&N)"));
    return box.ShowModal() == wxID_YES;
}

wxDialog* CreateNoticeBox(wxWindow* parent, const std::string& text) {
    Trace("notice", text);
    auto* box = new wxDialog(parent, wxID_ANY, UiText(kBoxCaption), wxDefaultPosition, wxDefaultSize,
                             wxCAPTION | wxCLOSE_BOX);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticBitmap(box, wxID_ANY,
                                wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX)),
             0, wxALL, 12);
    row->Add(new wxStaticText(box, wxID_ANY, MessageText(text)), 1, wxALIGN_CENTRE_VERTICAL | wxALL,
             12);
    auto* ok = new wxButton(box, wxID_OK, UiText("确定"));
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(row, 1, wxEXPAND);
    column->Add(ok, 0, wxALIGN_RIGHT | wxRIGHT | wxBOTTOM, 12);
    box->SetSizerAndFit(column);
    ok->SetDefault();
    // Modeless: OK and the close box destroy it (the default handlers would only hide it).
    ok->Bind(wxEVT_BUTTON, [box](wxCommandEvent&) { box->Destroy(); });
    box->Bind(wxEVT_CLOSE_WINDOW, [box](wxCloseEvent&) { box->Destroy(); });
    box->CentreOnParent();
    return box;
}
