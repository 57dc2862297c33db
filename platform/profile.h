#pragma once
// Private-profile (INI) files with the Windows semantics: section and key names compare
// without regard to case, a missing file, section or key yields the default, an integer is
// parsed like GetPrivateProfileInt. Each call is atomic against other processes: readers
// and writers serialise on an advisory lock beside the file (NAME.lock), and a write replaces
// the file by renaming a complete temporary copy over it.
//
// No call waits without end: a writer awaits the lock for about 3 seconds (31 attempts 100 ms
// apart, as every shared file of the programs is) and gives up after that; a reader reads
// after the same wait even without the lock (a write replaces the file whole). Only regular
// files are opened, so a FIFO in place of the file or of its lock cannot block the caller.

#include <string>

namespace mdb::platform {

enum class ProfileError {
    None,
    LockTimeout,     // another process held NAME.lock for the whole wait
    NotRegularFile,  // the file or its lock file is a FIFO, a directory, a device, ...
    OpenFailed,      // the file or its lock file could not be opened (permissions, ...)
    WriteFailed,     // the file could not be replaced
};

// Why the last call of this thread failed or fell back to the default (None after a call
// that succeeded or found nothing to read).
ProfileError LastProfileError();

// Integer value of `key`; `defaultValue` when the file, section or key is missing or the
// value is empty. Leading blanks and a sign are accepted; parsing stops at the first
// non-digit; a value without digits reads as 0, a negative value as 0.
unsigned GetProfileInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& path);

// Text of `key`, without blanks at either end; `defaultValue` when the file, section or key
// is missing or the value is empty.
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& path);

// Sets `key` to `value`, creating the file and the section when missing. Other lines are
// kept as they are. False when the file cannot be written.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

}  // namespace mdb::platform
