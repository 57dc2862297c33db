#include "platform/process.h"

#include <errno.h>
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace mdb::platform {

using win32::OwnedHandle;

namespace {

// How long a process gets to vanish after TerminateProcess before we call it a failure.
constexpr DWORD kKillWaitMs = 5000;

// The processes this process started and has not waited for yet. Windows frees a process
// id as soon as the last handle to the ended process is closed, so the handle CreateProcess
// gave is kept until the caller has collected the exit code (the part a zombie plays on
// POSIX); a later process with the same id can then never be mistaken for the child.
class ChildTable {
  public:
    void Add(int pid, HANDLE process) {
        std::lock_guard lock(mutex_);
        children_[pid] = process;
    }
    // The child's handle, removed from the table; null when `pid` is no child of ours.
    HANDLE Take(int pid) {
        std::lock_guard lock(mutex_);
        const auto it = children_.find(pid);
        if (it == children_.end()) return nullptr;
        HANDLE process = it->second;
        children_.erase(it);
        return process;
    }
    void Put(int pid, HANDLE process) { Add(pid, process); }

  private:
    std::mutex mutex_;
    std::map<int, HANDLE> children_;
};

ChildTable& Children() {
    static ChildTable table;
    return table;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StillActive(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// Full path of the executable of an open process; empty when the system does not say.
std::string ExecutableOf(HANDLE process) {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(buf.size());
        if (QueryFullProcessImageNameW(process, 0, buf.data(), &size))
            return win32::Utf8(std::wstring_view(buf.data(), size));
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

// Executable names compare without regard to case, as Windows file names do.
bool SameNameNoCase(const std::string& a, const std::string& b) {
    const std::wstring wa = win32::Wide(a), wb = win32::Wide(b);
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

// One argument quoted so that the child's command-line parser (CommandLineToArgvW, the C
// runtime's) gives it back unchanged: blanks and quotes survive.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each one is doubled.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

int ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) return -1;
    return static_cast<int>(code);
}

// The null device opened for writing, inheritable, so a child can write into it.
HANDLE OpenNullForChild() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

// `handle` duplicated as an inheritable handle (for the child's standard streams); null
// when there is none.
HANDLE InheritableCopy(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// Starts the command line `line` (the program `application` when not null, else the one
// the line names first) with the standard streams `output` asks for.
SpawnResult Launch(const wchar_t* application, std::wstring& line, ChildOutput output) {
    SpawnResult result;
    // The command line limit of CreateProcess, in UTF-16 units with its terminator.
    if (line.size() >= 32767) {
        result.error = E2BIG;
        return result;
    }

    // Only the three standard streams are handed down: the attribute list names them, so
    // no other inheritable handle of this process (of another thread's child, say) leaks.
    // A child with a console of its own uses that console's streams and gets none.
    const bool ownConsole = output == ChildOutput::OwnConsole;
    OwnedHandle in(ownConsole ? nullptr : InheritableCopy(GetStdHandle(STD_INPUT_HANDLE)));
    OwnedHandle out(ownConsole ? nullptr
                    : output == ChildOutput::Discard
                        ? OpenNullForChild()
                        : InheritableCopy(GetStdHandle(STD_OUTPUT_HANDLE)));
    OwnedHandle err(ownConsole ? nullptr
                    : output == ChildOutput::Discard
                        ? OpenNullForChild()
                        : InheritableCopy(GetStdHandle(STD_ERROR_HANDLE)));
    HANDLE streams[3];
    DWORD streamCount = 0;
    for (const OwnedHandle* h : {&in, &out, &err})
        if (h->Valid()) streams[streamCount++] = h->Get();

    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<char> attributeStore(attributeSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStore.data());
    const bool listed =
        streamCount > 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, streams,
                                  streamCount * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    if (listed) {
        startup.lpAttributeList = attributes;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = in.Valid() ? in.Get() : nullptr;
        startup.StartupInfo.hStdOutput = out.Valid() ? out.Get() : nullptr;
        startup.StartupInfo.hStdError = err.Valid() ? err.Get() : nullptr;
    }
    PROCESS_INFORMATION info{};
    const BOOL started =
        CreateProcessW(application, line.data(), nullptr, nullptr, listed ? TRUE : FALSE,
                       NORMAL_PRIORITY_CLASS | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0) |
                           (ownConsole ? CREATE_NEW_CONSOLE : 0),
                       nullptr,
                       nullptr, &startup.StartupInfo, &info);
    const DWORD error = GetLastError();
    if (listed) DeleteProcThreadAttributeList(attributes);
    if (!started) {
        result.error = win32::ErrnoOf(error);
        return result;
    }
    CloseHandle(info.hThread);
    result.pid = static_cast<int>(info.dwProcessId);
    Children().Add(result.pid, info.hProcess);
    return result;
}

}  // namespace

ProcessEntry DescribeProcess(int pid, const std::string& /*root*/) {
    ProcessEntry entry;
    entry.pid = pid;
    if (pid <= 0) return entry;
    OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                    static_cast<DWORD>(pid)));
    if (!process.Valid() || !StillActive(process.Get())) return entry;
    entry.executable = ExecutableOf(process.Get());
    entry.name = BaseName(entry.executable);
    return entry;
}

ProcessList ListProcesses(const std::string& /*root*/) {
    ProcessList list;
    OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) {
        list.status = ProcessListStatus::CannotOpen;
        return list;
    }
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32FirstW(snapshot.Get(), &pe); more;
         more = Process32NextW(snapshot.Get(), &pe)) {
        if (pe.th32ProcessID == 0) continue;  // the idle process is no program
        ProcessEntry entry;
        entry.pid = static_cast<int>(pe.th32ProcessID);
        entry.name = win32::Utf8(pe.szExeFile);
        OwnedHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID));
        if (process.Valid()) entry.executable = ExecutableOf(process.Get());
        if (!entry.name.empty()) list.entries.push_back(std::move(entry));
    }
    list.status = list.entries.empty() ? ProcessListStatus::NoEntries : ProcessListStatus::Ok;
    return list;
}

TerminateStatus TerminateProcess(const ProcessEntry& expected,
                                 std::chrono::milliseconds /*grace: a console program gets
                                                              no polite request here*/) {
    const int pid = expected.pid;
    if (pid <= 0) return TerminateStatus::Failed;
    // The open handle pins the process: while it is open the id cannot pass to another
    // program, so the check below and the termination concern the same process.
    OwnedHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                    static_cast<DWORD>(pid)));
    if (!process.Valid()) {
        return GetLastError() == ERROR_INVALID_PARAMETER ? TerminateStatus::AlreadyGone
                                                         : TerminateStatus::Failed;
    }
    if (!StillActive(process.Get())) return TerminateStatus::AlreadyGone;
    const std::string executable = ExecutableOf(process.Get());
    if (!SameNameNoCase(BaseName(executable), expected.name)) return TerminateStatus::AlreadyGone;
    if (!expected.executable.empty() && !SameNameNoCase(executable, expected.executable))
        return TerminateStatus::AlreadyGone;
    // Exit code 0, as the desktop program has always ended the scanner.
    if (!::TerminateProcess(process.Get(), 0)) {
        return StillActive(process.Get()) ? TerminateStatus::Failed : TerminateStatus::Ended;
    }
    return WaitForSingleObject(process.Get(), kKillWaitMs) == WAIT_OBJECT_0
               ? TerminateStatus::Ended
               : TerminateStatus::Failed;
}

bool IsRunnableFile(const std::string& path) {
    const std::wstring wide = win32::Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    DWORD kind = 0;
    // A program file the system can start as a process by itself (no script, no document).
    return GetBinaryTypeW(wide.c_str(), &kind) != 0;
}

SpawnResult SpawnProcess(std::span<const std::string> argv, ChildOutput output) {
    if (argv.empty() || argv.front().empty()) return SpawnResult{-1, EINVAL};
    std::wstring line;
    for (const std::string& arg : argv) {
        if (arg.find('\0') != std::string::npos)  // would be cut short silently
            return SpawnResult{-1, EINVAL};
        if (!line.empty()) line += L' ';
        AppendQuoted(line, win32::Wide(arg));
    }
    return Launch(nullptr, line, output);
}

SpawnResult SpawnCommandLine(const std::string& program, const std::string& arguments,
                             ChildOutput output) {
    if (program.empty() || program.find_first_of(std::string("\"\0", 2)) != std::string::npos ||
        arguments.find('\0') != std::string::npos)
        return SpawnResult{-1, EINVAL};
    const std::wstring application = win32::Wide(program);
    // The program's path always in quotes, as a path can never hold one.
    std::wstring line = L"\"" + application + L"\" ";
    line += win32::Wide(arguments);
    return Launch(application.c_str(), line, output);
}

int WaitForProcess(int pid) {
    if (pid <= 0) return -1;
    OwnedHandle process(Children().Take(pid));
    if (!process.Valid()) return -1;
    if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return -1;
    return ExitCodeOf(process.Get());
}

int WaitForProcessFor(int pid, std::chrono::milliseconds timeout) {
    if (pid <= 0) return -1;
    HANDLE process = Children().Take(pid);
    if (process == nullptr) return -1;
    const auto ms = static_cast<DWORD>(
        std::clamp<std::int64_t>(timeout.count(), 0, static_cast<std::int64_t>(INFINITE - 1)));
    const DWORD waited = WaitForSingleObject(process, ms);
    if (waited == WAIT_TIMEOUT) {
        Children().Put(pid, process);  // may be waited for again
        return kStillRunning;
    }
    const int code = waited == WAIT_OBJECT_0 ? ExitCodeOf(process) : -1;
    CloseHandle(process);
    return code;
}

void ReapInBackground(int pid) {
    // Nothing lingers on Windows once the last handle is closed; the child runs on.
    if (HANDLE process = Children().Take(pid)) CloseHandle(process);
}

int CurrentProcessId() {
    return static_cast<int>(GetCurrentProcessId());
}

void KeepFreedMemoryForReuse() {
    // The process heap keeps what is freed for reuse already.
}

}  // namespace mdb::platform
