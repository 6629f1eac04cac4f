// The end-to-end tests' helper, one command per run:
//   assets DIR             writes the pictures, icon and sound the e2e story names, all made here,
//                          so the tests carry no third-party file
//   compare A.png B.png    exit 0 when the two pictures have the same pixels, else 1
//   await WINDOW TOP LEFT RIGHT BOTTOM EXPECTED.png SECONDS [options]
//       waits until the X window's client area (the window less TOP rows, LEFT and RIGHT columns
//       and BOTTOM rows, taken afresh at every look as the window may move or grow) shows
//       EXPECTED unscaled at its top-left corner on white, the window's background. It looks
//       about twenty times a second: exit 0 once it does, 1 when SECONDS passed first, 2 for a
//       usage error. Options, each with a client rectangle X,Y,W,H but --save:
//     --mask    left out of the comparison (repeatable)
//     --fuzzy   compared by the shape of its dark marks only (text drawn with other glyphs, as
//               Wine draws it): blurred, they must correlate with the expected ones by 0.85 at
//               some small vertical offset (repeatable)
//     --red     must also hold a pure red pixel (a highlighted choice)
//     --changes instead of waiting, watch it for SECONDS, looking as often as the screen can be
//               read, and print how many times it changed and how many looks were taken
//     --save FILE  on failure, the last look is written here
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

void putLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += (char)(value >> (8 * i));
}

// A 24-bit bottom-up BMP; pixel gives 0xRRGGBB.
std::string bmp(int width, int height, uint32_t (*pixel)(int x, int y)) {
  int padding = (4 - width * 3 % 4) % 4, imageBytes = (width * 3 + padding) * height;
  std::string out = "BM";
  putLe(out, 54 + imageBytes, 4), putLe(out, 0, 4), putLe(out, 54, 4), putLe(out, 40, 4);
  putLe(out, width, 4), putLe(out, height, 4), putLe(out, 1, 2), putLe(out, 24, 2);
  putLe(out, 0, 4), putLe(out, imageBytes, 4);
  out.resize(54, '\0');
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) putLe(out, pixel(x, y), 3);  // blue, green, red
    out.append(padding, '\0');
  }
  return out;
}

uint32_t background(int x, int y) {
  return (uint32_t)(160 + x * 80 / 640) << 16 | (uint32_t)(200 + y * 40 / 480) << 8 | 230u;
}

uint32_t sprite(int x, int y) {  // a blue disc with a dark rim on magenta
  int d = (x - 32) * (x - 32) + (y - 32) * (y - 32);
  return d > 28 * 28 ? 0xFF00FF : d > 20 * 20 ? 0x203080 : 0x4060F0;
}

uint32_t strip(int x, int y) {  // four 32x32 cells, each a square of its own colour on magenta
  static const uint32_t colors[4] = {0xE03030, 0x30C030, 0x3030E0, 0xE0C020};
  return x % 32 < 4 || x % 32 >= 28 || y < 4 || y >= 28 ? 0xFF00FF : colors[x / 32];
}

// A 16x16 icon, 32 bits per pixel, every pixel opaque (its AND mask all zero).
std::string icon() {
  std::string out;
  putLe(out, 0, 2), putLe(out, 1, 2), putLe(out, 1, 2);  // an icon file of one image
  putLe(out, 16, 1), putLe(out, 16, 1), putLe(out, 0, 2), putLe(out, 1, 2), putLe(out, 32, 2);
  putLe(out, 40 + 16 * 16 * 4 + 16 * 4, 4), putLe(out, 22, 4);
  putLe(out, 40, 4), putLe(out, 16, 4), putLe(out, 32, 4), putLe(out, 1, 2), putLe(out, 32, 2);
  out.resize(22 + 40, '\0');
  for (int y = 15; y >= 0; --y) {
    for (int x = 0; x < 16; ++x) {
      bool border = x == 0 || y == 0 || x == 15 || y == 15;
      putLe(out, 0xFF000000u | (border ? 0x202020 : x < 8 ? 0xF08020 : 0x2080F0), 4);
    }
  }
  return out + std::string(16 * 4, '\0');
}

// 8-bit mono PCM at 8 kHz: a tenth of a second of a square wave.
std::string wav() {
  std::string out = "RIFF";
  putLe(out, 36 + 800, 4);
  out += "WAVEfmt ";
  putLe(out, 16, 4), putLe(out, 1, 2), putLe(out, 1, 2), putLe(out, 8000, 4);
  putLe(out, 8000, 4), putLe(out, 1, 2), putLe(out, 8, 2);
  out += "data";
  putLe(out, 800, 4);
  for (int i = 0; i < 800; ++i) out += (char)((i / 10) % 2 ? 0xC0 : 0x40);
  return out;
}

int assets(const std::string& directory) {
  const std::pair<const char*, std::string> files[] = {
      {"back.bmp", bmp(640, 480, background)}, {"sprite.bmp", bmp(64, 64, sprite)},
      {"strip.bmp", bmp(128, 32, strip)},      {"icon.ico", icon()},
      {"beep.wav", wav()}};
  for (const auto& file : files) {
    FILE* out = fopen((directory + "/" + file.first).c_str(), "wb");
    bool written = out && fwrite(file.second.data(), 1, file.second.size(), out) == file.second.size();
    if ((out && fclose(out) != 0) || !written) {
      fprintf(stderr, "e2e_tool: cannot write %s into %s\n", file.first, directory.c_str());
      return 1;
    }
  }
  return 0;
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
};

// White, the window's background, outside the picture.
uint32_t pixelAt(const Picture& picture, int x, int y) {
  if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return 0xFFFFFF;
  return picture.pixels[size_t(y) * picture.width + x];
}

bool loadPng(const char* path, Picture* picture) {
  GError* error = nullptr;
  GdkPixbuf* image = gdk_pixbuf_new_from_file(path, &error);
  if (!image) {
    fprintf(stderr, "e2e_tool: %s: %s\n", path, error ? error->message : "unreadable");
    return false;
  }
  picture->width = gdk_pixbuf_get_width(image), picture->height = gdk_pixbuf_get_height(image);
  for (int y = 0; y < picture->height; ++y) {
    for (int x = 0; x < picture->width; ++x) {
      const guchar* p = gdk_pixbuf_get_pixels(image) + y * gdk_pixbuf_get_rowstride(image) +
                        x * gdk_pixbuf_get_n_channels(image);
      picture->pixels.push_back(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
  }
  g_object_unref(image);
  return true;
}

int compare(const char* a, const char* b) {
  Picture first, second;
  if (!loadPng(a, &first) || !loadPng(b, &second)) return 1;
  long differing = 0;
  for (size_t i = 0; i < first.pixels.size() && i < second.pixels.size(); ++i)
    differing += first.pixels[i] != second.pixels[i];
  if (first.width != second.width || first.height != second.height) {
    fprintf(stderr, "e2e_tool: %s and %s differ in size\n", a, b);
    return 1;
  }
  if (differing) fprintf(stderr, "e2e_tool: %s and %s differ in %ld pixels\n", a, b, differing);
  return differing ? 1 : 0;
}

struct Rect {
  int x, y, w, h;
};

// The client area as the screen shows it now; false when the window is gone or off screen.
bool takeShot(Display* display, Window window, const int margins[4], Picture* shot) {
  XWindowAttributes attributes;
  int x = 0, y = 0;
  Window child, root = DefaultRootWindow(display);
  if (!XGetWindowAttributes(display, window, &attributes) ||
      !XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) {
    return false;
  }
  x += margins[1], y += margins[0];
  int width = attributes.width - margins[1] - margins[2];
  int height = attributes.height - margins[0] - margins[3];
  if (width <= 0 || height <= 0 || x < 0 || y < 0 ||
      x + width > DisplayWidth(display, DefaultScreen(display)) ||
      y + height > DisplayHeight(display, DefaultScreen(display))) {
    return false;
  }
  XImage* image = XGetImage(display, root, x, y, width, height, AllPlanes, ZPixmap);
  if (!image) return false;
  shot->width = width, shot->height = height;
  shot->pixels.clear();
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column)
      shot->pixels.push_back(XGetPixel(image, column, row) & 0xFFFFFF);
  }
  XDestroyImage(image);
  return true;
}

// The dark marks (text on the light panel) of a rectangle, blurred: each value the share of
// dark pixels among those at most markBlur away each way.
constexpr int markBlur = 3;
constexpr int markShift = 6;  // glyphs of another font may sit a few pixels lower or higher

std::vector<double> blurredMarks(const Picture& picture, const Rect& area) {
  std::vector<double> blurred(size_t(area.w) * area.h, 0.0);
  for (int y = 0; y < area.h; ++y) {
    for (int x = 0; x < area.w; ++x) {
      uint32_t p = pixelAt(picture, area.x + x, area.y + y);
      if ((299 * (p >> 16) + 587 * ((p >> 8) & 0xFF) + 114 * (p & 0xFF)) / 1000 >= 160) continue;
      for (int ny = std::max(0, y - markBlur); ny <= std::min(area.h - 1, y + markBlur); ++ny) {
        for (int nx = std::max(0, x - markBlur); nx <= std::min(area.w - 1, x + markBlur); ++nx) {
          int across = std::min(area.w, nx + markBlur + 1) - std::max(0, nx - markBlur);
          int down = std::min(area.h, ny + markBlur + 1) - std::max(0, ny - markBlur);
          blurred[size_t(ny) * area.w + nx] += 1.0 / (across * down);
        }
      }
    }
  }
  return blurred;
}

bool sameMarks(const Picture& shot, const Picture& expected, const Rect& area) {
  std::vector<double> a = blurredMarks(shot, area), b = blurredMarks(expected, area);
  double inkA = 0, inkB = 0;
  for (size_t i = 0; i < a.size(); ++i) inkA += a[i], inkB += b[i];
  if (inkA == 0 || inkB == 0) return inkA == inkB;  // no text where none is expected
  for (int shift = -markShift; shift <= markShift; ++shift) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
    for (int y = std::max(0, -shift); y < std::min(area.h, area.h - shift); ++y) {
      for (int x = 0; x < area.w; ++x) {
        double va = a[size_t(y + shift) * area.w + x], vb = b[size_t(y) * area.w + x];
        sa += va, sb += vb, saa += va * va, sbb += vb * vb, sab += va * vb, ++n;
      }
    }
    double spread = sqrt(std::max(0.0, saa / n - (sa / n) * (sa / n))) *
                    sqrt(std::max(0.0, sbb / n - (sb / n) * (sb / n)));
    if (spread > 0 && (sab / n - (sa / n) * (sb / n)) / spread >= 0.85) return true;
  }
  return false;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int ignoreErrors(Display*, XErrorEvent*) {
  return 0;
}

int await(int argc, char** argv) {
  std::vector<Rect> masks, fuzzy;  // fuzzy rectangles are masks as well
  Rect red = {0, 0, 0, 0}, watched = {0, 0, 0, 0};
  bool wantRed = false, watch = false, usable = argc >= 9;
  const char* savePath = nullptr;
  for (int i = 9; i < argc && usable; i += 2) {
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    Rect rect;
    bool isRect = sscanf(value, "%d,%d,%d,%d", &rect.x, &rect.y, &rect.w, &rect.h) == 4;
    if (!strcmp(argv[i], "--save") && *value) {
      savePath = value;
    } else if (isRect && (!strcmp(argv[i], "--mask") || !strcmp(argv[i], "--fuzzy"))) {
      masks.push_back(rect);
      if (argv[i][2] == 'f') fuzzy.push_back(rect);
    } else if (isRect && !strcmp(argv[i], "--red")) {
      wantRed = true, red = rect;
    } else if (isRect && !strcmp(argv[i], "--changes")) {
      watch = true, watched = rect;
    } else {
      usable = false;
    }
  }
  Picture expected, shot;
  Display* display = usable ? XOpenDisplay(nullptr) : nullptr;
  if (!display || !loadPng(argv[7], &expected)) {
    fprintf(stderr, "usage: e2e_tool await WINDOW TOP LEFT RIGHT BOTTOM EXPECTED.png SECONDS "
                    "[--mask|--fuzzy|--red|--changes X,Y,W,H]... [--save FILE], on a display\n");
    return 2;
  }
  XSetErrorHandler(ignoreErrors);  // the window may go away while we look
  Window window = strtoul(argv[2], nullptr, 0);
  int margins[4] = {atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6])};
  double seconds = atof(argv[8]), deadline = now() + seconds;
  long differing = -1;
  int changes = 0, looks = 0;
  bool redSeen = false, marksAlike = false;
  std::vector<uint32_t> last;
  while (now() < deadline) {
    bool shown = takeShot(display, window, margins, &shot);
    if (shown && watch) {
      std::vector<uint32_t> pixels;
      for (int y = watched.y; y < watched.y + watched.h; ++y) {
        for (int x = watched.x; x < watched.x + watched.w; ++x) pixels.push_back(pixelAt(shot, x, y));
      }
      changes += looks++ > 0 && pixels != last;
      last.swap(pixels);
    }
    if (watch) continue;
    differing = shown ? 0 : -1, redSeen = !wantRed, marksAlike = true;
    for (int y = 0; y < shot.height && shown; ++y) {
      for (int x = 0; x < shot.width; ++x) {
        bool masked = false;
        for (const Rect& m : masks) masked |= x >= m.x && x < m.x + m.w && y >= m.y && y < m.y + m.h;
        uint32_t p = pixelAt(shot, x, y);
        differing += !masked && p != pixelAt(expected, x, y);
        redSeen |= x >= red.x && x < red.x + red.w && y >= red.y && y < red.y + red.h &&
                   p >> 16 >= 0xE0 && ((p >> 8) & 0xFF) <= 0x40 && (p & 0xFF) <= 0x40;
      }
    }
    for (const Rect& area : fuzzy) marksAlike = marksAlike && shown && sameMarks(shot, expected, area);
    if (differing == 0 && redSeen && marksAlike) return 0;
    struct timespec pause = {0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  if (watch) {
    printf("%d %d\n", changes, looks);
    return 0;
  }
  fprintf(stderr, "e2e_tool: after %.0f s, %ld pixels differ from %s%s%s\n", seconds, differing,
          argv[7], redSeen ? "" : ", no choice is red", marksAlike ? "" : ", the text is not the same");
  if (savePath && shot.width > 0) {
    GdkPixbuf* out = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, shot.width, shot.height);
    for (int y = 0; y < shot.height; ++y) {
      guchar* row = gdk_pixbuf_get_pixels(out) + y * gdk_pixbuf_get_rowstride(out);
      for (int x = 0; x < shot.width; ++x) {
        uint32_t p = pixelAt(shot, x, y);
        row[3 * x] = p >> 16, row[3 * x + 1] = p >> 8, row[3 * x + 2] = p;
      }
    }
    gdk_pixbuf_save(out, savePath, "png", nullptr, nullptr);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "assets") == 0) return assets(argv[2]);
  if (argc == 4 && strcmp(argv[1], "compare") == 0) return compare(argv[2], argv[3]);
  if (argc >= 2 && strcmp(argv[1], "await") == 0) return await(argc, argv);
  fprintf(stderr, "usage: e2e_tool assets DIR | compare A.png B.png | await ...\n");
  return 2;
}
