#include "desktop/scan_config.h"
#include "common/i18n.h"

#include <cassert>
#include <filesystem>

#include "common/paths.h"
#include "common/reporter.h"
#include "common/text.h"
#include "desktop/util/whole_file.h"
#include "platform/arguments.h"
#include "platform/paths.h"

namespace mdb::desktop {

namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string ReplaceAll(const std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string::npos;
         pos = hit + from.size()) {
        out.append(text, pos, hit - pos).append(to);
    }
    out.append(text, pos, std::string::npos);
    return out;
}

// Length of `text` in the code page the list is stored in (GBK on Chinese Windows, UTF-8
// here): the limits of the list count the bytes the scanner reads. Never more than the
// UTF-8 length (GBK takes 1 or 2 bytes where UTF-8 takes 1 to 4).
std::size_t StoredSize(std::string_view text) {
    return platform::SystemCodePageFromUtf8(text).size();
}

// The messages of the config directory check go to the dialog's own boxes.
class DialogReporter : public MessageReporter {
  public:
    explicit DialogReporter(ScanConfigView& view) : view_(view) {}
    void ShowMessage(std::string_view text) override {
        view_.ShowMessage(std::string(text), MessageIcon::Question);
    }

  private:
    ScanConfigView& view_;
};

std::string ConfigDirOf(const std::string& programDir) {
    return CollapseSeparators(programDir + platform::kSeparator + "config");
}

std::string ScanDirFileIn(const std::string& configDir) {
    return CollapseSeparators(configDir + platform::kSeparator + kScanDirFileName);
}

}  // namespace

bool NormaliseLineList(std::string_view text, const LineListOptions& options, LineList& out) {
    out = LineList{};
    if (text.empty() || (text.size() >= kMaxListText && StoredSize(text) >= kMaxListText) ||
        options.minLength >= options.maxLength) {
        return false;
    }
    // CR and LF never occur inside a multi-byte UTF-8 sequence, so splitting bytes keeps
    // every character whole.
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of("\r\n", pos);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        pos = end;

        std::string token = Trim(text.substr(start, end - start));
        if (options.lowerCase) {
            for (char& c : token) c = AsciiLower(c);
        }
        if (token.empty()) continue;
        std::size_t length = StoredSize(token);
        if (length >= kMaxListToken) continue;
        if (options.driveRoot && token.size() == 2 && token[1] == ':') {
            token.push_back('\\');
            ++length;
        }
        if (length < options.minLength || length > options.maxLength) continue;
        bool seen = false;
        for (const std::string& kept : out.entries) {
            if (options.ignoreCaseInDuplicates ? EqualIgnoringAsciiCase(kept, token)
                                               : kept == token) {
                seen = true;
                break;
            }
        }
        if (seen) continue;
        out.text += token;
        out.text += "\r\n";
        out.entries.push_back(std::move(token));
        ++out.count;
    }
    assert(out.count == static_cast<int>(out.entries.size()));
    return true;
}

LineListOptions ScanDirListOptions() {
    LineListOptions options;
    options.minLength = kMinScanDirEntry;
    options.maxLength = kMaxScanDirEntry;
    options.lowerCase = false;
    // Where paths have drive letters a bare drive means its root, and where file names
    // ignore letter case D:\Web and d:\web are one directory.
    options.driveRoot = platform::kPathsHaveDrives;
    options.ignoreCaseInDuplicates = platform::kPathsIgnoreCase;
    return options;
}

std::string FolderPickerStart(const std::string& boxText) {
    std::string start;
    std::size_t from = 0;
    while (from <= boxText.size()) {
        std::size_t end = boxText.find_first_of("\r\n", from);
        if (end == std::string::npos) end = boxText.size();
        const std::string line = Trim(std::string_view(boxText).substr(from, end - from));
        std::error_code ec;
        if (!line.empty() && std::filesystem::is_directory(platform::PathFromUtf8(line), ec)) start = line;
        from = end + 1;
    }
    if (!start.empty()) return start;
    return platform::kSeparator == '/' ? "/" : "";
}

std::string CollapseBlankLines(std::string text) {
    for (int pass = 0; pass < 2; ++pass) text = ReplaceAll(text, "\r\n\r\n", "\r\n");
    return text;
}

void ScanConfig::Open(ScanConfigView& view) {
    directoryText_.clear();
    std::string programDir;
    if (ctx_.exeDirectory && ctx_.exeDirectory(programDir) == 1) {
        const std::string configDir = ConfigDirOf(programDir);
        bool usable = PathExists(configDir) == 1;
        if (!usable) usable = CreateDirectoryChain(configDir) == 1 && PathExists(configDir) == 1;
        std::string saved;
        if (usable && ReadWholeFile(ScanDirFileIn(configDir), saved) == 1) {
            // The list is shared with the scanner in the system code page (GBK on
            // Chinese Windows; UTF-8 here).
            directoryText_ = CollapseBlankLines(platform::Utf8FromSystemCodePage(saved));
        }
    }
    view.ShowBox(directoryText_);
}

void ScanConfig::AddFolder(ScanConfigView& view, const std::string& folder) {
    if (folder.empty() || StoredSize(folder) >= kMaxChosenFolder) return;
    directoryText_ = view.ReadBox();
    // The folder must start a line of its own, also after a last line typed without a
    // line break.
    if (!directoryText_.empty() && directoryText_.back() != '\n' && directoryText_.back() != '\r') {
        directoryText_ += "\r\n";
    }
    directoryText_ += folder;
    directoryText_ += "\r\n";
    view.ShowBox(directoryText_);
}

bool ScanConfig::Confirm(ScanConfigView& view) {
    directoryText_ = view.ReadBox();

    std::string programDir;
    if (!ctx_.exeDirectory || ctx_.exeDirectory(programDir) != 1) {
        view.ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Question);
        return false;
    }
    DialogReporter reporter(view);
    std::string configDir;
    if (EnsureConfigDirIn(programDir, reporter, configDir) != 1) return false;
    const std::string target = ScanDirFileIn(configDir);

    LineList list;
    NormaliseLineList(directoryText_, ScanDirListOptions(), list);
    if (list.count == 0) {
        view.ShowMessage(TrFormat(kMsgNoScanDirPattern, {platform::kExampleSiteDir}),
                         MessageIcon::Question);
        view.FocusBox();
        return false;
    }
    const std::size_t listSize = StoredSize(list.text);
    if (listSize < kMinScanDirText || listSize >= kMaxScanDirText) {
        view.ShowMessage(TrFormat(kMsgScanDirLengthPattern, {platform::kExampleSiteDir}),
                         MessageIcon::Question);
        view.FocusBox();
        return false;
    }
    for (const std::string& raw : list.entries) {
        const std::string entry = Trim(raw);
        if (entry.empty()) continue;
        if (StoredSize(entry) >= kMaxListToken) {
            view.ShowMessage(TrFormat(kMsgScanDirLengthPattern, {platform::kExampleSiteDir}),
                         MessageIcon::Question);
            view.FocusBox();
            return false;
        }
        if (PathExists(entry) != 1) {
            view.ShowMessage(TrFormat(kMsgScanDirMissing, {entry}), MessageIcon::Question);
            view.FocusBox();
            return false;
        }
    }

    if (WriteTextFile(platform::SystemCodePageFromUtf8(list.text), target) != 1) {
        // Without the saved list the scanner would search the old directories.
        view.ShowMessage(TrFormat(kMsgScanDirNotSaved, {target}), MessageIcon::Error);
        view.FocusBox();
        return false;
    }
    directoryText_ = list.text;
    view.ShowBox(directoryText_);
    return view.AskYesNo(Tr(kAskStartScan));
}

}  // namespace mdb::desktop
