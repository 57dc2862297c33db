#include "jet/text.h"

namespace jet {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

class Utf16Sink {
  public:
    explicit Utf16Sink(std::string& out) : out_(out) {}
    void Put(std::uint16_t u) {
        if (high_) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                AppendUtf8(out_, 0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00));
                high_ = 0;
                return;
            }
            AppendUtf8(out_, 0xFFFD);
            high_ = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            high_ = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            AppendUtf8(out_, 0xFFFD);
        } else {
            AppendUtf8(out_, u);
        }
    }
    void Finish() {
        if (high_) AppendUtf8(out_, 0xFFFD);
        high_ = 0;
    }

  private:
    std::string& out_;
    std::uint32_t high_ = 0;
};

}  // namespace

std::string Utf16LeToUtf8(Bytes b) {
    std::string out;
    out.reserve(b.size() / 2);
    Utf16Sink sink(out);
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        sink.Put(static_cast<std::uint16_t>(b[i] | (b[i + 1] << 8)));
    sink.Finish();
    return out;
}

namespace {

// Calls put(unit) for each UTF-16 unit of Jet 4 text, compressed or not.
template <typename Put>
void ForEachJet4Unit(Bytes b, Put put) {
    if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xFE) {
        for (std::size_t i = 0; i + 1 < b.size(); i += 2)
            put(static_cast<std::uint16_t>(b[i] | (b[i + 1] << 8)));
        return;
    }
    bool compressed = true;
    std::size_t i = 2;
    while (i < b.size()) {
        if (b[i] == 0) {
            compressed = !compressed;
            ++i;
        } else if (compressed) {
            put(b[i]);
            ++i;
        } else if (i + 1 < b.size()) {
            put(static_cast<std::uint16_t>(b[i] | (b[i + 1] << 8)));
            i += 2;
        } else {
            break;
        }
    }
}

// Windows-1252's characters for 0x80-0x9F; bytes it leaves undefined keep their value.
constexpr std::uint16_t k1252At80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint16_t Jet3Unit(std::uint8_t c) {
    return c >= 0x80 && c < 0xA0 ? k1252At80[c - 0x80] : c;
}

}  // namespace

std::string DecodeJet4Text(Bytes b) {
    std::string out;
    out.reserve(b.size());
    Utf16Sink sink(out);
    ForEachJet4Unit(b, [&](std::uint16_t u) { sink.Put(u); });
    sink.Finish();
    return out;
}

void TextUnits(Bytes b, bool jet3, std::u16string& out) {
    out.clear();
    if (jet3) {
        for (std::uint8_t c : b) out.push_back(static_cast<char16_t>(Jet3Unit(c)));
    } else {
        ForEachJet4Unit(b, [&](std::uint16_t u) { out.push_back(static_cast<char16_t>(u)); });
    }
}

std::string DecodeJet3Text(Bytes b) {
    std::string out;
    out.reserve(b.size());
    for (std::uint8_t c : b) AppendUtf8(out, Jet3Unit(c));
    return out;
}

}  // namespace jet
