// The product's web site. The host is fixed when the program is built
// (CMake cache variable MDB_SITE_HOST).
#pragma once

#include <string>

#include "common/i18n.h"

#ifndef MDB_SITE_HOST
#define MDB_SITE_HOST "www.veloran.net"
#endif

namespace mdb::desktop {

inline constexpr const char* kSiteHost = MDB_SITE_HOST;

inline std::string WindowCaption() {
    return TrFormat("Veloran MDB 助手 V3.00 官方网站 %s", {kSiteHost});
}
inline std::string HomePageUrl() {
    return std::string("http://") + kSiteHost + "/?from=mdbwarden&version=V300";
}

}  // namespace mdb::desktop
