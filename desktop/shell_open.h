// Handing files and addresses to the desktop environment.
#pragma once

#include <string>
#include <string_view>

namespace mdb::desktop {

// "file://" URI of an absolute path, with every byte outside the unreserved set
// and '/' percent-encoded.
std::string FileUri(std::string_view absolutePath);

// Shows `path` selected in its folder: the file manager's D-Bus ShowItems call
// (org.freedesktop.FileManager1) when one answers, else xdg-open on the folder.
// Returns 1 when either was done.
int ShowFileInFolder(const std::string& path);

}  // namespace mdb::desktop
