// The pixel formats of the software GDI: for each format the functions that read a row of its
// pixels as raw values or as colours and write raw values back. choosePixelFunctions picks them
// once, when a bitmap, DIB section or window surface is made, and they travel in its PixelFormat,
// so nothing that draws branches on depth. A format nothing can draw (it cannot be made through
// the API) gets functions that read black and write nothing. Owns the function tables;
// depends on gdi_objects.h only.
#include <string.h>

#include "platform/linux/gdi_objects.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TORVANE_HAVE_SHUFFLE_PATHS 1
#endif

const uint32_t blackAndWhite[2] = {0x000000, 0xFFFFFF};

namespace {

// --- Raw values by depth ----------------------------------------------------------------------

void readRaw32(const uint8_t* row, int x, int count, uint32_t* out) {
  memcpy(out, row + size_t(x) * 4, size_t(count) * 4);
}
void writeRaw32(uint8_t* row, int x, int count, const uint32_t* in) {
  memcpy(row + size_t(x) * 4, in, size_t(count) * 4);
}

void readRaw24(const uint8_t* row, int x, int count, uint32_t* out) {
  const uint8_t* p = row + size_t(x) * 3;
  for (int i = 0; i < count; ++i, p += 3) {
    out[i] = p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  }
}
void writeRaw24(uint8_t* row, int x, int count, const uint32_t* in) {
  uint8_t* p = row + size_t(x) * 3;
  for (int i = 0; i < count; ++i, p += 3) {
    p[0] = uint8_t(in[i]);
    p[1] = uint8_t(in[i] >> 8);
    p[2] = uint8_t(in[i] >> 16);
  }
}

void readRaw16(const uint8_t* row, int x, int count, uint32_t* out) {
  const uint8_t* p = row + size_t(x) * 2;
  for (int i = 0; i < count; ++i, p += 2) out[i] = p[0] | (uint32_t(p[1]) << 8);
}
void writeRaw16(uint8_t* row, int x, int count, const uint32_t* in) {
  uint8_t* p = row + size_t(x) * 2;
  for (int i = 0; i < count; ++i, p += 2) {
    p[0] = uint8_t(in[i]);
    p[1] = uint8_t(in[i] >> 8);
  }
}

void readRaw8(const uint8_t* row, int x, int count, uint32_t* out) {
  for (int i = 0; i < count; ++i) out[i] = row[x + i];
}
void writeRaw8(uint8_t* row, int x, int count, const uint32_t* in) {
  for (int i = 0; i < count; ++i) row[x + i] = uint8_t(in[i]);
}

// The first pixel of a byte is its high nibble.
void readRaw4(const uint8_t* row, int x, int count, uint32_t* out) {
  for (int i = 0; i < count; ++i) {
    int index = x + i;
    uint8_t pair = row[index >> 1];
    out[i] = (index & 1) ? (pair & 0x0F) : (pair >> 4);
  }
}
void writeRaw4(uint8_t* row, int x, int count, const uint32_t* in) {
  for (int i = 0; i < count; ++i) {
    int index = x + i;
    uint8_t& pair = row[index >> 1];
    pair = (index & 1) ? uint8_t((pair & 0xF0) | (in[i] & 0x0F))
                       : uint8_t((pair & 0x0F) | ((in[i] & 0x0F) << 4));
  }
}

// The first pixel of a byte is its high bit.
void readRaw1(const uint8_t* row, int x, int count, uint32_t* out) {
  for (int i = 0; i < count; ++i) {
    int index = x + i;
    out[i] = (row[index >> 3] >> (7 - (index & 7))) & 1;
  }
}
void writeRaw1(uint8_t* row, int x, int count, const uint32_t* in) {
  for (int i = 0; i < count; ++i) {
    int index = x + i;
    uint8_t bit = uint8_t(0x80 >> (index & 7));
    if (in[i] & 1) {
      row[index >> 3] |= bit;
    } else {
      row[index >> 3] &= uint8_t(~bit);
    }
  }
}

void readRawNothing(const uint8_t*, int, int count, uint32_t* out) {
  memset(out, 0, size_t(count) * 4);
}
void writeRawNothing(uint8_t*, int, int, const uint32_t*) {}

// --- Colours ----------------------------------------------------------------------------------

typedef void (*ReadRaw)(const uint8_t* row, int x, int count, uint32_t* out);

void readRgb8888(const PixelFormat&, const uint8_t* row, int x, int count, uint32_t* out,
                 const uint32_t*) {
  const uint32_t* pixels = reinterpret_cast<const uint32_t*>(row) + x;
  for (int i = 0; i < count; ++i) out[i] = pixels[i] & 0xFFFFFF;
}

// 24-bpp pixels (B, G, R bytes) to rgb: the opaque draw of most bitmap files, every frame.
void readRgb888Plain(const uint8_t* p, uint32_t* out, int count) {
  for (int i = 0; i < count; ++i, p += 3) {
    out[i] = p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  }
}

#ifdef TORVANE_HAVE_SHUFFLE_PATHS
// Byte shuffles of four pixels per 128-bit lane. Each lane reads 16 bytes of which it uses 12,
// so the loops run while the reads stay within the row's pixels and leave the last few to the
// plain loop.
__attribute__((target("ssse3"))) void readRgb888Ssse3(const uint8_t* p, uint32_t* out, int count) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + size_t(i) * 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_shuffle_epi8(source, spread));
  }
  readRgb888Plain(p + size_t(i) * 3, out + i, count - i);
}

// Eight pixels from one 32-byte read: the upper lane is given bytes 12 to 27, then both lanes
// are shuffled alike. Four such steps a turn, which keeps the loop from being the limit.
__attribute__((target("avx2"))) inline void readEightRgb888(const uint8_t* p, uint32_t* out) {
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  __m256i source = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  source = _mm256_permutevar8x32_epi32(source, lanes);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_shuffle_epi8(source, spread));
}

// Each step reads 32 bytes of which it uses 24, hence the margins of the loop conditions.
__attribute__((target("avx2"))) void readRgb888Avx2(const uint8_t* p, uint32_t* out, int count) {
  int i = 0;
  for (; i + 35 <= count; i += 32) {
    const uint8_t* at = p + size_t(i) * 3;
    readEightRgb888(at, out + i);
    readEightRgb888(at + 24, out + i + 8);
    readEightRgb888(at + 48, out + i + 16);
    readEightRgb888(at + 72, out + i + 24);
  }
  for (; i + 11 <= count; i += 8) readEightRgb888(p + size_t(i) * 3, out + i);
  readRgb888Plain(p + size_t(i) * 3, out + i, count - i);
}

void (*const readRgb888Best)(const uint8_t*, uint32_t*, int) = __builtin_cpu_supports("avx2")
                                                                   ? readRgb888Avx2
                                                               : __builtin_cpu_supports("ssse3")
                                                                   ? readRgb888Ssse3
                                                                   : readRgb888Plain;
#else
void (*const readRgb888Best)(const uint8_t*, uint32_t*, int) = readRgb888Plain;
#endif

void readRgb888(const PixelFormat&, const uint8_t* row, int x, int count, uint32_t* out,
                const uint32_t*) {
  readRgb888Best(row + size_t(x) * 3, out, count);
}

// A field widened to 8 bits by repeating its bits, as Windows does: 5-bit 31 is 0xFF, 30 is 0xF7.
inline uint32_t expandField(uint32_t raw, const ColorField& field) {
  if (!field.bits) return 0;
  uint32_t value = (raw & field.mask) >> field.shift;
  if (field.bits >= 8) return value >> (field.bits - 8);
  uint32_t wide = value << (8 - field.bits);
  for (int filled = field.bits; filled < 8; filled *= 2) wide |= wide >> filled;
  return wide & 0xFF;
}

inline uint32_t packField(uint32_t channel, const ColorField& field) {
  if (!field.bits) return 0;
  uint32_t value = field.bits >= 8 ? channel << (field.bits - 8) : channel >> (8 - field.bits);
  return (value << field.shift) & field.mask;
}

template <ReadRaw readRaw>
void readRgbFields(const PixelFormat& format, const uint8_t* row, int x, int count, uint32_t* out,
                   const uint32_t*) {
  readRaw(row, x, count, out);
  for (int i = 0; i < count; ++i) {
    uint32_t raw = out[i];
    out[i] = (expandField(raw, format.fields[0]) << 16) |
             (expandField(raw, format.fields[1]) << 8) | expandField(raw, format.fields[2]);
  }
}

template <ReadRaw readRaw>
void readRgbTable(const PixelFormat& format, const uint8_t* row, int x, int count, uint32_t* out,
                  const uint32_t*) {
  readRaw(row, x, count, out);
  for (int i = 0; i < count; ++i) {
    out[i] = int(out[i]) < format.colorCount ? format.colors[out[i]] : 0;
  }
}

void readRgbMonochrome(const PixelFormat&, const uint8_t* row, int x, int count, uint32_t* out,
                       const uint32_t monochromeColors[2]) {
  readRaw1(row, x, count, out);
  for (int i = 0; i < count; ++i) out[i] = monochromeColors[out[i]];
}

void readRgbNothing(const PixelFormat&, const uint8_t*, int, int count, uint32_t* out,
                    const uint32_t*) {
  memset(out, 0, size_t(count) * 4);
}

// --- Colours to raw values --------------------------------------------------------------------

void rawFromRgbSame(const PixelFormat&, uint32_t*, int) {}  // 24 bpp and 0x00RRGGBB in 32

void rawFromRgbFields(const PixelFormat& format, uint32_t* values, int count) {
  for (int i = 0; i < count; ++i) {
    uint32_t rgb = values[i];
    values[i] = packField((rgb >> 16) & 0xFF, format.fields[0]) |
                packField((rgb >> 8) & 0xFF, format.fields[1]) |
                packField(rgb & 0xFF, format.fields[2]);
  }
}

uint32_t nearestColorIndex(const uint32_t* colors, int count, uint32_t rgb) {
  uint32_t best = 0;
  int64_t bestDistance = INT64_MAX;
  for (int i = 0; i < count; ++i) {
    if (colors[i] == rgb) return uint32_t(i);
    int64_t dr = int64_t((colors[i] >> 16) & 0xFF) - ((rgb >> 16) & 0xFF);
    int64_t dg = int64_t((colors[i] >> 8) & 0xFF) - ((rgb >> 8) & 0xFF);
    int64_t db = int64_t(colors[i] & 0xFF) - (rgb & 0xFF);
    int64_t distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = uint32_t(i);
    }
  }
  return best;
}

// Rows of one colour are common (fills, text), so a run repeats its last answer.
void nearestIndices(const uint32_t* colors, int colorCount, uint32_t* values, int count) {
  uint32_t lastRgb = 0xFFFFFFFF;
  uint32_t lastIndex = 0;
  for (int i = 0; i < count; ++i) {
    if (values[i] != lastRgb) {
      lastRgb = values[i];
      lastIndex = nearestColorIndex(colors, colorCount, lastRgb);
    }
    values[i] = lastIndex;
  }
}

void rawFromRgbTable(const PixelFormat& format, uint32_t* values, int count) {
  nearestIndices(format.colors, format.colorCount, values, count);
}

// A monochrome bitmap takes the nearer of black and white, as a two-entry colour table would.
void rawFromRgbMonochrome(const PixelFormat&, uint32_t* values, int count) {
  nearestIndices(blackAndWhite, 2, values, count);
}

void rawFromRgbNothing(const PixelFormat&, uint32_t* values, int count) {
  memset(values, 0, size_t(count) * 4);
}

// --- Glyph rows -------------------------------------------------------------------------------

typedef void (*WriteRaw)(uint8_t* row, int x, int count, const uint32_t* in);

void writeBits32(uint8_t* row, int x, uint32_t bits, uint32_t raw) {
  uint32_t* pixels = reinterpret_cast<uint32_t*>(row) + x;
  for (; bits; bits &= bits - 1) pixels[__builtin_ctz(bits)] = raw;
}

template <WriteRaw writeRaw>
void writeBitsEach(uint8_t* row, int x, uint32_t bits, uint32_t raw) {
  for (; bits; bits &= bits - 1) writeRaw(row, x + __builtin_ctz(bits), 1, &raw);
}

// --- The tables, one per format ---------------------------------------------------------------

const PixelFunctions functions8888 = {readRaw32,      writeRaw32,  readRgb8888,
                                      rawFromRgbSame, writeBits32, true};
const PixelFunctions functionsFields32 = {readRaw32,        writeRaw32,  readRgbFields<readRaw32>,
                                          rawFromRgbFields, writeBits32, true};
const PixelFunctions functions888 = {
    readRaw24, writeRaw24, readRgb888, rawFromRgbSame, writeBitsEach<writeRaw24>, false};
const PixelFunctions functionsFields16 = {
    readRaw16, writeRaw16, readRgbFields<readRaw16>, rawFromRgbFields, writeBitsEach<writeRaw16>,
    false};
const PixelFunctions functionsTable8 = {
    readRaw8, writeRaw8, readRgbTable<readRaw8>, rawFromRgbTable, writeBitsEach<writeRaw8>, false};
const PixelFunctions functionsTable4 = {
    readRaw4, writeRaw4, readRgbTable<readRaw4>, rawFromRgbTable, writeBitsEach<writeRaw4>, false};
const PixelFunctions functionsTable1 = {
    readRaw1, writeRaw1, readRgbTable<readRaw1>, rawFromRgbTable, writeBitsEach<writeRaw1>, false};
const PixelFunctions functionsMonochrome = {
    readRaw1, writeRaw1, readRgbMonochrome, rawFromRgbMonochrome, writeBitsEach<writeRaw1>, false};
const PixelFunctions functionsNull = {readRawNothing,
                                      writeRawNothing,
                                      readRgbNothing,
                                      rawFromRgbNothing,
                                      writeBitsEach<writeRawNothing>,
                                      false};

ColorField fieldOf(uint32_t mask) {
  ColorField field = {mask, 0, 0};
  if (!mask) return field;
  while (!((mask >> field.shift) & 1)) ++field.shift;
  while (field.shift + field.bits < 32 && ((mask >> (field.shift + field.bits)) & 1)) ++field.bits;
  return field;
}

}  // namespace

void choosePixelFunctions(PixelFormat* format) {
  int bits = format->bitsPerPixel;
  for (int i = 0; i < 3; ++i) format->fields[i] = fieldOf(format->masks[i]);
  if (bits == 16 || bits == 32) {
    format->colorBits = format->masks[0] | format->masks[1] | format->masks[2];
  } else {
    format->colorBits = bits == 24 ? 0xFFFFFF : (1u << bits) - 1;
  }
  if (format->monochrome) {
    format->functions = bits == 1 ? &functionsMonochrome : &functionsNull;
    return;
  }
  switch (bits) {
    case 32:
      format->functions = format->masks[0] == 0xFF0000 && format->masks[1] == 0x00FF00 &&
                                  format->masks[2] == 0x0000FF
                              ? &functions8888
                              : &functionsFields32;
      break;
    case 24:
      format->functions = &functions888;
      break;
    case 16:
      format->functions = &functionsFields16;
      break;
    case 8:
      format->functions = &functionsTable8;
      break;
    case 4:
      format->functions = &functionsTable4;
      break;
    case 1:
      format->functions = &functionsTable1;
      break;
    default:
      format->functions = &functionsNull;
      break;
  }
}

PixelFormat pixelFormat32() {
  static const PixelFormat format = [] {
    PixelFormat made = {};
    made.bitsPerPixel = 32;
    made.masks[0] = 0xFF0000;
    made.masks[1] = 0x00FF00;
    made.masks[2] = 0x0000FF;
    choosePixelFunctions(&made);
    return made;
  }();
  return format;
}

PixelFormat monochromeFormat() {
  PixelFormat format = {};
  format.bitsPerPixel = 1;
  format.monochrome = true;
  choosePixelFunctions(&format);
  return format;
}
