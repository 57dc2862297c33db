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

// Resolves, checks and addresses a local page. On failure the user has been told
// why (error box) and false is returned.
bool ShowLocalPage(const DesktopContext& ctx, MainView& view, const std::string& pageName,
                   std::string& url);

// What every caller does with a page: ShowLocalPage, then bring up the help pane
// if needed and navigate it. False when the page could not be shown.
bool ShowLocalPageInHelpPane(const DesktopContext& ctx, DesktopState& state, MainView& view,
                             const std::string& pageName);

// The local page the help pane shows when the online help cannot be loaded: the
// refresh page when it passes the integrity check, without any message box.
// Empty when no page can be used.
std::string FallbackStartPageUrl(const DesktopContext& ctx);

// The local path inside a "file://...?SessionId=..." address made by ShowLocalPage;
// empty for other addresses.
std::string LocalPathOfPageUrl(const std::string& url);

}  // namespace mdb::desktop
