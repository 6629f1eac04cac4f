// e2e_await_picture: waits until a window's client area on the X screen shows a picture.
//
//   e2e_await_picture WINDOW TOP LEFT RIGHT BOTTOM EXPECTED.png SECONDS [options]
//     --mask X,Y,W,H   leave this client rectangle out of the comparison (repeatable)
//     --fuzzy X,Y,W,H  compare this rectangle by the shape of its dark marks only (text drawn
//                      with other glyphs, as Wine draws it): the marks, blurred, must correlate
//                      with the expected ones by at least 0.85 at some small offset
//     --red X,Y,W,H    also require a pure red pixel (a highlighted choice) in this rectangle
//     --save FILE      on failure, write the last screenshot of the client area here
//     --changes X,Y,W,H  instead of waiting, watch this rectangle for SECONDS, looking as often
//                      as the screen can be read, and print how many times it changed and how
//                      many looks were taken
//
// The client area is the window's rectangle less TOP rows, LEFT and RIGHT columns and BOTTOM
// rows (menu bar, frame, caption), taken afresh at every look, since the window may move or
// grow. It must equal EXPECTED (the player's 640x480 virtual screen) drawn unscaled at its
// top-left corner on white, the window's background. Exit status 0 once it does, 1 when SECONDS
// passed first, 2 for a usage error. The desktop tests look about twenty times a second, so a
// moment that lasts is caught at once and nothing waits for a guessed time.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <math.h>

#include <algorithm>
#include <vector>

namespace {

struct Rect {
  int x;
  int y;
  int w;
  int h;
};

struct Shot {
  int width = 0;
  int height = 0;
  std::vector<unsigned> pixels;  // 0xRRGGBB
};

bool parseRect(const char* text, Rect* rect) {
  return sscanf(text, "%d,%d,%d,%d", &rect->x, &rect->y, &rect->w, &rect->h) == 4;
}

bool inside(const Rect& r, int x, int y) {
  return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int ignoreErrors(Display*, XErrorEvent*) {
  return 0;
}

// The client area as the screen shows it now; false when the window is gone or off screen.
bool takeShot(Display* display, Window window, const int margins[4], Shot* shot) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return false;
  int x = 0, y = 0;
  Window child;
  Window root = DefaultRootWindow(display);
  if (!XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) return false;
  x += margins[1];
  y += margins[0];
  int width = attributes.width - margins[1] - margins[2];
  int height = attributes.height - margins[0] - margins[3];
  int screenWidth = DisplayWidth(display, DefaultScreen(display));
  int screenHeight = DisplayHeight(display, DefaultScreen(display));
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || x + width > screenWidth ||
      y + height > screenHeight) {
    return false;
  }
  XImage* image = XGetImage(display, root, x, y, width, height, AllPlanes, ZPixmap);
  if (!image) return false;
  shot->width = width;
  shot->height = height;
  shot->pixels.resize(size_t(width) * height);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      shot->pixels[size_t(row) * width + column] =
          static_cast<unsigned>(XGetPixel(image, column, row)) & 0xFFFFFF;
    }
  }
  XDestroyImage(image);
  return true;
}

unsigned expectedAt(GdkPixbuf* expected, int x, int y) {
  if (x >= gdk_pixbuf_get_width(expected) || y >= gdk_pixbuf_get_height(expected)) {
    return 0xFFFFFF;  // beyond the virtual screen: the window's white background
  }
  const guchar* p = gdk_pixbuf_get_pixels(expected) + y * gdk_pixbuf_get_rowstride(expected) +
                    x * gdk_pixbuf_get_n_channels(expected);
  return (unsigned(p[0]) << 16) | (unsigned(p[1]) << 8) | p[2];
}

long differences(const Shot& shot, GdkPixbuf* expected, const std::vector<Rect>& masks) {
  long count = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      bool masked = false;
      for (const Rect& mask : masks) masked = masked || inside(mask, x, y);
      if (!masked && shot.pixels[size_t(y) * shot.width + x] != expectedAt(expected, x, y)) {
        ++count;
      }
    }
  }
  return count;
}

// Dark marks (text) of a rectangle, blurred: each value the share of dark pixels around it.
constexpr int markBlur = 3;         // pixels each way
constexpr int markLuminance = 160;  // darker than this is a mark (text on the light panel)
constexpr double markCorrelation = 0.85;
constexpr int markShift = 6;  // glyphs of another font may sit a few pixels lower or higher

std::vector<double> blurredMarks(const Rect& area, unsigned (*pixel)(const void*, int, int),
                                 const void* source) {
  std::vector<int> sums(size_t(area.w + 1) * (area.h + 1), 0);  // an integral image of marks
  for (int y = 0; y < area.h; ++y) {
    for (int x = 0; x < area.w; ++x) {
      unsigned p = pixel(source, area.x + x, area.y + y);
      int luminance =
          (299 * int(p >> 16) + 587 * int((p >> 8) & 0xFF) + 114 * int(p & 0xFF)) / 1000;
      int mark = luminance < markLuminance ? 1 : 0;
      sums[size_t(y + 1) * (area.w + 1) + x + 1] = mark + sums[size_t(y) * (area.w + 1) + x + 1] +
                                                   sums[size_t(y + 1) * (area.w + 1) + x] -
                                                   sums[size_t(y) * (area.w + 1) + x];
    }
  }
  std::vector<double> blurred(size_t(area.w) * area.h);
  for (int y = 0; y < area.h; ++y) {
    for (int x = 0; x < area.w; ++x) {
      int x0 = std::max(0, x - markBlur), x1 = std::min(area.w, x + markBlur + 1);
      int y0 = std::max(0, y - markBlur), y1 = std::min(area.h, y + markBlur + 1);
      int count = sums[size_t(y1) * (area.w + 1) + x1] - sums[size_t(y0) * (area.w + 1) + x1] -
                  sums[size_t(y1) * (area.w + 1) + x0] + sums[size_t(y0) * (area.w + 1) + x0];
      blurred[size_t(y) * area.w + x] = double(count) / ((x1 - x0) * (y1 - y0));
    }
  }
  return blurred;
}

unsigned shotPixel(const void* source, int x, int y) {
  const Shot* shot = static_cast<const Shot*>(source);
  if (x < 0 || y < 0 || x >= shot->width || y >= shot->height) return 0xFFFFFF;
  return shot->pixels[size_t(y) * shot->width + x];
}

unsigned expectedPixel(const void* source, int x, int y) {
  return expectedAt(static_cast<GdkPixbuf*>(const_cast<void*>(source)), x, y);
}

// Whether the rectangle shows the same marks as expected, give or take a few rows.
bool sameMarks(const Shot& shot, GdkPixbuf* expected, const Rect& area) {
  std::vector<double> a = blurredMarks(area, shotPixel, &shot);
  std::vector<double> b = blurredMarks(area, expectedPixel, expected);
  double inkA = 0, inkB = 0;
  for (double v : a) inkA += v;
  for (double v : b) inkB += v;
  if (inkA == 0 || inkB == 0) return inkA == inkB;  // no text where none is expected
  for (int shift = -markShift; shift <= markShift; ++shift) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    long n = 0;
    for (int y = std::max(0, -shift); y < std::min(area.h, area.h - shift); ++y) {
      for (int x = 0; x < area.w; ++x) {
        double va = a[size_t(y + shift) * area.w + x], vb = b[size_t(y) * area.w + x];
        sa += va, sb += vb, saa += va * va, sbb += vb * vb, sab += va * vb, ++n;
      }
    }
    double covariance = sab / n - (sa / n) * (sb / n);
    double spread = sqrt(std::max(0.0, saa / n - (sa / n) * (sa / n))) *
                    sqrt(std::max(0.0, sbb / n - (sb / n) * (sb / n)));
    if (spread > 0 && covariance / spread >= markCorrelation) return true;
  }
  return false;
}

bool hasRed(const Shot& shot, const Rect& area) {
  for (int y = std::max(0, area.y); y < std::min(shot.height, area.y + area.h); ++y) {
    for (int x = std::max(0, area.x); x < std::min(shot.width, area.x + area.w); ++x) {
      unsigned p = shot.pixels[size_t(y) * shot.width + x];
      if ((p >> 16) >= 0xE0 && ((p >> 8) & 0xFF) <= 0x40 && (p & 0xFF) <= 0x40) return true;
    }
  }
  return false;
}

std::vector<unsigned> part(const Shot& shot, const Rect& area) {
  std::vector<unsigned> pixels;
  for (int y = std::max(area.y, 0); y < std::min(area.y + area.h, shot.height); ++y) {
    for (int x = std::max(area.x, 0); x < std::min(area.x + area.w, shot.width); ++x) {
      pixels.push_back(shot.pixels[size_t(y) * shot.width + x]);
    }
  }
  return pixels;
}

void save(const Shot& shot, const char* path) {
  GdkPixbuf* out = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, shot.width, shot.height);
  for (int y = 0; y < shot.height; ++y) {
    guchar* row = gdk_pixbuf_get_pixels(out) + y * gdk_pixbuf_get_rowstride(out);
    for (int x = 0; x < shot.width; ++x) {
      unsigned p = shot.pixels[size_t(y) * shot.width + x];
      row[3 * x] = p >> 16;
      row[3 * x + 1] = (p >> 8) & 0xFF;
      row[3 * x + 2] = p & 0xFF;
    }
  }
  gdk_pixbuf_save(out, path, "png", nullptr, nullptr);
  g_object_unref(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) {
    fprintf(stderr,
            "usage: e2e_await_picture WINDOW TOP LEFT RIGHT BOTTOM EXPECTED.png SECONDS"
            " [--mask X,Y,W,H]... [--fuzzy X,Y,W,H]... [--red X,Y,W,H] [--save FILE]"
            " [--changes X,Y,W,H]\n");
    return 2;
  }
  Window window = strtoul(argv[1], nullptr, 0);
  int margins[4] = {atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5])};
  GError* error = nullptr;
  GdkPixbuf* expected = gdk_pixbuf_new_from_file(argv[6], &error);
  if (!expected) {
    fprintf(stderr, "e2e_await_picture: %s\n", error ? error->message : argv[6]);
    return 2;
  }
  double seconds = atof(argv[7]);
  std::vector<Rect> masks;
  std::vector<Rect> fuzzy;
  bool wantRed = false;
  Rect red = {};
  const char* savePath = nullptr;
  bool watch = false;
  Rect watched = {};
  for (int i = 8; i < argc; ++i) {
    Rect rect;
    if (!strcmp(argv[i], "--mask") && i + 1 < argc && parseRect(argv[i + 1], &rect)) {
      masks.push_back(rect);
    } else if (!strcmp(argv[i], "--fuzzy") && i + 1 < argc && parseRect(argv[i + 1], &rect)) {
      masks.push_back(rect);  // not compared pixel by pixel
      fuzzy.push_back(rect);
    } else if (!strcmp(argv[i], "--red") && i + 1 < argc && parseRect(argv[i + 1], &red)) {
      wantRed = true;
    } else if (!strcmp(argv[i], "--changes") && i + 1 < argc && parseRect(argv[i + 1], &watched)) {
      watch = true;
    } else if (!strcmp(argv[i], "--save") && i + 1 < argc) {
      savePath = argv[i + 1];
    } else {
      fprintf(stderr, "e2e_await_picture: bad option %s\n", argv[i]);
      return 2;
    }
    ++i;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    fprintf(stderr, "e2e_await_picture: no display\n");
    return 2;
  }
  XSetErrorHandler(ignoreErrors);  // the window may go away while we look

  double deadline = now() + seconds;
  Shot shot;
  if (watch) {
    std::vector<unsigned> last;
    int changes = 0, looks = 0;
    while (now() < deadline) {
      if (!takeShot(display, window, margins, &shot)) continue;
      std::vector<unsigned> pixels = part(shot, watched);
      if (looks++ > 0 && pixels != last) ++changes;
      last.swap(pixels);
    }
    printf("%d %d\n", changes, looks);
    return 0;
  }
  long differing = -1;
  bool redSeen = false;
  bool marksAlike = false;
  for (;;) {
    if (takeShot(display, window, margins, &shot)) {
      differing = differences(shot, expected, masks);
      redSeen = !wantRed || hasRed(shot, red);
      marksAlike = true;
      for (const Rect& area : fuzzy) marksAlike = marksAlike && sameMarks(shot, expected, area);
      if (differing == 0 && redSeen && marksAlike) return 0;
    }
    if (now() > deadline) break;
    struct timespec pause = {0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  fprintf(stderr, "e2e_await_picture: after %.0f s, %ld pixels differ from %s%s%s\n", seconds,
          differing, argv[6], redSeen ? "" : ", no choice is red",
          marksAlike ? "" : ", the text is not the same");
  if (savePath && shot.width > 0) save(shot, savePath);
  return 1;
}
