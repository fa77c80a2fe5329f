#include "Text.h"

namespace vopa::text {
namespace {

// Code points of the Windows-1252 bytes 0x80..0x9F.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int toWindows1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == cp) return 0x80 + i;
    return -1;
}

char32_t lowerOf(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
    if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 && cp != 0x17F) {
        // Latin Extended-A pairs letters as (upper, lower) at even/odd positions, shifted by one
        // between 0x139 and 0x148 and from 0x179 on.
        bool oddUpper = (cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E);
        bool isUpper = oddUpper ? (cp % 2 == 1) : (cp % 2 == 0);
        return isUpper ? cp + 1 : cp;
    }
    if (cp == 0x178) return 0xFF;
    return cp;
}

}  // namespace

std::string fromWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0xA0)
            appendUtf8(out, kHighControls[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

std::string toWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = nextCodePoint(utf8, pos);
        int b = toWindows1252Byte(cp);
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

char32_t nextCodePoint(std::string_view s, std::size_t& pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    const int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
    if (extra == 0 || pos + static_cast<std::size_t>(extra) >= s.size()) {
        ++pos;
        return c;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        const auto cc = static_cast<unsigned char>(s[pos + i]);
        if ((cc & 0xC0) != 0x80) {
            ++pos;
            return c;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    pos += extra + 1;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
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

char32_t foldCase(char32_t cp) {
    if (cp >= 'a' && cp <= 'z') return cp - 32;
    if (cp < 0x80) return cp;
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
    if (cp == 0xFF) return 0x178;
    if (cp >= 0x100 && cp <= 0x17F && lowerOf(cp) == cp) {
        // A lower-case letter of Latin Extended-A: its upper case is the code point before it.
        char32_t up = cp - 1;
        if (lowerOf(up) == cp) return up;
    }
    return cp;
}

int compareNoCase(std::string_view a, std::string_view b) {
    // Letters fold to lower case, so that the punctuation between the two cases in the code table
    // ("[", "_") sorts before every letter, as in the server's collation.
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca = lowerOf(foldCase(nextCodePoint(a, i)));
        char32_t cb = lowerOf(foldCase(nextCodePoint(b, j)));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

std::string toUpper(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) appendUtf8(out, foldCase(nextCodePoint(utf8, i)));
    return out;
}

std::string toLower(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) appendUtf8(out, lowerOf(nextCodePoint(utf8, i)));
    return out;
}

std::size_t lengthInChars(std::string_view utf8) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < utf8.size(); ++n) nextCodePoint(utf8, i);
    return n;
}

std::string enclosed(std::string_view text, char open, char close) {
    std::string out(1, open);
    out.reserve(text.size() + 2);
    for (char c : text) {
        out.push_back(c);
        if (c == close) out.push_back(close);
    }
    out.push_back(close);
    return out;
}

}  // namespace vopa::text
