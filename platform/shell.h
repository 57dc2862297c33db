#pragma once
// Handing files, folders and addresses to the desktop: the user's file manager and browser.

#include <functional>
#include <string>
#include <string_view>

namespace mdb::platform {

// Asked now and then while a call below waits for the desktop's verdict: true gives the
// wait up (the window that asked is closing).
using GiveUpWait = std::function<bool()>;

// Hands a folder, file or address to xdg-open (explorer.exe on Windows). False when it
// could not be started or failed (no browser or file manager for it). It waits for
// xdg-open's verdict however long that takes (call it off the window's thread), unless
// `giveUp` says so first: xdg-open is then left to end by itself and the result is true.
bool OpenWithDesktop(const std::string& target, const GiveUpWait& giveUp = {});

// Shows `path` selected in its folder: the file manager's D-Bus ShowItems call
// (org.freedesktop.FileManager1) when one answers, else xdg-open on the folder; on
// Windows "explorer.exe /select, \"PATH\"". True when either was done. Waits as
// OpenWithDesktop does.
bool ShowFileInFolder(const std::string& path, const GiveUpWait& giveUp = {});

#ifdef _WIN32
// The same with the Explorer program named (the functions above use the system's,
// ExplorerPath): `explorer` started with `"TARGET"`, and with `/select, "PATH"`.
// explorer.exe ends with a code that does not say whether it succeeded: started is done.
bool OpenInExplorer(const std::string& explorer, const std::string& target);
bool ShowInExplorer(const std::string& explorer, const std::string& path);
#else
// "file://" URI of an absolute path, with every byte outside the unreserved set and '/'
// percent-encoded (the form ShowItems takes).
std::string FileUri(std::string_view absolutePath);
#endif

}  // namespace mdb::platform
