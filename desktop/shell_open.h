// Handing files and addresses to the desktop environment.
#pragma once

#include <string>
#include <string_view>

#include "thread_start.h"

namespace mdb::desktop {

// "file://" URI of an absolute path, with every byte outside the unreserved set
// and '/' percent-encoded.
std::string FileUri(std::string_view absolutePath);

// Hands a folder, file or address to xdg-open (explorer.exe on Windows). Returns 0 when
// it could not be started or failed (no browser or file manager for it), else 1. It
// waits for xdg-open's verdict however long that takes (call it off the window's
// thread), unless `giveUp` is signalled first: xdg-open is then left to end by itself
// and the result is 1.
int OpenWithDesktop(const std::string& target, StopSignal* giveUp = nullptr);

// Shows `path` selected in its folder: the file manager's D-Bus ShowItems call
// (org.freedesktop.FileManager1) when one answers, else xdg-open on the folder; on
// Windows "explorer.exe /select, \"PATH\"". Returns 1 when either was done. Waits as
// OpenWithDesktop does.
int ShowFileInFolder(const std::string& path, StopSignal* giveUp = nullptr);

#ifdef _WIN32
// The same with the Explorer program named (the functions above use the system's,
// platform::ExplorerPath): `explorer` started with `"TARGET"`, and with `/select, "PATH"`.
int OpenInExplorer(const std::string& explorer, const std::string& target);
int ShowInExplorer(const std::string& explorer, const std::string& path);
#endif

}  // namespace mdb::desktop
