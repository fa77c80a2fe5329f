#include "Collation.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/text/Text.h"

namespace vopa::engine::storage {
namespace {

// Primary weight classes, in their order.
enum Class : std::uint32_t { Blank = 0, Punctuation = 1, Digit = 2, Letter = 3, Other = 4 };

struct Weight {
    std::uint32_t primary = 0;
    std::uint32_t secondary = 0;  // 0: no accent
};

constexpr std::uint32_t primaryOf(Class c, std::uint32_t w) { return (static_cast<std::uint32_t>(c) << 24) | w; }

// Base letters of U+00C0..U+00FF; '*' marks the two signs (multiplication, division), '#' a letter that
// expands to two (Æ, ß, æ), '+' a letter of its own sorted after z (Þ, þ).
constexpr std::string_view kLatin1Base = "aaaaaa#ceeeeiiii"
                                         "dnooooo*ouuuuy+#"
                                         "aaaaaa#ceeeeiiii"
                                         "dnooooo*ouuuuy+y";
// Accents of U+00C0..U+00DF (the lower-case half repeats them): 1 acute, 2 grave, 3 circumflex,
// 4 diaeresis, 5 tilde, 6 ring, 7 cedilla, 8 stroke, 9 the letter's own variant.
constexpr std::array<std::uint8_t, 32> kLatin1Accent = {2, 1, 3, 5, 4, 6, 9, 7, 2, 1, 3, 4, 2, 1, 3, 4,
                                                        8, 5, 2, 1, 3, 5, 4, 0, 8, 2, 1, 3, 4, 1, 9, 9};
// Base letters of Latin Extended-A, U+0100..U+017F ('#': Ĳ ĳ Œ œ, which expand).
constexpr std::string_view kExtendedABase = "aaaaaaccccccccdd"
                                            "ddeeeeeeeeeegggg"
                                            "gggghhhhiiiiiiii"
                                            "ii##jjkkklllllll"
                                            "lllnnnnnnnnnoooo"
                                            "oo##rrrrrrssssss"
                                            "ssttttttuuuuuuuu"
                                            "uuuuwwyyyzzzzzzs";

static_assert(kLatin1Base.size() == 64 && kExtendedABase.size() == 128);

bool isBlank(char32_t cp) { return cp == U' ' || cp == U'\t' || cp == U'\r' || cp == U'\n' || cp == 0xA0; }

// Appends the weights of one character (two for the letters that expand).
template <typename Sink>
void weigh(char32_t cp, Sink&& put) {
    auto letter = [&](char base, std::uint32_t accent) {
        put(Weight{primaryOf(Letter, static_cast<std::uint32_t>(base - 'a') * 4 + 1), accent});
    };
    if (cp < 0x80) {
        if (cp >= 'a' && cp <= 'z') return letter(static_cast<char>(cp), 0);
        if (cp >= 'A' && cp <= 'Z') return letter(static_cast<char>(cp + 32), 0);
        if (cp >= '0' && cp <= '9') return put(Weight{primaryOf(Digit, cp - '0'), 0});
        if (isBlank(cp)) return put(Weight{primaryOf(Blank, cp), 0});
        return put(Weight{primaryOf(Punctuation, cp), 0});
    }
    if (cp == 0xFF) return letter('y', 4);  // ÿ, as Ÿ
    if (cp >= 0xC0 && cp <= 0xFF) {
        const char base = kLatin1Base[cp - 0xC0];
        const std::uint32_t accent = kLatin1Accent[(cp - 0xC0) & 0x1F];
        switch (base) {
            case '*': return put(Weight{primaryOf(Punctuation, cp), 0});
            case '+': return put(Weight{primaryOf(Letter, 26 * 4 + 1), 0});  // thorn, after z
            case '#':
                if (cp == 0xDF) {  // ß: ss
                    letter('s', 9);
                    return letter('s', 9);
                }
                letter('a', 9);  // æ: ae
                return letter('e', 9);
            default: return letter(base, accent);
        }
    }
    if (cp >= 0x100 && cp <= 0x17F) {
        const char base = kExtendedABase[cp - 0x100];
        // Upper and lower case of one letter share their accent weight.
        const std::uint32_t accent = 16 + (text::foldCase(cp) - 0x100);
        if (base == '#') {
            if (cp == 0x132 || cp == 0x133) {
                letter('i', accent);
                return letter('j', accent);
            }
            letter('o', accent);
            return letter('e', accent);
        }
        return letter(base, accent);
    }
    if (cp == 0x178) return letter('y', 4);       // Ÿ
    if (cp == 0x192) return letter('f', 200);     // ƒ
    if (cp == 0xB9) return put(Weight{primaryOf(Digit, 1), 1});  // superscript one, two, three
    if (cp == 0xB2) return put(Weight{primaryOf(Digit, 2), 1});
    if (cp == 0xB3) return put(Weight{primaryOf(Digit, 3), 1});
    if (isBlank(cp)) return put(Weight{primaryOf(Blank, cp), 0});
    if (cp < 0xC0 || (cp >= 0x2000 && cp <= 0x2BFF)) return put(Weight{primaryOf(Punctuation, cp), 0});
    return put(Weight{primaryOf(Other, text::foldCase(cp) & 0xFFFFFF), 0});
}

std::string_view withoutTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Walks a text's weights one at a time (expansions included) without allocating.
class Weights {
public:
    explicit Weights(std::string_view s) : s_(s) {}
    bool next(Weight& w) {
        if (pendingCount_ > pendingNext_) {
            w = pending_[pendingNext_++];
            return true;
        }
        if (pos_ >= s_.size()) return false;
        pendingCount_ = pendingNext_ = 0;
        const char32_t cp = text::nextCodePoint(s_, pos_);
        weigh(cp, [&](Weight x) { pending_[pendingCount_++] = x; });
        w = pending_[pendingNext_++];
        return true;
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
    std::array<Weight, 2> pending_{};
    int pendingCount_ = 0;
    int pendingNext_ = 0;
};

// The primary weights of the ASCII characters, which weigh one each and carry no accent.
const std::array<std::uint32_t, 128>& asciiPrimaries() {
    static const std::array<std::uint32_t, 128> table = [] {
        std::array<std::uint32_t, 128> t{};
        for (char32_t cp = 0; cp < 128; ++cp) weigh(cp, [&](Weight w) { t[cp] = w.primary; });
        return t;
    }();
    return table;
}

int compareWeights(std::string_view a, std::string_view b) {
    // Most texts are ASCII, and most comparisons are settled in it: a byte is a character of one
    // weight there, so the common stretch is compared through a table before the general walk.
    const std::array<std::uint32_t, 128>& ascii = asciiPrimaries();
    const std::size_t common = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x | y) >= 0x80) break;
        if (x != y && ascii[x] != ascii[y]) return ascii[x] < ascii[y] ? -1 : 1;
    }
    if (i == common) return a.size() == b.size() ? 0 : a.size() > b.size() ? 1 : -1;
    a.remove_prefix(i);
    b.remove_prefix(i);
    // The rest: the primary weights decide, and the first difference in accents breaks a tie.
    int accents = 0;
    Weights wa(a), wb(b);
    for (;;) {
        Weight x, y;
        const bool hasX = wa.next(x), hasY = wb.next(y);
        if (!hasX || !hasY) {
            if (hasX) return 1;
            if (hasY) return -1;
            return accents;
        }
        if (x.primary != y.primary) return x.primary < y.primary ? -1 : 1;
        if (accents == 0 && x.secondary != y.secondary) accents = x.secondary < y.secondary ? -1 : 1;
    }
}

}  // namespace

int collate(std::string_view a, std::string_view b) {
    return compareWeights(withoutTrailingBlanks(a), withoutTrailingBlanks(b));
}

int collateChars(char32_t a, char32_t b) {
    std::string sa, sb;
    text::appendUtf8(sa, a);
    text::appendUtf8(sb, b);
    return compareWeights(sa, sb);
}

}  // namespace vopa::engine::storage
