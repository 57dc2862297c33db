#include "platform/safe_files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>
// <windows.h> makes RemoveDirectory a macro; the name here is the platform interface's.
#undef RemoveDirectory

#include <cstring>
#include <map>
#include <mutex>
#include <random>

#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

// Every name below an open directory is opened relative to that directory's handle
// (NtCreateFile with a root directory, the Windows counterpart of openat), and always as
// the entry itself (FILE_OPEN_REPARSE_POINT): a junction or symbolic link put in place of a
// level or a file is found and refused, never followed. A FileHandle holds a C runtime
// descriptor of the handle (_open_osfhandle), so the interface stays the same on both
// systems.

namespace mdb::platform {

using win32::OwnedHandle;

namespace {

constexpr int kUniqueNameAttempts = 100;  // as on POSIX: a clash is no chance at 36^12 names

// The extended rename of NtSetInformationFile (FILE_RENAME_INFORMATION_EX), which the
// headers of the toolchain do not have yet.
struct RenameInformationEx {
    ULONG flags;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;
constexpr auto kFileRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BB);

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;

bool Describe(HANDLE h, FileStatus& out);

// Files opened for reading with other writers refused, by descriptor: while one is open no
// process can hold that file open for writing (see OpenForWritingByAProcess).
class WriterFreeFiles {
  public:
    void Add(int fd, const FileStatus& file) {
        std::lock_guard lock(mutex_);
        files_[fd] = {file.device, file.inode};
    }
    void Remove(int fd) {
        std::lock_guard lock(mutex_);
        files_.erase(fd);
    }
    bool Holds(const FileStatus& file) {
        std::lock_guard lock(mutex_);
        for (const auto& [fd, id] : files_) {
            if (id.first != file.device || id.second != file.inode) continue;
            FileStatus open;
            const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
            if (h != INVALID_HANDLE_VALUE && Describe(h, open) && SameFile(open, file)) return true;
        }
        return false;
    }

  private:
    std::mutex mutex_;
    std::map<int, std::pair<std::uint64_t, std::uint64_t>> files_;
};

WriterFreeFiles& WriterFree() {
    static WriterFreeFiles files;
    return files;
}

HANDLE HandleOf(const FileHandle& file) {
    return file.Valid() ? reinterpret_cast<HANDLE>(_get_osfhandle(file.Get())) : nullptr;
}

// One level: no separator, no stream name, not "." or "..".
bool IsOneLevel(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"\\/:") == std::wstring::npos &&
           name.find(L'\0') == std::wstring::npos;
}

// Opens `name` relative to the directory `dir` as the entry itself; sets the Win32 error
// (SetLastError) and returns null on failure.
HANDLE OpenAt(HANDLE dir, const std::string& name, ACCESS_MASK access, ULONG share,
              ULONG disposition, ULONG options) {
    std::wstring wide = win32::Wide(name);
    if (dir == nullptr || !IsOneLevel(wide) || wide.size() > 32767) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    UNICODE_STRING unicode;
    unicode.Buffer = wide.data();
    unicode.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, dir, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const NTSTATUS status = NtCreateFile(
        &opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return nullptr;
    }
    return opened;
}

bool IsLink(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return !GetFileInformationByHandle(h, &info) ||
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// `h` as a descriptor of the C runtime, or an invalid handle (then `h` is closed).
FileHandle Adopt(HANDLE h, bool writable) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return {};
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h),
                                   (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return {};
    }
    return FileHandle(fd);
}

// A directory opened as the entry itself; a link in its place is closed and refused.
FileHandle AdoptDirectory(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return {};
    if (IsLink(h)) {
        CloseHandle(h);
        return {};
    }
    return Adopt(h, false);
}

constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Other openers may do anything with a directory, as on POSIX, and also remove or rename
// what we hold open: every later step names its entry relative to a handle again.
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Files this process reads or writes: other readers are welcome, writers are refused, and
// a name may still be renamed or removed (the batch renames over a file it holds open).
constexpr ULONG kShareDenyWrite = FILE_SHARE_READ | FILE_SHARE_DELETE;

std::int64_t UnixSeconds(std::int64_t fileTime) {
    return fileTime / 10000000 - kEpochDifference;
}

bool Describe(HANDLE h, FileStatus& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandle(h, &info) ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return false;
    out = FileStatus{};
    out.device = info.dwVolumeSerialNumber;
    out.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.links = info.nNumberOfLinks;
    out.mtimeSec = UnixSeconds(basic.LastWriteTime.QuadPart);
    out.mtimeNsec = (basic.LastWriteTime.QuadPart % 10000000) * 100;
    out.ctimeSec = UnixSeconds(basic.ChangeTime.QuadPart);
    out.ctimeNsec = (basic.ChangeTime.QuadPart % 10000000) * 100;
    // Windows has access lists, not permission bits: read-only files show no write bits.
    out.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    out.directory = !link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.regular = !link && !out.directory;
    if (out.directory) out.mode |= 0111;
    return true;
}

std::string RandomPart() {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        return std::mt19937_64((static_cast<std::uint64_t>(device()) << 32) ^ device() ^
                               GetCurrentProcessId());
    }();
    std::string part;
    for (std::size_t i = 0; i < kUniqueNameChars; ++i) part += kDigits[random() % 36];
    return part;
}

// Renames `from` inside `dir` to the name `to` inside the same `dir`. The new name is given
// relative to the directory's handle (not as a bare name, which some implementations
// resolve against the current directory), so it cannot land anywhere else.
DWORD RenameIn(const FileHandle& dir, const std::string& from, const std::string& to,
               bool replace) {
    const std::wstring target = win32::Wide(to);
    if (!IsOneLevel(target) || target.size() > 32767) return ERROR_INVALID_NAME;
    OwnedHandle source(OpenAt(HandleOf(dir), from, DELETE, kShareAll, FILE_OPEN, 0));
    if (!source.Valid()) return GetLastError();
    // With POSIX semantics (Windows 10 1709 and later) a name is replaced even while the
    // file it names is held open with delete sharing, as the batch holds the original; the
    // older form is the fallback where the system does not know that form.
    const ULONG nameBytes = static_cast<ULONG>(target.size() * sizeof(wchar_t));
    std::vector<char> store(sizeof(RenameInformationEx) + nameBytes);
    auto* ex = reinterpret_cast<RenameInformationEx*>(store.data());
    ex->flags = (replace ? kRenameReplaceIfExists : 0) | kRenamePosixSemantics;
    ex->rootDirectory = HandleOf(dir);
    ex->fileNameLength = nameBytes;
    std::memcpy(ex->fileName, target.data(), nameBytes);
    IO_STATUS_BLOCK io{};
    NTSTATUS status = NtSetInformationFile(source.Get(), &io, ex, static_cast<ULONG>(store.size()),
                                           kFileRenameInformationEx);
    if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented ||
        status == kStatusInvalidParameter || status == kStatusNotSupported) {
        auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(store.data());
        info->ReplaceIfExists = replace ? TRUE : FALSE;
        info->RootDirectory = HandleOf(dir);
        info->FileNameLength = nameBytes;
        std::memcpy(info->FileName, target.data(), nameBytes);
        status = NtSetInformationFile(source.Get(), &io, info, static_cast<ULONG>(store.size()),
                                      FileRenameInformation);
    }
    return status < 0 ? RtlNtStatusToDosError(status) : ERROR_SUCCESS;
}

// The read-only attribute refuses a delete (a site's database may carry it, and so its
// copy put aside by Rename): it is taken off for the delete and put back when the delete
// fails all the same.
bool RemoveAt(const FileHandle& dir, const std::string& name, ULONG kindOption) {
    HANDLE opened = OpenAt(HandleOf(dir), name,
                           DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                           FILE_OPEN, kindOption);
    if (opened == nullptr)
        opened = OpenAt(HandleOf(dir), name, DELETE, kShareAll, FILE_OPEN, kindOption);
    const OwnedHandle entry(opened);
    if (!entry.Valid()) return false;
    FILE_DISPOSITION_INFO remove{TRUE};
    if (SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &remove, sizeof remove))
        return true;
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(entry.Get(), FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return false;
    FILE_BASIC_INFO writable{};  // zero times and attributes: those are left as they are
    writable.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(entry.Get(), FileBasicInfo, &writable, sizeof writable))
        return false;
    if (SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &remove, sizeof remove))
        return true;
    FILE_BASIC_INFO again{};
    again.FileAttributes = basic.FileAttributes;
    SetFileInformationByHandle(entry.Get(), FileBasicInfo, &again, sizeof again);
    return false;
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            WriterFree().Remove(fd_);
            _close(fd_);
        }
        fd_ = other.Release();
    }
    return *this;
}

// A released descriptor (FileHandle::Release, a move) stays listed as refusing writers: it
// still is, in its new owner. Holds checks that a listed descriptor still has that file.
FileHandle::~FileHandle() {
    if (fd_ >= 0) {
        WriterFree().Remove(fd_);
        _close(fd_);
    }
}

bool StatusOf(const FileHandle& file, FileStatus& status) {
    HANDLE h = HandleOf(file);
    return h != nullptr && h != INVALID_HANDLE_VALUE && Describe(h, status);
}

bool StatusAt(const FileHandle& dir, const std::string& name, FileStatus& status) {
    OwnedHandle entry(OpenAt(HandleOf(dir), name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0));
    return entry.Valid() && Describe(entry.Get(), status);
}

FileHandle OpenDirectoryNoLinks(const std::filesystem::path& path) {
    std::wstring text = path.native();
    if (text.rfind(L"\\\\?\\", 0) == 0) text.erase(0, 4);
    // A drive letter, a colon and a separator: the absolute form the programs use.
    if (text.size() < 3 || !iswalpha(text[0]) || text[1] != L':' ||
        (text[2] != L'\\' && text[2] != L'/'))
        return {};
    const std::wstring root = L"\\\\?\\" + text.substr(0, 2) + L"\\";
    FileHandle current = AdoptDirectory(
        CreateFileW(root.c_str(), kDirectoryAccess, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    std::size_t start = 3;
    while (current.Valid() && start <= text.size()) {
        std::size_t end = text.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring level = text.substr(start, end - start);
        start = end + 1;
        if (level.empty()) continue;  // a doubled or trailing separator
        if (level == L"." || level == L"..") return {};
        current = OpenSubdirectory(current, win32::Utf8(level));
    }
    return current;
}

FileHandle OpenSubdirectory(const FileHandle& dir, const std::string& name) {
    return AdoptDirectory(
        OpenAt(HandleOf(dir), name, kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE));
}

FileHandle OpenOrCreateSubdirectory(const FileHandle& dir, const std::string& name) {
    return AdoptDirectory(OpenAt(HandleOf(dir), name, kDirectoryAccess, kShareAll, FILE_OPEN_IF,
                                 FILE_DIRECTORY_FILE));
}

FileHandle OpenForReading(const FileHandle& dir, const std::string& name) {
    HANDLE h = OpenAt(HandleOf(dir), name, GENERIC_READ, kShareDenyWrite, FILE_OPEN,
                      FILE_NON_DIRECTORY_FILE);
    if (h == nullptr) return {};
    FileStatus status;
    if (GetFileType(h) != FILE_TYPE_DISK || !Describe(h, status) || !status.regular) {
        CloseHandle(h);
        return {};
    }
    FileHandle file = Adopt(h, false);
    if (file.Valid()) WriterFree().Add(file.Get(), status);
    return file;
}

bool ReadingRefusedByAnotherProcess(const FileHandle& dir, const std::string& name) {
    // The same open as OpenForReading's, so it is refused for the same reason.
    const HANDLE h = OpenAt(HandleOf(dir), name, GENERIC_READ, kShareDenyWrite, FILE_OPEN,
                            FILE_NON_DIRECTORY_FILE);
    if (h == nullptr) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return false;
}

FileHandle CreateExclusive(const FileHandle& dir, const std::string& name, std::uint32_t) {
    return Adopt(OpenAt(HandleOf(dir), name, GENERIC_READ | GENERIC_WRITE, kShareDenyWrite,
                        FILE_CREATE, FILE_NON_DIRECTORY_FILE),
                 true);
}

FileHandle CreateUniqueFile(const FileHandle& dir, const std::string& prefix,
                            const std::string& suffix, std::uint32_t mode, std::string& name) {
    if (!dir.Valid()) return {};
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        std::string candidate = prefix + RandomPart() + suffix;
        FileHandle file = CreateExclusive(dir, candidate, mode);
        if (file.Valid()) {
            name = std::move(candidate);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

FileHandle CreateUniqueDirectory(const FileHandle& dir, const std::string& prefix,
                                 std::string& name) {
    if (!dir.Valid()) return {};
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        std::string candidate = prefix + RandomPart();
        // Created and opened in one step: no other directory can take its place between.
        HANDLE h = OpenAt(HandleOf(dir), candidate, kDirectoryAccess, kShareAll, FILE_CREATE,
                          FILE_DIRECTORY_FILE);
        if (h != nullptr) {
            name = std::move(candidate);
            return Adopt(h, false);
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

std::int64_t ReadAt(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    HANDLE h = HandleOf(file);
    if (h == nullptr) return -1;
    std::size_t done = 0;
    while (done < buffer.size()) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        // ReadFile counts in 32 bits: large reads go in pieces of 1 GiB.
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(h, buffer.data() + done, want, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

bool CopyAll(const FileHandle& from, const FileHandle& to) {
    HANDLE out = HandleOf(to);
    if (out == nullptr) return false;
    // One megabyte per call: few system calls for large databases, little memory.
    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t n = ReadAt(from, offset, buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        DWORD written = 0;
        for (DWORD done = 0; done < static_cast<DWORD>(n); done += written) {
            if (!WriteFile(out, buffer.data() + done, static_cast<DWORD>(n) - done, &written,
                           nullptr) ||
                written == 0)
                return false;
        }
        offset += static_cast<std::uint64_t>(n);
    }
}

bool Sync(const FileHandle& file) {
    HANDLE h = HandleOf(file);
    FileStatus status;
    if (h == nullptr || !Describe(h, status)) return false;
    // NTFS writes directory entries through its journal; a directory handle cannot be
    // flushed (that needs write access to the directory itself) and needs no flush.
    if (status.directory) return true;
    return FlushFileBuffers(h) != 0;
}

// No owner is handed over: a new file gets the access list its directory passes down, as
// a file copied by Windows itself does. The read-only attribute stands for missing write
// bits.
bool SetOwnerAndMode(const FileHandle& file, const FileStatus&, std::uint32_t mode) {
    HANDLE h = HandleOf(file);
    FILE_BASIC_INFO basic{};
    if (h == nullptr || !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return false;
    DWORD attributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if ((mode & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    if (attributes == basic.FileAttributes) return true;
    FILE_BASIC_INFO change{};  // zero times: left as they are
    change.FileAttributes = attributes;
    return SetFileInformationByHandle(h, FileBasicInfo, &change, sizeof change) != 0;
}

bool CopyOwnerModeTime(const FileHandle& file, const FileStatus& like) {
    if (!SetOwnerAndMode(file, like, like.mode)) return false;
    FILE_BASIC_INFO change{};
    change.LastWriteTime.QuadPart =
        (like.mtimeSec + kEpochDifference) * 10000000 + like.mtimeNsec / 100;
    return SetFileInformationByHandle(HandleOf(file), FileBasicInfo, &change, sizeof change) != 0;
}

// Systems without the POSIX rename (before Windows 10 1709, Wine) refuse to replace a name
// whose file is open, even with delete sharing, as the batch holds the original it
// replaces. There the file under `to` is first renamed aside (an open file may be renamed),
// `from` takes its name, and the file aside is removed (it vanishes when its last handle is
// closed). A failure of the second step renames it back. Not atomic: for a moment `to` is
// missing, and a crash in that moment leaves the file aside under "TO.replaced-XXXXXXXXXXXX"
// (RemoveBatchLeftovers puts it back, or removes it when `to` is there). A file aside that
// cannot be removed is named in `leftAside`.
bool Rename(const FileHandle& dir, const std::string& from, const std::string& to,
            std::string* leftAside) {
    if (leftAside != nullptr) leftAside->clear();
    const DWORD error = RenameIn(dir, from, to, true);
    if (error == ERROR_SUCCESS) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    FileStatus target;
    if (!StatusAt(dir, to, target) || !target.regular) return false;
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        const std::string aside = to + kReplacedAsideMiddle + RandomPart();
        const DWORD moved = RenameIn(dir, to, aside, false);
        if (moved == ERROR_ALREADY_EXISTS || moved == ERROR_FILE_EXISTS) continue;
        if (moved != ERROR_SUCCESS) return false;
        if (RenameIn(dir, from, to, false) != ERROR_SUCCESS) {
            RenameIn(dir, aside, to, false);
            return false;
        }
        if (!RemoveFile(dir, aside) && leftAside != nullptr) *leftAside = aside;
        return true;
    }
    return false;
}

RenameResult RenameNoReplace(const FileHandle& dir, const std::string& from,
                             const std::string& to) {
    const DWORD error = RenameIn(dir, from, to, false);
    if (error == ERROR_SUCCESS) return RenameResult::Done;
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? RenameResult::Exists
                                                                       : RenameResult::Failed;
}

// Windows has no atomic exchange of two names; callers fall back to a rename.
ExchangeResult Exchange(const FileHandle&, const std::string&, const std::string&) {
    return ExchangeResult::Unsupported;
}

bool RemoveFile(const FileHandle& dir, const std::string& name) {
    return RemoveAt(dir, name, FILE_NON_DIRECTORY_FILE);
}

bool RemoveDirectory(const FileHandle& dir, const std::string& name) {
    return RemoveAt(dir, name, FILE_DIRECTORY_FILE);
}

bool ListDirectory(const FileHandle& dir, std::vector<DirectoryEntry>& entries) {
    entries.clear();
    HANDLE h = HandleOf(dir);
    if (h == nullptr) return false;
    // Read through the handle itself, so the listing is of the directory we hold.
    std::vector<std::uint8_t> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(h, kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size()))) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        kind = FileIdBothDirectoryInfo;
        for (std::size_t at = 0;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            const std::wstring_view wide(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (wide != L"." && wide != L"..") {
                DirectoryEntry entry;
                entry.name = win32::Utf8(wide);
                entry.link = (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
                if (StatusAt(dir, entry.name, entry.status)) entries.push_back(std::move(entry));
            }
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }
}

// Windows files belong to security identifiers, not user numbers; every file counts as
// the current user's (0), and the batch recognises its own leftovers by their names.
std::uint32_t CurrentUser() {
    return 0;
}

// A file this process holds open for reading with writers refused cannot be open for
// writing anywhere: the system refuses the one or the other opener with a sharing
// violation. Any other file may be, as far as we can tell without a path to probe.
Writers WritersOf(const FileStatus& file) {
    return WriterFree().Holds(file) ? Writers::None : Writers::Writing;
}

bool OpenForWritingByAProcess(const FileStatus& file) {
    return WritersOf(file) != Writers::None;
}

}  // namespace mdb::platform
