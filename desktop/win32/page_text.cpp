#include "desktop/win32/page_text.h"

#include "desktop/help_pages.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

namespace mdb::desktop::win32 {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool EndsABlock(const std::string& tagName) {
    static constexpr std::string_view kBlocks[] = {"br", "p", "/p", "div", "/div", "li", "tr",
                                                   "h1", "/h1", "h2", "/h2", "h3", "/h3", "/li",
                                                   "/tr", "/table", "/ul", "/ol", "hr"};
    return std::find(std::begin(kBlocks), std::end(kBlocks), tagName) != std::end(kBlocks);
}

void AppendEntity(std::string_view entity, std::string& out) {
    if (entity == "amp") out += '&';
    else if (entity == "lt") out += '<';
    else if (entity == "gt") out += '>';
    else if (entity == "quot") out += '"';
    else if (entity == "nbsp") out += ' ';
    else out += "&" + std::string(entity) + ";";
}

// Collapses blanks within lines and runs of empty lines; trims the ends.
std::string Tidy(const std::string& text) {
    std::string out;
    int newlines = 0;
    bool blank = false;
    for (char c : text) {
        if (c == '\n') {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            if (!out.empty() && newlines < 2) out += '\n';
            ++newlines;
            blank = false;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            blank = true;
        } else {
            if (blank && !out.empty() && out.back() != '\n') out += ' ';
            out += c;
            newlines = 0;
            blank = false;
        }
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace

std::string PlainTextOfHtml(const std::string& html) {
    std::string text;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            const std::size_t end = html.find('>', i);
            if (end == std::string::npos) break;
            std::string tag = Lower(std::string_view(html).substr(i + 1, end - i - 1));
            const std::string name = tag.substr(0, tag.find_first_of(" \t\r\n/", tag[0] == '/' ? 1 : 0));
            i = end + 1;
            if (name == "script" || name == "style" || name == "title") {
                const std::size_t close = Lower(std::string_view(html).substr(i)).find("</" + name);
                i = close == std::string::npos ? html.size() : i + close;
            } else if (EndsABlock(name)) {
                text += '\n';
            }
        } else if (c == '&') {
            const std::size_t end = html.find(';', i);
            if (end == std::string::npos || end - i > 8) {
                text += c;
                ++i;
            } else {
                AppendEntity(std::string_view(html).substr(i + 1, end - i - 1), text);
                i = end + 1;
            }
        } else {
            text += c == '\n' ? ' ' : c;
            ++i;
        }
    }
    return Tidy(text);
}

std::string HelpPaneText(const std::string& url) {
    const std::string path = LocalPathOfPageUrl(url);
    if (path.empty()) return "在线帮助页面：" + url;
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return "无法读取帮助页面：" + path;
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return PlainTextOfHtml(html);
}

}  // namespace mdb::desktop::win32
