// Block transfers (BitBlt). Owns the raster-operation table; reads and writes pixels only through
// the row functions of each surface's format (gdi_pixel_formats.cpp).
//
// A transfer goes a row at a time: the source row is made into the destination's raw values by
// a reader chosen once per transfer, then the operation's bitwise function combines it with the
// destination row. Rows of 32-bpp destinations are combined in place, and a 32-bpp source of the
// destination's own format is read in place too, so the copies every frame makes touch each
// pixel once.
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

namespace {

// Eight pixels a step; on the default target the compiler splits them into two 128-bit halves.
typedef uint32_t Pixels8 __attribute__((vector_size(32)));

// Combines a destination row with a source row, 8 pixels at a time where it can.
template <typename Combine>
inline void combineRow(uint32_t* dest, const uint32_t* source, int count, Combine combine) {
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    Pixels8 d, s;
    memcpy(&d, dest + i, 32);
    memcpy(&s, source + i, 32);
    combine(d, s);
    memcpy(dest + i, &d, 32);
  }
  for (; i < count; ++i) combine(dest[i], source[i]);
}

// One function per raster operation, named by its index byte (the operation's truth table).
// The source row may be the destination row itself, made there by the reader.
#define TORVANE_ROW_TARGETS __attribute__((target_clones("avx2", "default")))
void ropSourceCopy(uint32_t* d, const uint32_t* s, int n) {  // 0xCC  D = S
  if (d != s) memmove(d, s, size_t(n) * 4);
}
TORVANE_ROW_TARGETS void ropSourceAnd(uint32_t* d, const uint32_t* s, int n) {  // 0x88  D & S
  combineRow(d, s, n, [](auto& dest, const auto& source) { dest &= source; });
}
TORVANE_ROW_TARGETS void ropSourcePaint(uint32_t* d, const uint32_t* s, int n) {  // 0xEE  D | S
  combineRow(d, s, n, [](auto& dest, const auto& source) { dest |= source; });
}
TORVANE_ROW_TARGETS void ropSourceInvert(uint32_t* d, const uint32_t* s, int n) {  // 0x66  D ^ S
  combineRow(d, s, n, [](auto& dest, const auto& source) { dest ^= source; });
}
TORVANE_ROW_TARGETS void ropNotSourceCopy(uint32_t* d, const uint32_t* s, int n) {  // 0x33  ~S
  combineRow(d, s, n, [](auto& dest, const auto& source) { dest = ~source; });
}

struct RasterOperation {
  DWORD code;
  bool usesSource;  // false: the source row is the colour fillRgb, in the destination's format
  uint32_t fillRgb;
  bool copiesSource;  // D = S: the source row may be made straight in the destination
  void (*combine)(uint32_t* dest, const uint32_t* source, int count);
};

const RasterOperation rasterOperations[] = {
    {SRCCOPY, true, 0, true, ropSourceCopy},            // 0xCC  D = S
    {SRCAND, true, 0, false, ropSourceAnd},             // 0x88  D = D & S
    {SRCPAINT, true, 0, false, ropSourcePaint},         // 0xEE  D = D | S
    {SRCINVERT, true, 0, false, ropSourceInvert},       // 0x66  D = D ^ S
    {NOTSRCCOPY, true, 0, false, ropNotSourceCopy},     // 0x33  D = ~S
    {BLACKNESS, false, 0x000000, true, ropSourceCopy},  // 0x00  D = 0, black
    {WHITENESS, false, 0xFFFFFF, true, ropSourceCopy},  // 0xFF  D = 1, white
};
static_assert(sizeof rasterOperations / sizeof rasterOperations[0] == 7, "one row per operation");

const RasterOperation* findRasterOperation(DWORD code) {
  for (const RasterOperation& operation : rasterOperations) {
    if (operation.code == code) return &operation;
  }
  return nullptr;
}

// --- Source rows as the destination's raw values ----------------------------------------------

struct Transfer {
  PixelView source;
  PixelView dest;
  int sourceX;
  int count;
  uint32_t sourceKey;            // colour to monochrome: the source's background, as a raw value
  uint32_t monochromeColors[2];  // monochrome to colour: the destination's text and background
  const uint32_t* fill;          // the row of an operation without source
};

// Each returns the row: scratch (count values it may fill) or memory it reads in place.
typedef const uint32_t* (*SourceRowReader)(const Transfer& transfer, int y, uint32_t* scratch);

const uint32_t* filledRow(const Transfer& transfer, int, uint32_t*) {
  return transfer.fill;
}

// The destination's own 32-bpp format, other pixels: the source's words as they are.
const uint32_t* sameFormatInPlace(const Transfer& transfer, int y, uint32_t*) {
  return reinterpret_cast<const uint32_t*>(rowAt(transfer.source, y)) + transfer.sourceX;
}

// The destination's own format: raw values copied aside, also when a bitmap copies onto itself.
const uint32_t* sameFormatCopied(const Transfer& transfer, int y, uint32_t* scratch) {
  transfer.source.format.functions->readRaw(rowAt(transfer.source, y), transfer.sourceX,
                                            transfer.count, scratch);
  return scratch;
}

const uint32_t* colourToMonochrome(const Transfer& transfer, int y, uint32_t* scratch) {
  const PixelFormat& format = transfer.source.format;
  format.functions->readRaw(rowAt(transfer.source, y), transfer.sourceX, transfer.count, scratch);
  for (int i = 0; i < transfer.count; ++i) {
    scratch[i] = (scratch[i] & format.colorBits) == transfer.sourceKey ? 1 : 0;
  }
  return scratch;
}

const uint32_t* throughColours(const Transfer& transfer, int y, uint32_t* scratch) {
  const PixelFormat& from = transfer.source.format;
  from.functions->readRgb(from, rowAt(transfer.source, y), transfer.sourceX, transfer.count,
                          scratch, transfer.monochromeColors);
  const PixelFormat& to = transfer.dest.format;
  to.functions->rawFromRgb(to, scratch, transfer.count);
  return scratch;
}

bool sameFormat(const PixelFormat& a, const PixelFormat& b) {
  if (a.bitsPerPixel != b.bitsPerPixel || a.monochrome != b.monochrome) return false;
  if (a.bitsPerPixel >= 16) {
    return a.bitsPerPixel == 24 || memcmp(a.masks, b.masks, sizeof a.masks) == 0;
  }
  if (a.monochrome) return true;
  return a.colorCount == b.colorCount && std::equal(a.colors, a.colors + a.colorCount, b.colors);
}

// Row buffers of the calling thread; they grow to the widest row once and are then reused, so a
// frame's transfers allocate nothing.
thread_local std::vector<uint32_t> sourceRow;
thread_local std::vector<uint32_t> destRow;

}  // namespace

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

  Transfer transfer = {};
  if (!acquirePixels(dest, &transfer.dest, true)) return TRUE;  // nothing to draw into
  bool sourceHeld = false;
  if (source) {
    sourceHeld = acquirePixels(source, &transfer.source, false);
    if (!sourceHeld) transfer.source.width = transfer.source.height = 0;
  }
  const PixelView& to = transfer.dest;
  const PixelView& from = transfer.source;

  // The offsets (i, j) inside the rectangle that land inside the destination and, with a source,
  // come from inside the source: destination pixels whose source lies outside stay untouched.
  int64_t i0 = std::max<int64_t>(0, -left);
  int64_t i1 = std::min<int64_t>(w, to.width - left);
  int64_t j0 = std::max<int64_t>(0, -top);
  int64_t j1 = std::min<int64_t>(h, to.height - top);
  if (source) {
    i0 = std::max<int64_t>(i0, -sourceLeft);
    i1 = std::min<int64_t>(i1, from.width - sourceLeft);
    j0 = std::max<int64_t>(j0, -sourceTop);
    j1 = std::min<int64_t>(j1, from.height - sourceTop);
  }
  bool drawn = i0 < i1 && j0 < j1;
  if (drawn) {
    int count = int(i1 - i0);
    int dx = int(left + i0);
    transfer.sourceX = int(sourceLeft + i0);
    transfer.count = count;
    if (sourceRow.size() < size_t(count)) sourceRow.resize(size_t(count));
    if (destRow.size() < size_t(count)) destRow.resize(size_t(count));
    bool samePixels = source && from.top == to.top;
    const PixelFunctions& destFunctions = *to.format.functions;

    SourceRowReader readSource;
    if (!source) {
      uint32_t raw = rawFromRgb(to.format, operation->fillRgb);
      std::fill(sourceRow.begin(), sourceRow.begin() + count, raw);
      transfer.fill = sourceRow.data();
      readSource = filledRow;
    } else if (sameFormat(from.format, to.format)) {
      readSource = destFunctions.direct && !samePixels ? sameFormatInPlace : sameFormatCopied;
    } else if (to.format.monochrome) {
      transfer.sourceKey = rawFromRgb(from.format, rgbFromColorref(source->bkColor));
      readSource = colourToMonochrome;
    } else {
      transfer.monochromeColors[0] = rgbFromColorref(dest->textColor);
      transfer.monochromeColors[1] = rgbFromColorref(dest->bkColor);
      readSource = throughColours;
    }
    // A copy is made straight in the destination row, except from the same pixels, whose row
    // must be read whole before any of it is written.
    bool intoDest = operation->copiesSource && !(samePixels && destFunctions.direct);
    uint32_t* aside = source ? sourceRow.data() : destRow.data();

    // Rows are visited away from an overlap when a bitmap is copied onto itself.
    bool upward = samePixels && sourceTop < top;
    for (int64_t step = j0; step < j1; ++step) {
      int64_t j = upward ? j1 - 1 - (step - j0) : step;
      uint8_t* row = rowAt(to, int(top + j));
      uint32_t* d = destFunctions.direct ? reinterpret_cast<uint32_t*>(row) + dx : destRow.data();
      if (!destFunctions.direct && !operation->copiesSource) {
        destFunctions.readRaw(row, dx, count, d);
      }
      const uint32_t* s = readSource(transfer, int(sourceTop + j), intoDest ? d : aside);
      operation->combine(d, s, count);
      if (!destFunctions.direct) destFunctions.writeRaw(row, dx, count, d);
    }
  }
  if (sourceHeld) releasePixels(source, false);
  releasePixels(dest, drawn);
  return TRUE;
}
