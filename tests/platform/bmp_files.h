// BMP files made by the tests themselves, in every form LoadImageA reads: 1, 4, 8, 16, 24 and 32
// bits per pixel, RLE8 and RLE4, bit fields, bottom-up and top-down rows, OS/2 core, info, V4
// and V5 headers. Written from the file format's definition, independently of the loader.
#ifndef TORVANE_TESTS_PRESENTATION_BMP_FILES_H
#define TORVANE_TESTS_PRESENTATION_BMP_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

struct BmpFile {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 24;
  uint32_t compression = 0;       // BI_RGB, BI_RLE8, BI_RLE4 or BI_BITFIELDS
  int headerSize = 40;            // 12 OS/2 core, 40 info, 108 V4, 124 V5
  bool topDown = false;           // a negative height
  uint32_t masks[3] = {};         // red, green, blue, for BI_BITFIELDS
  std::vector<uint32_t> palette;  // 0x00RRGGBB entries
  std::vector<uint32_t> pixels;   // raw values, rows top-down: indices, 16-bit words, 0xRRGGBB
  // RLE only: (x, y) pixels to skip with a delta escape, left out of the data; at most one per row.
  std::vector<std::pair<int, int>> skipped;
};

// The file's bytes.
std::string encodeBmp(const BmpFile& file);
// Little-endian 16- and 32-bit values appended to a file's bytes.
void put16(std::string* out, uint32_t value);
void put32(std::string* out, uint32_t value);

#endif
