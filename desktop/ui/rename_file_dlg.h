// The compaction confirmation dialog: lists the chosen files and asks once more
// before the batch is requested.
#pragma once

#include <wx/dialog.h>

#include <string>
#include <vector>

class wxTextCtrl;

enum ReNameFileDlgControlId {
    IDC_CHOSEN_FILES = 1046,
};

class CReNameFileDlg : public wxDialog {
  public:
    // `paths` are shown one per line, in order.
    CReNameFileDlg(wxWindow* parent, const std::vector<std::string>& paths);

    // The text shown in the file box.
    wxString FilesText() const;

  private:
    void OnOk(wxCommandEvent& event);

    wxTextCtrl* files_ = nullptr;
};
