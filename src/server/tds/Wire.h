#pragma once
// Byte-level reading and writing of TDS data. Reader refuses to read past the end of its buffer: every
// read names the field it reads, so the ProtocolError says what was short and where.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vopa::tds {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class Reader {
public:
    // `what` names the structure read ("LOGIN7", "RPC"); it starts every error message.
    Reader(ByteView data, const char* what) : data_(data), what_(what) {}

    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ == data_.size(); }

    std::uint8_t u8(const char* field);
    std::uint8_t peek(const char* field) const;
    std::uint16_t u16(const char* field);  // little-endian
    std::uint16_t u16be(const char* field);
    std::uint32_t u32(const char* field);
    std::uint32_t u32be(const char* field);
    std::uint64_t u64(const char* field);
    ByteView bytes(std::size_t count, const char* field);
    void skip(std::size_t count, const char* field) { bytes(count, field); }

    // UTF-16LE text of `chars` code units, as UTF-8.
    std::string utf16(std::size_t chars, const char* field);
    std::string bVarchar(const char* field);   // BYTE length in characters, then UTF-16LE
    std::string usVarchar(const char* field);  // USHORT length in characters, then UTF-16LE

    [[noreturn]] void fail(const std::string& problem) const;

private:
    void need(std::size_t count, const char* field) const;

    ByteView data_;
    std::size_t pos_ = 0;
    const char* what_;
};

class Writer {
public:
    explicit Writer(Bytes& out) : out_(out) {}

    std::size_t size() const { return out_.size(); }
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v);
    void u16be(std::uint16_t v);
    void u32(std::uint32_t v);
    void u32be(std::uint32_t v);
    void u64(std::uint64_t v);
    void bytes(ByteView v) { out_.insert(out_.end(), v.begin(), v.end()); }
    void bytes(std::string_view v) { out_.insert(out_.end(), v.begin(), v.end()); }
    // UTF-8 text as UTF-16LE; returns the number of code units written.
    std::size_t utf16(std::string_view utf8);
    void bVarchar(std::string_view utf8);   // refuses more than 255 code units
    void usVarchar(std::string_view utf8);  // refuses more than 65535 code units
    // Writes a little-endian USHORT at `at` (a length known only after what it counts was written).
    void patchU16(std::size_t at, std::uint16_t v);

private:
    Bytes& out_;
};

// UTF-16LE bytes -> UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(ByteView bytes);
// UTF-8 -> UTF-16LE code units appended to `out`; returns how many.
std::size_t appendUtf16(Bytes& out, std::string_view utf8);
std::size_t utf16Length(std::string_view utf8);

}  // namespace vopa::tds
