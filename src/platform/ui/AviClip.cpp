#include "AviClip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>

namespace vopa::ui {

namespace {

constexpr std::uint32_t fourcc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

std::string fourccText(std::uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((code >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

constexpr std::uint32_t biRgb = 0;
constexpr std::uint32_t biRle8 = 1;
constexpr std::size_t mainHeaderSize = 56;    // avih
constexpr std::size_t streamHeaderMin = 36;   // strh up to dwLength
constexpr std::size_t bitmapHeaderSize = 40;  // BITMAPINFOHEADER
constexpr std::size_t indexEntrySize = 16;    // one idx1 entry

// Bounds-checked little-endian reads from the clip's bytes. Every read names its place so that a short
// file says which structure it cut.
class Bytes {
public:
    Bytes(const std::vector<std::uint8_t>& bytes, const std::string& name) : bytes_(bytes), name_(name) {}

    bool has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    std::uint32_t u32(std::size_t offset, const char* what) const {
        need(offset, 4, what);
        return static_cast<std::uint32_t>(bytes_[offset]) | static_cast<std::uint32_t>(bytes_[offset + 1]) << 8 |
               static_cast<std::uint32_t>(bytes_[offset + 2]) << 16 |
               static_cast<std::uint32_t>(bytes_[offset + 3]) << 24;
    }
    std::uint16_t u16(std::size_t offset, const char* what) const {
        need(offset, 2, what);
        return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
    }
    std::int32_t i32(std::size_t offset, const char* what) const {
        const std::uint32_t value = u32(offset, what);
        return value <= 0x7FFFFFFFu ? static_cast<std::int32_t>(value)
                                    : -static_cast<std::int32_t>(~value) - 1;
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw AviError("The animation clip '" + name_ + "' cannot be played: " + what + ".");
    }

private:
    void need(std::size_t offset, std::size_t count, const char* what) const {
        if (!has(offset, count)) fail(std::string("the file ends inside the ") + what);
    }
    const std::vector<std::uint8_t>& bytes_;
    const std::string& name_;
};

struct ChunkHeader {
    std::uint32_t id;
    std::size_t data;  // offset of the chunk's data
    std::size_t size;  // without the pad byte
};

// Calls visit(header) for each chunk between `begin` and `end` (the data of a RIFF or LIST chunk). A
// chunk must lie inside its parent; only the pad byte of the parent's last chunk may be missing.
template <typename Visit>
void forEachChunk(const Bytes& in, std::size_t begin, std::size_t end, const char* parent, Visit visit) {
    std::size_t pos = begin;
    while (pos < end) {
        if (end - pos < 8) in.fail(std::string("a chunk header in the '") + parent + "' list is cut short");
        const ChunkHeader chunk{in.u32(pos, "chunk header"), pos + 8, in.u32(pos + 4, "chunk header")};
        if (chunk.size > end - chunk.data) {
            in.fail("the '" + fourccText(chunk.id) + "' chunk at offset " + std::to_string(pos) + " announces " +
                    std::to_string(chunk.size) + " bytes, its list '" + parent + "' holds only " +
                    std::to_string(end - chunk.data));
        }
        visit(chunk);
        pos = chunk.data + chunk.size;
        if (chunk.size % 2 != 0 && pos < end) ++pos;
    }
}

struct RleFault {
    const char* what;
};

// Walks one RLE8 frame: runs (count, index), and after a zero byte the escapes 0 end of line, 1 end of
// picture, 2 move right/up by the next two bytes, 3..255 that many literal indices padded to a word.
// Line 0 is the first line of the data. Pixels outside the picture are dropped; draw(x, line, count,
// value, literal) receives the others, a run of `value` when `literal` is null.
template <typename Draw>
void walkRle8(const std::uint8_t* data, std::size_t size, int width, int height, Draw draw) {
    std::size_t i = 0;
    int x = 0;
    int y = 0;
    const auto advance = [](int& coordinate, int by, int limit) { coordinate = std::min(coordinate + by, limit); };
    const auto visible = [&](int count) { return y < height ? std::min(count, width - x) : 0; };
    while (i < size) {
        if (size - i < 2) throw RleFault{"the RLE8 data ends inside a run"};
        const std::uint8_t count = data[i];
        const std::uint8_t value = data[i + 1];
        i += 2;
        if (count > 0) {
            if (const int n = visible(count); n > 0) draw(x, y, n, value, nullptr);
            advance(x, count, width);
            continue;
        }
        switch (value) {
        case 0:
            x = 0;
            advance(y, 1, height);
            break;
        case 1:
            return;
        case 2:
            if (size - i < 2) throw RleFault{"the RLE8 data ends inside a move"};
            advance(x, data[i], width);
            advance(y, data[i + 1], height);
            i += 2;
            break;
        default:
            if (size - i < value) throw RleFault{"the RLE8 data ends inside a literal run"};
            if (const int n = visible(value); n > 0) draw(x, y, n, 0, data + i);
            advance(x, value, width);
            i += value;
            if (value % 2 != 0 && i < size) ++i;  // literal runs keep the data word-aligned
            break;
        }
    }
}

}  // namespace

void AviClip::fail(const std::string& what) const { Bytes(bytes_, name_).fail(what); }

AviClip AviClip::open(const std::string& linuxPath) {
    std::ifstream file(linuxPath, std::ios::binary | std::ios::ate);
    if (!file) {
        throw AviError("The animation clip '" + linuxPath + "' cannot be opened: " + std::strerror(errno) + ".");
    }
    const std::streamoff length = file.tellg();
    if (length < 0) throw AviError("The animation clip '" + linuxPath + "' cannot be read.");
    if (static_cast<std::uint64_t>(length) > maxFileSize) {
        throw AviError("The animation clip '" + linuxPath + "' cannot be played: it is " + std::to_string(length) +
                       " bytes long, more than the " + std::to_string(maxFileSize) + " a clip may have.");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), length)) {
        throw AviError("The animation clip '" + linuxPath + "' cannot be read.");
    }
    return fromBytes(std::move(bytes), linuxPath);
}

AviClip AviClip::fromBytes(std::vector<std::uint8_t> bytes, const std::string& name) {
    AviClip clip;
    clip.name_ = name;
    clip.bytes_ = std::move(bytes);
    const Bytes in(clip.bytes_, clip.name_);
    const std::size_t fileSize = clip.bytes_.size();
    if (fileSize > maxFileSize) in.fail("the clip is larger than " + std::to_string(maxFileSize) + " bytes");

    // RIFF 'AVI ' ( LIST 'hdrl' ( avih, LIST 'strl' ( strh, strf )... ), LIST 'movi' ( frames ), idx1 )
    if (fileSize < 12) in.fail("the file is " + std::to_string(fileSize) + " bytes long, too short for a RIFF header");
    if (in.u32(0, "RIFF header") != fourcc("RIFF")) in.fail("it is not a RIFF file");
    if (in.u32(8, "RIFF header") != fourcc("AVI ")) {
        in.fail("it is a RIFF file of form '" + fourccText(in.u32(8, "RIFF header")) + "', not an AVI clip");
    }
    const std::size_t riffSize = in.u32(4, "RIFF header");
    if (riffSize < 4) in.fail("the RIFF header announces " + std::to_string(riffSize) + " bytes");
    if (riffSize > fileSize - 8) {
        in.fail("the file is truncated: the RIFF header announces " + std::to_string(riffSize + 8) +
                " bytes, the file has " + std::to_string(fileSize));
    }

    std::optional<ChunkHeader> headerList, movieList, index;
    forEachChunk(in, 12, 8 + riffSize, "AVI ", [&](const ChunkHeader& chunk) {
        if (chunk.id == fourcc("LIST") && chunk.size >= 4) {
            const std::uint32_t type = in.u32(chunk.data, "list type");
            const ChunkHeader list{type, chunk.data + 4, chunk.size - 4};
            if (type == fourcc("hdrl") && !headerList) headerList = list;
            if (type == fourcc("movi") && !movieList) movieList = list;
        } else if (chunk.id == fourcc("idx1") && !index) {
            index = chunk;
        }
    });
    if (!headerList) in.fail("it has no header list ('hdrl')");
    if (!movieList) in.fail("it has no frame list ('movi')");

    // The main header and the first video stream's header and format.
    std::optional<ChunkHeader> mainHeader, videoHeader, videoFormat;
    int streamNumber = 0;
    int videoStream = -1;
    forEachChunk(in, headerList->data, headerList->data + headerList->size, "hdrl", [&](const ChunkHeader& chunk) {
        if (chunk.id == fourcc("avih") && !mainHeader) {
            mainHeader = chunk;
            return;
        }
        if (chunk.id != fourcc("LIST") || chunk.size < 4 || in.u32(chunk.data, "list type") != fourcc("strl")) return;
        std::optional<ChunkHeader> streamHeader, streamFormat;
        forEachChunk(in, chunk.data + 4, chunk.data + chunk.size, "strl", [&](const ChunkHeader& part) {
            if (part.id == fourcc("strh") && !streamHeader) streamHeader = part;
            if (part.id == fourcc("strf") && !streamFormat) streamFormat = part;
        });
        if (!streamHeader) in.fail("stream " + std::to_string(streamNumber) + " has no stream header ('strh')");
        if (streamHeader->size < streamHeaderMin) {
            in.fail("the header of stream " + std::to_string(streamNumber) + " is " +
                    std::to_string(streamHeader->size) + " bytes long, too short");
        }
        if (videoStream < 0 && in.u32(streamHeader->data, "stream header") == fourcc("vids")) {
            if (!streamFormat) in.fail("the video stream has no format ('strf')");
            videoStream = streamNumber;
            videoHeader = streamHeader;
            videoFormat = streamFormat;
        }
        ++streamNumber;
    });
    if (!mainHeader) in.fail("it has no main header ('avih')");
    if (mainHeader->size < mainHeaderSize) {
        in.fail("its main header is " + std::to_string(mainHeader->size) + " bytes long, " +
                std::to_string(mainHeaderSize) + " expected");
    }
    if (videoStream < 0) in.fail("it has no video stream");
    if (videoStream > 99) in.fail("its video stream is number " + std::to_string(videoStream) + ", beyond 99");

    // Frame rate: the stream's rate/scale when it has them (exact), else the main header's period.
    const std::uint32_t scale = in.u32(videoHeader->data + 20, "stream header");
    const std::uint32_t rate = in.u32(videoHeader->data + 24, "stream header");
    if (scale != 0 && rate != 0) {
        clip.microsecondsPerFrame_ = (std::int64_t{scale} * 1'000'000 + rate / 2) / rate;
    }
    if (clip.microsecondsPerFrame_ <= 0) clip.microsecondsPerFrame_ = in.u32(mainHeader->data, "main header");
    if (clip.microsecondsPerFrame_ <= 0) in.fail("it gives no frame rate");

    // The picture format: BITMAPINFOHEADER, then the palette.
    const std::size_t format = videoFormat->data;
    if (videoFormat->size < bitmapHeaderSize) {
        in.fail("the video format is " + std::to_string(videoFormat->size) + " bytes long, too short");
    }
    const std::size_t formatHeaderSize = in.u32(format, "video format");
    if (formatHeaderSize < bitmapHeaderSize || formatHeaderSize > videoFormat->size) {
        in.fail("the video format announces a header of " + std::to_string(formatHeaderSize) + " bytes");
    }
    const std::int64_t width = in.i32(format + 4, "video format");
    const std::int64_t height = in.i32(format + 8, "video format");
    const int bitCount = in.u16(format + 14, "video format");
    const std::uint32_t compression = in.u32(format + 16, "video format");
    const std::uint32_t colorsUsed = in.u32(format + 32, "video format");
    if (width < 1 || width > maxDimension || height == 0 || height < -maxDimension || height > maxDimension) {
        in.fail("the picture size " + std::to_string(width) + "x" + std::to_string(height) +
                " is outside 1.." + std::to_string(maxDimension));
    }
    clip.width_ = static_cast<int>(width);
    clip.height_ = static_cast<int>(height < 0 ? -height : height);
    clip.bottomUp_ = height > 0;
    if (compression == biRgb && bitCount == 8) {
        clip.format_ = Format::Palette8;
    } else if (compression == biRgb && bitCount == 24) {
        clip.format_ = Format::Rgb24;
    } else if (compression == biRle8 && bitCount == 8) {
        clip.format_ = Format::Rle8;
    } else {
        in.fail("its video format (" + std::to_string(bitCount) + " bits per pixel, compression '" +
                fourccText(compression) + "') is not uncompressed 8 or 24 bits or RLE8");
    }
    if (clip.format_ != Format::Rgb24) {
        const std::size_t stored = (videoFormat->size - formatHeaderSize) / 4;
        if (colorsUsed > 256) in.fail("the palette announces " + std::to_string(colorsUsed) + " colours");
        const std::size_t colours = colorsUsed == 0 ? std::min<std::size_t>(stored, 256) : colorsUsed;
        if (colours == 0 || colours > stored) {
            in.fail("the video format holds " + std::to_string(stored) + " palette entries, " +
                    std::to_string(colours) + " needed");
        }
        clip.palette_.assign(256, 0xFF000000u);
        for (std::size_t c = 0; c < colours; ++c) {
            const std::size_t entry = format + formatHeaderSize + 4 * c;  // blue, green, red, unused
            clip.palette_[c] = 0xFF000000u | std::uint32_t{clip.bytes_[entry + 2]} << 16 |
                               std::uint32_t{clip.bytes_[entry + 1]} << 8 | clip.bytes_[entry];
        }
    }

    // The frames: chunks 'NNdc' / 'NNdb' of the video stream, found through the index when it matches the
    // frame list, else by walking the list (frames may sit in 'rec ' groups).
    const auto digit = [](int d) { return static_cast<std::uint32_t>('0' + d); };
    const std::uint32_t streamTag = digit(videoStream / 10) | digit(videoStream % 10) << 8;
    const auto isFrame = [&](std::uint32_t id) {
        return (id & 0xFFFFu) == streamTag && (id >> 16 == ('d' | 'c' << 8) || id >> 16 == ('d' | 'b' << 8));
    };
    const std::size_t movieEnd = movieList->data + movieList->size;
    const auto tooMany = [&] { in.fail("it has more than " + std::to_string(maxFrames) + " frames"); };
    if (index) {
        if (index->size % indexEntrySize != 0) in.fail("its index ('idx1') is not a whole number of entries");
        // Offsets count from the 'movi' type word; some writers use offsets from the start of the file.
        std::optional<std::size_t> base;
        bool matches = true;
        for (std::size_t e = index->data; e < index->data + index->size && matches; e += indexEntrySize) {
            const std::uint32_t id = in.u32(e, "index");
            if (!isFrame(id)) continue;
            const std::size_t offset = in.u32(e + 8, "index");
            const std::size_t length = in.u32(e + 12, "index");
            const auto chunkAt = [&](std::size_t at) {
                return at >= movieList->data && at < movieEnd && movieEnd - at >= 8 && in.u32(at, "frame") == id &&
                       in.u32(at + 4, "frame") == length && length <= movieEnd - at - 8;
            };
            if (!base) {
                if (chunkAt(movieList->data - 4 + offset)) {
                    base = movieList->data - 4;
                } else if (chunkAt(offset)) {
                    base = 0;
                } else {
                    matches = false;
                    break;
                }
            }
            if (offset > movieEnd || !chunkAt(*base + offset)) {
                matches = false;
                break;
            }
            if (clip.frames_.size() == maxFrames) tooMany();
            clip.frames_.push_back({*base + offset + 8, length});
        }
        if (!matches) clip.frames_.clear();
    }
    if (clip.frames_.empty()) {
        const auto visit = [&](const ChunkHeader& chunk, const auto& self) -> void {
            if (chunk.id == fourcc("LIST") && chunk.size >= 4 && in.u32(chunk.data, "list type") == fourcc("rec ")) {
                forEachChunk(in, chunk.data + 4, chunk.data + chunk.size, "rec ",
                             [&](const ChunkHeader& inner) { self(inner, self); });
            } else if (isFrame(chunk.id)) {
                if (clip.frames_.size() == maxFrames) tooMany();
                clip.frames_.push_back({chunk.data, chunk.size});
            }
        };
        forEachChunk(in, movieList->data, movieEnd, "movi", [&](const ChunkHeader& chunk) { visit(chunk, visit); });
    }
    if (clip.frames_.empty()) in.fail("it holds no video frames");

    // Every frame is checked now, so that decoding later cannot fail on the data.
    const std::size_t stride = clip.format_ == Format::Rgb24 ? (clip.width_ * 3u + 3u) & ~3u : (clip.width_ + 3u) & ~3u;
    for (std::size_t f = 0; f < clip.frames_.size(); ++f) {
        const Chunk& chunk = clip.frames_[f];
        if (chunk.size == 0) continue;
        if (clip.format_ == Format::Rle8) {
            try {
                walkRle8(clip.bytes_.data() + chunk.offset, chunk.size, clip.width_, clip.height_,
                         [](int, int, int, std::uint8_t, const std::uint8_t*) {});
            } catch (const RleFault& fault) {
                in.fail("frame " + std::to_string(f) + ": " + fault.what);
            }
        } else if (chunk.size < stride * clip.height_) {
            in.fail("frame " + std::to_string(f) + " holds " + std::to_string(chunk.size) + " bytes, " +
                    std::to_string(stride * clip.height_) + " needed");
        }
    }
    return clip;
}

std::vector<std::uint32_t> AviClip::frame(int index) {
    if (index < 0 || index >= frameCount()) {
        fail("frame " + std::to_string(index) + " asked for, the clip has " + std::to_string(frameCount()));
    }
    decodeInto(index);
    return pixels_;
}

void AviClip::decodeInto(int index) {
    if (index == decoded_) return;
    const std::size_t pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    const auto row = [this](int line) {
        return pixels_.data() + static_cast<std::size_t>(bottomUp_ ? height_ - 1 - line : line) * width_;
    };

    if (format_ == Format::Rle8) {
        if (decoded_ < 0 || index < decoded_) {
            pixels_.assign(pixels, palette_[0]);
            decoded_ = -1;
        }
        const auto draw = [&](int x, int line, int count, std::uint8_t value, const std::uint8_t* literal) {
            std::uint32_t* to = row(line) + x;
            if (literal != nullptr) {
                for (int k = 0; k < count; ++k) to[k] = palette_[literal[k]];
            } else {
                std::fill_n(to, count, palette_[value]);
            }
        };
        for (int f = decoded_ + 1; f <= index; ++f) {
            const Chunk& chunk = frames_[f];
            if (chunk.size > 0) walkRle8(bytes_.data() + chunk.offset, chunk.size, width_, height_, draw);
        }
        decoded_ = index;
        return;
    }

    // Uncompressed: an empty chunk repeats the last frame that has data.
    int source = index;
    while (source >= 0 && frames_[source].size == 0) --source;
    decoded_ = index;
    pixels_.assign(pixels, format_ == Format::Palette8 ? palette_[0] : 0xFF000000u);
    if (source < 0) return;
    const std::uint8_t* data = bytes_.data() + frames_[source].offset;
    const std::size_t stride = format_ == Format::Rgb24 ? (width_ * 3u + 3u) & ~3u : (width_ + 3u) & ~3u;
    for (int line = 0; line < height_; ++line) {
        const std::uint8_t* in = data + stride * line;
        std::uint32_t* out = row(line);
        for (int x = 0; x < width_; ++x) {
            if (format_ == Format::Palette8) {
                out[x] = palette_[in[x]];
            } else {
                const std::uint8_t* bgr = in + 3 * x;
                out[x] = 0xFF000000u | std::uint32_t{bgr[2]} << 16 | std::uint32_t{bgr[1]} << 8 | bgr[0];
            }
        }
    }
}

}  // namespace vopa::ui
