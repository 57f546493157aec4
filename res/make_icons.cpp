// Draws Lumenkeep's icon and writes it as a Windows .ico file.
//
//   make_icons ICON.ico GROUP.bin
//
// The glyph is the familiar brightness symbol: a dark ring around a disc
// whose left half is amber and right half white. Eight images: 32 and 16
// pixels at 4 bits, 48, 32 and 16 pixels at 8 and at 32 bits (with alpha).
// Standard library only, so the build needs no image tools; the generated
// files are committed.
//
// GROUP.bin is an icon-group directory naming the images 1 to 8, the
// resource numbers the resource compiler gives the first icon file's images,
// so that a second icon group shares them instead of carrying a copy.
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <vector>

namespace {

struct Rgba {
  double r, g, b, a;
};

constexpr Rgba kRing{58, 58, 64, 1};
constexpr Rgba kAmber{245, 166, 35, 1};
constexpr Rgba kWhite{250, 250, 250, 1};

constexpr double kOuter = 0.47;  // ring's outer radius, in icon widths
constexpr double kInner = 0.36;  // ring's inner radius

// Colour of one point of the unit square, alpha 0 outside the glyph.
Rgba Sample(double x, double y) {
  const double d = std::hypot(x - 0.5, y - 0.5);
  if (d > kOuter) return {0, 0, 0, 0};
  if (d > kInner) return kRing;
  return x < 0.5 ? kAmber : kWhite;
}

// Average of 8x8 samples over one pixel; colour weighted by coverage.
Rgba Pixel(int px, int py, int size) {
  constexpr int kSub = 8;
  Rgba sum{0, 0, 0, 0};
  for (int sy = 0; sy < kSub; ++sy) {
    for (int sx = 0; sx < kSub; ++sx) {
      const double x = (px + (sx + 0.5) / kSub) / size;
      const double y = (py + (sy + 0.5) / kSub) / size;
      const Rgba s = Sample(x, y);
      sum.r += s.r * s.a;
      sum.g += s.g * s.a;
      sum.b += s.b * s.a;
      sum.a += s.a;
    }
  }
  if (sum.a == 0) return {0, 0, 0, 0};
  return {sum.r / sum.a, sum.g / sum.a, sum.b / sum.a, sum.a / (kSub * kSub)};
}

using Palette = std::vector<std::array<std::uint8_t, 3>>;  // r, g, b

Palette SixteenColours() {
  return {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
}

// A 6x6x6 colour cube followed by a ramp of greys.
Palette TwoFiftySixColours() {
  Palette p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        p.push_back({static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                     static_cast<std::uint8_t>(b * 51)});
  while (p.size() < 256) {
    const auto v = static_cast<std::uint8_t>((p.size() - 216) * 255 / 39);
    p.push_back({v, v, v});
  }
  return p;
}

std::uint8_t Nearest(const Palette& palette, const Rgba& c) {
  std::size_t best = 0;
  double bestDistance = 1e18;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const double dr = palette[i][0] - c.r;
    const double dg = palette[i][1] - c.g;
    const double db = palette[i][2] - c.b;
    const double distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

int RowBytes(int size, int bits) { return (size * bits + 31) / 32 * 4; }

// One image as stored in an .ico: BITMAPINFOHEADER, palette, colour rows
// bottom-up, then the 1-bit transparency mask.
std::vector<std::uint8_t> Image(int size, int bits) {
  const Palette palette = bits == 4   ? SixteenColours()
                          : bits == 8 ? TwoFiftySixColours()
                                      : Palette{};
  const int colourRow = RowBytes(size, bits);
  const int maskRow = RowBytes(size, 1);
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(size * 2));
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(bits));
  Put32(out, 0);
  Put32(out, static_cast<std::uint32_t>((colourRow + maskRow) * size));
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (const auto& c : palette) {
    out.push_back(c[2]);
    out.push_back(c[1]);
    out.push_back(c[0]);
    out.push_back(0);
  }
  std::vector<std::uint8_t> mask;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(colourRow), 0);
    std::vector<std::uint8_t> maskBits(static_cast<std::size_t>(maskRow), 0);
    for (int x = 0; x < size; ++x) {
      const Rgba p = Pixel(x, y, size);
      const bool opaque = bits == 32 ? p.a > 0 : p.a >= 0.5;
      if (!opaque) maskBits[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      if (bits == 32) {
        auto* q = &row[static_cast<std::size_t>(x) * 4];
        q[0] = static_cast<std::uint8_t>(std::lround(p.b));
        q[1] = static_cast<std::uint8_t>(std::lround(p.g));
        q[2] = static_cast<std::uint8_t>(std::lround(p.r));
        q[3] = static_cast<std::uint8_t>(std::lround(p.a * 255));
      } else if (opaque) {
        const std::uint8_t index = Nearest(palette, p);
        if (bits == 8) {
          row[x] = index;
        } else {
          row[x / 2] |= static_cast<std::uint8_t>(x % 2 ? index : index << 4);
        }
      }
    }
    out.insert(out.end(), row.begin(), row.end());
    mask.insert(mask.end(), maskBits.begin(), maskBits.end());
  }
  out.insert(out.end(), mask.begin(), mask.end());
  return out;
}

bool Write(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) std::cerr << "make_icons: cannot write " << path << "\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_icons ICON.ico GROUP.bin\n";
    return 2;
  }
  struct ImageFormat {
    int size, bits;
  };
  constexpr ImageFormat kImages[] = {{32, 4}, {16, 4},  {48, 8},  {32, 8},
                                     {16, 8}, {48, 32}, {32, 32}, {16, 32}};
  std::vector<std::vector<std::uint8_t>> images;
  for (const ImageFormat& s : kImages) images.push_back(Image(s.size, s.bits));

  // The .ico directory and the group resource share their 6-byte header and
  // differ per entry in the last field: file offset (32-bit) or resource
  // number (16-bit).
  std::vector<std::uint8_t> file;
  std::vector<std::uint8_t> group;
  for (auto* out : {&file, &group}) {
    Put16(*out, 0);
    Put16(*out, 1);
    Put16(*out, static_cast<std::uint32_t>(images.size()));
  }
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    for (auto* out : {&file, &group}) {
      out->push_back(static_cast<std::uint8_t>(kImages[i].size));
      out->push_back(static_cast<std::uint8_t>(kImages[i].size));
      out->push_back(kImages[i].bits == 4 ? 16 : 0);
      out->push_back(0);
      Put16(*out, 1);
      Put16(*out, static_cast<std::uint32_t>(kImages[i].bits));
      Put32(*out, static_cast<std::uint32_t>(images[i].size()));
    }
    Put32(file, offset);
    Put16(group, static_cast<std::uint32_t>(i + 1));
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());

  return Write(argv[1], file) && Write(argv[2], group) ? 0 : 1;
}
