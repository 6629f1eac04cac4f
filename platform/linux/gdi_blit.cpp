// Block transfers (BitBlt) and the pixel formats they read and write.
//
// Each transfer is done a row at a time: the source row is first normalised to the destination's
// raw pixel values (the colour conversions below, done the way Windows does them), then one
// bitwise function per raster operation combines it with the destination row. Copies between
// 32-bpp pixels, the case every frame runs, skip the normalisation: SRCCOPY copies whole rows and
// the other operations are plain loops over 4-pixel vectors.
//
// Colour conversions, as measured on Windows:
// - colour to a monochrome bitmap: a pixel becomes 1 exactly when it equals the source DC's
//   background colour (converted to the source's own format), else 0;
// - a monochrome bitmap to colour: 1 becomes the destination DC's background colour, 0 its text
//   colour; the source DC's colours play no part;
// - into a palette format: the nearest colour of its table, an exact match first.
#include <string.h>

#include <algorithm>
#include <vector>

#include "platform/linux/gdi_objects.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TORVANE_HAVE_SSSE3_PATH 1
#endif

namespace {

typedef uint32_t Pixels4 __attribute__((vector_size(16)));

// Combines a destination row with a normalised source row, 4 pixels at a time where it can.
template <typename Combine>
inline void combineRow(uint32_t* dest, const uint32_t* source, int count, Combine combine) {
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    Pixels4 d0, d1, s0, s1;
    memcpy(&d0, dest + i, 16);
    memcpy(&d1, dest + i + 4, 16);
    memcpy(&s0, source + i, 16);
    memcpy(&s1, source + i + 4, 16);
    d0 = combine(d0, s0);
    d1 = combine(d1, s1);
    memcpy(dest + i, &d0, 16);
    memcpy(dest + i + 4, &d1, 16);
  }
  for (; i < count; ++i) dest[i] = combine(dest[i], source[i]);
}

// One function per raster operation, named by its index byte (the operation's truth table).
void ropSourceCopy(uint32_t* d, const uint32_t* s, int n) {  // 0xCC  D = S
  memmove(d, s, size_t(n) * 4);
}
void ropSourceAnd(uint32_t* d, const uint32_t* s, int n) {  // 0x88  D = D & S
  combineRow(d, s, n, [](auto dest, auto source) { return dest & source; });
}
void ropSourcePaint(uint32_t* d, const uint32_t* s, int n) {  // 0xEE  D = D | S
  combineRow(d, s, n, [](auto dest, auto source) { return dest | source; });
}
void ropSourceInvert(uint32_t* d, const uint32_t* s, int n) {  // 0x66  D = D ^ S
  combineRow(d, s, n, [](auto dest, auto source) { return dest ^ source; });
}
void ropNotSourceCopy(uint32_t* d, const uint32_t* s, int n) {  // 0x33  D = ~S
  combineRow(d, s, n, [](auto, auto source) { return ~source; });
}

struct RasterOperation {
  DWORD code;
  bool usesSource;
  void (*combine)(uint32_t* dest, const uint32_t* source, int count);  // with a source
  bool fillsWhite;                                                     // without: 1s or 0s
};

const RasterOperation rasterOperations[] = {
    {SRCCOPY, true, ropSourceCopy, false},        // 0xCC  D = S
    {SRCAND, true, ropSourceAnd, false},          // 0x88  D = D & S
    {SRCPAINT, true, ropSourcePaint, false},      // 0xEE  D = D | S
    {SRCINVERT, true, ropSourceInvert, false},    // 0x66  D = D ^ S
    {NOTSRCCOPY, true, ropNotSourceCopy, false},  // 0x33  D = ~S
    {BLACKNESS, false, nullptr, false},           // 0x00  D = 0
    {WHITENESS, false, nullptr, true},            // 0xFF  D = 1
};

const RasterOperation* findRasterOperation(DWORD code) {
  for (const RasterOperation& operation : rasterOperations) {
    if (operation.code == code) return &operation;
  }
  return nullptr;
}

// --- Raw pixel values -------------------------------------------------------------------------

inline uint8_t* rowAt(const PixelView& view, int y) {
  return view.top + ptrdiff_t(y) * view.rowStep;
}

void readRawRow(const PixelView& view, int x, int y, int count, uint32_t* out) {
  const uint8_t* row = rowAt(view, y);
  switch (view.format.bitsPerPixel) {
    case 32:
      memcpy(out, row + size_t(x) * 4, size_t(count) * 4);
      break;
    case 24:
      for (int i = 0; i < count; ++i) {
        const uint8_t* p = row + size_t(x + i) * 3;
        out[i] = p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
      }
      break;
    case 16:
      for (int i = 0; i < count; ++i) {
        const uint8_t* p = row + size_t(x + i) * 2;
        out[i] = p[0] | (uint32_t(p[1]) << 8);
      }
      break;
    case 8:
      for (int i = 0; i < count; ++i) out[i] = row[x + i];
      break;
    case 4:
      for (int i = 0; i < count; ++i) {
        int index = x + i;
        uint8_t pair = row[index >> 1];
        out[i] = (index & 1) ? (pair & 0x0F) : (pair >> 4);
      }
      break;
    default:  // 1
      for (int i = 0; i < count; ++i) {
        int index = x + i;
        out[i] = (row[index >> 3] >> (7 - (index & 7))) & 1;
      }
      break;
  }
}

void writeRawRow(const PixelView& view, int x, int y, int count, const uint32_t* in) {
  uint8_t* row = rowAt(view, y);
  switch (view.format.bitsPerPixel) {
    case 32:
      memcpy(row + size_t(x) * 4, in, size_t(count) * 4);
      break;
    case 24:
      for (int i = 0; i < count; ++i) {
        uint8_t* p = row + size_t(x + i) * 3;
        p[0] = uint8_t(in[i]);
        p[1] = uint8_t(in[i] >> 8);
        p[2] = uint8_t(in[i] >> 16);
      }
      break;
    case 16:
      for (int i = 0; i < count; ++i) {
        uint8_t* p = row + size_t(x + i) * 2;
        p[0] = uint8_t(in[i]);
        p[1] = uint8_t(in[i] >> 8);
      }
      break;
    case 8:
      for (int i = 0; i < count; ++i) row[x + i] = uint8_t(in[i]);
      break;
    case 4:
      for (int i = 0; i < count; ++i) {
        int index = x + i;
        uint8_t& pair = row[index >> 1];
        pair = (index & 1) ? uint8_t((pair & 0xF0) | (in[i] & 0x0F))
                           : uint8_t((pair & 0x0F) | ((in[i] & 0x0F) << 4));
      }
      break;
    default:  // 1
      for (int i = 0; i < count; ++i) {
        int index = x + i;
        uint8_t bit = uint8_t(0x80 >> (index & 7));
        if (in[i] & 1) {
          row[index >> 3] |= bit;
        } else {
          row[index >> 3] &= uint8_t(~bit);
        }
      }
      break;
  }
}

// --- Colour fields of 16- and 32-bpp pixels ---------------------------------------------------

struct Field {
  uint32_t mask;
  int shift;  // position of the lowest bit
  int bits;   // width
};

Field fieldOf(uint32_t mask) {
  Field field = {mask, 0, 0};
  if (!mask) return field;
  while (!((mask >> field.shift) & 1)) ++field.shift;
  while (field.shift + field.bits < 32 && ((mask >> (field.shift + field.bits)) & 1)) ++field.bits;
  return field;
}

// A field widened to 8 bits by repeating its bits, as Windows does: 5-bit 31 is 0xFF, 30 is 0xF7.
inline uint32_t expandField(uint32_t raw, const Field& field) {
  if (!field.bits) return 0;
  uint32_t value = (raw & field.mask) >> field.shift;
  if (field.bits >= 8) return value >> (field.bits - 8);
  uint32_t wide = value << (8 - field.bits);
  for (int filled = field.bits; filled < 8; filled *= 2) wide |= wide >> filled;
  return wide & 0xFF;
}

inline uint32_t packField(uint32_t channel, const Field& field) {
  if (!field.bits) return 0;
  uint32_t value = field.bits >= 8 ? channel << (field.bits - 8) : channel >> (8 - field.bits);
  return (value << field.shift) & field.mask;
}

// --- Conversions ------------------------------------------------------------------------------

// 24-bpp pixels (B, G, R bytes) to 0x00RRGGBB: the opaque draw of most bitmap files, every frame.
void rgb24ToRgb32Plain(const uint8_t* p, uint32_t* out, int count) {
  for (int i = 0; i < count; ++i, p += 3) {
    out[i] = p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  }
}

#ifdef TORVANE_HAVE_SSSE3_PATH
// Four pixels per byte shuffle. Each step reads 16 bytes of which it uses 12, so it runs while
// the read stays within the row's pixels and leaves the last few to the plain loop.
__attribute__((target("ssse3"))) void rgb24ToRgb32Shuffled(const uint8_t* p, uint32_t* out,
                                                           int count) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + size_t(i) * 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_shuffle_epi8(source, spread));
  }
  rgb24ToRgb32Plain(p + size_t(i) * 3, out + i, count - i);
}

const bool haveSsse3 = __builtin_cpu_supports("ssse3");
#endif

void rgb24ToRgb32(const uint8_t* p, uint32_t* out, int count) {
#ifdef TORVANE_HAVE_SSSE3_PATH
  if (haveSsse3) {
    rgb24ToRgb32Shuffled(p, out, count);
    return;
  }
#endif
  rgb24ToRgb32Plain(p, out, count);
}

// A source row as rgb colours. monochromeColors: what 0 and 1 of a monochrome bitmap become.
void readRgbRow(const PixelView& view, int x, int y, int count, uint32_t* out,
                const uint32_t monochromeColors[2]) {
  const PixelFormat& format = view.format;
  const uint8_t* row = rowAt(view, y);
  if (isStandard32(format)) {
    const uint32_t* pixels = reinterpret_cast<const uint32_t*>(row) + x;
    for (int i = 0; i < count; ++i) out[i] = pixels[i] & 0xFFFFFF;
    return;
  }
  if (format.bitsPerPixel == 24) {
    rgb24ToRgb32(row + size_t(x) * 3, out, count);
    return;
  }
  readRawRow(view, x, y, count, out);
  if (format.bitsPerPixel >= 16) {
    Field red = fieldOf(format.masks[0]);
    Field green = fieldOf(format.masks[1]);
    Field blue = fieldOf(format.masks[2]);
    for (int i = 0; i < count; ++i) {
      uint32_t raw = out[i];
      out[i] =
          (expandField(raw, red) << 16) | (expandField(raw, green) << 8) | expandField(raw, blue);
    }
  } else if (format.monochrome) {
    for (int i = 0; i < count; ++i) out[i] = monochromeColors[out[i] & 1];
  } else {
    for (int i = 0; i < count; ++i) {
      out[i] = int(out[i]) < format.colorCount ? format.colors[out[i]] : 0;
    }
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

bool sameFormat(const PixelFormat& a, const PixelFormat& b) {
  if (a.bitsPerPixel != b.bitsPerPixel || a.monochrome != b.monochrome) return false;
  if (a.bitsPerPixel >= 16) {
    return a.bitsPerPixel == 24 || memcmp(a.masks, b.masks, sizeof a.masks) == 0;
  }
  if (a.monochrome) return true;
  return a.colorCount == b.colorCount && std::equal(a.colors, a.colors + a.colorCount, b.colors);
}

// The destination's raw value for a fill without source.
uint32_t fillValue(const PixelFormat& format, bool white) {
  if (format.monochrome) return white ? 1 : 0;
  return rawFromRgb(format, white ? 0xFFFFFF : 0);
}

uint32_t valueMaskOf(const PixelFormat& format) {
  return format.bitsPerPixel == 32 ? 0xFFFFFFFFu : (1u << format.bitsPerPixel) - 1;
}

// Row buffers of the calling thread; they grow to the widest row once and are then reused, so a
// frame's transfers allocate nothing.
thread_local std::vector<uint32_t> sourceRow;
thread_local std::vector<uint32_t> destRow;

// The source row as the destination's raw values.
void normaliseRow(const PixelView& source, const PixelView& dest, int sx, int sy, int count,
                  uint32_t sourceBk, const uint32_t monochromeColors[2], uint32_t* out) {
  const PixelFormat& to = dest.format;
  if (sameFormat(source.format, to)) {
    readRawRow(source, sx, sy, count, out);
    return;
  }
  if (to.monochrome) {
    // Colour to monochrome: 1 where the pixel is the source's background colour.
    readRawRow(source, sx, sy, count, out);
    uint32_t key = rawFromRgb(source.format, sourceBk);
    uint32_t mask = source.format.bitsPerPixel == 32 ? 0xFFFFFF : valueMaskOf(source.format);
    if (source.format.bitsPerPixel == 32 && !isStandard32(source.format)) mask = 0xFFFFFFFF;
    for (int i = 0; i < count; ++i) out[i] = (out[i] & mask) == key ? 1 : 0;
    return;
  }
  readRgbRow(source, sx, sy, count, out, monochromeColors);
  if (to.bitsPerPixel == 24 || isStandard32(to)) return;
  uint32_t lastRgb = 0xFFFFFFFF;
  uint32_t lastRaw = 0;
  for (int i = 0; i < count; ++i) {
    if (out[i] != lastRgb) {
      lastRgb = out[i];
      lastRaw = rawFromRgb(to, lastRgb);
    }
    out[i] = lastRaw;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Single pixels, for GetPixel, SetPixel and the file loader

uint32_t rawFromRgb(const PixelFormat& format, uint32_t rgb) {
  rgb &= 0xFFFFFF;
  if (format.bitsPerPixel == 24 || isStandard32(format)) return rgb;
  if (format.bitsPerPixel >= 16) {
    return packField((rgb >> 16) & 0xFF, fieldOf(format.masks[0])) |
           packField((rgb >> 8) & 0xFF, fieldOf(format.masks[1])) |
           packField(rgb & 0xFF, fieldOf(format.masks[2]));
  }
  if (format.monochrome || !format.colors) {
    // Nearer to white than to black.
    uint32_t sum = ((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF);
    return sum >= 0x180 ? 1 : 0;
  }
  return nearestColorIndex(format.colors, format.colorCount, rgb);
}

uint32_t readPixelRgb(const PixelView& view, int x, int y) {
  static const uint32_t blackAndWhite[2] = {0x000000, 0xFFFFFF};
  uint32_t rgb;
  readRgbRow(view, x, y, 1, &rgb, blackAndWhite);
  return rgb;
}

void writePixelRaw(const PixelView& view, int x, int y, uint32_t raw) {
  writeRawRow(view, x, y, 1, &raw);
}

// ---------------------------------------------------------------------------------------------

BOOL BitBlt(HDC destHandle, int x, int y, int width, int height, HDC sourceHandle, int sourceX,
            int sourceY, DWORD rop) {
  GdiDC* dest = deviceContextFromHandle(destHandle);
  const RasterOperation* operation = findRasterOperation(rop);
  if (!dest || !operation) return FALSE;
  GdiDC* source = nullptr;
  if (operation->usesSource) {
    source = deviceContextFromHandle(sourceHandle);
    if (!source) return FALSE;
  }
  // A negative extent names the same rectangle from its other corner.
  int64_t left = x, top = y, sourceLeft = sourceX, sourceTop = sourceY;
  int64_t w = width, h = height;
  if (w < 0) {
    left += w;
    sourceLeft += w;
    w = -w;
  }
  if (h < 0) {
    top += h;
    sourceTop += h;
    h = -h;
  }
  if (w == 0 || h == 0) return TRUE;
  // Nothing is ever drawn into the shared default bitmap of memory DCs.
  if (dest->memory && dest->bitmap->stock) return TRUE;

  PixelView destView;
  if (!acquirePixels(dest, &destView)) return TRUE;  // the screen DC: nothing to draw into
  PixelView sourceView = {};
  bool sourceHeld = false;
  if (source) {
    sourceHeld = acquirePixels(source, &sourceView);
    if (!sourceHeld) sourceView.width = sourceView.height = 0;
  }

  // The offsets (i, j) inside the rectangle that land inside the destination and, with a source,
  // come from inside the source: destination pixels whose source lies outside stay untouched.
  int64_t i0 = std::max<int64_t>(0, -left);
  int64_t i1 = std::min<int64_t>(w, destView.width - left);
  int64_t j0 = std::max<int64_t>(0, -top);
  int64_t j1 = std::min<int64_t>(h, destView.height - top);
  if (source) {
    i0 = std::max<int64_t>(i0, -sourceLeft);
    i1 = std::min<int64_t>(i1, sourceView.width - sourceLeft);
    j0 = std::max<int64_t>(j0, -sourceTop);
    j1 = std::min<int64_t>(j1, sourceView.height - sourceTop);
  }
  bool drawn = i0 < i1 && j0 < j1;
  if (drawn) {
    int count = int(i1 - i0);
    int dx = int(left + i0);
    const PixelFormat& to = destView.format;
    bool dest32 = isStandard32(to);
    if (destRow.size() < size_t(count)) destRow.resize(size_t(count));
    if (!source) {
      uint32_t value = fillValue(to, operation->fillsWhite);
      std::fill(destRow.begin(), destRow.begin() + count, value);
      for (int64_t j = j0; j < j1; ++j)
        writeRawRow(destView, dx, int(top + j), count, destRow.data());
    } else {
      int sx = int(sourceLeft + i0);
      uint32_t sourceBk = rgbFromColorref(source->bkColor);
      const uint32_t monochromeColors[2] = {rgbFromColorref(dest->textColor),
                                            rgbFromColorref(dest->bkColor)};
      bool samePixels = sourceView.top == destView.top;
      bool fast32 = dest32 && isStandard32(sourceView.format);
      if (sourceRow.size() < size_t(count)) sourceRow.resize(size_t(count));
      uint32_t valueMask = valueMaskOf(to);
      // Rows are visited away from an overlap when a bitmap is copied onto itself.
      bool upward = samePixels && sourceTop + j0 < top + j0;
      for (int64_t step = j0; step < j1; ++step) {
        int64_t j = upward ? j1 - 1 - (step - j0) : step;
        int dy = int(top + j);
        int sy = int(sourceTop + j);
        if (fast32 && (!samePixels || operation->combine == ropSourceCopy)) {
          uint32_t* d = reinterpret_cast<uint32_t*>(rowAt(destView, dy)) + dx;
          const uint32_t* s = reinterpret_cast<const uint32_t*>(rowAt(sourceView, sy)) + sx;
          operation->combine(d, s, count);
        } else if (dest32 && operation->combine == ropSourceCopy && !samePixels) {
          uint32_t* d = reinterpret_cast<uint32_t*>(rowAt(destView, dy)) + dx;
          readRgbRow(sourceView, sx, sy, count, d, monochromeColors);
        } else if (dest32) {
          normaliseRow(sourceView, destView, sx, sy, count, sourceBk, monochromeColors,
                       sourceRow.data());
          uint32_t* d = reinterpret_cast<uint32_t*>(rowAt(destView, dy)) + dx;
          operation->combine(d, sourceRow.data(), count);
        } else {
          normaliseRow(sourceView, destView, sx, sy, count, sourceBk, monochromeColors,
                       sourceRow.data());
          readRawRow(destView, dx, dy, count, destRow.data());
          operation->combine(destRow.data(), sourceRow.data(), count);
          for (int i = 0; i < count; ++i) destRow[size_t(i)] &= valueMask;
          writeRawRow(destView, dx, dy, count, destRow.data());
        }
      }
    }
  }
  if (sourceHeld) releasePixels(source, false);
  releasePixels(dest, drawn);
  return TRUE;
}
