// Bitmap and icon files: LoadImageA. BMP files are decoded here, straight into a DIB section of
// the file's own pixel format (bit depth, colour masks, colour table), at a cost proportional to
// the file; icons are decoded with GdkPixbuf. What Windows would not load, and what would cost
// far more than any picture a story can show, is refused before anything large is allocated.
//
// A BMP becomes a bottom-up DIB section of the file's bit depth:
// - 1, 4, 8, 16 and 24 bpp keep the file's rows as they are (16 bpp with its masks, 555 when the
//   file has none), so every pixel converts later exactly as on Windows;
// - 32 bpp becomes 0x00RRGGBB: each field of the file's masks gives its top 8 bits (fewer bits
//   widen by repeating them), and the fourth byte is dropped;
// - RLE8 and RLE4 expand into a zeroed section: pixels a delta or an end of line skipped keep
//   index 0, as on Windows; runs that overshoot a row are cut at its end.
// Owns no state. Depends on gdi.cpp (newBitmap), gdi_blit.cpp (pixel access), file_names.cpp.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/layer.h"
#include "platform/windows_api.h"

namespace {

// A story shows pictures on a 640x480 screen, whole or as cells of frame strips. A slot keeps
// the picture, its mask and a masked copy (about 12 bytes a pixel with 32-bpp pictures), so
// 8 Mpixels (27 full-screen cells) keeps one load under about 130 MB and a second.
constexpr int64_t maxImagePixels = int64_t(8) << 20;
constexpr int maxImageSide = 16384;  // a strip of 25 full-screen cells side by side
// The largest file such a picture needs (32 bpp), with room for headers and colour tables.
constexpr long maxImageFileBytes = long(maxImagePixels * 4) + (64L << 10);
// RLE data fills at most 255 pixels with two bytes, yet a few bytes (end of line, end of bitmap,
// deltas) may leave the rest of a picture at colour 0. Up to a full screen that is allowed; a
// larger picture must have data that could fill it, so a 1 KB file never costs 100 MB.
constexpr int64_t rleFreePixels = 640 * 480;
constexpr int64_t rlePixelsPerByte = 256;
// Windows shows icons of up to 256x256; images larger than four times that are refused before
// they are decoded, as are directories longer than any icon tool writes.
constexpr int maxIconSide = 1024;
constexpr int maxIconImages = 64;

uint16_t read16(const std::string& bytes, size_t at) {
  return uint16_t(uint8_t(bytes[at]) | (uint8_t(bytes[at + 1]) << 8));
}
uint32_t read32(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) | (uint32_t(uint8_t(bytes[at + 1])) << 8) |
         (uint32_t(uint8_t(bytes[at + 2])) << 16) | (uint32_t(uint8_t(bytes[at + 3])) << 24);
}
uint32_t read32BigEndian(const std::string& bytes, size_t at) {
  return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
         (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
}

// The whole file, through the one opener of story files (regular files only, never waiting).
bool readWholeFile(const char* windowsName, std::string* bytes) {
  FILE* file = openNamedFile(windowsName, "rb");
  if (!file) return false;
  bool ok = fseek(file, 0, SEEK_END) == 0;
  long size = ok ? ftell(file) : -1;
  ok = ok && size > 0 && size <= maxImageFileBytes && fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    bytes->resize(size_t(size));
    ok = fread(&(*bytes)[0], 1, size_t(size), file) == size_t(size);
  }
  fclose(file);
  return ok;
}

GdkPixbuf* decode(const std::string& bytes, const char* loaderType) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(loaderType, nullptr);
  if (!loader) return nullptr;
  bool written = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()),
                                         bytes.size(), nullptr);
  // close must run either way; after a failed write it only releases the loader's state.
  bool closed = gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = nullptr;
  if (written && closed) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf) g_object_ref(pixbuf);
  }
  g_object_unref(loader);
  return pixbuf;
}

// What the BMP header says, checked against the file's size and our limits.
struct BmpHeader {
  int width;
  int height;  // rows, positive
  bool topDown;
  int bitsPerPixel;
  uint32_t compression;
  uint32_t pixelOffset;  // where the rows or the RLE data start
  uint32_t fileMasks[3];  // red, green, blue fields of 32-bpp pixels
  PixelFormat format;     // of the DIB section
  uint32_t colors[256];
};

bool isContiguousMask(uint32_t mask) {
  if (!mask) return false;
  while (!(mask & 1)) mask >>= 1;
  return (mask & (mask + 1)) == 0;
}

int64_t storedRowBytes(int64_t width, int bits) {
  return ((width * bits + 31) / 32) * 4;
}

bool readBmpHeader(const std::string& bytes, BmpHeader* header) {
  if (bytes.size() < 26 || bytes[0] != 'B' || bytes[1] != 'M') return false;
  uint32_t pixelOffset = read32(bytes, 10);
  uint32_t headerSize = read32(bytes, 14);
  bool core = headerSize == 12;
  if (!core && (headerSize < 40 || headerSize > 124)) return false;
  if (bytes.size() < 14 + size_t(headerSize)) return false;
  int64_t width, height;
  uint32_t compression = BI_RGB;
  uint32_t colorsUsed = 0;
  if (core) {
    width = read16(bytes, 18);
    height = read16(bytes, 20);
    header->bitsPerPixel = read16(bytes, 24);
  } else {
    width = int32_t(read32(bytes, 18));
    height = int32_t(read32(bytes, 22));
    header->bitsPerPixel = read16(bytes, 28);
    compression = read32(bytes, 30);
    colorsUsed = read32(bytes, 46);
  }
  header->topDown = height < 0;
  if (height < 0) height = -height;
  if (width < 1 || height < 1 || width > maxImageSide || height > maxImageSide ||
      width * height > maxImagePixels) {
    return false;
  }
  header->width = int(width);
  header->height = int(height);
  header->compression = compression;
  header->pixelOffset = pixelOffset;
  int bits = header->bitsPerPixel;
  bool rle = compression == BI_RLE8 || compression == BI_RLE4;
  bool supported = (compression == BI_RGB && (bits == 1 || bits == 4 || bits == 8 || bits == 16 ||
                                              bits == 24 || bits == 32)) ||
                   (compression == BI_RLE8 && bits == 8) || (compression == BI_RLE4 && bits == 4) ||
                   (compression == BI_BITFIELDS && (bits == 16 || bits == 32));
  // Compressed rows are always stored bottom-up.
  if (!supported || (core && compression != BI_RGB) || (rle && header->topDown)) return false;
  if (pixelOffset >= bytes.size()) return false;
  int64_t dataBytes = int64_t(bytes.size() - pixelOffset);
  if (!rle && dataBytes < storedRowBytes(width, bits) * height) return false;  // truncated
  if (rle && width * height > std::max(rleFreePixels, dataBytes * rlePixelsPerByte)) return false;

  PixelFormat& format = header->format;
  format = {};
  format.bitsPerPixel = bits;
  if (bits == 32) {
    format = pixelFormat32();
    uint32_t standard[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 3; ++i) header->fileMasks[i] = standard[i];
  }
  if (compression == BI_BITFIELDS) {
    // Masks follow an info header; larger headers hold them at the same place.
    if (bytes.size() < 14 + 40 + 12) return false;
    uint32_t masks[3];
    for (int i = 0; i < 3; ++i) masks[i] = read32(bytes, 14 + 40 + size_t(i) * 4);
    // Without a whole field for each colour the picture would be black or noise.
    for (uint32_t mask : masks) {
      if (!isContiguousMask(mask) || (bits == 16 && mask > 0xFFFF)) return false;
    }
    for (int i = 0; i < 3; ++i) {
      if (bits == 16) format.masks[i] = masks[i];
      if (bits == 32) header->fileMasks[i] = masks[i];
    }
  } else if (bits == 16) {
    format.masks[0] = 0x7C00;
    format.masks[1] = 0x03E0;
    format.masks[2] = 0x001F;
  } else if (bits <= 8) {
    size_t tableAt = 14 + size_t(headerSize);
    size_t entryBytes = core ? 3 : 4;
    size_t count = colorsUsed && colorsUsed < (1u << bits) ? colorsUsed : (1u << bits);
    // A table cut short by the pixel data keeps the entries that are there.
    if (pixelOffset > tableAt) count = std::min(count, (pixelOffset - tableAt) / entryBytes);
    if (tableAt + count * entryBytes > bytes.size() || count == 0) return false;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* entry =
          reinterpret_cast<const uint8_t*>(bytes.data()) + tableAt + i * entryBytes;
      header->colors[i] = (uint32_t(entry[2]) << 16) | (uint32_t(entry[1]) << 8) | entry[0];
    }
    format.colors = header->colors;
    format.colorCount = int(count);
  }
  return true;
}

// One field of a 32-bit pixel as 8 bits: its top 8 bits, or fewer bits repeated to fill 8.
uint32_t fieldValue(uint32_t pixel, uint32_t mask) {
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  uint32_t field = mask >> shift;
  int width = 0;
  while (width < 32 && ((field >> width) & 1)) ++width;  // a mask may take all 32 bits
  uint32_t value = (pixel & mask) >> shift;
  if (width >= 8) return value >> (width - 8);
  uint32_t widened = 0;
  for (int filled = 0; filled < 8; filled += width) widened = (widened << width) | value;
  return widened >> ((8 + width - 1) / width * width - 8);
}

// Uncompressed rows: the file's own bytes, in the section's bottom-up order; 32-bit pixels are
// rebuilt from their masks.
void fillFromRows(GdiBitmap* bitmap, const std::string& bytes, const BmpHeader& header) {
  size_t rowBytes = size_t(storedRowBytes(header.width, header.bitsPerPixel));
  bool standard = header.fileMasks[0] == 0xFF0000 && header.fileMasks[1] == 0x00FF00 &&
                  header.fileMasks[2] == 0x0000FF;
  for (int row = 0; row < header.height; ++row) {
    // Row 0 of the section is the picture's bottom row, as it is in a bottom-up file.
    int fileRow = header.topDown ? header.height - 1 - row : row;
    const uint8_t* source =
        reinterpret_cast<const uint8_t*>(bytes.data()) + header.pixelOffset + fileRow * rowBytes;
    uint8_t* dest = bitmap->bits + size_t(row) * size_t(bitmap->widthBytes);
    if (header.bitsPerPixel != 32) {
      memcpy(dest, source, rowBytes);
      continue;
    }
    for (int x = 0; x < header.width; ++x, source += 4, dest += 4) {
      uint32_t pixel = uint32_t(source[0]) | (uint32_t(source[1]) << 8) |
                       (uint32_t(source[2]) << 16) | (uint32_t(source[3]) << 24);
      uint32_t rgb = standard ? pixel & 0xFFFFFF
                              : (fieldValue(pixel, header.fileMasks[0]) << 16) |
                                    (fieldValue(pixel, header.fileMasks[1]) << 8) |
                                    fieldValue(pixel, header.fileMasks[2]);
      dest[0] = uint8_t(rgb);
      dest[1] = uint8_t(rgb >> 8);
      dest[2] = uint8_t(rgb >> 16);
      dest[3] = 0;
    }
  }
}

void setIndex(GdiBitmap* bitmap, bool four, int x, int y, uint8_t index) {
  uint8_t* row = bitmap->bits + size_t(y) * size_t(bitmap->widthBytes);
  if (!four) {
    row[x] = index;
  } else if (x % 2 == 0) {
    row[x / 2] = uint8_t((row[x / 2] & 0x0F) | (index << 4));
  } else {
    row[x / 2] = uint8_t((row[x / 2] & 0xF0) | (index & 0x0F));
  }
}

// Expands RLE8 or RLE4 data into the zeroed section. Data that ends before the last row was
// reached is a cut file: false. Work is bounded by the data: runs are cut at the row's end.
bool fillFromRle(GdiBitmap* bitmap, const std::string& bytes, const BmpHeader& header) {
  bool four = header.compression == BI_RLE4;
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t at = header.pixelOffset;
  size_t end = bytes.size();
  int width = header.width, height = header.height;
  int x = 0, y = 0;
  while (y < height) {
    if (at + 2 > end) return false;
    int count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {  // an encoded run: one index, or two alternating in RLE4
      for (int i = 0; i < count && x < width; ++i, ++x) {
        setIndex(bitmap, four, x, y, uint8_t(!four ? value : i % 2 ? value & 15 : value >> 4));
      }
    } else if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // delta: right and up
      if (at + 2 > end) return false;
      x += data[at];
      y += data[at + 1];
      at += 2;
    } else {  // an absolute run of value indices, padded to a 16-bit boundary
      size_t length = four ? (size_t(value) + 1) / 2 : size_t(value);
      if (at + length > end) return false;
      for (int i = 0; i < value && x < width; ++i, ++x) {
        uint8_t byte = data[at + (four ? i / 2 : i)];
        setIndex(bitmap, four, x, y, uint8_t(!four ? byte : i % 2 ? byte & 15 : byte >> 4));
      }
      at += length + (length & 1);
    }
  }
  return true;
}

// dibSection false makes the device-dependent 32-bpp bitmap Windows makes without
// LR_CREATEDIBSECTION.
HANDLE loadBitmapFile(const char* name, bool dibSection) {
  std::string bytes;
  BmpHeader header;
  if (!readWholeFile(name, &bytes) || !readBmpHeader(bytes, &header)) return nullptr;
  GdiBitmap* bitmap = newBitmap(header.width, header.height, header.format, true, true);
  if (!bitmap) return nullptr;
  bool rle = header.compression == BI_RLE8 || header.compression == BI_RLE4;
  if (rle && !fillFromRle(bitmap, bytes, header)) {
    DeleteObject(reinterpret_cast<HBITMAP>(bitmap));
    return nullptr;
  }
  if (!rle) fillFromRows(bitmap, bytes, header);
  if (dibSection) return bitmap;

  GdiBitmap* device = newBitmap(header.width, header.height, pixelFormat32(), false, false);
  if (device) {
    PixelView from = {bitmap->bits + ptrdiff_t(bitmap->height - 1) * bitmap->widthBytes,
                      -ptrdiff_t(bitmap->widthBytes), bitmap->width, bitmap->height,
                      bitmap->format};
    PixelView to = {device->bits, device->widthBytes, device->width, device->height,
                    device->format};
    for (int y = 0; y < header.height; ++y) {
      for (int x = 0; x < header.width; ++x) writePixelRaw(to, x, y, readPixelRgb(from, x, y));
    }
  }
  DeleteObject(reinterpret_cast<HBITMAP>(bitmap));
  return device;
}


// Whether an icon's image is a PNG stream (what icon tools write for large sizes) rather than
// a BMP image without its file header.
bool iconImageIsPng(const std::string& bytes, size_t at, size_t size) {
  static const char signature[] = "\x89PNG\r\n\x1A\n";
  return size >= 24 && memcmp(bytes.data() + at, signature, 8) == 0;
}

// Checks every entry of an icon directory before a decoder sees it: the image lies inside the
// file and declares no more than maxIconSide a side. Sets pngAt/pngSize to the largest PNG image.
bool checkIconDirectory(const std::string& bytes, size_t* pngAt, size_t* pngSize) {
  // An icon directory: reserved 0, type 1, then at least one entry of 16 bytes.
  int count = bytes.size() >= 6 ? read16(bytes, 4) : 0;
  if (bytes.size() < 6 + 16 || read16(bytes, 0) != 0 || read16(bytes, 2) != 1 || count == 0 ||
      count > maxIconImages || bytes.size() < 6 + size_t(count) * 16) {
    return false;
  }
  *pngSize = 0;
  uint32_t largestPng = 0;
  for (int i = 0; i < count; ++i) {
    size_t entry = 6 + size_t(i) * 16;
    size_t size = read32(bytes, entry + 8), at = read32(bytes, entry + 12);
    if (at >= bytes.size() || size > bytes.size() - at || size < 24) return false;
    uint32_t width, height;
    if (iconImageIsPng(bytes, at, size)) {
      width = read32BigEndian(bytes, at + 16);
      height = read32BigEndian(bytes, at + 20);
      if (width * uint64_t(height) > largestPng) {
        largestPng = width * height;
        *pngAt = at;
        *pngSize = size;
      }
    } else {
      // GdkPixbuf sizes its buffers from the image's header: a colour count beyond any table
      // would have it allocate gigabytes for a file of a hundred bytes.
      if (size < 40 || read32(bytes, at) < 40 || read32(bytes, at + 32) > 256) return false;
      width = read32(bytes, at + 4);
      height = read32(bytes, at + 8) / 2;  // the colour rows and the AND mask
    }
    if (width < 1 || height < 1 || width > maxIconSide || height > maxIconSide) return false;
  }
  return true;
}

}  // namespace

bool decodeIconFile(const char* name, std::vector<uint32_t>* argb, int* width, int* height) {
  std::string bytes;
  size_t pngAt = 0, pngSize = 0;
  if (!readWholeFile(name, &bytes) || !checkIconDirectory(bytes, &pngAt, &pngSize)) return false;
  // GdkPixbuf's icon decoder reads only BMP images; a PNG image is decoded as a PNG file.
  GdkPixbuf* pixbuf = decode(bytes, "ico");
  if (!pixbuf && pngSize) pixbuf = decode(bytes.substr(pngAt, pngSize), "png");
  if (!pixbuf) return false;
  int w = gdk_pixbuf_get_width(pixbuf);
  int h = gdk_pixbuf_get_height(pixbuf);
  int channels = gdk_pixbuf_get_n_channels(pixbuf);
  bool ok = w > 0 && h > 0 && w <= maxIconSide && h <= maxIconSide && channels >= 3 &&
            gdk_pixbuf_get_bits_per_sample(pixbuf) == 8;
  if (ok) {
    bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    argb->resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
      const guchar* p = pixels + ptrdiff_t(y) * rowstride;
      for (int x = 0; x < w; ++x, p += channels) {
        uint32_t a = alpha ? p[3] : 0xFF;
        (*argb)[size_t(y) * size_t(w) + size_t(x)] =
            (a << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
      }
    }
    *width = w;
    *height = h;
  }
  g_object_unref(pixbuf);
  return ok;
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int width, int height, UINT flags) {
  (void)instance;
  // Without LR_LOADFROMFILE the name is a resource of the module, and this build has none.
  if (!(flags & LR_LOADFROMFILE) || !name || IS_INTRESOURCE(name)) return nullptr;
  if (type == IMAGE_BITMAP) {
    // Only the size of the file itself is honoured: the player always asks for 0 x 0.
    if (width != 0 || height != 0) return nullptr;
    return loadBitmapFile(name, (flags & LR_CREATEDIBSECTION) != 0);
  }
  if (type == IMAGE_ICON) return loadIconFile(name);
  return nullptr;
}
