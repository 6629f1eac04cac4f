// The end-to-end tests' helper. "assets STORY DIR" writes the story as the player reads scripts
// (CP932, CR LF) and the pictures, icon and sound it names, all made here, so the tests carry no
// third-party file. "compare A.png B.png" tells whether two pictures have the same pixels.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <iconv.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

void put16(std::string* out, size_t at, uint32_t value) {
  for (int i = 0; i < 2; ++i) (*out)[at + i] = (char)(value >> (8 * i));
}
void put32(std::string* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = (char)(value >> (8 * i));
}

bool writeFile(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

typedef uint32_t (*PixelFunction)(int x, int y);  // 0xRRGGBB

// A 24-bit bottom-up BMP.
std::string bmp(int width, int height, PixelFunction pixel) {
  int rowBytes = (width * 3 + 3) & ~3;
  std::string out(54 + (size_t)rowBytes * height, '\0');
  out[0] = 'B';
  out[1] = 'M';
  put32(&out, 2, (uint32_t)out.size());
  put32(&out, 10, 54);
  put32(&out, 14, 40);
  put32(&out, 18, (uint32_t)width);
  put32(&out, 22, (uint32_t)height);
  put16(&out, 26, 1);
  put16(&out, 28, 24);
  put32(&out, 34, (uint32_t)rowBytes * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t color = pixel(x, y);
      size_t at = 54 + (size_t)(height - 1 - y) * rowBytes + (size_t)x * 3;
      out[at] = (char)(color & 0xFF);
      out[at + 1] = (char)((color >> 8) & 0xFF);
      out[at + 2] = (char)((color >> 16) & 0xFF);
    }
  }
  return out;
}

constexpr uint32_t magenta = 0xFF00FF;

uint32_t background(int x, int y) {
  return (uint32_t)(160 + x * 80 / 640) << 16 | (uint32_t)(200 + y * 40 / 480) << 8 | 230u;
}

uint32_t sprite(int x, int y) {
  int dx = x - 32, dy = y - 32;
  if (dx * dx + dy * dy > 28 * 28) return magenta;
  return (dx * dx + dy * dy > 20 * 20) ? 0x203080 : 0x4060F0;
}

// Four 32x32 cells side by side, each a square of its own colour on magenta.
uint32_t strip(int x, int y) {
  static const uint32_t colors[4] = {0xE03030, 0x30C030, 0x3030E0, 0xE0C020};
  int inCell = x % 32;
  if (inCell < 4 || inCell >= 28 || y < 4 || y >= 28) return magenta;
  return colors[x / 32];
}

// A 16x16 icon, 32 bits per pixel, with its AND mask.
std::string icon() {
  const int size = 16;
  const size_t imageBytes = 40 + size * size * 4 + size * 4;
  std::string out(6 + 16 + imageBytes, '\0');
  put16(&out, 2, 1);  // icon
  put16(&out, 4, 1);  // one image
  out[6] = size;
  out[7] = size;
  put16(&out, 10, 1);
  put16(&out, 12, 32);
  put32(&out, 14, (uint32_t)imageBytes);
  put32(&out, 18, 22);
  size_t header = 22;
  put32(&out, header, 40);
  put32(&out, header + 4, size);
  put32(&out, header + 8, size * 2);
  put16(&out, header + 12, 1);
  put16(&out, header + 14, 32);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      size_t at = header + 40 + ((size_t)(size - 1 - y) * size + x) * 4;
      bool border = x == 0 || y == 0 || x == size - 1 || y == size - 1;
      uint32_t color = border ? 0x202020 : (x < 8 ? 0xF08020 : 0x2080F0);
      out[at] = (char)(color & 0xFF);
      out[at + 1] = (char)((color >> 8) & 0xFF);
      out[at + 2] = (char)(color >> 16);
      out[at + 3] = (char)0xFF;
    }
  }
  return out;  // the AND mask stays zero: every pixel opaque
}

// 8-bit mono PCM at 8 kHz: a tenth of a second of a square wave.
std::string wav() {
  const uint32_t samples = 800;
  std::string out(44 + samples, '\0');
  memcpy(&out[0], "RIFF", 4);
  put32(&out, 4, (uint32_t)out.size() - 8);
  memcpy(&out[8], "WAVEfmt ", 8);
  put32(&out, 16, 16);
  put16(&out, 20, 1);
  put16(&out, 22, 1);
  put32(&out, 24, 8000);
  put32(&out, 28, 8000);
  put16(&out, 32, 1);
  put16(&out, 34, 8);
  memcpy(&out[36], "data", 4);
  put32(&out, 40, samples);
  for (uint32_t i = 0; i < samples; ++i) out[44 + i] = (char)((i / 10) % 2 ? 0xC0 : 0x40);
  return out;
}

// The story's UTF-8 lines as CP932 with CR LF.
bool convertStory(const std::string& source, std::string* out) {
  FILE* file = fopen(source.c_str(), "rb");
  if (!file) return false;
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  fclose(file);
  iconv_t converter = iconv_open("CP932", "UTF-8");
  if (converter == (iconv_t)-1) return false;
  size_t start = 0;
  bool ok = true;
  while (start < text.size() && ok) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    std::vector<char> converted(line.size() * 2 + 4);
    char* in = &line[0];
    size_t inLeft = line.size();
    char* outPointer = converted.data();
    size_t outLeft = converted.size();
    ok = iconv(converter, &in, &inLeft, &outPointer, &outLeft) != (size_t)-1;
    out->append(converted.data(), outPointer - converted.data());
    *out += "\r\n";
  }
  iconv_close(converter);
  return ok;
}

int assets(const std::string& story, const std::string& directory) {
  std::string script;
  if (!convertStory(story, &script)) {
    fprintf(stderr, "e2e_tool: cannot convert %s\n", story.c_str());
    return 1;
  }
  bool ok = writeFile(directory + "/story.spt", script) &&
            writeFile(directory + "/back.bmp", bmp(640, 480, background)) &&
            writeFile(directory + "/sprite.bmp", bmp(64, 64, sprite)) &&
            writeFile(directory + "/strip.bmp", bmp(128, 32, strip)) &&
            writeFile(directory + "/icon.ico", icon()) && writeFile(directory + "/beep.wav", wav());
  if (!ok) fprintf(stderr, "e2e_tool: cannot write into %s\n", directory.c_str());
  return ok ? 0 : 1;
}

int compare(const char* a, const char* b) {
  GError* error = nullptr;
  GdkPixbuf* first = gdk_pixbuf_new_from_file(a, &error);
  if (!first) {
    fprintf(stderr, "e2e_tool: %s: %s\n", a, error->message);
    return 1;
  }
  GdkPixbuf* second = gdk_pixbuf_new_from_file(b, &error);
  if (!second) {
    fprintf(stderr, "e2e_tool: %s: %s\n", b, error->message);
    return 1;
  }
  int width = gdk_pixbuf_get_width(first), height = gdk_pixbuf_get_height(first);
  int channels = gdk_pixbuf_get_n_channels(first);
  if (width != gdk_pixbuf_get_width(second) || height != gdk_pixbuf_get_height(second) ||
      channels != gdk_pixbuf_get_n_channels(second)) {
    fprintf(stderr, "e2e_tool: %s and %s differ in size\n", a, b);
    return 1;
  }
  long differing = 0;
  for (int y = 0; y < height; ++y) {
    const guchar* rowA = gdk_pixbuf_get_pixels(first) + (size_t)y * gdk_pixbuf_get_rowstride(first);
    const guchar* rowB =
        gdk_pixbuf_get_pixels(second) + (size_t)y * gdk_pixbuf_get_rowstride(second);
    for (int x = 0; x < width; ++x) {
      if (memcmp(rowA + x * channels, rowB + x * channels, channels) != 0) ++differing;
    }
  }
  g_object_unref(first);
  g_object_unref(second);
  if (differing) fprintf(stderr, "e2e_tool: %s and %s differ in %ld pixels\n", a, b, differing);
  return differing ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "assets") == 0) return assets(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "compare") == 0) return compare(argv[2], argv[3]);
  fprintf(stderr, "usage: e2e_tool assets STORY.txt DIR | compare A.png B.png\n");
  return 2;
}
