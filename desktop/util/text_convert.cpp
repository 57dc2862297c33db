#include "desktop/util/text_convert.h"

#include "common/utf16.h"

namespace mdb::desktop {

int AnsiToWide(std::u16string& out, std::string_view in) {
    out.clear();
    if (in.empty()) return 1;
    if (in.size() > kMaxConvertLength) return 2;
    // Never more UTF-16 units than input bytes, so the length limit holds for any result.
    std::optional<std::u16string> wide = Utf8ToUtf16(in);
    if (!wide) return 0;
    out = std::move(*wide);
    return 1;
}

}  // namespace mdb::desktop
