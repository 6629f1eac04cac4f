// What only the Linux layer and its headless backend can show: fixed window metrics, window
// surfaces, story folders, the module name and which files are opened.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

// The window surface's width, height and bottom right pixel.
std::vector<int> surface(HWND window) {
  PixelView p;
  if (!lockWindowSurface(window, &p)) return {};
  std::vector<int> seen = {p.width, p.height, 0};
  if (p.width > 0 && p.height > 0)
    seen[2] =
        int(reinterpret_cast<const uint32_t*>(p.top + (p.height - 1) * p.rowStep)[p.width - 1]);
  unlockWindowSurface(window, false);
  return seen;
}

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    headlessReset();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "Plain";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, "Plain", "", WS_OVERLAPPED | WS_CAPTION, 100, 100, 640, 480,
                             nullptr, nullptr, nullptr, nullptr);  // no menu
  }
  void TearDown() override { headlessReset(); }
  HWND window;
};

// Moves are held within 16-bit coordinates and the maximum tracking size; the client area and
// the surface follow, inside the fixed frame and caption.
TEST_F(Headless, FixedMetricsAndMovesHeldToWhatWindowsAllows) {
  const LONG frame = headlessFrameWidth, caption = headlessCaptionHeight;
  const struct {
    int x, y, width, height;
    LONG left, top, right, bottom;
  } moves[] = {
      {100, 100, 640, 480, 100, 100, 740, 580},
      {2147483647, 0, 10, 10, 32767, 0, 32777, 10},
      {-2147483647 - 1, 5, 10, 10, -32768, 5, -32758, 15},
      {0, 0, 16384, 16384, 0, 0, headlessMaxTrackWidth, headlessMaxTrackHeight},
      {0, 0, -5, 2147483647, 0, 0, 0, headlessMaxTrackHeight},
  };
  for (const auto& m : moves) {
    ASSERT_TRUE(MoveWindow(window, m.x, m.y, m.width, m.height, TRUE));
    RECT r, c;
    GetWindowRect(window, &r), GetClientRect(window, &c);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::vector<int> s = surface(window);
    LONG width = std::max<LONG>(m.right - m.left - 2 * frame, 0);
    LONG height = std::max<LONG>(m.bottom - m.top - 2 * frame - caption, 0);
    EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right, r.bottom, origin.x, origin.y, c.right,
                                 c.bottom, s[0], s[1]}),
              std::vector<LONG>({m.left, m.top, m.right, m.bottom, m.left + frame,
                                 m.top + frame + caption, width, height, width, height}));
  }
}

std::atomic<DWORD> slept{0};

// A driven clock stops at each sleeper's wake-up on its way: Sleep(1) ends 1 ms later, however far
// the clock is moved at once.
TEST_F(Headless, TheDrivenClockWakesEachSleeperOnTime) {
  headlessDriveClock(true);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        DWORD start = timeGetTime();
        Sleep(1);
        return slept = timeGetTime() - start;
      },
      nullptr, 0, nullptr);
  headlessWaitIdle(), headlessAdvanceClock(0), headlessAdvanceClock(10);
  WaitForSingleObject(thread, INFINITE), CloseHandle(thread);
  EXPECT_EQ(slept.load(), 1u);
}

// A story outside the player's folder tree finds its files beside its script; inside the tree
// (through a link as well) the player's folder stands, and the player reports itself there.
TEST_F(Headless, StoryFolderIsTheScriptsOutsideThePlayersTree) {
  std::string root = tempDirectory() + "/stories";
  for (const char* folder : {"", "/player", "/player/sub", "/player2", "/other"}) {
    mkdir((root + folder).c_str(), 0755);
  }
  symlink((root + "/player").c_str(), (root + "/link").c_str());
  const std::pair<const char*, const char*> cases[] = {
      // script, folder below root or none
      {"/player/story.spt", nullptr},   {"/player/sub/story.spt", nullptr},
      {"/link/sub/story.spt", nullptr}, {"/player2/story.spt", "/player2"},
      {"/other/story.spt", "/other"},   {"/player/../other/story.spt", "/player/../other"},
      {"/missing/story.spt", nullptr},
  };
  for (const auto& [script, folder] : cases) {
    EXPECT_EQ(storyFolderFor(root + "/player/", root + script), folder ? root + folder : "");
  }
  char name[512];
  for (std::string script : {root + "/other/story.spt", std::string()}) {
    layerNoteOpenedScript(script);
    ASSERT_GT(GetModuleFileNameA(nullptr, name, sizeof name), 0u);
    EXPECT_EQ(std::string(name).rfind(root + "/other/test_platform", 0) == 0, !script.empty());
  }
  // Too small a buffer: cut and terminated as Windows since Vista does, ERROR_INSUFFICIENT_BUFFER.
  size_t cut = GetModuleFileNameA(nullptr, name, 4);
  EXPECT_EQ(std::vector<size_t>({cut, strlen(name), GetLastError()}),
            std::vector<size_t>({4, 3, 122}));
}

// A window DC draws into the window's surface, which stays whole while one thread resizes it and
// another draws into it.
TEST_F(Headless, WindowSurfacesStayWholeWhileResizedAndDrawnFromTwoThreads) {
  PixelCanvas picture = createCanvas(64, 64, 32);
  fillCanvas(picture, RGB(0x11, 0x22, 0x33));
  std::atomic<bool> done{false};
  auto blit = [&](int x, int y) {
    HDC dc = GetDC(window);
    bool drawn = BitBlt(dc, x, y, 64, 64, picture.dc, 0, 0, SRCCOPY);
    return ReleaseDC(window, dc) && drawn;
  };
  std::thread drawer([&] {
    for (int i = 0; i < 300; ++i) blit((i * 7) % 200, (i * 3) % 150);
    done = true;
  });
  for (int i = 0; !done || i < 50; ++i) {
    resizeWindowSurface(window, 100 + (i * 37) % 300, 80 + (i * 53) % 200);
  }
  drawer.join();
  resizeWindowSurface(window, 250, 180);
  EXPECT_TRUE(blit(200, 150));
  EXPECT_EQ(surface(window), std::vector<int>({250, 180, 0x112233}));  // clipped to the new size
  destroyCanvas(&picture);
}

// Story files are opened only when they are regular files, and the open never waits: a FIFO
// would hold the frame thread in its open for ever. A name that is not CP932 names no file, not
// the file whose name has U+FFFD in its place.
TEST_F(Headless, OnlyRegularFilesWithCp932NamesAreOpened) {
  std::string fifo = tempDirectory() + "/pipe.bmp";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  writeTempFile("\xEF\xBF\xBD.bmp", solidBmp(2, 2, 0x123456));
  for (const std::string& name : {fifo, tempDirectory() + "/\xFF.bmp", tempDirectory()}) {
    for (UINT type : {IMAGE_BITMAP, IMAGE_ICON}) {
      EXPECT_EQ(LoadImageA(nullptr, name.c_str(), type, 0, 0, LR_LOADFROMFILE), nullptr) << name;
    }
    EXPECT_EQ(openNamedFile(name.c_str(), "rb"), nullptr);
  }
}

}  // namespace
