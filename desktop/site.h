// The product's web site. The host is fixed when the program is built
// (CMake cache variable MDB_SITE_HOST).
#pragma once

#include <string>

#include "common/i18n.h"

#ifndef MDB_SITE_HOST
#define MDB_SITE_HOST "www.veloran.net"
#endif
#if !defined(MDB_CAPTION_VERSION) || !defined(MDB_URL_VERSION)
#error "the version texts come from the project's version (desktop/CMakeLists.txt)"
#endif

namespace mdb::desktop {

inline constexpr const char* kSiteHost = MDB_SITE_HOST;
// The project's version as the caption shows it ("V3.00") and as the site's addresses
// carry it ("V300"); desktop/CMakeLists.txt makes both from the project's version.
inline constexpr const char* kCaptionVersion = MDB_CAPTION_VERSION;
inline constexpr const char* kUrlVersion = MDB_URL_VERSION;

inline std::string WindowCaption() {
    return TrFormat("Veloran MDB 助手 %s 官方网站 %s", {kCaptionVersion, kSiteHost});
}
inline std::string HomePageUrl() {
    return std::string("http://") + kSiteHost + "/?from=mdbwarden&version=" + kUrlVersion;
}

}  // namespace mdb::desktop
