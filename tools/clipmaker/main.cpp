// make-filecopy-clip OUT.avi: draws the build window's "copying files" animation and writes it as an
// RLE8-compressed AVI clip. Two yellow folders stand on a light background and white sheets of paper
// with grey lines of text fly in an arc from the left folder into the right one.
//
// The output depends on nothing but this program: the drawing uses only + - * / on doubles (no library
// trigonometry, no contraction into fused multiply-adds), so the committed clip can be regenerated
// byte for byte and a test checks that it is.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int clipWidth = 272;
constexpr int clipHeight = 60;
constexpr int frameCount = 20;
constexpr int framesPerSecond = 15;

// Palette indices.
enum Colour : std::uint8_t { Background, FolderBack, FolderFront, FolderEdge, Paper, PaperEdge, TextLine, Count };

constexpr std::array<std::array<std::uint8_t, 3>, Count> paletteRgb = {{
    {236, 240, 244},  // background: light grey-blue
    {222, 168, 36},   // folder back and tab: dark yellow
    {255, 214, 82},   // folder front: yellow
    {140, 98, 16},    // folder outline: brown
    {255, 255, 255},  // paper
    {96, 96, 96},     // paper outline
    {150, 150, 150},  // lines of text
}};

struct Point {
    double x;
    double y;
};

// An 8-bit picture, rows from the top.
class Canvas {
public:
    Canvas() : pixels_(static_cast<std::size_t>(clipWidth) * clipHeight, Background) {}

    std::uint8_t at(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * clipWidth + x]; }

    void plot(int x, int y, std::uint8_t colour) {
        if (x >= 0 && x < clipWidth && y >= 0 && y < clipHeight) pixels_[static_cast<std::size_t>(y) * clipWidth + x] = colour;
    }

    // Bresenham between the pixels nearest to the two points.
    void line(Point from, Point to, std::uint8_t colour) {
        int x0 = nearest(from.x), y0 = nearest(from.y);
        const int x1 = nearest(to.x), y1 = nearest(to.y);
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int error = dx + dy;
        for (;;) {
            plot(x0, y0, colour);
            if (x0 == x1 && y0 == y1) break;
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x0 += sx;
            }
            if (twice <= dx) {
                error += dx;
                y0 += sy;
            }
        }
    }

    // Fills the pixels whose centres lie inside the polygon (even-odd rule).
    void fillPolygon(const std::vector<Point>& corners, std::uint8_t colour) {
        for (int y = 0; y < clipHeight; ++y) {
            const double centre = y + 0.5;
            std::vector<double> crossings;
            for (std::size_t i = 0; i < corners.size(); ++i) {
                const Point a = corners[i];
                const Point b = corners[(i + 1) % corners.size()];
                if ((a.y <= centre && centre < b.y) || (b.y <= centre && centre < a.y)) {
                    crossings.push_back(a.x + (centre - a.y) * (b.x - a.x) / (b.y - a.y));
                }
            }
            std::sort(crossings.begin(), crossings.end());
            for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
                for (int x = static_cast<int>(std::ceil(crossings[i] - 0.5));
                     x < static_cast<int>(std::ceil(crossings[i + 1] - 0.5)); ++x) {
                    plot(x, y, colour);
                }
            }
        }
    }

    void outline(const std::vector<Point>& corners, std::uint8_t colour) {
        for (std::size_t i = 0; i < corners.size(); ++i) line(corners[i], corners[(i + 1) % corners.size()], colour);
    }

    void shape(const std::vector<Point>& corners, std::uint8_t fill, std::uint8_t edge) {
        fillPolygon(corners, fill);
        outline(corners, edge);
    }

private:
    static int nearest(double v) { return static_cast<int>(std::floor(v + 0.5)); }
    std::vector<std::uint8_t> pixels_;
};

// sin and cos by their series; enough for the small angles used here and free of the C library.
double sine(double a) {
    const double a2 = a * a;
    return a * (1 - a2 / 6 * (1 - a2 / 20 * (1 - a2 / 42 * (1 - a2 / 72))));
}
double cosine(double a) {
    const double a2 = a * a;
    return 1 - a2 / 2 * (1 - a2 / 12 * (1 - a2 / 30 * (1 - a2 / 56 * (1 - a2 / 90))));
}

// A folder seen from the front, open at the top: the back panel with its tab, then (drawn after the
// papers, so that they slide into it) the front panel.
void folderBack(Canvas& canvas, double left) {
    canvas.shape({{left + 2, 24}, {left + 6, 18}, {left + 22, 18}, {left + 26, 24}, {left + 54, 24}, {left + 54, 56},
                  {left + 2, 56}},
                 FolderBack, FolderEdge);
}
void folderFront(Canvas& canvas, double left) {
    canvas.shape({{left + 6, 33}, {left + 60, 33}, {left + 54, 56}, {left + 2, 56}}, FolderFront, FolderEdge);
}

// A sheet of paper with a folded corner and `lines` lines of text, centred on `centre`, turned by `angle`.
void paper(Canvas& canvas, Point centre, double angle, int lines) {
    const double c = cosine(angle), s = sine(angle);
    const auto place = [&](double x, double y) { return Point{centre.x + x * c - y * s, centre.y + x * s + y * c}; };
    canvas.shape({place(-8, -10), place(4, -10), place(8, -6), place(8, 10), place(-8, 10)}, Paper, PaperEdge);
    canvas.line(place(4, -10), place(4, -6), PaperEdge);
    canvas.line(place(4, -6), place(8, -6), PaperEdge);
    for (int k = 0; k < lines; ++k) {
        const double y = -5 + 4 * k;
        canvas.line(place(-5, y), place(k == lines - 1 ? 1 : 5, y), TextLine);
    }
}

// The position of a paper `t` (0..1) of the way along its flight: up out of the left folder, over the
// top, down into the right one, tipping forward as it goes.
void flyingPaper(Canvas& canvas, double t, int lines) {
    const double startX = 34, endX = 238, floorY = 38, rise = 28;
    const Point centre{startX + (endX - startX) * t, floorY - 4 * rise * t * (1 - t)};
    paper(canvas, centre, -0.7 + 1.4 * t, lines);
}

Canvas drawFrame(int frame) {
    Canvas canvas;
    folderBack(canvas, 6);
    folderBack(canvas, 210);
    // Two papers in flight, half a cycle apart, so that the clip loops without a jump; they carry
    // different texts, so that the second half of the clip is not the first one again.
    const double t = static_cast<double>(frame) / frameCount;
    flyingPaper(canvas, t, 4);
    flyingPaper(canvas, t < 0.5 ? t + 0.5 : t - 0.5, 3);
    folderFront(canvas, 6);
    folderFront(canvas, 210);
    return canvas;
}

// RLE8 encoding, lines from the bottom of the picture. Only the pixels that differ from `previous` are
// written (all of them when there is none); the decoder's position moves over the others with
// end-of-line and delta escapes.
class RleEncoder {
public:
    std::vector<std::uint8_t> encode(const Canvas& picture, const Canvas* previous) {
        out_.clear();
        x_ = 0;
        line_ = 0;
        for (int line = 0; line < clipHeight; ++line) {
            const int y = clipHeight - 1 - line;
            const auto changed = [&](int x) { return previous == nullptr || picture.at(x, y) != previous->at(x, y); };
            int x = 0;
            while (x < clipWidth) {
                if (!changed(x)) {
                    ++x;
                    continue;
                }
                // The changed stretch, taking in short unchanged gaps that cost less to write than to skip.
                int end = x + 1;
                for (int probe = end; probe < clipWidth && probe - end < 4; ++probe) {
                    if (changed(probe)) end = probe + 1;
                }
                moveTo(x, line);
                std::vector<std::uint8_t> stretch;
                for (int i = x; i < end; ++i) stretch.push_back(picture.at(i, y));
                writePixels(stretch);
                x_ = end;
                x = end;
            }
        }
        out_.insert(out_.end(), {0, 1});  // end of picture
        return out_;
    }

private:
    void moveTo(int x, int line) {
        if (line > line_ && x < x_) {
            out_.insert(out_.end(), {0, 0});  // end of line
            x_ = 0;
            ++line_;
        }
        while (x > x_ || line > line_) {
            const int dx = std::min(x - x_, 255), dy = std::min(line - line_, 255);
            out_.insert(out_.end(), {0, 2, static_cast<std::uint8_t>(dx), static_cast<std::uint8_t>(dy)});
            x_ += dx;
            line_ += dy;
        }
    }

    // Runs of three or more equal pixels as (count, index); what lies between them as literal runs
    // (three or more pixels) or single-pixel runs.
    void writePixels(const std::vector<std::uint8_t>& pixels) {
        std::size_t i = 0;
        std::vector<std::uint8_t> literal;
        const auto flushLiteral = [&] {
            if (literal.size() >= 3) {
                out_.push_back(0);
                out_.push_back(static_cast<std::uint8_t>(literal.size()));
                out_.insert(out_.end(), literal.begin(), literal.end());
                if (literal.size() % 2 != 0) out_.push_back(0);
            } else {
                for (const std::uint8_t p : literal) out_.insert(out_.end(), {1, p});
            }
            literal.clear();
        };
        while (i < pixels.size()) {
            std::size_t run = 1;
            while (i + run < pixels.size() && pixels[i + run] == pixels[i] && run < 255) ++run;
            if (run >= 3) {
                flushLiteral();
                out_.insert(out_.end(), {static_cast<std::uint8_t>(run), pixels[i]});
                i += run;
            } else {
                literal.push_back(pixels[i++]);
                if (literal.size() == 255) flushLiteral();
            }
        }
        flushLiteral();
    }

    std::vector<std::uint8_t> out_;
    int x_ = 0;
    int line_ = 0;
};

// Little-endian RIFF writing with sizes patched in once a list is complete.
class Riff {
public:
    void u16(std::uint32_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void tag(const char* text) { bytes.insert(bytes.end(), text, text + 4); }
    // Starts a chunk (or, with `type`, a list) and returns the place of its size.
    std::size_t open(const char* id, const char* type = nullptr) {
        tag(id);
        const std::size_t at = bytes.size();
        u32(0);
        if (type != nullptr) tag(type);
        return at;
    }
    void close(std::size_t at) {
        const auto size = static_cast<std::uint32_t>(bytes.size() - at - 4);
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(size >> (8 * i));
        if (size % 2 != 0) bytes.push_back(0);
    }
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> writeAvi(const std::vector<std::vector<std::uint8_t>>& frames) {
    std::size_t largest = 0;
    for (const auto& f : frames) largest = std::max(largest, f.size());
    const auto count = static_cast<std::uint32_t>(frames.size());
    const auto bufferSize = static_cast<std::uint32_t>(largest);

    Riff riff;
    const std::size_t file = riff.open("RIFF", "AVI ");
    const std::size_t headers = riff.open("LIST", "hdrl");
    const std::size_t main = riff.open("avih");
    riff.u32(1'000'000 / framesPerSecond);         // microseconds per frame
    riff.u32(bufferSize * framesPerSecond);        // maximum bytes per second
    riff.u32(0);                                   // padding granularity
    riff.u32(0x10);                                // flags: has an index
    riff.u32(count);                               // frames
    riff.u32(0);                                   // initial frames
    riff.u32(1);                                   // streams
    riff.u32(bufferSize);                          // suggested buffer size
    riff.u32(clipWidth);
    riff.u32(clipHeight);
    for (int i = 0; i < 4; ++i) riff.u32(0);       // reserved
    riff.close(main);

    const std::size_t stream = riff.open("LIST", "strl");
    const std::size_t streamHeader = riff.open("strh");
    riff.tag("vids");
    riff.tag("mrle");                              // Microsoft RLE
    riff.u32(0);                                   // flags
    riff.u16(0);                                   // priority
    riff.u16(0);                                   // language
    riff.u32(0);                                   // initial frames
    riff.u32(1);                                   // scale
    riff.u32(framesPerSecond);                     // rate: rate / scale frames per second
    riff.u32(0);                                   // start
    riff.u32(count);                               // length
    riff.u32(bufferSize);                          // suggested buffer size
    riff.u32(0xFFFFFFFF);                          // quality: the default
    riff.u32(0);                                   // sample size: varies
    riff.u16(0);                                   // frame rectangle
    riff.u16(0);
    riff.u16(clipWidth);
    riff.u16(clipHeight);
    riff.close(streamHeader);

    const std::size_t format = riff.open("strf");  // BITMAPINFOHEADER and palette
    riff.u32(40);
    riff.u32(clipWidth);
    riff.u32(clipHeight);                          // positive: lines from the bottom
    riff.u16(1);                                   // planes
    riff.u16(8);                                   // bits per pixel
    riff.u32(1);                                   // compression: RLE8
    riff.u32(clipWidth * clipHeight);              // size of a decoded picture
    riff.u32(0);                                   // pixels per metre
    riff.u32(0);
    riff.u32(Count);                               // colours used
    riff.u32(0);                                   // colours important: all
    for (const auto& rgb : paletteRgb) {
        riff.bytes.insert(riff.bytes.end(), {rgb[2], rgb[1], rgb[0], 0});
    }
    riff.close(format);
    riff.close(stream);
    riff.close(headers);

    const std::size_t movie = riff.open("LIST", "movi");
    const std::size_t movieType = movie + 4;  // index offsets count from the 'movi' word
    std::vector<std::uint32_t> offsets;
    for (const auto& f : frames) {
        offsets.push_back(static_cast<std::uint32_t>(riff.bytes.size() - movieType));
        const std::size_t chunk = riff.open("00dc");
        riff.bytes.insert(riff.bytes.end(), f.begin(), f.end());
        riff.close(chunk);
    }
    riff.close(movie);

    const std::size_t index = riff.open("idx1");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        riff.tag("00dc");
        riff.u32(i == 0 ? 0x10 : 0);  // the first frame is the key frame; the others change it
        riff.u32(offsets[i]);
        riff.u32(static_cast<std::uint32_t>(frames[i].size()));
    }
    riff.close(index);
    riff.close(file);
    return riff.bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make-filecopy-clip OUT.avi\n";
        return 2;
    }
    std::vector<Canvas> pictures;
    for (int f = 0; f < frameCount; ++f) pictures.push_back(drawFrame(f));
    RleEncoder encoder;
    std::vector<std::vector<std::uint8_t>> frames;
    for (int f = 0; f < frameCount; ++f) frames.push_back(encoder.encode(pictures[f], f == 0 ? nullptr : &pictures[f - 1]));

    const std::vector<std::uint8_t> avi = writeAvi(frames);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(avi.data()), static_cast<std::streamsize>(avi.size()));
    out.close();
    if (!out) {
        std::cerr << "make-filecopy-clip: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
