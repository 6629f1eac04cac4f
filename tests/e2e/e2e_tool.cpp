// The end-to-end tests' helper, one command per run:
//   assets DIR             writes the pictures, icon and sound that the e2e story names
//   compare A.png B.png    exit 0 when the two pictures have the same size and pixels, else 1
//   await WINDOW TOP LEFT RIGHT BOTTOM EXPECTED.png SECONDS [options]: exit 0 once the X
//       window's client area (less these margins) shows EXPECTED at its top-left corner on
//       white, 1 when SECONDS passed first, 2 for a usage error. Options, with a rect X,Y,W,H:
//     --mask    left out of the comparison (repeatable)
//     --fuzzy   only the shape of its dark marks (text in Wine's glyphs): blurred, they must
//               correlate with the expected ones by 0.85 at a small vertical offset (repeatable)
//     --changes instead, print how often it changed in SECONDS and how many looks were taken
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <math.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <vector>

#include "support/test_support.h"

namespace {

int assets(const std::string& directory) {
  auto background = [](int x, int y) { return RGB(160 + x * 80 / 640, 200 + y * 40 / 480, 230); };
  auto sprite = [](int x, int y) {  // a blue disc with a dark rim on magenta
    int d = (x - 32) * (x - 32) + (y - 32) * (y - 32);
    COLORREF inside = d > 20 * 20 ? RGB(0x20, 0x30, 0x80) : RGB(0x40, 0x60, 0xF0);
    return d > 28 * 28 ? RGB(255, 0, 255) : inside;
  };
  auto strip = [](int x, int y) {  // four 32x32 cells, each a square of its own colour on magenta
    const COLORREF colors[4] = {RGB(0xE0, 0x30, 0x30), RGB(0x30, 0xC0, 0x30),
                                RGB(0x30, 0x30, 0xE0), RGB(0xE0, 0xC0, 0x20)};
    return x % 32 < 4 || x % 32 >= 28 || y < 4 || y >= 28 ? RGB(255, 0, 255) : colors[x / 32];
  };
  const std::pair<const char*, std::string> files[] = {{"back.bmp", bmpFile(640, 480, background)},
                                                       {"sprite.bmp", bmpFile(64, 64, sprite)},
                                                       {"strip.bmp", bmpFile(128, 32, strip)},
                                                       {"icon.ico", icoFile()},
                                                       {"beep.wav", wavFile(800)}};
  for (const auto& [name, bytes] : files) {
    FILE* out = fopen((directory + "/" + name).c_str(), "wb");
    if (!out || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0)
      return perror(name), 1;
  }
  return 0;
}

struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
};

uint32_t pixelAt(const Picture& picture, int x, int y) {  // white outside the picture
  if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return 0xFFFFFF;
  return picture.pixels[size_t(y) * picture.width + x];
}

bool loadPng(const char* path, Picture* picture) {
  GdkPixbuf* image = gdk_pixbuf_new_from_file(path, nullptr);
  if (!image) return fprintf(stderr, "e2e_tool: cannot read %s\n", path), false;
  picture->width = gdk_pixbuf_get_width(image), picture->height = gdk_pixbuf_get_height(image);
  int stride = gdk_pixbuf_get_rowstride(image), channels = gdk_pixbuf_get_n_channels(image);
  for (int y = 0; y < picture->height; ++y) {
    const guchar* row = gdk_pixbuf_get_pixels(image) + y * stride;
    for (const guchar* p = row; p < row + picture->width * channels; p += channels)
      picture->pixels.push_back(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
  }
  g_object_unref(image);
  return true;
}

int compare(const char* a, const char* b) {
  Picture first, second;
  if (!loadPng(a, &first) || !loadPng(b, &second)) return 1;
  if (first.width == second.width && first.pixels == second.pixels) return 0;
  return fprintf(stderr, "e2e_tool: %s and %s differ\n", a, b), 1;
}

struct Rect {
  int x, y, w, h;
  bool holds(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// The client area as the screen shows it now; false when the window is gone or off screen.
bool takeShot(Display* display, Window window, const int margins[4], Picture* shot) {
  XWindowAttributes attributes;
  int x, y, screen = DefaultScreen(display);
  Window child, root = DefaultRootWindow(display);
  if (!XGetWindowAttributes(display, window, &attributes) ||
      !XTranslateCoordinates(display, window, root, margins[1], margins[0], &x, &y, &child))
    return false;
  int width = attributes.width - margins[1] - margins[2];
  int height = attributes.height - margins[0] - margins[3];
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || x + width > DisplayWidth(display, screen) ||
      y + height > DisplayHeight(display, screen))
    return false;
  XImage* image = XGetImage(display, root, x, y, width, height, AllPlanes, ZPixmap);
  if (!image) return false;
  *shot = Picture{width, height, {}};
  for (int i = 0; i < width * height; ++i)
    shot->pixels.push_back(XGetPixel(image, i % width, i / width) & 0xFFFFFF);
  XDestroyImage(image);
  return true;
}

// The dark marks (text on the light panel) of a rectangle, blurred: each value the share of
// dark pixels among those at most markBlur away each way. Other glyphs sit up to markShift lower.
constexpr int markBlur = 3, markShift = 6;

std::vector<double> blurredMarks(const Picture& picture, const Rect& area) {
  std::vector<double> blurred;
  for (int y = 0; y < area.h; ++y) {
    for (int x = 0; x < area.w; ++x) {
      int dark = 0, all = 0;
      for (int ny = std::max(0, y - markBlur); ny <= std::min(area.h - 1, y + markBlur); ++ny) {
        for (int nx = std::max(0, x - markBlur); nx <= std::min(area.w - 1, x + markBlur); ++nx) {
          uint32_t p = pixelAt(picture, area.x + nx, area.y + ny);
          dark += (299 * (p >> 16) + 587 * ((p >> 8) & 0xFF) + 114 * (p & 0xFF)) / 1000 < 160;
          ++all;
        }
      }
      blurred.push_back(double(dark) / all);
    }
  }
  return blurred;
}

bool sameMarks(const Picture& shot, const Picture& expected, const Rect& area) {
  std::vector<double> a = blurredMarks(shot, area), b = blurredMarks(expected, area);
  if (*std::max_element(a.begin(), a.end()) == 0 || *std::max_element(b.begin(), b.end()) == 0)
    return a == b;  // no text where none is expected
  for (int shift = -markShift; shift <= markShift; ++shift) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
    for (int y = std::max(0, -shift); y < std::min(area.h, area.h - shift); ++y) {
      for (int x = 0; x < area.w; ++x) {
        double va = a[size_t(y + shift) * area.w + x], vb = b[size_t(y) * area.w + x];
        sa += va, sb += vb, saa += va * va, sbb += vb * vb, sab += va * vb, ++n;
      }
    }
    double spread = sqrt(std::max(0.0, saa / n - sa * sa / n / n)) *
                    sqrt(std::max(0.0, sbb / n - sb * sb / n / n));
    if (spread > 0 && (sab / n - (sa / n) * (sb / n)) / spread >= 0.85) return true;
  }
  return false;
}

int await(int argc, char** argv) {
  std::map<std::string, std::vector<Rect>> rects;  // by option
  bool usable = argc >= 9;
  const std::set<std::string> options = {"--mask", "--fuzzy", "--changes"};
  for (int i = 9; i < argc && usable; i += 2) {
    Rect rect{};
    usable = i + 1 < argc && options.count(argv[i]) &&
             sscanf(argv[i + 1], "%d,%d,%d,%d", &rect.x, &rect.y, &rect.w, &rect.h) == 4;
    rects[argv[i]].push_back(rect);
  }
  std::vector<Rect> fuzzy = rects["--fuzzy"], watched = rects["--changes"], masks = rects["--mask"];
  masks.insert(masks.end(), fuzzy.begin(), fuzzy.end());  // compared apart
  Picture expected, shot;
  Display* display = usable ? XOpenDisplay(nullptr) : nullptr;
  if (!display || !loadPng(argv[7], &expected))
    return fprintf(stderr, "e2e_tool: await takes its arguments and rectangles, on a display\n"), 2;
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // the window may go away
  Window window = strtoul(argv[2], nullptr, 0);
  int margins[4] = {atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6])};
  double seconds = atof(argv[8]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  long differing = -1;
  int changes = 0, looks = 0;
  bool marksAlike = false;
  std::vector<uint32_t> last;
  while (std::chrono::steady_clock::now() < deadline) {
    bool shown = takeShot(display, window, margins, &shot);
    if (!watched.empty()) {
      std::vector<uint32_t> pixels;
      const Rect& area = watched[0];
      for (int i = 0; shown && i < area.w * area.h; ++i)
        pixels.push_back(pixelAt(shot, area.x + i % area.w, area.y + i / area.w));
      if (shown) changes += looks++ > 0 && pixels != last, last.swap(pixels);
      continue;
    }
    differing = shown ? 0 : -1, marksAlike = true;
    for (int i = 0; shown && i < shot.width * shot.height; ++i) {
      int x = i % shot.width, y = i / shot.width;
      bool masked = std::any_of(masks.begin(), masks.end(), [&](Rect m) { return m.holds(x, y); });
      differing += !masked && pixelAt(shot, x, y) != pixelAt(expected, x, y);
    }
    for (const Rect& area : fuzzy)
      marksAlike = marksAlike && shown && sameMarks(shot, expected, area);
    if (differing == 0 && marksAlike) return 0;
    usleep(50000);
  }
  if (!watched.empty()) return printf("%d %d\n", changes, looks), 0;
  fprintf(stderr, "e2e_tool: after %.0f s, %ld pixels differ from %s%s\n", seconds, differing,
          argv[7], marksAlike ? "" : ", the text differs");
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
