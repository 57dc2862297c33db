#include "desktop/win32/page_rtf.h"

#include "common/i18n.h"
#include "common/utf16.h"
#include "desktop/help_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace mdb::desktop::win32 {
namespace {

// Font 0 is the dialogs' face (SimSun, 宋体 on a Chinese system), font 1 the fixed-pitch
// face for code; colour 1 the headings' blue, colour 2 the notes' brown. \uc1: each \uN
// is followed by one fallback character that readers skip.
constexpr std::string_view kHeader =
    "{\\rtf1\\ansi\\ansicpg936\\deff0"
    "{\\fonttbl{\\f0\\fnil\\fcharset134 SimSun;}{\\f1\\fmodern\\fcharset0 Courier New;}}"
    "{\\colortbl;\\red31\\green79\\blue138;\\red138\\green90\\blue0;}"
    "\\viewkind4\\uc1\n";

// Paragraph formats. Sizes are in half points (body 9 pt, the dialogs' size), spacing
// and indents in twips (1/20 pt).
constexpr std::string_view kBody = "\\sa100";
constexpr std::string_view kNote = "\\sa100\\cf2";
constexpr std::string_view kRow = "\\sa40";
// The text keeps this distance from the pane's sides, as a page keeps from a browser's.
constexpr int kPageMargin = 120;
constexpr int kNoteIndent = 240;
constexpr int kListIndent = 360;  // per list level, room for "10." and its tab

std::string_view HeadingFormat(char level) {
    switch (level) {
        case '1': return "\\sa100\\b\\fs26\\cf1";
        case '2': return "\\sb160\\sa60\\b\\fs22\\cf1";
        default: return "\\sb120\\sa40\\b\\fs20\\cf1";
    }
}

// Appends one UTF-16 code unit as RTF text.
void AppendUnit(std::string& out, char16_t unit) {
    if (unit == u'\\' || unit == u'{' || unit == u'}') {
        out += '\\';
        out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
        out += static_cast<char>(unit);
    } else if (unit >= 0x80) {
        // \uN takes a signed 16-bit number.
        out += "\\u" + std::to_string(static_cast<std::int16_t>(unit)) + "?";
    }
    // Control characters are dropped: blanks were collapsed before.
}

void AppendCodePoint(std::string& out, char32_t cp) {
    if (cp < 0x10000) {
        AppendUnit(out, static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        AppendUnit(out, static_cast<char16_t>(0xD800 + (cp >> 10)));
        AppendUnit(out, static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes the UTF-8 sequence at `text[i]`, advancing `i`; a malformed byte gives U+FFFD.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const long cp = DecodeUtf8(text, i);
    if (cp >= 0) return static_cast<char32_t>(cp);
    ++i;
    return U'\uFFFD';
}

// Builds the document paragraph by paragraph. A paragraph is written when its first
// text (or inline group) arrives, so blocks without text leave no empty lines.
class RtfBuilder {
  public:
    // Ends the current paragraph; the next text starts one with `format`, indented by
    // `indent` twips, after `marker` (RTF, e.g. a list number and its tab).
    void StartParagraph(std::string_view format, int indent = 0, std::string marker = {}) {
        EndParagraph();
        format_ = format;
        indent_ = indent;
        marker_ = std::move(marker);
    }

    void EndParagraph() {
        if (!open_) return;
        for (; groups_ > 0; --groups_) out_ += '}';
        out_ += "\\par\n";
        open_ = false;
        format_ = kBody;
        indent_ = 0;
        marker_.clear();
    }

    // Text as a browser shows it: blank runs become one blank, none at a paragraph start.
    void Text(std::string_view utf8) {
        for (std::size_t i = 0; i < utf8.size();) {
            const char32_t cp = NextCodePoint(utf8, i);
            if (cp == U' ' || cp == U'\t' || cp == U'\n' || cp == U'\r' || cp == U'\f') {
                blank_ = open_ && wrote_;
                continue;
            }
            Open();
            if (blank_) out_ += ' ';
            blank_ = false;
            AppendCodePoint(out_, cp == U'\u00A0' ? U' ' : cp);
            wrote_ = true;
        }
    }

    // RTF of its own inside the paragraph (a tab, a line break).
    void Control(std::string_view rtf) {
        Open();
        out_ += rtf;
        blank_ = false;
        wrote_ = false;
    }

    // An inline group such as "\b" or "\f1", closed by CloseGroup or the paragraph's end.
    void OpenGroup(std::string_view control) {
        Open();
        if (blank_) out_ += ' ';
        blank_ = false;
        out_ += '{';
        out_ += control;
        out_ += ' ';
        ++groups_;
    }
    void CloseGroup() {
        if (groups_ == 0) return;
        out_ += '}';
        --groups_;
    }

    bool HasText() const { return open_; }

    std::string Finish() {
        EndParagraph();
        return std::string(kHeader) + out_ + "}";
    }

  private:
    void Open() {
        if (open_) return;
        out_ += "\\pard\\plain\\f0\\fs18\\li" + std::to_string(kPageMargin + indent_) + "\\ri" +
                std::to_string(kPageMargin);
        out_ += format_;
        out_ += ' ';
        out_ += marker_;
        open_ = true;
        wrote_ = false;
        blank_ = false;
    }

    std::string out_;
    std::string format_{kBody};
    int indent_ = 0;
    std::string marker_;
    bool open_ = false;   // a paragraph has been written and not yet ended
    bool wrote_ = false;  // it has text since its start or its last control
    bool blank_ = false;  // a blank is due before the next text
    int groups_ = 0;      // inline groups open in the paragraph
};

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The text an entity (the part between '&' and ';') stands for; empty when unknown.
std::string EntityText(std::string_view entity) {
    if (entity == "amp") return "&";
    if (entity == "lt") return "<";
    if (entity == "gt") return ">";
    if (entity == "quot") return "\"";
    if (entity == "apos") return "'";
    if (entity == "nbsp") return "\xC2\xA0";
    if (entity.size() < 2 || entity[0] != '#') return {};
    const bool hex = entity[1] == 'x' || entity[1] == 'X';
    char32_t cp = 0;
    for (char c : entity.substr(hex ? 2 : 1)) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : hex && std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0 || cp > 0x10FFFF) return {};
        cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    }
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return {};
    std::string utf8;
    AppendUtf8(utf8, cp);
    return utf8;
}

// The value of attribute `name` in a lower-cased tag text, quoted or not.
std::string Attribute(const std::string& tag, std::string_view name) {
    const std::size_t at = tag.find(std::string(name) + "=");
    if (at == std::string::npos) return {};
    std::size_t begin = at + name.size() + 1;
    if (begin < tag.size() && (tag[begin] == '"' || tag[begin] == '\'')) {
        const std::size_t end = tag.find(tag[begin], begin + 1);
        return tag.substr(begin + 1, end == std::string::npos ? std::string::npos : end - begin - 1);
    }
    return tag.substr(begin, tag.find_first_of(" \t\r\n>", begin) - begin);
}

struct List {
    bool numbered;
    int next = 1;
};

// Applies one tag (lower-cased, without its angle brackets) to the document.
void ApplyTag(const std::string& tag, RtfBuilder& rtf, std::vector<List>& lists) {
    const bool closing = tag[0] == '/';
    const std::string name = tag.substr(closing ? 1 : 0, tag.find_first_of(" \t\r\n/", closing ? 1 : 0) - (closing ? 1 : 0));
    if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
        if (closing) rtf.EndParagraph();
        else rtf.StartParagraph(HeadingFormat(name[1]));
    } else if (name == "p" || name == "div" || name == "tr") {
        if (closing) {
            rtf.EndParagraph();
        } else {
            const bool note = (" " + Attribute(tag, "class") + " ").find(" note ") != std::string::npos;
            rtf.StartParagraph(name == "tr" ? kRow : note ? kNote : kBody, note ? kNoteIndent : 0);
        }
    } else if (name == "ol" || name == "ul") {
        rtf.EndParagraph();
        if (!closing) lists.push_back({name == "ol"});
        else if (!lists.empty()) lists.pop_back();
    } else if (name == "li") {
        if (closing || lists.empty()) {
            rtf.EndParagraph();
            return;
        }
        const int indent = kListIndent * static_cast<int>(lists.size());
        List& list = lists.back();
        const std::string marker = list.numbered ? std::to_string(list.next++) + ".\\tab " : "\\u8226?\\tab ";
        // A hanging indent: the marker in the first line's overhang, its tab to the text.
        rtf.StartParagraph("\\fi-" + std::to_string(kListIndent) + "\\tx" + std::to_string(kPageMargin + indent) +
                               "\\sa40",
                           indent, marker);
    } else if (name == "td" || name == "th") {
        if (!closing && rtf.HasText()) rtf.Control("\\tab ");
    } else if (name == "br") {
        rtf.Control("\\line ");
    } else if (name == "b" || name == "strong" || name == "code") {
        if (closing) rtf.CloseGroup();
        else rtf.OpenGroup(name == "code" ? "\\f1" : "\\b");
    }
}

}  // namespace

std::string RtfOfHtml(const std::string& html) {
    RtfBuilder rtf;
    std::vector<List> lists;
    std::size_t i = 0;
    while (i < html.size()) {
        if (html.compare(i, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string::npos ? html.size() : end + 3;
        } else if (html[i] == '<') {
            const std::size_t end = html.find('>', i);
            if (end == std::string::npos) break;
            const std::string tag = Lower(std::string_view(html).substr(i + 1, end - i - 1));
            i = end + 1;
            if (tag.empty() || tag[0] == '!' || tag[0] == '?') continue;
            const std::string name = tag.substr(0, tag.find_first_of(" \t\r\n/>"));
            if (name == "script" || name == "style" || name == "title") {
                const std::size_t close = Lower(std::string_view(html).substr(i)).find("</" + name);
                i = close == std::string::npos ? html.size() : i + close;
                continue;
            }
            ApplyTag(tag, rtf, lists);
        } else if (html[i] == '&') {
            const std::size_t end = html.find(';', i);
            // Entity names and numbers are short; a lone '&' is text.
            const std::string text =
                end == std::string::npos || end - i > 10 ? "" : EntityText(std::string_view(html).substr(i + 1, end - i - 1));
            rtf.Text(text.empty() ? "&" : text);
            i = text.empty() ? i + 1 : end + 1;
        } else {
            const std::size_t end = html.find_first_of("<&", i);
            rtf.Text(std::string_view(html).substr(i, end == std::string::npos ? std::string::npos : end - i));
            i = end == std::string::npos ? html.size() : end;
        }
    }
    return rtf.Finish();
}

std::string RtfOfText(const std::string& text) {
    RtfBuilder rtf;
    rtf.Text(text);
    return rtf.Finish();
}

std::string HelpPaneRtf(const std::string& url) {
    const std::string path = LocalPathOfPageUrl(url);
    if (path.empty()) return RtfOfText(TrFormat("在线帮助页面：%s", {url}));
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return RtfOfText(TrFormat("无法读取帮助页面：%s", {path}));
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return RtfOfHtml(html);
}

}  // namespace mdb::desktop::win32
