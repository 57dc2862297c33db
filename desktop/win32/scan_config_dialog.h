// The scan settings dialog on Windows (template 136) over the toolkit-free ScanConfig.
#pragma once

#include <windows.h>

#include "desktop/desktop_context.h"

namespace mdb::desktop::win32 {

// Runs the dialog modally, owned by `owner`; true only when the list was saved and the
// user confirmed the scan.
bool RunScanConfigDialog(HINSTANCE instance, HWND owner, const DesktopContext& ctx);

}  // namespace mdb::desktop::win32
