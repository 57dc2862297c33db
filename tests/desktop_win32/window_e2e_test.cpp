// mdbwarden.exe as a user drives it, under Wine: a program directory with two recorded
// databases, "全选 √" and "压缩选择数据库" clicked, every box answered as a user would,
// and then the list shows the new sizes, the site files are compacted and their backups
// are byte-for-byte copies of the originals.
#include "desktop/win32/resource_ids.h"
#include "platform/arguments.h"
#include "platform/win32/wide.h"
#include "desktop/site.h"
#include "tests/common/project_version.h"
#include "tests/common/test_support.h"
#include "tests/desktop/program_dir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using mdb::platform::win32::Utf8;
using mdb::platform::win32::Wide;
using namespace std::chrono_literals;

// How long the window may take for one step under Wine on a busy CI machine.
constexpr auto kStepTimeout = 60s;

struct Found {
    DWORD pid;
    std::vector<HWND> windows;
};

// Visible top-level windows of process `pid`.
std::vector<HWND> WindowsOf(DWORD pid) {
    Found found{pid, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* f = reinterpret_cast<Found*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == f->pid && IsWindowVisible(window)) f->windows.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

std::string TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

// All static texts of a dialog (a message box's message), one after another.
std::string DialogText(HWND dialog) {
    std::string text;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        if (std::wstring_view(cls) == L"Static") text += TextOf(child);
    }
    return text;
}

// The text of one list cell, read through a buffer in the window's own process.
std::string CellText(HANDLE process, HWND list, int row, int column) {
    constexpr std::size_t kChars = 512;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t),
                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote) return {};
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVITEMW));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = remoteText;
    item.cchTextMax = kChars;
    WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
    const auto length = SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
    std::wstring text(kChars, L'\0');
    ReadProcessMemory(process, remoteText, text.data(), kChars * sizeof(wchar_t), nullptr);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(0, std::min<LRESULT>(length, kChars))));
    return Utf8(text);
}

template <typename Predicate>
bool WaitFor(Predicate done) {
    for (auto end = std::chrono::steady_clock::now() + kStepTimeout; std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

TEST(WindowProgram, ABatchOfTwoCheckedFilesIsCompactedAndShown) {
    if (!GetEnvironmentVariableW(L"DISPLAY", nullptr, 0)) GTEST_SKIP() << "no display for the window";
    // The backups go below D:\ as on the servers; the test prefix maps it (scripts/wine-run).
    if (GetDriveTypeW(L"D:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no drive D: for the backups";

    mdb::desktop::testing::ProgramDir dir;
    const fs::path dist = mdb::platform::PathFromUtf8(MDB_DIST_DIR);
    for (const auto& entry : fs::directory_iterator(dist)) {
        if (!entry.is_regular_file()) continue;
        std::error_code linked;
        fs::create_hard_link(entry.path(), dir.Path() / entry.path().filename(), linked);
        if (linked) fs::copy_file(entry.path(), dir.Path() / entry.path().filename());
    }
    for (const auto& page : fs::directory_iterator(dist / "config"))
        fs::copy_file(page.path(), dir.Path() / "config" / page.path().filename());

    const fs::path site = dir.Path() / u8"站点";
    fs::create_directories(site);
    const fs::path corpus = mdb::platform::PathFromUtf8(MDB_CORPUS_DIR);
    const std::vector<fs::path> files = {site / u8"数据.mdb", site / "news.mdb"};
    fs::copy_file(corpus / "jet4" / "testV2000.mdb", files[0]);
    fs::copy_file(corpus / "jet3" / "testV1997.mdb", files[1]);
    std::vector<std::string> originals;
    {
        auto db = dir.OpenDb();
        ASSERT_TRUE(db);
        for (std::size_t i = 0; i < files.size(); ++i) {
            originals.push_back(mdb::test::ReadWholeFile(files[i]));
            const std::u8string path = files[i].u8string();
            ASSERT_EQ(db->InsertRecord(mdb::desktop::testing::MakeRecord(
                          "key" + std::to_string(i), "\\\\?\\" + std::string(path.begin(), path.end()),
                          originals.back().size())),
                      1);
        }
    }

    std::wstring command = L"\"" + (dir.Path() / "mdbwarden.exe").wstring() + L"\"";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               dir.Path().c_str(), &startup, &info));
    CloseHandle(info.hThread);
    struct Ender {
        HANDLE process;
        ~Ender() {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
            CloseHandle(process);
        }
    } ender{info.hProcess};

    HWND main = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (HWND w : WindowsOf(info.dwProcessId))
            if (GetDlgItem(w, IDC_LIST_FILES)) main = w;
        return main != nullptr;
    })) << "the main window did not open";
    EXPECT_EQ(TextOf(main), "Veloran MDB 助手 " + mdb::test::CaptionVersionOfProject() + " 官方网站 " +
                                mdb::desktop::kSiteHost);
    const HWND list = GetDlgItem(main, IDC_LIST_FILES);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 2; }));

    Click(main, IDC_CHECK_ALL);
    Click(main, IDC_COMPACT_CHECKED);
    // The confirmation dialog, the question, the note that no web server can be stopped
    // here, and the closing report: each answered as a user answers it.
    std::vector<std::string> boxes;
    bool reported = false;
    ASSERT_TRUE(WaitFor([&] {
        for (HWND box : WindowsOf(info.dwProcessId)) {
            if (box == main) continue;
            if (GetDlgItem(box, IDC_CHOSEN_FILES)) {
                boxes.push_back("confirm");
                Click(box, IDOK);
            } else if (GetDlgItem(box, IDYES)) {
                boxes.push_back(DialogText(box));
                Click(box, IDYES);
            } else if (GetDlgItem(box, IDOK)) {
                const std::string text = DialogText(box);
                boxes.push_back(text);
                reported = text.find("数据库压缩完成") != std::string::npos;
                Click(box, IDOK);
            }
            std::this_thread::sleep_for(300ms);  // until the answered box has gone
        }
        return reported;
    })) << "boxes seen: " << ::testing::PrintToString(boxes);
    EXPECT_NE(boxes.back().find("成功压缩 2 个"), std::string::npos) << boxes.back();

    for (int row = 0; row < 2; ++row) {
        const std::string compacted = CellText(info.hProcess, list, row, 3);
        EXPECT_TRUE(compacted.ends_with(" KB")) << compacted;
        EXPECT_TRUE(CellText(info.hProcess, list, row, 4).ends_with(" %"));
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_LE(fs::file_size(files[i]), originals[i].size()) << files[i];

    // Each original is kept below the backup root, at its site path below the run's
    // directory; this test's run directories are removed again.
    int backups = 0;
    const fs::path backupRoot = "D:\\qor_mdb_backup";
    const std::string tempName = dir.Path().filename().string();
    std::vector<fs::path> runDirs;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(backupRoot, ec); !ec && it != fs::end(it); it.increment(ec)) {
        if (!it->is_regular_file() || it->path().string().find(tempName) == std::string::npos) continue;
        for (std::size_t i = 0; i < files.size(); ++i)
            if (it->path().filename() == files[i].filename() &&
                mdb::test::ReadWholeFile(it->path()) == originals[i])
                ++backups;
        const fs::path relative = it->path().lexically_relative(backupRoot);
        runDirs.push_back(backupRoot / *relative.begin() / *std::next(relative.begin()));
    }
    EXPECT_EQ(backups, 2);
    for (const fs::path& run : runDirs) fs::remove_all(run, ec);

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0) << "the program did not end";
}

}  // namespace
