#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/AviClip.h"
#include "support/TempDrive.h"

namespace ui = vopa::ui;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Pixels = std::vector<std::uint32_t>;

// Writes small AVI files field by field, so that each test states the exact bytes a clip holds.
class Writer {
public:
    void u16(std::uint32_t v) { bytes.insert(bytes.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
    void u32(std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
    void tag(const std::string& t) { bytes.insert(bytes.end(), t.begin(), t.end()); }
    void raw(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    std::size_t open(const std::string& id, const std::string& type = {}) {
        tag(id);
        const std::size_t at = bytes.size();
        u32(0);
        tag(type);
        return at;
    }
    void close(std::size_t at) {
        const auto size = static_cast<std::uint32_t>(bytes.size() - at - 4);
        for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(size >> (8 * i));
        if (size % 2 != 0) bytes.push_back(0);
    }
    Bytes bytes;
};

enum class Index { FromMovi, FromFileStart, Missing, Wrong };

struct TinyClip {
    int width = 5;
    int height = 3;  // negative: rows stored from the top
    int bits = 8;
    std::uint32_t compression = 1;  // RLE8
    std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    std::vector<Bytes> frames;
    Index index = Index::FromMovi;
    bool audioStreamFirst = false;  // the video becomes stream 1 ('01dc')
    bool extraChunks = false;       // JUNK, LIST INFO and audio chunks between the frames
    bool recordLists = false;       // frames grouped in LIST 'rec '
    std::uint32_t scale = 1, rate = 10, microsecondsPerFrame = 0;
};

void streamList(Writer& w, const char* type, const TinyClip& c) {
    const std::size_t list = w.open("LIST", "strl");
    const std::size_t header = w.open("strh");
    w.tag(type);
    // handler, flags, priority + language, initial frames, scale, rate, then start to frame rectangle
    for (const std::uint32_t v : {0u, 0u, 0u, 0u, c.scale, c.rate, 0u, 0u, 0u, 0u, 0u, 0u, 0u}) w.u32(v);
    w.close(header);
    const std::size_t format = w.open("strf");
    if (std::string(type) == "auds") {
        w.raw(Bytes(16, 1));
    } else {  // BITMAPINFOHEADER: size, width, height, planes + bits, compression, ..., colours used, important
        const auto n = [](auto v) { return static_cast<std::uint32_t>(v); };
        for (const std::uint32_t v : {40u, n(c.width), n(c.height), 1u | n(c.bits) << 16, c.compression, 0u, 0u, 0u,
                                      n(c.palette.size()), 0u})
            w.u32(v);
        for (const std::uint32_t rgb : c.palette) w.u32(rgb);  // blue, green, red, 0 in file order
    }
    w.close(format);
    w.close(list);
}

Bytes build(const TinyClip& c) {
    Writer w;
    const std::size_t riff = w.open("RIFF", "AVI ");
    const std::size_t headers = w.open("LIST", "hdrl");
    const std::size_t main = w.open("avih");
    w.u32(c.microsecondsPerFrame);
    for (int i = 0; i < 13; ++i) w.u32(0);
    w.close(main);
    if (c.audioStreamFirst) streamList(w, "auds", c);
    streamList(w, "vids", c);
    w.close(headers);
    if (c.extraChunks) {
        const std::size_t junk = w.open("JUNK");
        w.raw(Bytes(7, 0xEE));
        w.close(junk);
        const std::size_t info = w.open("LIST", "INFO");
        const std::size_t name = w.open("INAM");
        w.tag("clip");
        w.close(name);
        w.close(info);
    }
    const std::string frameId = c.audioStreamFirst ? "01dc" : "00dc";
    const std::size_t movie = w.open("LIST", "movi");
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // offset of the chunk in the file, size
    for (const Bytes& frame : c.frames) {
        if (c.extraChunks) {
            const std::size_t audio = w.open(c.audioStreamFirst ? "00wb" : "01wb");
            w.raw({1, 2, 3});
            w.close(audio);
        }
        const std::size_t record = c.recordLists ? w.open("LIST", "rec ") : 0;
        entries.emplace_back(std::uint32_t(w.bytes.size()), std::uint32_t(frame.size()));
        const std::size_t chunk = w.open(frameId);
        w.raw(frame);
        w.close(chunk);
        if (c.recordLists) w.close(record);
    }
    w.close(movie);
    if (c.index != Index::Missing) {
        const std::size_t index = w.open("idx1");
        for (const auto& [offset, size] : entries) {
            w.tag(frameId);
            w.u32(0x10);
            switch (c.index) {
            case Index::FromMovi: w.u32(offset - std::uint32_t(movie + 4)); break;
            case Index::FromFileStart: w.u32(offset); break;
            default: w.u32(offset + 3); break;
            }
            w.u32(size);
        }
        w.close(index);
    }
    w.close(riff);
    return w.bytes;
}

// Palette indices, rows from the top, as the pixels of a clip with the default palette.
Pixels pic(const Bytes& indices) {
    Pixels out;
    for (const std::uint8_t i : indices) out.push_back(0xFF000000u | TinyClip{}.palette.at(i));
    return out;
}

std::string clipPath() { return VOPA_FILECOPY_CLIP; }

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An RLE8 key frame of 5 x 3 pixels, and its picture as palette indices, rows from the top.
const Bytes keyFrame = {
    5, 1, 0, 0,                      // bottom line: five of 1, end of line
    0, 3, 2, 3, 2, 0, 2, 1, 0, 0,    // middle line: literal 2 3 2 (padded), two of 1
    0, 5, 3, 2, 1, 0, 3, 0, 0, 1,    // top line: literal of odd length, pad byte, end of picture
};
const Bytes keyPicture = {3, 2, 1, 0, 3,
                          2, 3, 2, 1, 1,
                          1, 1, 1, 1, 1};

TinyClip rle(std::vector<Bytes> frames) {
    TinyClip c;
    c.frames = std::move(frames);
    return c;
}

TinyClip uncompressed(int bits, int height, const Bytes& data) {
    TinyClip c = rle({data, {}});  // an empty chunk repeats the frame before it
    c.width = 3;
    c.height = height;
    c.bits = bits;
    c.compression = 0;
    if (bits == 24) c.palette.clear();
    return c;
}

TinyClip layout(Index index, bool audioFirst, bool extras, bool records) {
    TinyClip c = rle({keyFrame, {0, 2, 4, 2, 1, 2, 0, 1}});
    c.index = index;
    c.audioStreamFirst = audioFirst;
    c.extraChunks = extras;
    c.recordLists = records;
    return c;
}

TinyClip rated(std::uint32_t scale, std::uint32_t rate, std::uint32_t mainHeader) {
    TinyClip c = rle({keyFrame});
    c.scale = scale;
    c.rate = rate;
    c.microsecondsPerFrame = mainHeader;
    return c;
}

// Every frame of a clip in order, its size and its frame rate.
TEST(AviClip, DecodesEveryFrameAsStored) {
    const Pixels key = pic(keyPicture);
    Bytes second = keyPicture;
    second[4] = 2;
    // 3 x 2 pixels; 24-bit rows are 9 bytes padded to 12, 8-bit rows 3 bytes padded to 4.
    const Bytes rgb = {0x03, 0x02, 0x01, 0x06, 0x05, 0x04, 0x09, 0x08, 0x07, 0xEE, 0xEE, 0xEE,
                       0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70, 0xEE, 0xEE, 0xEE};
    const Pixels bottomRowLast = {0xFF102030, 0xFF405060, 0xFF708090, 0xFF010203, 0xFF040506, 0xFF070809};
    const Pixels bottomRowFirst = {0xFF010203, 0xFF040506, 0xFF070809, 0xFF102030, 0xFF405060, 0xFF708090};
    const Pixels palettised = {0xFF0000FF, 0xFF000000, 0xFFFF0000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    const struct {
        const char* name;
        TinyClip clip;
        std::vector<Pixels> expected;
        std::int64_t microsecondsPerFrame = 100000;
    } cases[] = {
        // RLE8 runs, literals, escapes and delta frames.
        {"key frame", rle({keyFrame}), {key}},
        {"move right and up over the previous frame", rle({keyFrame, {0, 2, 2, 1, 2, 0, 0, 1}}),
         {key, pic({3, 2, 1, 0, 3, 2, 3, 0, 0, 1, 1, 1, 1, 1, 1})}},
        {"end of line from the middle of a line, then a literal",
         rle({keyFrame, {0, 2, 3, 0, 1, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 1}}),
         {key, pic({3, 2, 1, 0, 3, 0, 0, 0, 1, 1, 1, 1, 1, 2, 1})}},
        {"runs past the right edge are cut, not wrapped", rle({keyFrame, {0, 2, 3, 2, 9, 2, 0, 1}}),
         {key, pic({3, 2, 1, 2, 2, 2, 3, 2, 1, 1, 1, 1, 1, 1, 1})}},
        {"moves past the top draw nothing", rle({keyFrame, {0, 2, 0, 9, 4, 0, 0, 1}}), {key, key}},
        {"data after the end of the picture is ignored", rle({keyFrame, {1, 0, 0, 1, 5, 2}}),
         {key, pic({3, 2, 1, 0, 3, 2, 3, 2, 1, 1, 0, 1, 1, 1, 1})}},
        {"an empty chunk shows the previous frame again", rle({keyFrame, {}}), {key, key}},
        {"a first frame that leaves pixels untouched shows index 0 there", rle({{0, 2, 1, 2, 2, 3}}),
         {pic({0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})}},
        // Uncompressed rows in either order with their padding.
        {"24-bit, bottom-up", uncompressed(24, 2, rgb), {bottomRowLast, bottomRowLast}},
        {"24-bit, top-down", uncompressed(24, -2, rgb), {bottomRowFirst, bottomRowFirst}},
        {"8-bit palette, bottom-up", uncompressed(8, 2, {1, 2, 3, 0xEE, 3, 0, 1, 0xEE}), {palettised, palettised}},
        // The video frames wherever the file keeps them.
        {"index offsets from the frame list", layout(Index::FromMovi, false, false, false), {key, pic(second)}},
        {"index offsets from the file start", layout(Index::FromFileStart, false, false, false), {key, pic(second)}},
        {"no index", layout(Index::Missing, false, false, false), {key, pic(second)}},
        {"an index that points nowhere", layout(Index::Wrong, false, false, false), {key, pic(second)}},
        {"video as the second stream, audio and junk between", layout(Index::FromMovi, true, true, false),
         {key, pic(second)}},
        {"frames in record lists, no index", layout(Index::Missing, false, true, true), {key, pic(second)}},
        {"frames in record lists, with index", layout(Index::FromFileStart, true, false, true), {key, pic(second)}},
        // The frame rate comes from the stream, else from the main header.
        {"15 a second", rated(1, 15, 0), {key}, 66667},
        {"NTSC", rated(1001, 30000, 0), {key}, 33367},
        {"no stream rate", rated(0, 0, 80000), {key}, 80000},
        {"stream rate zero", rated(1, 0, 50000), {key}, 50000},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        ui::AviClip clip = ui::AviClip::fromBytes(build(test.clip), "tiny.avi");
        ASSERT_EQ(std::tuple(clip.frameCount(), clip.width(), clip.height(), clip.microsecondsPerFrame()),
                  std::tuple(static_cast<int>(test.expected.size()), test.clip.width, std::abs(test.clip.height),
                             test.microsecondsPerFrame));
        for (int f = 0; f < clip.frameCount(); ++f) EXPECT_EQ(clip.frame(f), test.expected[f]) << f;
        // Going back to the first frame starts again from it, not from the last one decoded.
        EXPECT_EQ(clip.frame(0), test.expected[0]);
    }
}

void set(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = std::uint8_t(v >> (8 * i));
}

std::size_t find(const Bytes& b, const std::string& text) {
    return std::size_t(std::search(b.begin(), b.end(), text.begin(), text.end()) - b.begin());
}

// Where the data of the video format (BITMAPINFOHEADER) begins.
std::size_t formatAt(const Bytes& b) { return find(b, "strf") + 8; }

TEST(AviClipHeader, RefusesWhatItCannotPlayWithAMessageNamingTheFault) {
    struct Case {
        const char* name;
        void (*damage)(TinyClip&, Bytes&);
        const char* message;
    };
    const std::vector<Case> cases = {
        {"empty file", [](TinyClip&, Bytes& b) { b.clear(); }, "too short for a RIFF header"},
        {"not RIFF", [](TinyClip&, Bytes& b) { b[0] = 'X'; }, "not a RIFF file"},
        {"a WAVE file", [](TinyClip&, Bytes& b) { std::copy_n("WAVE", 4, b.begin() + 8); }, "form 'WAVE'"},
        {"cut short", [](TinyClip&, Bytes& b) { b.pop_back(); }, "truncated"},
        {"no frames", [](TinyClip& c, Bytes& b) { c.frames.clear(); b = build(c); }, "no video frames"},
        {"only audio", [](TinyClip&, Bytes& b) { std::copy_n("auds", 4, b.begin() + formatAt(b) - 8 - 56); },
         "no video stream"},
        {"16 bits per pixel", [](TinyClip&, Bytes& b) { b[formatAt(b) + 14] = 16; }, "16 bits per pixel"},
        {"too wide", [](TinyClip&, Bytes& b) { set(b, formatAt(b) + 4, 4097); }, "4097x3"},
        {"zero height", [](TinyClip&, Bytes& b) { set(b, formatAt(b) + 8, 0); }, "5x0"},
        {"very negative height", [](TinyClip&, Bytes& b) { set(b, formatAt(b) + 8, 0x80000000u); }, "5x-2147483648"},
        {"more colours than stored", [](TinyClip&, Bytes& b) { set(b, formatAt(b) + 32, 5); }, "4 palette entries"},
        {"more than 256 colours", [](TinyClip&, Bytes& b) { set(b, formatAt(b) + 32, 257); }, "257 colours"},
        {"frame list missing",
         [](TinyClip&, Bytes& b) {
             std::copy_n("movX", 4, b.begin() + std::ptrdiff_t(find(b, "movi")));
         },
         "no frame list"},
        {"uncompressed frame too small",
         [](TinyClip& c, Bytes& b) {
             c.compression = 0;
             c.frames = {Bytes(14, 0)};
             b = build(c);
         },
         "frame 0 holds 14 bytes, 24 needed"},
        // RLE data that ends inside a run.
        {"lone count byte", [](TinyClip& c, Bytes& b) { c.frames.push_back({5, 1, 3}); b = build(c); }, "frame 1"},
        {"move without its offsets",
         [](TinyClip& c, Bytes& b) { c.frames.push_back({0, 2, 1}); b = build(c); }, "frame 1"},
        {"literal shorter than its count",
         [](TinyClip& c, Bytes& b) { c.frames.push_back({0, 5, 1, 2, 3}); b = build(c); }, "frame 1"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TinyClip tiny;
        tiny.frames = {keyFrame};
        Bytes bytes = build(tiny);
        test.damage(tiny, bytes);
        try {
            ui::AviClip::fromBytes(bytes, "bad.avi");
            ADD_FAILURE() << "opened";
        } catch (const ui::AviError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("'bad.avi'"), std::string::npos) << text;
            EXPECT_NE(text.find(test.message), std::string::npos) << text;
        }
    }
}

TEST(AviClipFile, AMissingFileNamesThePathAndTheReason) {
    vopa::testing::TempDrive drive;
    const std::string path = (drive.root() / "nowhere" / "FILECOPY.avi").string();
    try {
        ui::AviClip::open(path);
        FAIL() << "opened";
    } catch (const ui::AviError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
}

// The clip the program ships.
TEST(FileCopyClip, IsAShortLoopOfTheBuildAnimation) {
    ui::AviClip clip = ui::AviClip::open(clipPath());
    // 20 frames of 272 x 60 pixels, 15 frames a second.
    EXPECT_EQ(std::tuple(clip.frameCount(), clip.width(), clip.height(), clip.microsecondsPerFrame()),
              std::tuple(20, 272, 60, 66667));

    std::vector<Pixels> frames;
    for (int f = 0; f < clip.frameCount(); ++f) frames.push_back(clip.frame(f));
    // Every frame differs from the one before it, and from the first (the loop closes without a jump).
    for (int f = 0; f < clip.frameCount(); ++f) {
        EXPECT_NE(frames[f], frames[(f + 1) % clip.frameCount()]) << f;
        if (f > 0) {
            EXPECT_NE(frames[f], frames[0]) << f;
        }
    }
    // The folders stand at the bottom: the file stores its lines bottom-up.
    const auto at = [&](int f, int x, int y) { return frames[f][static_cast<std::size_t>(y) * 272 + x]; };
    const std::uint32_t background = at(0, 0, 0);
    EXPECT_EQ(at(0, 136, 59), background);
    EXPECT_NE(at(0, 30, 50), background);
    EXPECT_NE(at(0, 240, 50), background);
    EXPECT_EQ(at(0, 30, 50), at(0, 240, 50));
    // A frame reached by going back equals the same frame reached from the start.
    EXPECT_EQ(clip.frame(7), frames[7]);
}

struct ChunkPlace {
    std::size_t header;  // offset of the chunk id
    std::uint32_t size;
};

// The chunks of a RIFF file, lists and their children.
std::vector<ChunkPlace> chunksOf(const Bytes& b, std::size_t begin, std::size_t end) {
    std::vector<ChunkPlace> out;
    for (std::size_t pos = begin; pos + 8 <= end;) {
        const std::uint32_t size = b[pos + 4] | b[pos + 5] << 8 | b[pos + 6] << 16 | std::uint32_t(b[pos + 7]) << 24;
        out.push_back({pos, size});
        const std::string id(b.begin() + pos, b.begin() + pos + 4);
        if (id == "RIFF" || id == "LIST") {
            const auto inner = chunksOf(b, pos + 12, pos + 8 + size);
            out.insert(out.end(), inner.begin(), inner.end());
        }
        pos += 8 + size + (size % 2);
    }
    return out;
}

enum class Expect { Refused, OpenedOrRefused, SameFrames };

// Damaged copies of the shipped clip: opening one and decoding every frame either works or ends in an
// AviError; anything else (a crash, a sanitizer report, another exception) fails the test.
TEST(FileCopyClip, DamagedCopiesOpenOrAreRefused) {
    const Bytes whole = readFile(clipPath());
    ASSERT_GT(whole.size(), 1000u);
    const std::size_t movie = find(whole, "movi") - 8, index = find(whole, "idx1");
    ASSERT_LT(index, whole.size());
    ui::AviClip reference = ui::AviClip::fromBytes(whole, "reference.avi");
    const std::vector<ChunkPlace> chunks = chunksOf(whole, 0, whole.size());
    struct Damage {
        const char* name;
        Expect expect;
        std::vector<std::pair<std::string, Bytes>> copies;  // what was damaged, the damaged copy
    } damages[] = {{"truncated", Expect::Refused, {}},
                   {"wrong chunk sizes", Expect::OpenedOrRefused, {}},
                   {"wrong header and index fields", Expect::OpenedOrRefused, {}},
                   {"flipped bits", Expect::OpenedOrRefused, {}},
                   {"broken index", Expect::SameFrames, {{"index offsets", whole}}}};
    const auto withU32 = [&](Damage& d, std::size_t at, std::uint32_t v) {
        d.copies.emplace_back(std::to_string(at) + " = " + std::to_string(v), whole);
        set(d.copies.back().second, at, v);
    };
    // Cut every 61 bytes, and one byte around each chunk's edges.
    std::set<std::size_t> lengths;
    for (std::size_t n = 0; n < whole.size(); n += 61) lengths.insert(n);
    for (const ChunkPlace& chunk : chunks)
        for (const std::size_t edge : {chunk.header, chunk.header + 8, chunk.header + 8 + chunk.size})
            for (const std::size_t n : {edge - 1, edge, edge + 1})
                if (n < whole.size()) lengths.insert(n);
    for (const std::size_t n : lengths)
        damages[0].copies.emplace_back("cut at " + std::to_string(n), Bytes(whole.begin(), whole.begin() + long(n)));
    // Every chunk's size set to zero, one more or less, half-way, and values that look negative or huge.
    for (const ChunkPlace& chunk : chunks)
        for (const std::uint32_t size : {0u, 1u, chunk.size - 1, chunk.size + 1, chunk.size / 2, 0x7FFFFFFFu,
                                         0x80000000u, 0xFFFFFFF8u, 0xFFFFFFFFu})
            withU32(damages[1], chunk.header + 4, size);
    // Every 16-bit step of the headers (up to the frame list) and every field of the index, set to zero,
    // small, large, and negative-looking values.
    std::vector<std::size_t> fields;
    for (std::size_t at = 0; at < movie; at += 2) fields.push_back(at);
    for (std::size_t at = index + 8; at + 4 <= whole.size(); at += 4) fields.push_back(at);
    for (const std::size_t at : fields)
        for (const std::uint32_t v : {0u, 1u, 0xFFu, 0x1000u, 0x10000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
            withU32(damages[2], at, v);
    // Single bits (and the top bit with them) flipped across the whole file, at places chosen by a fixed sequence.
    std::uint32_t state = 12345;
    for (int i = 0; i < 1500; ++i) {
        state = state * 1103515245u + 12345u;
        const std::size_t at = (state >> 8) % whole.size();
        damages[3].copies.emplace_back("flip at " + std::to_string(at), whole);
        damages[3].copies.back().second[at] ^= std::uint8_t(1u << (state % 8)) | (i % 3 == 0 ? 0x80 : 0);
    }
    // Every index entry's offset spoilt: the frames are found in the frame list instead.
    for (std::size_t entry = index + 8; entry + 16 <= whole.size(); entry += 16)
        damages[4].copies[0].second[entry + 8] ^= 0x55;

    for (const Damage& test : damages) {
        SCOPED_TRACE(test.name);
        int opened = 0, refused = 0;
        for (const auto& [what, bytes] : test.copies) {
            SCOPED_TRACE(what);
            try {
                ui::AviClip clip = ui::AviClip::fromBytes(bytes, "damaged.avi");
                const std::size_t pixels = std::size_t(clip.width()) * std::size_t(clip.height());
                for (int f = 0; f < clip.frameCount(); ++f) ASSERT_EQ(clip.frame(f).size(), pixels);
                ++opened;
                if (test.expect == Expect::SameFrames) {
                    ASSERT_EQ(clip.frameCount(), reference.frameCount());
                    for (int f = 0; f < clip.frameCount(); ++f) EXPECT_EQ(clip.frame(f), reference.frame(f)) << f;
                }
            } catch (const ui::AviError&) {
                ++refused;
            }
        }
        EXPECT_EQ(opened > 0, test.expect != Expect::Refused);
        EXPECT_EQ(refused > 0, test.expect != Expect::SameFrames);
    }
}

}  // namespace
