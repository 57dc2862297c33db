#include "help_pages.h"
#include "common/i18n.h"

#include "platform/arguments.h"
#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>

namespace mdb::desktop {

namespace {

constexpr const char* kExeDirMessage = MDB_TEXT("获取EXE文件路劲失败，请重试！");

std::string ReplaceAllOnce(std::string text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = text.find(from, pos);
        if (hit == std::string::npos) break;
        out.append(text, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text, pos, std::string::npos);
    return out;
}

std::string PagePath(const std::string& exeDir, const std::string& pageName) {
    const std::string sep(1, platform::kSeparator);
    return ReplaceAllOnce(exeDir + sep + "config" + sep + pageName, sep + sep, sep);
}

// The page in the language of the window: its translation NAME.LANGUAGE.EXT
// ("HelpScan.en.Dat") where the program directory has one (for "en_GB" also the
// "en" page, then the English page as for any language without pages of its own),
// else the Chinese page itself.
std::string PageInLanguage(const std::string& exeDir, const std::string& pageName) {
    const std::string& language = i18n::CurrentLanguage();
    if (language == i18n::kSourceLanguage) return pageName;
    const std::size_t dot = pageName.rfind('.');
    if (dot == std::string::npos) return pageName;
    const std::string base = language.substr(0, language.find('_'));
    for (const std::string& tag : {language, base, std::string(i18n::kFallbackLanguage)}) {
        const std::string name = pageName.substr(0, dot) + "." + tag + pageName.substr(dot);
        std::error_code ec;
        if (std::filesystem::exists(platform::PathFromUtf8(PagePath(exeDir, name)), ec)) return name;
    }
    return pageName;
}

std::string PageUrl(const std::string& pagePath, const std::string& sessionId) {
    // The page path is absolute, so "file://" + path is the file URL.
    return "file://" + pagePath + "?SessionId=" + sessionId;
}

}  // namespace

std::string MakeSessionId() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    int values[6];
    for (int& v : values) v = std::rand();
    char buf[80];
    std::snprintf(buf, sizeof buf, "%d%d%d%d%d%d", values[5], values[4], values[3], values[2],
                  values[1], values[0]);
    return buf;
}

bool ShowLocalPage(const DesktopContext& ctx, MainView& view, const std::string& page,
                   std::string& url) {
    url.clear();
    std::string exeDir;
    if (!ctx.exeDirectory || ctx.exeDirectory(exeDir) != 1) {
        view.ShowMessage(Tr(kExeDirMessage), MessageIcon::Error);
        return false;
    }
    const std::string pageName = PageInLanguage(exeDir, page);
    const std::string sessionId = MakeSessionId();
    const std::string pagePath = PagePath(exeDir, pageName);
    std::error_code ec;
    if (!std::filesystem::exists(platform::PathFromUtf8(pagePath), ec)) {
        view.ShowMessage(TrFormat("读取配置文件 %s 失败，请重试！", {pagePath}), MessageIcon::Error);
        return false;
    }
    if (CheckAgainstManifest(platform::PathFromUtf8(exeDir), "config/" + pageName) != ManifestCheck::Match) {
        view.ShowMessage(TrFormat("帮助页面 %s 未通过完整性校验（文件缺少校验值或已被改动），"
                                  "已拒绝显示。\r\n\r\n请重新安装本程序。",
                                  {pagePath}),
                         MessageIcon::Error);
        return false;
    }
    url = PageUrl(pagePath, sessionId);
    return true;
}

bool ShowLocalPageInHelpPane(const DesktopContext& ctx, DesktopState& state, MainView& view,
                             const std::string& pageName) {
    std::string url;
    if (!ShowLocalPage(ctx, view, pageName, url)) return false;
    if (state.helpPaneShown.exchange(1) == 0) view.ShowHelpPaneInsteadOfText();
    view.NavigateHelp(url);
    return true;
}

std::string StartPageUrl(const DesktopContext& ctx) {
    std::string exeDir;
    if (!ctx.exeDirectory || ctx.exeDirectory(exeDir) != 1) return {};
    const std::string pageName = PageInLanguage(exeDir, kPageReadLog);
    const std::string pagePath = PagePath(exeDir, pageName);
    if (CheckAgainstManifest(platform::PathFromUtf8(exeDir), "config/" + pageName) != ManifestCheck::Match) {
        return {};
    }
    return PageUrl(pagePath, MakeSessionId());
}

std::string LocalPathOfPageUrl(const std::string& url) {
    constexpr std::string_view kScheme = "file://";
    if (url.rfind(kScheme, 0) != 0) return {};
    const std::size_t query = url.rfind("?SessionId=");
    if (query == std::string::npos || query < kScheme.size()) return {};
    return url.substr(kScheme.size(), query - kScheme.size());
}

}  // namespace mdb::desktop
