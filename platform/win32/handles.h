#pragma once
// Small helpers of the Win32 implementation: system errors as the errno values the
// platform interface reports, and the handles behind the C runtime's descriptors.

#include <windows.h>

namespace mdb::platform::win32 {

// The errno value that stands for Win32 error `error` (EIO for those without one).
int ErrnoOf(DWORD error);

// Owns a file handle until it is released or destroyed.
class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE h) : h_(h) {}
    ~OwnedHandle() {
        if (Valid()) CloseHandle(h_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }

  private:
    HANDLE h_;
};

// 0 when `file` is an open regular file; EISDIR for a directory, and
// kErrorNotRegularFile for anything else (a device, a pipe, a link's reparse point).
int NotRegularReason(HANDLE file);

}  // namespace mdb::platform::win32
