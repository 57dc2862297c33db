#pragma once
// Reading and writing whole files while other processes may hold them.
//
// Another process that holds the file locked (a writer holds it exclusively, a reader
// refuses writers) makes an open attempt fail with a sharing violation; such an attempt is
// repeated every kShareRetryDelay, kShareAttempts attempts in all. Any other failure to
// open ends the call at once. Only regular files are read or written.

#include "desktop/util/sleeper.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace mdb::desktop {

inline constexpr int kShareAttempts = 31;
inline constexpr std::chrono::milliseconds kShareRetryDelay{100};

// Largest file the readers accept, in bytes; the smallest is 1.
inline constexpr std::uint64_t kMaxWholeFile = 104'857'599;
// 1: `out` holds every byte of the file at `path`; 0: failure (an empty, missing, locked or
// oversized file; `out` emptied). Paths are as long as the system takes them.
int ReadWholeFile(const std::string& path, std::string& out, const Sleeper& sleep = RealSleeper());

// Replaces the content of `path` (created when missing) with `bytes`, once no other process
// holds the file (see above). The bytes are written beside the file and then take its name,
// so the file is never seen empty or cut short, also after a crash or a full disk.
// 1 written, 0 failure (the old content is left as it was).
int WriteWholeFile(const std::string& path, std::span<const char> bytes,
                   const Sleeper& sleep = RealSleeper());

// Writes `text` as the whole content of `path`; an empty text is written as "\r\n". An
// existing read-only file is made writable by its owner first. 1 written, 0 failure.
int WriteTextFile(std::string_view text, const std::string& path,
                  const Sleeper& sleep = RealSleeper());

}  // namespace mdb::desktop
