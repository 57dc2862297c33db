#include "message_boxes.h"

#include <wx/msgdlg.h>

namespace {

const char* const kBoxCaption = "Veloran MDB 助手";

// Message texts use CR LF line breaks; GTK wants LF.
wxString MessageText(const std::string& text) {
    wxString s = U8(text);
    s.Replace("\r\n", "\n");
    return s;
}

}  // namespace

wxString U8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

wxString U8(const char* text) {
    return wxString::FromUTF8(text);
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
    wxMessageDialog box(parent, MessageText(text), U8(kBoxCaption), style);
    box.SetOKLabel(U8("确定"));
    box.ShowModal();
}

bool AskYesNoBox(wxWindow* parent, const std::string& text, bool noByDefault,
                 const wxString& caption) {
    wxMessageDialog box(parent, MessageText(text), caption.empty() ? U8(kBoxCaption) : caption,
                        wxYES_NO | wxICON_QUESTION | (noByDefault ? wxNO_DEFAULT : 0));
    box.SetYesNoLabels(U8("是(&Y)"), U8("否(&N)"));
    return box.ShowModal() == wxID_YES;
}
