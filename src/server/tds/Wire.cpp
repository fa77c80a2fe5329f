#include "server/tds/Wire.h"

#include "platform/text/Text.h"
#include "server/tds/Protocol.h"

namespace vopa::tds {

void Reader::fail(const std::string& problem) const {
    throw ProtocolError(std::string(what_) + ": " + problem + " (at byte " + std::to_string(pos_) + " of " +
                        std::to_string(data_.size()) + ")");
}

void Reader::need(std::size_t count, const char* field) const {
    if (count > remaining())
        fail(std::string(field) + " needs " + std::to_string(count) + " bytes, " + std::to_string(remaining()) +
             " left");
}

std::uint8_t Reader::u8(const char* field) {
    need(1, field);
    return data_[pos_++];
}

std::uint8_t Reader::peek(const char* field) const {
    need(1, field);
    return data_[pos_];
}

std::uint16_t Reader::u16(const char* field) {
    need(2, field);
    const auto v = static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
}

std::uint16_t Reader::u16be(const char* field) {
    need(2, field);
    const auto v = static_cast<std::uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return v;
}

std::uint32_t Reader::u32(const char* field) {
    need(4, field);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return v;
}

std::uint32_t Reader::u32be(const char* field) {
    need(4, field);
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | data_[pos_ + i];
    pos_ += 4;
    return v;
}

std::uint64_t Reader::u64(const char* field) {
    need(8, field);
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 8;
    return v;
}

ByteView Reader::bytes(std::size_t count, const char* field) {
    need(count, field);
    ByteView v = data_.subspan(pos_, count);
    pos_ += count;
    return v;
}

std::string Reader::utf16(std::size_t chars, const char* field) {
    if (chars > remaining() / 2)
        fail(std::string(field) + " needs " + std::to_string(chars) + " characters, " + std::to_string(remaining()) +
             " bytes left");
    return utf16ToUtf8(bytes(chars * 2, field));
}

std::string Reader::bVarchar(const char* field) { return utf16(u8(field), field); }
std::string Reader::usVarchar(const char* field) { return utf16(u16(field), field); }

void Writer::u16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Writer::u16be(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    out_.push_back(static_cast<std::uint8_t>(v));
}

void Writer::u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Writer::u32be(std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Writer::u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::size_t Writer::utf16(std::string_view utf8) { return appendUtf16(out_, utf8); }

void Writer::bVarchar(std::string_view utf8) {
    const std::size_t n = utf16Length(utf8);
    if (n > 0xFF) throw ProtocolError("a name of " + std::to_string(n) + " characters does not fit a B_VARCHAR");
    u8(static_cast<std::uint8_t>(n));
    utf16(utf8);
}

void Writer::usVarchar(std::string_view utf8) {
    const std::size_t n = utf16Length(utf8);
    if (n > 0xFFFF) throw ProtocolError("a text of " + std::to_string(n) + " characters does not fit a US_VARCHAR");
    u16(static_cast<std::uint16_t>(n));
    utf16(utf8);
}

void Writer::patchU16(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<std::uint8_t>(v);
    out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::string utf16ToUtf8(ByteView bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) { return static_cast<char32_t>(bytes[2 * i] | bytes[2 * i + 1] << 8); };
    for (std::size_t i = 0; i < units; ++i) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        text::appendUtf8(out, u);
    }
    return out;
}

std::size_t appendUtf16(Bytes& out, std::string_view utf8) {
    std::size_t units = 0;
    auto put = [&](char32_t u) {
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
        ++units;
    };
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t cp = text::nextCodePoint(utf8, pos);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp > 0xFFFF ? 0xFFFD : cp);
        }
    }
    return units;
}

std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t cp = text::nextCodePoint(utf8, pos);
        units += cp >= 0x10000 && cp <= 0x10FFFF ? 2 : 1;
    }
    return units;
}

}  // namespace vopa::tds
