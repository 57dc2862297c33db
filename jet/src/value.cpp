#include "jet/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "jet/text.h"

namespace jet {

std::string HexUpper(Bytes b) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    s.resize(b.size() * 2);
    for (std::size_t i = 0; i < b.size(); ++i) {
        s[2 * i] = d[b[i] >> 4];
        s[2 * i + 1] = d[b[i] & 15];
    }
    return s;
}

namespace {

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    auto doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

}  // namespace

std::string FormatDate(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6) return "invalid date";
    // Jet stores negative dates as "days before" with a positive time fraction.
    double whole = std::trunc(days);
    double frac = std::fabs(days - whole);
    auto secs = static_cast<std::int64_t>(std::llround(frac * 86400.0));
    auto day = static_cast<std::int64_t>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        day += days < 0 ? -1 : 1;
    }
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(day - 25569, y, m, d);  // 1899-12-30 is day -25569 of the Unix epoch
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld",
                  static_cast<long long>(y), m, d, static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return buf;
}

std::string FormatMoney(std::int64_t units) {
    bool neg = units < 0;
    std::uint64_t u =
        neg ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "",
                  static_cast<unsigned long long>(u / 10000),
                  static_cast<unsigned long long>(u % 10000));
    return buf;
}

std::string FormatNumeric(Bytes b, unsigned scale) {
    if (b.size() < 17) return "";
    bool neg = b[0] & 0x80;
    // 128-bit magnitude as four 32-bit words, most significant first.
    std::uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = U32(b, 1 + 4 * i);
    std::string digits;
    std::uint32_t words[4] = {w[0], w[1], w[2], w[3]};
    auto zero = [&] { return !(words[0] | words[1] | words[2] | words[3]); };
    while (!zero()) {
        std::uint64_t rem = 0;
        for (auto& x : words) {
            std::uint64_t cur = (rem << 32) | x;
            x = static_cast<std::uint32_t>(cur / 10);
            rem = cur % 10;
        }
        digits.push_back(static_cast<char>('0' + rem));
    }
    if (scale > 38) scale = 38;
    while (digits.size() <= scale) digits.push_back('0');
    std::string out;
    if (neg) out.push_back('-');
    for (std::size_t i = digits.size(); i-- > 0;) {
        out.push_back(digits[i]);
        if (i == scale && scale > 0) out.push_back('.');
    }
    return out;
}

std::string FormatGuid(Bytes b) {
    if (b.size() < 16) return "";
    char buf[48];
    std::snprintf(buf, sizeof buf,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return buf;
}

std::string FormatDouble(double d) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string FormatFloat(float f) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, r.ptr);
}

std::string FormatScalar(const Column& c, Bytes f, bool jet3) {
    switch (c.type) {
        case kColByte:
            return std::to_string(U8(f, 0));
        case kColInt:
            return std::to_string(static_cast<std::int16_t>(U16(f, 0)));
        case kColLong:
            return std::to_string(static_cast<std::int32_t>(U32(f, 0)));
        case kColMoney:
            return FormatMoney(static_cast<std::int64_t>(U64(f, 0)));
        case kColFloat: {
            std::uint32_t bits = U32(f, 0);
            float v;
            std::memcpy(&v, &bits, 4);
            return FormatFloat(v);
        }
        case kColDouble:
        case kColDateTime: {
            std::uint64_t bits = U64(f, 0);
            double v;
            std::memcpy(&v, &bits, 8);
            return c.type == kColDouble ? FormatDouble(v) : FormatDate(v);
        }
        case kColText:
            return DecodeText(f, jet3);
        case kColGuid:
            return FormatGuid(f);
        case kColNumeric:
            return FormatNumeric(f, c.scale);
        default:
            return HexUpper(f);
    }
}

}  // namespace jet
