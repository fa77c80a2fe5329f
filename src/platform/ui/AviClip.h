#pragma once
// A small reader for the silent AVI clips an animation control plays: a RIFF AVI file with one video
// stream that is uncompressed 8-bit palettised, uncompressed 24-bit, or RLE8-compressed. Other streams
// (audio), JUNK and INFO chunks are skipped. The whole file is read into memory when it is opened and every
// size and offset in it is checked against the bytes actually there, so a damaged file ends in an
// AviError, never in a read outside the file or a huge allocation.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vopa::ui {

// A clip that cannot be opened or a frame that cannot be decoded; the text names the file and the fault.
class AviError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AviClip {
public:
    // Limits that keep a malformed header from asking for more than a clip of this kind ever needs.
    static constexpr int maxDimension = 4096;
    static constexpr int maxFrames = 100000;
    static constexpr std::size_t maxFileSize = 256u * 1024u * 1024u;

    // Reads and checks the clip at `linuxPath`; throws AviError for a missing, truncated or malformed file.
    static AviClip open(const std::string& linuxPath);
    // The same for a clip already in memory; `name` is used in error messages.
    static AviClip fromBytes(std::vector<std::uint8_t> bytes, const std::string& name);

    int frameCount() const { return static_cast<int>(frames_.size()); }
    int width() const { return width_; }
    int height() const { return height_; }
    // The display time of one frame.
    std::int64_t microsecondsPerFrame() const { return microsecondsPerFrame_; }

    // Frame `index` (0-based) as width() * height() pixels 0xAARRGGBB, rows from the top. RLE8 frames
    // are drawn over the previous frame, so frames are decoded in order; stepping forward costs one
    // frame, stepping back restarts from the first. The frames' data was checked by open(), so only an
    // index outside the clip throws (AviError).
    std::vector<std::uint32_t> frame(int index);

private:
    enum class Format { Palette8, Rgb24, Rle8 };
    struct Chunk {
        std::size_t offset;  // of the data in bytes_
        std::size_t size;    // 0: the previous frame is shown again
    };

    AviClip() = default;
    void decodeInto(int index);
    [[noreturn]] void fail(const std::string& what) const;

    std::string name_;
    std::vector<std::uint8_t> bytes_;
    Format format_ = Format::Rgb24;
    int width_ = 0;
    int height_ = 0;
    bool bottomUp_ = true;
    std::int64_t microsecondsPerFrame_ = 0;
    std::vector<std::uint32_t> palette_;  // 256 entries, 0xFFRRGGBB; unused entries black
    std::vector<Chunk> frames_;

    // The picture after the last decoded frame.
    std::vector<std::uint32_t> pixels_;
    int decoded_ = -1;
};

}  // namespace vopa::ui
