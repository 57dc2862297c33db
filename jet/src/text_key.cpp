#include "text_key.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>

#include "jet/text.h"
#include "text_key_tables.h"

// How Jet's "General" orders make a text key (facts as Jackcess's readers of Access
// files measured them; the codes per character are in text_key_tables.cpp):
//
// Each character has a class. Most have "inline" codes that carry the order of the
// letters (case and accents folded); what tells "a" from "A" or "á" lands in codes
// that follow all the inline ones, so "a" < "á" < "b" in every key.
//
// Jet 4 (both forms): inline codes of every character, then 01; then, when there are
// any, the "extra" codes: one or more bytes per character from the first that has
// some (02 stands in for each character before it that has none; trailing 00-02
// bytes dropped); then, when there are unprintable characters or crazy flags: 01 01,
// the crazy flags (packed), the unprintable part (01, then per unprintable character
// its position and codes). A descending key is all of that and a 00, flipped; every
// key ends with 00.
//
// Jet 3: inline codes, then (when some character has an extra code) a string of
// nibbles: 0, per extra code the count of "significant" characters since the last
// one as that many nibbles of 2, then the code; a closing 0; else a single 00. A
// descending key is all of that flipped.
namespace jet {

namespace {

// Character classes, as the generated tables name them.
enum Class : std::uint8_t {
    kIgnored = 'X',
    kSimple = 'S',         // inline codes only
    kInternational = 'I',  // inline and extra codes
    kUnprintable = 'U',    // no inline codes; its codes go to the unprintable part
    kModifier = 'P',       // no inline codes; adds to the previous extra code
    kCrazy = 'Z',          // inline codes, maybe extra codes, a crazy flag
    kSignificant = 'G',    // Jet 3: inline codes, counted between extra codes
    kSurrogate = 'Q',      // UTF-16 surrogates: codes computed, extra code 3F
};

constexpr std::uint8_t kEndInline = 0x01;
constexpr std::uint8_t kEndKey = 0x00;
constexpr std::uint8_t kNoExtra = 0x02;  // stands for a character without extra codes
// Crazy flags come in two kinds; trailing ones of the second are dropped.
constexpr std::uint8_t kCrazyOne = 0x02, kCrazyTwo = 0x03;
constexpr std::uint8_t kCrazyByte = 0x80;  // three flags per byte under this mark
constexpr std::array<std::uint8_t, 5> kCrazyEnd = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr std::uint8_t kCrazyBeforeUnprintable = 0xFF;
// An unprintable character's entry: BE u16 (7 + 4 x position) | 0x8000, 06, codes.
constexpr unsigned kUnprintableBase = 7, kUnprintableStep = 4, kUnprintableMark = 0x8000;
constexpr std::uint8_t kUnprintableMid = 0x06;
constexpr std::uint8_t kSurrogateExtra = 0x3F;
// Text keys hold at most this many characters (a text column's most).
constexpr std::size_t kMaxKeyChars = 255;

// The most bytes of codes one character has in the tables (inline and extra together:
// six and three at most).
constexpr std::size_t kMaxCodes = 12;

struct Code {
    std::uint8_t cls = kIgnored;
    std::uint8_t inline_size = 0;
    std::uint8_t extra_size = 0;  // kUnprintable: its codes; kModifier: 1
    std::uint8_t flag = 0;        // kCrazy: kCrazyOne or kCrazyTwo
    std::uint8_t bytes[kMaxCodes] = {};  // inline codes, then extra codes
};

// A run of the generated tables: characters first .. first + count - 1, the first's
// codes (the others' inline codes count up from them).
struct Run {
    std::uint32_t first = 0, count = 0;
    Code code;
};

// Reads the generated runs, one a line: "FIRST COUNT CLASS INLINE EXTRA FLAG", numbers
// and codes in hexadecimal, "-" for none.
class RunReader {
  public:
    explicit RunReader(const char* p) : p_(p) {}
    bool AtEnd() {
        while (*p_ == '\n') ++p_;
        return *p_ == 0;
    }
    unsigned Number() {
        unsigned v = 0;
        for (; IsHex(*p_); ++p_) v = v << 4 | Digit(*p_);
        Skip();
        return v;
    }
    char Letter() {
        const char c = *p_ ? *p_++ : 0;
        Skip();
        return c;
    }
    // Appends the codes to `to` (at most `room` of them); returns how many.
    std::uint8_t Codes(std::uint8_t* to, std::size_t room) {
        std::uint8_t n = 0;
        for (; IsHex(p_[0]) && IsHex(p_[1]); p_ += 2)
            if (n < room) to[n++] = static_cast<std::uint8_t>(Digit(p_[0]) << 4 | Digit(p_[1]));
        if (*p_ == '-') ++p_;
        Skip();
        return n;
    }

  private:
    static bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
    static unsigned Digit(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }
    void Skip() {
        if (*p_ == ' ') ++p_;
    }
    const char* p_;
};

// Inline codes `k` steps on in a run: the last byte counts up, from FF on to 02 with
// a carry into the byte before (00 and 01 end a key's parts, so no code uses them).
void CountUp(std::uint8_t* b, std::size_t n, std::uint32_t k) {
    for (std::size_t i = n; i-- > 0 && k > 0;) {
        const std::uint32_t v = b[i] + k;
        if (v <= 0xFF) {
            b[i] = static_cast<std::uint8_t>(v);
            return;
        }
        const std::uint32_t past = v - 0x100;  // steps after the first wrap to 02
        b[i] = static_cast<std::uint8_t>(kNoExtra + past % 254);
        k = 1 + past / 254;
    }
}

// The codes of one sort order: the generated runs, read once, and the table of each
// block of 256 code units, made when a character of it is first met (most text needs
// one or two blocks; making all 256 cost more than checking a small file).
class CodeTable {
  public:
    explicit CodeTable(const char* runs) {
        RunReader in(runs);
        while (!in.AtEnd()) {
            Run r;
            r.first = in.Number();
            r.count = in.Number();
            r.code.cls = static_cast<std::uint8_t>(in.Letter());
            r.code.inline_size = in.Codes(r.code.bytes, kMaxCodes);
            r.code.extra_size =
                in.Codes(r.code.bytes + r.code.inline_size, kMaxCodes - r.code.inline_size);
            const char flag = in.Letter();
            r.code.flag = flag == '1' ? kCrazyOne : flag == '2' ? kCrazyTwo : 0;
            runs_.push_back(r);
        }
        for (auto& b : blocks_) b.store(nullptr, std::memory_order_relaxed);
    }
    ~CodeTable() {
        for (auto& b : blocks_) delete b.load(std::memory_order_relaxed);
    }
    CodeTable(const CodeTable&) = delete;
    CodeTable& operator=(const CodeTable&) = delete;

    const Code& operator[](char16_t u) const {
        const Block* b = blocks_[u >> 8].load(std::memory_order_acquire);
        if (!b) b = MakeBlock(u >> 8);
        return (*b)[u & 0xFF];
    }

  private:
    using Block = std::array<Code, 256>;
    const Block* MakeBlock(unsigned k) const {
        auto b = std::make_unique<Block>();
        const std::uint32_t lo = k << 8, hi = lo + 256;
        auto it = std::upper_bound(runs_.begin(), runs_.end(), lo,
                                   [](std::uint32_t u, const Run& r) { return u < r.first + r.count; });
        for (; it != runs_.end() && it->first < hi; ++it)
            for (std::uint32_t u = std::max(lo, it->first); u < std::min(hi, it->first + it->count); ++u) {
                Code& c = (*b)[u - lo];
                c = it->code;
                CountUp(c.bytes, c.inline_size, u - it->first);
            }
        // Another thread may have made it meanwhile: one of the two is kept.
        const Block* expected = nullptr;
        if (blocks_[k].compare_exchange_strong(expected, b.get(), std::memory_order_acq_rel))
            return b.release();
        return expected;
    }
    std::vector<Run> runs_;  // by first character
    mutable std::array<std::atomic<const Block*>, 256> blocks_;
};

// Each order's table is made on its first use only: a file has one or two orders.
const CodeTable& Table(TextSortOrder order) {
    switch (order) {
        case TextSortOrder::GeneralLegacy: {
            static const CodeTable t(kGeneralLegacyCodes);
            return t;
        }
        case TextSortOrder::General: {
            static const CodeTable t(kGeneralCodes);
            return t;
        }
        default: {
            static const CodeTable t(kGeneral97Codes);
            return t;
        }
    }
}

// The units of a text as a key takes them: at most kMaxKeyChars, trailing spaces
// dropped.
void KeyUnits(Bytes stored, bool jet3, std::u16string& units) {
    TextUnits(stored, jet3, units);
    if (units.size() > kMaxKeyChars) units.resize(kMaxKeyChars);
    while (!units.empty() && units.back() == u' ') units.pop_back();
}

// Inline codes of a surrogate unit: a fixed distance below it (low surrogates: one
// of five, by where the unit lies in its block of 1,024).
std::uint16_t SurrogateCode(char16_t u) {
    if (u < 0xDC00) return static_cast<std::uint16_t>(u - 10238);
    const unsigned in_block = (u - 0xDC00u) % 1024;
    const unsigned below = in_block < 8 ? 9992 : in_block < 262 ? 9990 : in_block < 516 ? 9988
                                                : in_block < 770 ? 9986 : 9984;
    return static_cast<std::uint16_t>(u - below);
}

void Flip(std::vector<std::uint8_t>& out, std::size_t from) {
    for (std::size_t i = from; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

void Jet4Key(const CodeTable& t, const std::u16string& units, bool ascending,
             std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    // Most characters have two bytes of inline codes; the ends are a few more.
    out.reserve(start + 2 * units.size() + 16);
    // The extra codes, the characters they cover so far, and whether any character
    // had extra codes or a modifier yet (the unprintable positions count from then).
    std::vector<std::uint8_t> extra, unprintable, crazy;
    std::size_t extra_chars = 0, modifier_lead = 0;
    bool extra_started = false;
    std::size_t position = 0;  // characters with inline codes so far
    for (char16_t u : units) {
        Code c;
        if (u >= 0xD800 && u <= 0xDFFF) {
            const std::uint16_t v = SurrogateCode(u);
            c = Code{kSurrogate, 2, 1, 0, {}};
            c.bytes[0] = static_cast<std::uint8_t>(v >> 8);
            c.bytes[1] = static_cast<std::uint8_t>(v);
            c.bytes[2] = kSurrogateExtra;
        } else {
            c = t[u];
        }
        const std::uint8_t* pool = c.bytes;
        const std::size_t here = position;
        if (c.inline_size) {
            for (std::size_t k = 0; k < c.inline_size; ++k) out.push_back(pool[k]);
            ++position;
        }
        if (c.cls == kSimple || c.cls == kIgnored) continue;
        const std::uint8_t* codes = pool + c.inline_size;
        if (c.cls == kInternational || c.cls == kSurrogate || c.cls == kModifier ||
            (c.cls == kCrazy && c.extra_size)) {
            extra_started = true;
            if (extra_chars < here) {
                extra.insert(extra.end(), here - extra_chars, kNoExtra);
                extra_chars = here;
            }
            if (c.cls != kModifier) {
                extra.insert(extra.end(), codes, codes + c.extra_size);
                ++extra_chars;
            } else if (!extra.empty()) {
                extra.back() = static_cast<std::uint8_t>(extra.back() + codes[0]);
            } else {
                extra.push_back(codes[0]);
                modifier_lead = 1;
            }
        }
        if (c.cls == kUnprintable) {
            // Its position counts the extra codes' bytes written so far, as if the
            // characters since had one each.
            const std::size_t at =
                extra_started ? extra.size() + (here - extra_chars) - modifier_lead : here;
            const unsigned v = (kUnprintableBase + kUnprintableStep * at) | kUnprintableMark;
            unprintable.push_back(static_cast<std::uint8_t>(v >> 8));
            unprintable.push_back(static_cast<std::uint8_t>(v));
            unprintable.push_back(kUnprintableMid);
            unprintable.insert(unprintable.end(), codes, codes + c.extra_size);
        }
        if (c.cls == kCrazy) crazy.push_back(c.flag);
    }
    out.push_back(kEndInline);
    while (!extra.empty() && extra.back() <= kNoExtra) extra.pop_back();
    out.insert(out.end(), extra.begin(), extra.end());
    if (!unprintable.empty() || !crazy.empty()) {
        out.push_back(kEndInline);
        out.push_back(kEndInline);
        if (!crazy.empty()) {
            while (!crazy.empty() && crazy.back() == kCrazyTwo) crazy.pop_back();
            for (std::size_t i = 0; i < crazy.size(); i += 3) {
                std::uint8_t b = kCrazyByte;
                for (std::size_t k = 0; k < 3 && i + k < crazy.size(); ++k)
                    b = static_cast<std::uint8_t>(b | crazy[i + k] << (2 * (2 - k)));
                out.push_back(b);
            }
            out.insert(out.end(), kCrazyEnd.begin(), kCrazyEnd.end());
            if (!unprintable.empty()) out.push_back(kCrazyBeforeUnprintable);
        }
        if (!unprintable.empty()) {
            out.push_back(kEndInline);
            out.insert(out.end(), unprintable.begin(), unprintable.end());
        }
    }
    if (!ascending) {
        out.push_back(kEndKey);
        Flip(out, start);
    }
    out.push_back(kEndKey);
}

// Nibbles appended to a key, high nibble first.
class Nibbles {
  public:
    explicit Nibbles(std::vector<std::uint8_t>& out) : out_(out) {}
    void Put(std::uint8_t n) {
        if (high_) {
            out_.push_back(static_cast<std::uint8_t>(n << 4));
        } else {
            out_.back() = static_cast<std::uint8_t>(out_.back() | (n & 0x0F));
        }
        high_ = !high_;
    }

  private:
    std::vector<std::uint8_t>& out_;
    bool high_ = true;
};

void Jet3Key(const CodeTable& t, const std::u16string& units, bool ascending,
             std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    std::vector<std::uint8_t> tail;
    Nibbles nibbles(tail);
    std::size_t significant = 0;
    for (char16_t u : units) {
        const Code& c = t[u];
        const std::uint8_t* pool = c.bytes;
        for (std::size_t k = 0; k < c.inline_size; ++k) out.push_back(pool[k]);
        if (c.cls == kSignificant) {
            ++significant;
        } else if (c.cls == kInternational && c.extra_size) {
            if (tail.empty()) nibbles.Put(0);
            for (; significant > 0; --significant) nibbles.Put(kNoExtra);
            nibbles.Put(pool[c.inline_size]);
        }
    }
    if (tail.empty()) {
        out.push_back(kEndKey);
    } else {
        nibbles.Put(0);
        out.insert(out.end(), tail.begin(), tail.end());
    }
    if (!ascending) Flip(out, start);
}

}  // namespace

bool TextKeysSupported(TextSortOrder order) {
    return order == TextSortOrder::General97 || order == TextSortOrder::GeneralLegacy ||
           order == TextSortOrder::General;
}

void AppendTextKey(TextSortOrder order, Bytes stored, bool jet3, bool ascending,
                   std::vector<std::uint8_t>& out) {
    thread_local std::u16string units;
    KeyUnits(stored, jet3, units);
    const CodeTable& t = Table(order);
    if (order == TextSortOrder::General97)
        Jet3Key(t, units, ascending, out);
    else
        Jet4Key(t, units, ascending, out);
}

}  // namespace jet
