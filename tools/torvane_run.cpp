// torvane-run: the whole player on the headless window backend, driven by a schedule. It runs the
// real WinMain, message loop, window procedure and frame thread; it opens a script through
// File > Open, gives clicks, cursor positions and activation at chosen frames on a virtual clock,
// logs what the program shows (message boxes, title, icon, window moves, sounds, the close) and
// writes the virtual screen as PNG after chosen frames. Same command line, same output.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/windows_api.h"
#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "resources/menu.h"
#include "shell/shell.h"

namespace {

constexpr int exitEnded = 0;       // the program ended: its window closed
constexpr int exitUsage = 2;       // the command line or the files given were wrong
constexpr int exitFrameLimit = 3;  // --frames was reached with the window still open
constexpr int exitStalled = 4;     // no --frames, and the story waits for what no event gives
constexpr DWORD frameTicks = 31;   // a frame starts at the first reading > start + 30

struct ClientPoint {
  bool given;
  int x;
  int y;
};

struct ClickEvent {
  long frame;
  ClientPoint at;
};

struct CursorEvent {
  long frame;
  int x;
  int y;
};

struct InactiveSpan {
  long first;
  long last;
};

struct PngEvent {
  long frame;
  std::string file;
};

struct Options {
  std::string base;     // native directory treated as the executable's; empty: our own
  long frameLimit = 0;  // 0: none
  std::vector<ClickEvent> clicks;
  long clickEvery = 0;
  std::vector<CursorEvent> cursors;
  std::vector<InactiveSpan> inactive;
  std::vector<PngEvent> pngs;
  std::string logPath;
  std::string script;  // native path of the script
};

std::atomic<long> currentFrame{0};  // the frame whose tick ran last; 0 before the first
std::mutex logMutex;
FILE* logFile = nullptr;

// ---------------------------------------------------------------------------------------------
// The log: one JSON object per line, texts in UTF-8.

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

void writeLog(const std::string& fields) {
  std::lock_guard<std::mutex> hold(logMutex);
  if (!logFile) return;
  fprintf(logFile, "{\"frame\":%ld,%s}\n", currentFrame.load(), fields.c_str());
}

void onMessageBox(const HeadlessMessageBox& box) {
  writeLog("\"event\":\"messagebox\",\"caption\":" + jsonString(cp932ToUtf8(box.caption.c_str())) +
           ",\"text\":" + jsonString(cp932ToUtf8(box.text.c_str())));
}

void onWindowChange(HWND window, UINT change) {
  if (window != mainWindow) return;
  if (change == WM_DESTROY) {
    writeLog("\"event\":\"close\"");
    return;
  }
  HeadlessWindowState state;
  if (!headlessWindowState(window, &state)) return;
  if (change == WM_SETTEXT) {
    writeLog("\"event\":\"title\",\"text\":" + jsonString(cp932ToUtf8(state.title.c_str())));
  } else if (change == WM_SETICON) {
    writeLog(std::string("\"event\":\"icon\",\"set\":") + (state.hasSmallIcon ? "true" : "false"));
  } else if (change == WM_MOVE) {
    char fields[160];
    snprintf(
        fields, sizeof fields, "\"event\":\"move\",\"x\":%d,\"y\":%d,\"width\":%d,\"height\":%d",
        (int)state.outer.left, (int)state.outer.top, (int)(state.outer.right - state.outer.left),
        (int)(state.outer.bottom - state.outer.top));
    writeLog(fields);
  }
}

// bytes is the length of the image as the sound service noted it: the log never reads the image.
void onSound(LPCSTR sound, UINT flags, size_t imageLength) {
  char fields[120];
  snprintf(fields, sizeof fields, "\"event\":\"sound\",\"action\":\"%s\",\"bytes\":%zu",
           !sound ? "stop" : (flags & SND_LOOP) ? "loop" : "once", imageLength);
  writeLog(fields);
}

// ---------------------------------------------------------------------------------------------
// The picture

bool writePng(const std::string& path) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = virtualScreenWidth;
  info.bmiHeader.biHeight = -virtualScreenHeight;  // rows top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP copy = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dc || !copy || !bits) {
    if (copy) DeleteObject(copy);
    if (dc) DeleteDC(dc);
    return false;
  }
  HGDIOBJ old = SelectObject(dc, copy);
  const size_t pixelCount = (size_t)virtualScreenWidth * virtualScreenHeight;
  // No virtual screen (no script opened, or the program has ended): the window's white.
  if (virtualScreen.imageDC) {
    BitBlt(dc, 0, 0, virtualScreenWidth, virtualScreenHeight, virtualScreen.imageDC, 0, 0, SRCCOPY);
  } else {
    memset(bits, 0xFF, pixelCount * 4);
  }
  GdkPixbuf* picture =
      gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, virtualScreenWidth, virtualScreenHeight);
  guchar* rows = gdk_pixbuf_get_pixels(picture);
  int rowBytes = gdk_pixbuf_get_rowstride(picture);
  const uint32_t* source = static_cast<const uint32_t*>(bits);
  for (int y = 0; y < virtualScreenHeight; ++y) {
    for (int x = 0; x < virtualScreenWidth; ++x) {
      uint32_t pixel = source[(size_t)y * virtualScreenWidth + x];
      guchar* out = rows + (size_t)y * rowBytes + (size_t)x * 3;
      out[0] = (guchar)(pixel >> 16);
      out[1] = (guchar)(pixel >> 8);
      out[2] = (guchar)pixel;
    }
  }
  GError* error = nullptr;
  bool saved = gdk_pixbuf_save(picture, path.c_str(), "png", &error, nullptr);
  if (!saved) {
    fprintf(stderr, "torvane-run: cannot write %s: %s\n", path.c_str(),
            error ? error->message : "unknown error");
    g_clear_error(&error);
  }
  g_object_unref(picture);
  SelectObject(dc, old);
  DeleteObject(copy);
  DeleteDC(dc);
  return saved;
}

// ---------------------------------------------------------------------------------------------
// The command line

void usage(FILE* out) {
  fprintf(out,
          "usage: torvane-run [options] SCRIPT.spt\n"
          "  --base DIR          directory treated as the player's own (default: the script's,\n"
          "                      or torvane-run's when the script lies below it)\n"
          "  --frames N          stop after N frames (exit status 3); without it a story that\n"
          "                      waits for a click no event gives stops (exit status 4)\n"
          "  --click F[:X,Y]     left click before frame F, at client X,Y when given\n"
          "  --click-every N     a left click before every Nth frame\n"
          "  --cursor F:X,Y      move the cursor to client X,Y before frame F\n"
          "  --inactive F1-F2    the application is inactive from frame F1 to F2\n"
          "  --png F:FILE        write the 640x480 virtual screen after frame F\n"
          "  --log FILE          write events as JSON lines\n"
          "  --help, --version   print this help or the version and exit\n");
}

bool parseFrame(const char* text, long* frame, const char** rest) {
  char* end;
  long value = strtol(text, &end, 10);
  if (end == text || value < 1) return false;
  *frame = value;
  *rest = end;
  return true;
}

bool parsePoint(const char* text, int* x, int* y) {
  char* end;
  long a = strtol(text, &end, 10);
  if (end == text || *end != ',') return false;
  const char* second = end + 1;
  long b = strtol(second, &end, 10);
  if (end == second || *end != '\0') return false;
  *x = (int)a;
  *y = (int)b;
  return true;
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help") {
      usage(stdout);
      exit(exitEnded);
    }
    if (option == "--version") {
      printf("torvane-run %s\n", TORVANE_VERSION);
      exit(exitEnded);
    }
    bool hasValue = i + 1 < argc;
    const char* value = hasValue ? argv[i + 1] : "";
    const char* rest;
    if (option.rfind("--", 0) != 0) {
      if (!options->script.empty()) return false;
      options->script = option;
      continue;
    }
    if (!hasValue) return false;
    ++i;
    if (option == "--base") {
      options->base = value;
    } else if (option == "--frames") {
      if (!parseFrame(value, &options->frameLimit, &rest) || *rest) return false;
    } else if (option == "--click") {
      ClickEvent click = {};
      if (!parseFrame(value, &click.frame, &rest)) return false;
      if (*rest == ':') {
        if (!parsePoint(rest + 1, &click.at.x, &click.at.y)) return false;
        click.at.given = true;
      } else if (*rest) {
        return false;
      }
      options->clicks.push_back(click);
    } else if (option == "--click-every") {
      if (!parseFrame(value, &options->clickEvery, &rest) || *rest) return false;
    } else if (option == "--cursor") {
      CursorEvent cursor = {};
      if (!parseFrame(value, &cursor.frame, &rest) || *rest != ':') return false;
      if (!parsePoint(rest + 1, &cursor.x, &cursor.y)) return false;
      options->cursors.push_back(cursor);
    } else if (option == "--inactive") {
      InactiveSpan span = {};
      if (!parseFrame(value, &span.first, &rest) || *rest != '-') return false;
      if (!parseFrame(rest + 1, &span.last, &rest) || *rest || span.last < span.first) return false;
      options->inactive.push_back(span);
    } else if (option == "--png") {
      PngEvent png = {};
      if (!parseFrame(value, &png.frame, &rest) || *rest != ':' || !rest[1]) return false;
      png.file = rest + 1;
      // The player makes its own directory current: a relative name means the one we started in.
      if (png.file[0] != '/') {
        char here[PATH_MAX];
        if (!getcwd(here, sizeof here)) return false;
        png.file = std::string(here) + "/" + png.file;
      }
      options->pngs.push_back(png);
    } else if (option == "--log") {
      options->logPath = value;
    } else {
      return false;
    }
  }
  return !options->script.empty();
}

// A native path as an absolute CP932 Windows-side name, as the Open dialog would give it.
bool windowsName(const std::string& native, std::string* name) {
  char absolute[PATH_MAX];
  if (!realpath(native.c_str(), absolute)) return false;
  return utf8ToCp932(absolute, name);
}

// ---------------------------------------------------------------------------------------------
// The run

DWORD WINAPI runWinMain(LPVOID) {
  static char emptyCommandLine[] = "";
  return (DWORD)WinMain(GetModuleHandleA(nullptr), nullptr, emptyCommandLine, SW_SHOWDEFAULT);
}

LPARAM clientLParam(int x, int y) {
  return (LPARAM)((x & 0xFFFF) | ((y & 0xFFFF) << 16));
}

// What the schedule gives before a frame's tick: cursor moves, activation, clicks.
void deliverEvents(const Options& options, long frame) {
  HWND window = mainWindow;
  for (const CursorEvent& cursor : options.cursors) {
    if (cursor.frame != frame) continue;
    POINT point = {cursor.x, cursor.y};
    ClientToScreen(window, &point);
    SetCursorPos(point.x, point.y);
  }
  for (const InactiveSpan& span : options.inactive) {
    if (span.first == frame) PostMessageA(window, WM_ACTIVATEAPP, FALSE, 0);
    if (span.last + 1 == frame) PostMessageA(window, WM_ACTIVATEAPP, TRUE, 0);
  }
  std::vector<ClientPoint> clicks;
  for (const ClickEvent& click : options.clicks) {
    if (click.frame == frame) clicks.push_back(click.at);
  }
  if (options.clickEvery > 0 && frame % options.clickEvery == 0) clicks.push_back(ClientPoint{});
  for (const ClientPoint& at : clicks) {
    POINT point;
    if (at.given) {
      point = {at.x, at.y};
      POINT screen = point;
      ClientToScreen(window, &screen);
      SetCursorPos(screen.x, screen.y);
    } else {
      GetCursorPos(&point);
      ScreenToClient(window, &point);
    }
    PostMessageA(window, WM_LBUTTONDOWN, 1 /* MK_LBUTTON */, clientLParam(point.x, point.y));
    PostMessageA(window, WM_LBUTTONUP, 0, clientLParam(point.x, point.y));
  }
}

bool ended(HANDLE winMainThread) {
  return WaitForSingleObject(winMainThread, 0) == WAIT_OBJECT_0;
}

// The last frame before which or after which the schedule does something; clicks given every
// few frames never end.
long lastScheduledFrame(const Options& options) {
  long last = 0;
  for (const ClickEvent& click : options.clicks) last = std::max(last, click.frame);
  for (const CursorEvent& cursor : options.cursors) last = std::max(last, cursor.frame);
  for (const InactiveSpan& span : options.inactive) last = std::max(last, span.last + 1);
  for (const PngEvent& png : options.pngs) last = std::max(last, png.frame);
  return last;
}

// The node whose step made the script stop: the pending choice's if, a jmp (whose step began
// the frame: before), or else the node before the current one (a message or text_show line).
const CommandNode* waitingNode(const CommandNode* before) {
  if (lastCommandIndex == commandIndexIf) return currentCommand;
  if (lastCommandIndex == commandIndexJmp) return before;
  const CommandNode* node = commandList;
  while (node && node->next != currentCommand) node = node->next;
  return node;
}

// Between frames, with the frame thread waiting: true when the story can go no further without
// a click (or has nothing left to run), and then says where it stands on standard error.
bool reportStall(bool started, const CommandNode* before, long frame) {
  const char* problem = nullptr;
  if (!frameThread || WaitForSingleObject(frameThread, 0) == WAIT_OBJECT_0) {
    problem = "no script runs";
  } else if (scriptFinished) {
    return false;  // its WM_CLOSE is on its way
  } else if (runEnabled) {
    if (currentCommand) return false;
    problem = "the story has run past its last line without script_end";
  } else if (!started) {
    problem = "the story waits for its first click, and no scheduled event gives it";
  }
  if (problem) {
    fprintf(stderr, "torvane-run: after frame %ld %s (exit status %d)\n", frame, problem,
            exitStalled);
    return true;
  }
  const CommandNode* node = waitingNode(before);
  fprintf(stderr,
          "torvane-run: after frame %ld the story waits for %s at line %d of %s, and no "
          "scheduled event gives it (exit status %d)\n",
          frame, lastCommandIndex == commandIndexIf ? "a choice" : "a click",
          node ? node->lineNumber : 0, cp932ToUtf8(scriptPath).c_str(), exitStalled);
  return true;
}

int run(const Options& options, HANDLE winMainThread) {
  // Frame 1's events come after the Open: the new frame thread has compiled the script and
  // waits at its first clock reading until the clock is first advanced.
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  headlessWaitIdle();
  const bool mayStall = options.frameLimit == 0 && options.clickEvery == 0;
  const long lastEvent = lastScheduledFrame(options);
  bool started = false;  // some step of the script has run
  for (long frame = 1;; ++frame) {
    if (ended(winMainThread)) return exitEnded;
    if (options.frameLimit > 0 && frame > options.frameLimit) return exitFrameLimit;
    deliverEvents(options, frame);
    headlessWaitIdle();
    currentFrame = frame;
    const CommandNode* before = currentCommand;
    // The tick: the frame thread's wait ends when the clock reads 31 after the last start.
    headlessAdvanceClock(frame == 1 ? 0 : 1);
    for (const PngEvent& png : options.pngs) {
      if (png.frame == frame && !writePng(png.file)) return exitUsage;
    }
    if (ended(winMainThread)) return exitEnded;
    started = started || currentCommand != before;
    if (mayStall && frame >= lastEvent && reportStall(started, before, frame)) return exitStalled;
    headlessAdvanceClock(frameTicks - 1);  // up to the moment before the next tick
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Nobody listens to a headless run: sounds go to SDL's silent driver unless told otherwise.
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    usage(stderr);
    return exitUsage;
  }
  std::string scriptName;
  if (!windowsName(options.script, &scriptName)) {
    fprintf(stderr, "torvane-run: cannot use the script %s\n", options.script.c_str());
    return exitUsage;
  }
  if (!options.base.empty()) {
    std::string baseName;
    if (!windowsName(options.base, &baseName)) {
      fprintf(stderr, "torvane-run: cannot use the directory %s\n", options.base.c_str());
      return exitUsage;
    }
    // The player takes the executable's directory from its module name.
    headlessSetModuleFileName((baseName + "/torvane.exe").c_str());
  } else {
    // As the player does: a story outside our folder tree finds its files beside its script.
    char absolute[PATH_MAX];
    if (realpath(options.script.c_str(), absolute)) layerNoteOpenedScript(absolute);
  }
  if (!options.logPath.empty()) {
    logFile = fopen(options.logPath.c_str(), "wb");
    if (!logFile) {
      fprintf(stderr, "torvane-run: cannot write %s\n", options.logPath.c_str());
      return exitUsage;
    }
  }

  headlessSetMessageBoxHandler(onMessageBox);
  headlessSetWindowObserver(onWindowChange);
  layerSoundObserver = onSound;
  headlessSetOpenFileResult(scriptName.c_str());
  headlessDriveClock(true);

  HANDLE winMainThread = CreateThread(nullptr, 0, runWinMain, nullptr, 0, nullptr);
  headlessWaitIdle();
  int status;
  if (!mainWindow || ended(winMainThread)) {
    fprintf(stderr, "torvane-run: the player's window could not be made\n");
    status = exitUsage;
  } else {
    status = run(options, winMainThread);
  }

  {
    std::lock_guard<std::mutex> hold(logMutex);
    if (logFile) fclose(logFile);
    logFile = nullptr;
  }
  // A run stopped at its frame limit leaves the player running: its threads wait for ever on a
  // clock that no longer moves, and the process ends with them.
  fflush(stdout);
  _exit(status);
}
