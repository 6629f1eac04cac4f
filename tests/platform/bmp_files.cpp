// The BMP writer of the tests: file header, one of the four header forms, bit fields, colour
// table, then the rows, padded to 32 bits, or RLE-compressed (runs, absolute runs and deltas).
#include "bmp_files.h"

void put16(std::string* out, uint32_t value) {
  out->push_back(char(value & 0xFF));
  out->push_back(char((value >> 8) & 0xFF));
}

void put32(std::string* out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

namespace {

std::string packedRow(const BmpFile& file, int y) {
  std::string row;
  const uint32_t* pixels = file.pixels.data() + size_t(y) * size_t(file.width);
  int bits = file.bitsPerPixel;
  if (bits >= 8) {
    for (int x = 0; x < file.width; ++x) {
      for (int byte = 0; byte < bits / 8; ++byte)
        row.push_back(char((pixels[x] >> (8 * byte)) & 0xFF));
    }
  } else {
    int perByte = 8 / bits;
    for (int x = 0; x < file.width; x += perByte) {
      uint32_t byte = 0;
      for (int i = 0; i < perByte; ++i) {
        uint32_t value = x + i < file.width ? pixels[x + i] : 0;
        byte |= (value & ((1u << bits) - 1)) << (8 - bits * (i + 1));
      }
      row.push_back(char(byte));
    }
  }
  while (row.size() % 4) row.push_back('\0');
  return row;
}

bool isSkipped(const BmpFile& file, int x, int y) {
  for (const auto& skip : file.skipped) {
    if (skip.first == x && skip.second == y) return true;
  }
  return false;
}

// One row of RLE data: runs of equal pixels as encoded runs, three or more unequal ones as an
// absolute run, and a skipped pixel as a delta of one column.
void encodeRleRow(const BmpFile& file, int y, std::string* out) {
  bool four = file.bitsPerPixel == 4;
  const uint32_t* pixels = file.pixels.data() + size_t(y) * size_t(file.width);
  int x = 0;
  while (x < file.width) {
    if (isSkipped(file, x, y)) {
      out->push_back(0);
      out->push_back(2);
      out->push_back(1);
      out->push_back(0);
      ++x;
      continue;
    }
    int run = 1;
    while (x + run < file.width && run < 255 && pixels[x + run] == pixels[x] &&
           !isSkipped(file, x + run, y)) {
      ++run;
    }
    int literal = 0;
    while (x + literal < file.width && literal < 255 && !isSkipped(file, x + literal, y) &&
           (literal + 1 >= file.width - x || pixels[x + literal] != pixels[x + literal + 1])) {
      ++literal;
    }
    if (run >= 2 || literal < 3) {
      int count = run >= 2 ? run : 1;
      out->push_back(char(count));
      uint32_t value = pixels[x];
      out->push_back(char(four ? ((value & 15) << 4) | (value & 15) : value));
      x += count;
    } else {
      out->push_back(0);
      out->push_back(char(literal));
      std::string data;
      for (int i = 0; i < literal; ++i) {
        uint32_t value = pixels[x + i];
        if (!four) {
          data.push_back(char(value));
        } else if (i % 2 == 0) {
          data.push_back(char((value & 15) << 4));
        } else {
          data.back() = char(data.back() | (value & 15));
        }
      }
      if (data.size() % 2) data.push_back('\0');
      *out += data;
      x += literal;
    }
  }
  out->push_back(0);
  out->push_back(0);  // end of line
}

}  // namespace

std::string encodeBmp(const BmpFile& file) {
  bool rle = file.compression == 1 || file.compression == 2;
  std::string data;
  for (int i = 0; i < file.height; ++i) {
    int y = file.topDown ? i : file.height - 1 - i;
    if (rle) {
      encodeRleRow(file, y, &data);
    } else {
      data += packedRow(file, y);
    }
  }
  if (rle) {
    data.push_back(0);
    data.push_back(1);  // end of bitmap
  }

  std::string header;
  bool core = file.headerSize == 12;
  int height = file.topDown ? -file.height : file.height;
  put32(&header, uint32_t(file.headerSize));
  if (core) {
    put16(&header, uint32_t(file.width));
    put16(&header, uint32_t(height));
    put16(&header, 1);
    put16(&header, uint32_t(file.bitsPerPixel));
  } else {
    put32(&header, uint32_t(file.width));
    put32(&header, uint32_t(height));
    put16(&header, 1);
    put16(&header, uint32_t(file.bitsPerPixel));
    put32(&header, file.compression);
    put32(&header, uint32_t(data.size()));
    put32(&header, 2835);
    put32(&header, 2835);
    put32(&header, uint32_t(file.palette.size()));
    put32(&header, 0);
    if (file.headerSize >= 108) {
      for (uint32_t mask : file.masks) put32(&header, mask);
      put32(&header, 0);           // alpha mask
      put32(&header, 0x73524742);  // 'sRGB'
      while (header.size() < size_t(file.headerSize)) put32(&header, 0);
      if (file.headerSize == 124) {
        header.resize(124 - 16);
        put32(&header, 4);  // LCS_GM_IMAGES
        put32(&header, 0);
        put32(&header, 0);
        put32(&header, 0);
      }
    }
  }
  std::string extra;
  if (file.headerSize == 40 && file.compression == 3) {
    for (uint32_t mask : file.masks) put32(&extra, mask);
  }
  std::string table;
  std::vector<uint32_t> palette = file.palette;
  // An OS/2 core table always has an entry for every pixel value.
  if (core && file.bitsPerPixel <= 8) palette.resize(size_t(1) << file.bitsPerPixel, 0);
  for (uint32_t color : palette) {
    table.push_back(char(color & 0xFF));
    table.push_back(char((color >> 8) & 0xFF));
    table.push_back(char((color >> 16) & 0xFF));
    if (!core) table.push_back('\0');
  }
  uint32_t offset = uint32_t(14 + header.size() + extra.size() + table.size());
  std::string bytes = "BM";
  put32(&bytes, offset + uint32_t(data.size()));
  put32(&bytes, 0);
  put32(&bytes, offset);
  return bytes + header + extra + table + data;
}
