// make_logo: draws the Orvex logo and writes it as a baseline JPEG/JFIF file and as a C++
// source file that embeds the same bytes.
//
//   make_logo OUT.jpg OUT.cpp
//
// The picture: a master node on the left sends work along three links to three slave nodes
// on the right, above the word ORVEX, on a dark blue gradient.
#include <cstddef>
#include <cstdio>
// libjpeg needs size_t and FILE declared before its header.
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "logo/logo.hpp"

namespace {

using orvex::demo::kLogoHeight;
using orvex::demo::kLogoWidth;

struct Rgb {
    double r, g, b;
};

class Canvas {
  public:
    Canvas() : pixels_(size_t(kLogoWidth) * kLogoHeight) {}

    // Blends colour into the pixel with the given coverage (0 to 1).
    void Blend(int x, int y, Rgb colour, double coverage) {
        if (x < 0 || y < 0 || x >= kLogoWidth || y >= kLogoHeight || coverage <= 0) return;
        coverage = std::min(coverage, 1.0);
        Rgb& p = pixels_[size_t(y) * kLogoWidth + x];
        p.r += (colour.r - p.r) * coverage;
        p.g += (colour.g - p.g) * coverage;
        p.b += (colour.b - p.b) * coverage;
    }

    void Gradient(Rgb top, Rgb bottom) {
        for (int y = 0; y < kLogoHeight; ++y) {
            const double t = double(y) / (kLogoHeight - 1);
            const Rgb c{top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                        top.b + (bottom.b - top.b) * t};
            for (int x = 0; x < kLogoWidth; ++x) pixels_[size_t(y) * kLogoWidth + x] = c;
        }
    }

    // A filled disc with a soft one-pixel edge.
    void Disc(double cx, double cy, double radius, Rgb colour) {
        for (int y = int(cy - radius - 2); y <= int(cy + radius + 2); ++y) {
            for (int x = int(cx - radius - 2); x <= int(cx + radius + 2); ++x) {
                const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                Blend(x, y, colour, radius + 0.5 - d);
            }
        }
    }

    // A line of the given width with soft edges.
    void Line(double x0, double y0, double x1, double y1, double width, Rgb colour) {
        const double dx = x1 - x0, dy = y1 - y0;
        const double length2 = dx * dx + dy * dy;
        const int left = int(std::min(x0, x1) - width - 1),
                  right = int(std::max(x0, x1) + width + 1);
        const int top = int(std::min(y0, y1) - width - 1),
                  bottom = int(std::max(y0, y1) + width + 1);
        for (int y = top; y <= bottom; ++y) {
            for (int x = left; x <= right; ++x) {
                const double px = x + 0.5 - x0, py = y + 0.5 - y0;
                const double t = std::clamp((px * dx + py * dy) / length2, 0.0, 1.0);
                const double d = std::hypot(px - t * dx, py - t * dy);
                Blend(x, y, colour, width / 2 + 0.5 - d);
            }
        }
    }

    void Block(int x, int y, int w, int h, Rgb colour) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Blend(i, j, colour, 1.0);
    }

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out;
        out.reserve(pixels_.size() * 3);
        for (const Rgb& p : pixels_) {
            for (double v : {p.r, p.g, p.b})
                out.push_back(uint8_t(std::clamp(v, 0.0, 255.0) + 0.5));
        }
        return out;
    }

  private:
    std::vector<Rgb> pixels_;
};

// The letters O, R, V, E, X on a 5 x 7 grid, one row per string, '#' = filled.
using Glyph = std::array<const char*, 7>;
constexpr std::array<Glyph, 5> kLetters = {{
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"},
    {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."},
    {"#####", "#....", "#....", "####.", "#....", "#....", "#####"},
    {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"},
}};

void DrawWord(Canvas& canvas, int left, int top, int cell, Rgb colour) {
    int x = left;
    for (const Glyph& glyph : kLetters) {
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (glyph[row][col] == '#')
                    canvas.Block(x + col * cell, top + row * cell, cell, cell, colour);
        x += 6 * cell;
    }
}

void Draw(Canvas& canvas) {
    const Rgb deepBlue{16, 32, 74}, teal{22, 110, 128}, link{170, 220, 235};
    const Rgb master{250, 176, 52}, slave{120, 210, 160}, white{245, 248, 250};
    canvas.Gradient(deepBlue, teal);
    const double mx = 40, my = 42;
    const std::array<double, 3> slaveY = {16, 42, 68};
    for (double sy : slaveY) canvas.Line(mx, my, 184, sy, 3, link);
    canvas.Disc(mx, my, 17, white);
    canvas.Disc(mx, my, 14, master);
    for (double sy : slaveY) {
        canvas.Disc(184, sy, 11, white);
        canvas.Disc(184, sy, 9, slave);
    }
    // Five letters of 5 cells and 4 gaps of 1 cell: 29 cells of 4 pixels, centred.
    DrawWord(canvas, (kLogoWidth - 29 * 4) / 2, 92, 4, white);
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kLogoWidth;
    info.image_height = kLogoHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);  // baseline, JFIF header, YCbCr
    jpeg_set_quality(&info, 92, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = size_t(kLogoWidth) * 3;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + stride * info.next_scanline;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

std::string SourceFor(const std::vector<uint8_t>& jpeg) {
    std::string out =
        "// Generated by make_logo: the Orvex logo as baseline JPEG bytes.\n"
        "#include \"logo/logo.hpp\"\n\nnamespace orvex::demo {\nnamespace {\n"
        "constexpr uint8_t kLogoBytes[] = {";
    for (size_t i = 0; i < jpeg.size(); ++i) {
        if (i % 16 == 0) out += "\n   ";
        out += " " + std::to_string(jpeg[i]) + ",";
    }
    out +=
        "\n};\n}  // namespace\n\nstd::span<const uint8_t> LogoJpeg() { return kLogoBytes; }\n\n"
        "}  // namespace orvex::demo\n";
    return out;
}

bool WriteFile(const char* path, const void* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), std::streamsize(size));
    return bool(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_logo OUT.jpg OUT.cpp\n");
        return 2;
    }
    Canvas canvas;
    Draw(canvas);
    const std::vector<uint8_t> jpeg = EncodeJpeg(canvas.Bytes());
    const std::string source = SourceFor(jpeg);
    if (!WriteFile(argv[1], jpeg.data(), jpeg.size()) ||
        !WriteFile(argv[2], source.data(), source.size())) {
        std::fprintf(stderr, "make_logo: cannot write %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
