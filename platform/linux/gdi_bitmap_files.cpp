// Bitmap and icon files: LoadImageA. Files are decoded with GdkPixbuf; this file reads only the
// BMP header itself, to refuse what Windows would not load before anything large is allocated,
// and to give the DIB section the file's own pixel format (bit depth, colour masks, palette).
//
// A BMP becomes a bottom-up DIB section of the file's bit depth:
// - 24 and 32 bpp keep their colours (32 bpp as 0x00RRGGBB: the file's fourth byte is dropped);
// - 16 bpp keeps its masks (555 when the file has none); GdkPixbuf widens 5- and 6-bit values by
//   repeating their bits as Windows does, and the values are packed back into the file's fields,
//   so the 16-bit pixels are the file's own and widen again exactly as on Windows;
// - 1, 4 and 8 bpp, RLE8 and RLE4 keep the file's colour table; each decoded colour is mapped
//   back to its index, and pixels an RLE delta skipped (which GdkPixbuf leaves transparent) take
//   index 0, as they do when Windows expands RLE data into a zeroed section.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/layer.h"

namespace {

// Limits that keep a hostile or broken file from costing much: the player shows 640x480 pictures
// and frame strips of them.
constexpr long maxImageFileBytes = 64L << 20;
constexpr int64_t maxImagePixels = int64_t(4096) * 4096;
constexpr int maxImageSide = 16384;

uint16_t read16(const std::string& bytes, size_t at) {
  return uint16_t(uint8_t(bytes[at]) | (uint8_t(bytes[at + 1]) << 8));
}
uint32_t read32(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) | (uint32_t(uint8_t(bytes[at + 1])) << 8) |
         (uint32_t(uint8_t(bytes[at + 2])) << 16) | (uint32_t(uint8_t(bytes[at + 3])) << 24);
}

bool readWholeFile(const char* windowsName, std::string* bytes) {
  std::string path = nativePath(windowsName);
  FILE* file = fopen(path.c_str(), "rb");
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
  int bitsPerPixel;
  uint32_t compression;
  PixelFormat format;
  uint32_t colors[256];
};

bool isContiguousMask(uint32_t mask) {
  if (!mask) return false;
  while (!(mask & 1)) mask >>= 1;
  return (mask & (mask + 1)) == 0;
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
  if (height < 0) height = -height;
  if (width < 1 || height < 1 || width > maxImageSide || height > maxImageSide ||
      width * height > maxImagePixels) {
    return false;
  }
  header->width = int(width);
  header->height = int(height);
  header->compression = compression;
  int bits = header->bitsPerPixel;
  bool supported = (compression == BI_RGB && (bits == 1 || bits == 4 || bits == 8 || bits == 16 ||
                                              bits == 24 || bits == 32)) ||
                   (compression == BI_RLE8 && bits == 8) || (compression == BI_RLE4 && bits == 4) ||
                   (compression == BI_BITFIELDS && (bits == 16 || bits == 32));
  if (!supported || (core && compression != BI_RGB)) return false;
  if (pixelOffset >= bytes.size()) return false;
  if (compression == BI_RGB || compression == BI_BITFIELDS) {
    int64_t rowBytes = ((width * bits + 31) / 32) * 4;
    if (int64_t(bytes.size() - pixelOffset) < rowBytes * height) return false;  // truncated
  }

  PixelFormat& format = header->format;
  format = {};
  format.bitsPerPixel = bits;
  if (bits == 32) {
    format = pixelFormat32();
  } else if (bits == 16) {
    if (compression == BI_BITFIELDS) {
      if (bytes.size() < 14 + 40 + 12) return false;
      for (int i = 0; i < 3; ++i) format.masks[i] = read32(bytes, 14 + 40 + size_t(i) * 4);
      for (uint32_t mask : format.masks) {
        if (!isContiguousMask(mask) || mask > 0xFFFF) return false;
      }
    } else {
      format.masks[0] = 0x7C00;
      format.masks[1] = 0x03E0;
      format.masks[2] = 0x001F;
    }
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

// Fills the DIB section from the decoded picture, packing each colour into the file's format.
void fillFromPixbuf(GdiBitmap* bitmap, GdkPixbuf* pixbuf) {
  int channels = gdk_pixbuf_get_n_channels(pixbuf);
  bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const PixelFormat& format = bitmap->format;
  PixelView view = bitmapPixels(bitmap);
  bool palette = format.bitsPerPixel <= 8;
  std::unordered_map<uint32_t, uint32_t> indexOf;  // colour -> first index holding it
  if (palette) {
    for (int i = format.colorCount - 1; i >= 0; --i) indexOf[format.colors[i]] = uint32_t(i);
  }
  for (int y = 0; y < bitmap->height; ++y) {
    const guchar* source = pixels + ptrdiff_t(y) * rowstride;
    for (int x = 0; x < bitmap->width; ++x, source += channels) {
      uint32_t rgb = (uint32_t(source[0]) << 16) | (uint32_t(source[1]) << 8) | source[2];
      uint32_t raw;
      if (!palette) {
        raw = rawFromRgb(format, rgb);
      } else if (alpha && source[3] == 0) {
        raw = 0;  // skipped by an RLE delta
      } else {
        auto found = indexOf.find(rgb);
        raw = found != indexOf.end() ? found->second : rawFromRgb(format, rgb);
      }
      writePixelRaw(view, x, y, raw);
    }
  }
}

// dibSection false makes the device-dependent 32-bpp bitmap Windows makes without
// LR_CREATEDIBSECTION.
HANDLE loadBitmapFile(const char* name, bool dibSection) {
  std::string bytes;
  BmpHeader header;
  if (!readWholeFile(name, &bytes) || !readBmpHeader(bytes, &header)) return nullptr;
  GdkPixbuf* pixbuf = decode(bytes, "bmp");
  if (!pixbuf) return nullptr;
  GdiBitmap* bitmap = nullptr;
  if (gdk_pixbuf_get_width(pixbuf) == header.width &&
      gdk_pixbuf_get_height(pixbuf) == header.height &&
      gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
      gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 && gdk_pixbuf_get_n_channels(pixbuf) >= 3) {
    bitmap = dibSection ? newBitmap(header.width, header.height, header.format, true, true)
                        : newBitmap(header.width, header.height, pixelFormat32(), false, false);
    if (bitmap) fillFromPixbuf(bitmap, pixbuf);
  }
  g_object_unref(pixbuf);
  return bitmap;
}

}  // namespace

bool decodeIconFile(const char* name, std::vector<uint32_t>* argb, int* width, int* height) {
  std::string bytes;
  if (!readWholeFile(name, &bytes)) return false;
  // An icon directory: reserved 0, type 1, then at least one entry.
  if (bytes.size() < 6 + 16 || read16(bytes, 0) != 0 || read16(bytes, 2) != 1 ||
      read16(bytes, 4) == 0) {
    return false;
  }
  GdkPixbuf* pixbuf = decode(bytes, "ico");
  if (!pixbuf) return false;
  int w = gdk_pixbuf_get_width(pixbuf);
  int h = gdk_pixbuf_get_height(pixbuf);
  int channels = gdk_pixbuf_get_n_channels(pixbuf);
  bool ok = w > 0 && h > 0 && w <= 1024 && h <= 1024 && channels >= 3 &&
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
