// Text in the default font of a device context: TextOutA, DrawTextA, GetTextMetricsA and
// GetTextExtentPoint32A for CP932 text. Owns the font (IPAGothic, found through fontconfig and
// rendered by FreeType without antialiasing) and the cache of rendered glyphs, one per CP932
// code. Draws into a DC's pixels, of any format, through their row functions (gdi_objects.h).
//
// The layout copies Japanese Windows' System font, not the font we render with: fixed pitch,
// 18 px high with the baseline 15 px down, 8 px per single-byte and 16 px per double-byte
// character. Each glyph is placed in its character cell, so the font's own advances never move
// anything.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/layer.h"

namespace {

constexpr int cellHeight = 18;     // tmHeight; also the line pitch of DrawTextA
constexpr int cellAscent = 15;     // rows above the baseline
constexpr int cellDescent = 3;     // rows from the baseline down
constexpr int narrowAdvance = 8;   // single-byte characters, half-width kana included
constexpr int wideAdvance = 16;    // double-byte characters
constexpr int fontPixelSize = 16;  // the em: the cell less the System font's internal leading
constexpr int underlineRow = 16;   // where a '&' prefix underlines, one row below the baseline

// What a glyph looks like shown where CP932 has no character: the middle dot, as Windows' code
// page conversion gives for an invalid double-byte pair, and its half-width form for one byte.
constexpr uint32_t defaultWideCodePoint = 0x30FB;    // ・
constexpr uint32_t defaultNarrowCodePoint = 0xFF65;  // ･

// ---------------------------------------------------------------------------------------------
// Glyphs

// One character cell's ink: bit c of rows[r] is column c, row r of the cell (at most 16 wide).
struct Glyph {
  uint16_t rows[cellHeight];
};

const Glyph emptyGlyph = {};

// Rendered glyphs by CP932 code (a single byte, or lead << 8 | trail). A slot is written once,
// under fontLock, and read without it; the glyphs live as long as the process.
std::atomic<const Glyph*> glyphCache[0x10000];

std::mutex fontLock;  // FreeType faces are not thread-safe
FT_Library fontLibrary = nullptr;
FT_Face fontFace = nullptr;  // null when no usable font was found: glyphs are then blank

// Finds the Japanese Gothic font through fontconfig and opens it at the cell's em size. The
// lookup uses a configuration of its own, destroyed after it: fontconfig's process-wide default
// keeps allocations that a leak checker reports.
void openFont() {
  FcConfig* config = FcInitLoadConfigAndFonts();
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("IPAGothic:lang=ja"));
  FcPattern* match = nullptr;
  if (config && pattern) {
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    match = FcFontMatch(config, pattern, &result);
  }
  FcChar8* file = nullptr;
  int index = 0;
  if (match) {
    FcPatternGetString(match, FC_FILE, 0, &file);
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
  }
  if (!file) {
    fprintf(stderr, "torvane: no font for Japanese text; text is drawn blank\n");
  } else if (FT_Init_FreeType(&fontLibrary) == 0) {
    if (FT_New_Face(fontLibrary, reinterpret_cast<const char*>(file), index, &fontFace) != 0 ||
        FT_Set_Pixel_Sizes(fontFace, 0, fontPixelSize) != 0) {
      fprintf(stderr, "torvane: cannot open the font %s; text is drawn blank\n", file);
      fontFace = nullptr;
    }
  }
  if (match) FcPatternDestroy(match);
  if (pattern) FcPatternDestroy(pattern);
  if (config) FcConfigDestroy(config);
}

// The one code point of a UTF-8 character, or 0 when the text is not exactly one character.
uint32_t singleCodePoint(const std::string& utf8) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t length = utf8.size();
  if (length == 1 && s[0] < 0x80) return s[0];
  if (length == 2 && (s[0] & 0xE0) == 0xC0) return (s[0] & 0x1Fu) << 6 | (s[1] & 0x3Fu);
  if (length == 3 && (s[0] & 0xF0) == 0xE0) {
    return (s[0] & 0x0Fu) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu);
  }
  if (length == 4 && (s[0] & 0xF8) == 0xF0) {
    return (s[0] & 0x07u) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 | (s[3] & 0x3Fu);
  }
  return 0;
}

// Renders one code point into a cell of the given width, solid, clipped to the cell.
// Called with fontLock held. False when the font has no glyph for it.
bool renderCodePoint(uint32_t codePoint, int advance, Glyph* glyph) {
  FT_UInt index = FT_Get_Char_Index(fontFace, codePoint);
  if (index == 0) return false;
  if (FT_Load_Glyph(fontFace, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return false;
  const FT_GlyphSlot slot = fontFace->glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  for (unsigned int y = 0; y < bitmap.rows; ++y) {
    int row = cellAscent - slot->bitmap_top + int(y);
    if (row < 0 || row >= cellHeight) continue;
    const unsigned char* source = bitmap.buffer + ptrdiff_t(y) * bitmap.pitch;
    for (unsigned int x = 0; x < bitmap.width; ++x) {
      bool ink = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? (source[x / 8] >> (7 - x % 8)) & 1
                                                         : source[x] >= 128;
      int column = slot->bitmap_left + int(x);
      if (ink && column >= 0 && column < advance) glyph->rows[row] |= uint16_t(1u << column);
    }
  }
  return true;
}

const Glyph* renderGlyph(uint16_t code, int advance) {
  Glyph* glyph = new Glyph();
  if (!fontFace) return glyph;
  char bytes[2] = {char(code >> 8), char(code & 0xFF)};
  std::string utf8 = code > 0xFF ? cp932ToUtf8(bytes, 2) : cp932ToUtf8(bytes + 1, 1);
  uint32_t codePoint = singleCodePoint(utf8);
  if (codePoint == 0 || codePoint == 0xFFFD || !renderCodePoint(codePoint, advance, glyph)) {
    *glyph = Glyph();
    renderCodePoint(advance == wideAdvance ? defaultWideCodePoint : defaultNarrowCodePoint, advance,
                    glyph);
  }
  return glyph;
}

const Glyph* glyphFor(uint16_t code, int advance) {
  if (code == 0) return &emptyGlyph;
  const Glyph* glyph = glyphCache[code].load(std::memory_order_acquire);
  if (glyph) return glyph;
  std::lock_guard<std::mutex> guard(fontLock);
  glyph = glyphCache[code].load(std::memory_order_relaxed);
  if (glyph) return glyph;
  static bool fontOpened = false;
  if (!fontOpened) {
    openFont();
    fontOpened = true;
  }
  glyph = renderGlyph(code, advance);
  glyphCache[code].store(glyph, std::memory_order_release);
  return glyph;
}

// ---------------------------------------------------------------------------------------------
// Characters of CP932 text

enum CharKind : uint8_t {
  kindNarrow,   // single-byte letters, digits, signs, controls: they join into unbreakable words
  kindKana,     // half-width katakana: a line may break beside them, as beside wide characters
  kindWide,     // a double-byte character
  kindSpace,    // ' ': lines break after it
  kindLineEnd,  // CR LF, LF or a lone CR (only where DrawTextA breaks lines at them)
};

struct TextChar {
  int size;         // bytes taken from the text, a '&' prefix included
  uint16_t code;    // glyph code: a byte, lead << 8 | trail, or 0 for nothing visible
  uint8_t kind;     // CharKind
  uint8_t advance;  // narrowAdvance or wideAdvance (0 for a line end)
  bool underlined;  // the character followed a '&' prefix
};

// How DrawTextA reads text: '&' prefixes, line ends.
struct ReadMode {
  bool prefixes;  // '&' underlines the next character, "&&" is one '&'
  bool lineEnds;  // CR and LF end lines instead of being drawn
};

bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
bool isTrailByte(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// One character at text[pos], pos < length. A lead byte takes its trail byte only when the trail
// is one that CP932 allows: a lead byte at the end or before a control, a space or another
// invalid trail stands alone as one half-width default character, so no line end or space is
// ever swallowed and nothing past length is read.
TextChar readPlainChar(const unsigned char* text, int length, int pos, ReadMode mode) {
  unsigned char byte = text[pos];
  TextChar c = {1, byte, kindNarrow, narrowAdvance, false};
  if (byte == ' ') {
    c.kind = kindSpace;
  } else if ((byte == '\r' || byte == '\n') && mode.lineEnds) {
    c.kind = kindLineEnd;
    c.advance = 0;
    c.code = 0;
    if (byte == '\r' && pos + 1 < length && text[pos + 1] == '\n') c.size = 2;
  } else if (byte < 0x20 || byte == 0x7F) {
    c.code = 0;  // controls take a cell and show nothing
  } else if (byte >= 0xA1 && byte <= 0xDF) {
    c.kind = kindKana;
  } else if (isLeadByte(byte)) {
    if (pos + 1 < length && isTrailByte(text[pos + 1])) {
      c.size = 2;
      c.code = uint16_t(byte << 8 | text[pos + 1]);
      c.kind = kindWide;
      c.advance = wideAdvance;
    }
    // A lead byte alone keeps its own code, which converts to no character: it shows the
    // half-width default.
  }
  return c;
}

TextChar readChar(const unsigned char* text, int length, int pos, ReadMode mode) {
  if (mode.prefixes && text[pos] == '&' && pos + 1 < length) {
    if (text[pos + 1] == '&') {
      TextChar c = readPlainChar(text, length, pos + 1, mode);
      c.size = 2;
      return c;
    }
    TextChar c = readPlainChar(text, length, pos + 1, mode);
    c.size += 1;
    c.underlined = c.kind != kindLineEnd;
    return c;
  }
  return readPlainChar(text, length, pos, mode);
}

// Japanese line-breaking rules: characters that may not start a line (closing brackets and
// punctuation, small kana, the long-vowel mark) and those that may not end one (opening
// brackets). CP932 codes, ascending, for the binary search in listed().
constexpr uint16_t noLineStart[] = {
    0x21,   0x29,   0x2C,   0x2E,   0x3A,   0x3B,   0x3F,   0x5D,   0x7D,  // ! ) , . : ; ? ] }
    0xA1,   0xA3,   0xA4,   0xA5,                                          // ｡ ｣ ､ ･
    0xA7,   0xA8,   0xA9,   0xAA,   0xAB,   0xAC,   0xAD,   0xAE,   0xAF,  // ｧ ｨ ｩ ｪ ｫ ｬ ｭ ｮ ｯ
    0xB0,   0xDE,   0xDF,                                                  // ｰ ﾞ ﾟ
    0x8141, 0x8142, 0x8143, 0x8144, 0x8145, 0x8146, 0x8147, 0x8148,  // 、 。 ， ． ・ ： ； ？
    0x8149, 0x814A, 0x814B, 0x8152, 0x8153, 0x8154, 0x8155, 0x8158,  // ！ ゛ ゜ ヽ ヾ ゝ ゞ 々
    0x815B, 0x8166, 0x8168, 0x816A, 0x816C, 0x816E, 0x8170, 0x8172,  // ー ’ ” ） 〕 ］ ｝ 〉
    0x8174, 0x8176, 0x8178, 0x817A,                                  // 》 」 』 】
    0x829F, 0x82A1, 0x82A3, 0x82A5, 0x82A7, 0x82C1, 0x82E1, 0x82E3,  // ぁ ぃ ぅ ぇ ぉ っ ゃ ゅ
    0x82E5, 0x82EC,                                                  // ょ ゎ
    0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8362, 0x8383, 0x8385,  // ァ ィ ゥ ェ ォ ッ ャ ュ
    0x8387, 0x838E, 0x8395, 0x8396,                                  // ョ ヮ ヵ ヶ
};
constexpr uint16_t noLineEnd[] = {
    0x28,   0x5B,   0x7B,   0xA2,                                    // ( [ { ｢
    0x8165, 0x8167, 0x8169, 0x816B, 0x816D, 0x816F, 0x8171, 0x8173,  // ‘ “ （ 〔 ［ ｛ 〈 《
    0x8175, 0x8177, 0x8179,                                          // 「 『 【
};

template <size_t count>
constexpr bool ascending(const uint16_t (&list)[count]) {
  for (size_t i = 1; i < count; ++i) {
    if (list[i - 1] >= list[i]) return false;
  }
  return true;
}
static_assert(ascending(noLineStart) && ascending(noLineEnd), "listed() searches sorted lists");

template <size_t count>
bool listed(const uint16_t (&list)[count], uint16_t code) {
  size_t low = 0, high = count;
  while (low < high) {
    size_t middle = (low + high) / 2;
    if (list[middle] < code) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low < count && list[low] == code;
}

// May a line break between two neighbouring characters? After spaces, yes; before a space,
// never (spaces hang at the end of the line). Between ASCII letters never: words stay whole.
// Beside Japanese characters yes, unless the rules above forbid it.
bool mayBreakBetween(const TextChar& before, const TextChar& after) {
  if (after.kind == kindSpace) return false;
  if (before.kind == kindSpace) return true;
  bool japanese = before.kind == kindWide || before.kind == kindKana || after.kind == kindWide ||
                  after.kind == kindKana;
  return japanese && !listed(noLineEnd, before.code) && !listed(noLineStart, after.code);
}

// One line of DrawTextA's layout: the bytes [start, end) drawn, the next line from next.
struct TextLine {
  int start;
  int end;
  int next;
  int64_t width;  // drawn width in pixels
};

// Lays out the line that starts at start. With wrapping, the line ends at the last place a
// break is allowed before the character that would cross maxWidth; a word with no such place
// runs on past the edge to its end. A line always takes at least one character.
TextLine layOutLine(const unsigned char* text, int length, int start, int64_t maxWidth,
                    ReadMode mode, bool wrap) {
  TextLine line = {start, length, length, 0};
  int64_t x = 0;
  int64_t inkWidth = 0;                   // x after the last character that is not a space
  int lastBreak = -1;                     // the latest position where the line could end
  int64_t breakX = 0, breakInkWidth = 0;  // x and inkWidth there
  bool overflowing = false;
  TextChar previous = {};
  int pos = start;
  while (pos < length) {
    TextChar c = readChar(text, length, pos, mode);
    if (c.kind == kindLineEnd) {
      line.end = pos;
      line.next = pos + c.size;
      break;
    }
    if (wrap && pos > start && mayBreakBetween(previous, c)) {
      if (overflowing) {
        line.end = line.next = pos;
        break;
      }
      lastBreak = pos;
      breakX = x;
      breakInkWidth = inkWidth;
    }
    if (wrap && c.kind != kindSpace && x + c.advance > maxWidth && pos > start) {
      if (lastBreak > start) {
        // The part after the break goes to the next line.
        line.end = line.next = lastBreak;
        x = breakX;
        inkWidth = breakInkWidth;
        break;
      }
      overflowing = true;
    }
    x += c.advance;
    if (c.kind != kindSpace) inkWidth = x;
    previous = c;
    pos += c.size;
  }
  // Trailing spaces count as far as they fit.
  int64_t limit = inkWidth > maxWidth ? inkWidth : maxWidth;
  line.width = wrap && x > limit ? limit : x;
  return line;
}

// ---------------------------------------------------------------------------------------------
// Drawing

struct ClipBox {
  int64_t left, top, right, bottom;  // right and bottom excluded
};

// Pixels are written as raw values of the view's format.
void fillBox(const PixelView& view, const ClipBox& clip, int64_t left, int64_t top, int64_t right,
             int64_t bottom, uint32_t raw) {
  left = std::max(left, clip.left);
  top = std::max(top, clip.top);
  right = std::min(right, clip.right);
  bottom = std::min(bottom, clip.bottom);
  constexpr int runLength = 64;
  uint32_t run[runLength];
  std::fill(run, run + runLength, raw);
  for (int64_t y = top; y < bottom; ++y) {
    uint8_t* row = rowAt(view, int(y));
    for (int64_t x = left; x < right; x += runLength) {
      view.format.functions->writeRaw(row, int(x), int(std::min<int64_t>(runLength, right - x)),
                                      run);
    }
  }
}

void drawGlyph(const PixelView& view, const ClipBox& clip, const Glyph& glyph, int advance,
               bool underlined, int64_t x, int64_t y, uint32_t raw) {
  // Columns of the cell inside the clip box.
  uint32_t columns = (1u << advance) - 1;
  if (x < clip.left) columns &= ~((1u << (clip.left - x)) - 1);
  if (x + advance > clip.right) columns &= (1u << (clip.right - x)) - 1;
  if (!columns) return;
  void (*writeBits)(uint8_t*, int, uint32_t, uint32_t) = view.format.functions->writeBits;
  for (int r = 0; r < cellHeight; ++r) {
    int64_t py = y + r;
    if (py < clip.top || py >= clip.bottom) continue;
    uint32_t bits = glyph.rows[r];
    if (underlined && r == underlineRow) bits = (1u << advance) - 1;
    bits &= columns;
    if (bits) writeBits(rowAt(view, int(py)), int(x), bits, raw);
  }
}

// Draws the characters of text[start, end) from (x, y), the top left of the first cell: in
// OPAQUE mode their cells are filled with the background colour first. Returns whether any
// pixel inside the clip box was touched.
bool drawRun(const PixelView& target, const ClipBox& clip, const unsigned char* text, int start,
             int end, ReadMode mode, int64_t x, int64_t y, uint32_t textPixel, bool opaque,
             uint32_t backgroundPixel) {
  if (clip.left >= clip.right || clip.top >= clip.bottom) return false;
  if (y >= clip.bottom || y + cellHeight <= clip.top) return false;
  if (opaque) {
    int64_t right = x;
    for (int pos = start; pos < end && right < clip.right;) {
      TextChar c = readChar(text, end, pos, mode);
      right += c.advance;
      pos += c.size;
    }
    fillBox(target, clip, x, y, right, y + cellHeight, backgroundPixel);
  }
  for (int pos = start; pos < end && x < clip.right;) {
    TextChar c = readChar(text, end, pos, mode);
    if (x + c.advance > clip.left && c.advance > 0) {
      drawGlyph(target, clip, *glyphFor(c.code, c.advance), c.advance, c.underlined, x, y,
                textPixel);
    }
    x += c.advance;
    pos += c.size;
  }
  return true;
}

ClipBox clipToTarget(const PixelView& target) {
  return ClipBox{0, 0, target.width, target.height};
}

ClipBox intersect(ClipBox a, const ClipBox& b) {
  if (b.left > a.left) a.left = b.left;
  if (b.top > a.top) a.top = b.top;
  if (b.right < a.right) a.right = b.right;
  if (b.bottom < a.bottom) a.bottom = b.bottom;
  return a;
}

// What text is drawn into: a DC's pixels (locked until finishText) and its colours as raw values
// of their format.
struct TextTarget {
  GdiDC* dc;
  PixelView view;
  uint32_t textPixel;
  uint32_t backgroundPixel;
  bool opaque;
};

// False when the DC has nothing to draw into; finishText is then not called.
bool startText(HDC handle, TextTarget* target) {
  target->dc = deviceContextFromHandle(handle);
  if (!target->dc || !acquirePixels(target->dc, &target->view, true)) return false;
  target->textPixel = rawFromRgb(target->view.format, rgbFromColorref(target->dc->textColor));
  target->backgroundPixel = rawFromRgb(target->view.format, rgbFromColorref(target->dc->bkColor));
  target->opaque = target->dc->bkMode == OPAQUE;
  return true;
}

void finishText(const TextTarget& target, bool changed) {
  releasePixels(target.dc, changed);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The API

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
  if (!deviceContextFromHandle(dc) || length < 0 || (!text && length > 0)) return FALSE;
  if (length == 0) return TRUE;
  TextTarget target;
  if (!startText(dc, &target)) return TRUE;  // nothing to draw into: nothing shows
  const ReadMode mode = {false, false};
  bool changed =
      drawRun(target.view, clipToTarget(target.view), reinterpret_cast<const unsigned char*>(text),
              0, length, mode, x, y, target.textPixel, target.opaque, target.backgroundPixel);
  finishText(target, changed);
  return TRUE;
}

int DrawTextA(HDC dc, LPCSTR text, int length, LPRECT rect, UINT format) {
  if (!text || !rect || !deviceContextFromHandle(dc)) return 0;
  if (length < 0) length = int(strlen(text));  // -1: zero-terminated
  if (length == 0) return 0;                   // the rectangle stays as it was, DT_CALCRECT or not

  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  const bool calculate = (format & DT_CALCRECT) != 0;
  const bool singleLine = (format & DT_SINGLELINE) != 0;
  const bool wrap = (format & DT_WORDBREAK) != 0 && !singleLine;
  const bool clipped = (format & DT_NOCLIP) == 0;
  const ReadMode mode = {(format & DT_NOPREFIX) == 0, !singleLine};
  const int64_t left = rect->left;
  const int64_t top = rect->top;
  const int64_t maxWidth = int64_t(rect->right) - rect->left;

  TextTarget target;
  const bool drawing = !calculate && startText(dc, &target);
  ClipBox clip = {};
  if (drawing) {
    clip = clipToTarget(target.view);
    if (clipped) clip = intersect(clip, ClipBox{left, top, rect->right, rect->bottom});
  }

  bool changed = false;
  int64_t y = top;
  int64_t widest = 0;
  int pos = 0;
  for (;;) {
    TextLine line = layOutLine(bytes, length, pos, maxWidth, mode, wrap);
    if (drawing) {
      changed |= drawRun(target.view, clip, bytes, line.start, line.end, mode, left, y,
                         target.textPixel, target.opaque, target.backgroundPixel);
    }
    if (line.width > widest) widest = line.width;
    y += cellHeight;
    pos = line.next;
    // Clipped drawing stops after the first line that reaches below the rectangle.
    bool lastLine = !calculate && clipped && y > rect->bottom;
    if (pos >= length || lastLine) break;
  }
  if (drawing) finishText(target, changed);
  if (calculate) {
    rect->right = LONG(left + widest);
    rect->bottom = LONG(y);
  }
  return int(y - top);
}

BOOL GetTextMetricsA(HDC dc, LPTEXTMETRICA metrics) {
  if (!metrics || !deviceContextFromHandle(dc)) return FALSE;
  memset(metrics, 0, sizeof *metrics);
  metrics->tmHeight = cellHeight;
  metrics->tmAscent = cellAscent;
  metrics->tmDescent = cellDescent;
  metrics->tmInternalLeading = cellHeight - fontPixelSize;
  metrics->tmExternalLeading = 0;
  metrics->tmAveCharWidth = narrowAdvance;
  metrics->tmMaxCharWidth = wideAdvance;
  metrics->tmWeight = 400;  // FW_NORMAL
  metrics->tmDigitizedAspectX = 96;
  metrics->tmDigitizedAspectY = 96;
  metrics->tmFirstChar = 0x20;
  metrics->tmLastChar = 0xFF;
  metrics->tmDefaultChar = 0xA5;  // the half-width middle dot
  metrics->tmBreakChar = 0x20;
  metrics->tmPitchAndFamily = 0x30;  // FF_MODERN; bit 0 clear means fixed pitch
  metrics->tmCharSet = 128;          // SHIFTJIS_CHARSET
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int length, LPSIZE size) {
  if (!size || length < 0 || (!text && length > 0) || !deviceContextFromHandle(dc)) {
    return FALSE;
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  const ReadMode mode = {false, false};
  int64_t width = 0;
  for (int pos = 0; pos < length;) {
    TextChar c = readChar(bytes, length, pos, mode);
    width += c.advance;
    pos += c.size;
  }
  size->cx = LONG(width);
  size->cy = length > 0 ? cellHeight : 0;  // an empty text measures 0 x 0
  return TRUE;
}
