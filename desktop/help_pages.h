// Local help pages in the config directory, each shown only after its check against the
// integrity manifest (common/manifest.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/manifest.h"
#include "desktop_context.h"
#include "desktop_state.h"
#include "main_view.h"

namespace mdb::desktop {

inline constexpr const char* kPageReadLog = "HelpReadLog.dat";
inline constexpr const char* kPageScan = "HelpScan.Dat";
inline constexpr const char* kPageMonitor = "HelpMon.dat";

using mdb::CheckAgainstManifest;
using mdb::kManifestFileName;
using mdb::ManifestCheck;
using mdb::Sha256OfFile;

// Six rand() values after srand(time), printed last drawn first.
std::string MakeSessionId();

// Resolves, checks and addresses a local page: its translation into the window's
// language where one is shipped beside it ("HelpScan.en.Dat"), else the page itself.
// On failure the user has been told why (error box) and false is returned.
bool ShowLocalPage(const DesktopContext& ctx, MainView& view, const std::string& pageName,
                   std::string& url);

// What every caller does with a page: ShowLocalPage, then bring up the help pane
// if needed and navigate it. False when the page could not be shown.
bool ShowLocalPageInHelpPane(const DesktopContext& ctx, DesktopState& state, MainView& view,
                             const std::string& pageName);

// The help pane's start page: the refresh page (in the window's language, as above),
// which begins with the first steps, when it passes the integrity check, without any
// message box. Empty when it cannot be used.
std::string StartPageUrl(const DesktopContext& ctx);

// The local path inside a "file://...?SessionId=..." address made by ShowLocalPage;
// empty for other addresses.
std::string LocalPathOfPageUrl(const std::string& url);

}  // namespace mdb::desktop
