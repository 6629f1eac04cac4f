// The image slots: slot numbers, the load-failure message, what a failed reload and a reset
// leave, GDI objects kept, and the mask and masked image of a keyed picture.
#include <string>
#include <vector>

#include "presentation_fixture.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF, nearMagenta = 0xFE00FF;  // blue 0xFE: not the key

class Slots : public PresentationTest {
 protected:
  // The one message box shown since the last check is the load failure for name.
  void expectLoadFailureMessage(const std::string& name) {
    EXPECT_EQ(boxes(), std::vector<std::string>{cp932("エラー:") + name +
                                                cp932("を読み込むことができませんでした")});
    beginCapturingMessageBoxes();
  }
};

TEST_F(Slots, FailuresKeepNoHandleLeakNothingAndSayWhichFileFailed) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("first.bmp", solidBmp(6, 4, magenta));
  // A slot number of 10 or more fails without a message and changes no slot.
  EXPECT_FALSE(loadSlotImage(10, path.c_str()) || loadSlotImage((uint32_t)-1, path.c_str()));
  EXPECT_TRUE(boxes().empty());
  for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.loaded, 0);
  ASSERT_TRUE(loadSlotImage(9, path.c_str()));
  int loaded = gdiObjectCount();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(loadSlotImage(9, path.c_str()));
  EXPECT_EQ(gdiObjectCount(), loaded);
  ImageSlot& slot = imageSlots[9];
  slot.destX = 12;
  slot.frameCount = 3;
  EXPECT_FALSE(loadSlotImage(9, "missing.bmp"));
  expectLoadFailureMessage("missing.bmp");
  EXPECT_EQ(slot.loaded + slot.hasMask, 1);  // the flag keeps its value
  EXPECT_TRUE(!slot.bitmap && !slot.imageDC && !slot.maskBitmap && !slot.maskDC &&
              !slot.maskedImageBitmap && !slot.maskedImageDC);
  releaseImage(&slot);  // frees nothing twice
  EXPECT_EQ(gdiObjectCount(), before);
  ASSERT_TRUE(loadSlotImage(9, path.c_str()));
  EXPECT_EQ(slot.destX + slot.frameCount, 12 + 3);  // placement and strip stay
  releaseImage(&slot);
  EXPECT_EQ(slot.hasMask, 0);  // its mask went with it
  // A reset, when a script is opened, clears only loaded and visible.
  slot.visible = slot.animState = slot.currentFrame = 1;
  resetImageSlots();
  EXPECT_EQ(slot.loaded + slot.visible, 0);
  EXPECT_EQ(slot.animState + slot.currentFrame + slot.width + slot.destX, 1 + 1 + 6 + 12);
  // The message has 255 bytes, 32 of them the suffix: 223 for the name, cut after its last whole
  // character. Half a character at the end is left out: it would take the suffix's first byte.
  std::string wide;
  for (int i = 0; i < 150; ++i) wide += cp932("画");
  const std::pair<std::string, size_t> cases[] = {
      {"xx" + wide, 222}, {"x" + wide, 223}, {"x\x80", 2}, {"x\x81", 1}, {"x\x9F", 1},
      {"x\xA0", 2},       {"x\xDF", 2},      {"x\xE0", 1}, {"x\xFC", 1}, {"x\xFD", 2}};
  for (const auto& c : cases) {
    EXPECT_FALSE(loadSlotImage(0, c.first.c_str()));
    expectLoadFailureMessage(c.first.substr(0, c.second));
  }
}

// A file at its own depth gives the mask (white where the image is magenta) and the masked image
// (magenta made black); a file that is no bitmap fails with the message and leaks nothing.
TEST_F(Slots, EveryFileGivesTheMaskOfItsColoursOrTheMessage) {
  const COLORREF row[] = {magenta, nearMagenta, 0x000000, 0x563412, magenta};
  ImageSlot& slot = imageSlots[0];
  int before = gdiObjectCount();
  std::string path = writeTempFile("file.bmp", "This is no bitmap at all.");
  EXPECT_FALSE(loadSlotImage(0, path.c_str()));
  expectLoadFailureMessage(path);
  EXPECT_EQ(slot.loaded + (slot.imageDC != nullptr), 0);
  path = writeTempFile("file.bmp", bmpFile(5, 2, [&](int x, int) { return row[x]; }));
  ASSERT_TRUE(loadSlotImage(0, path.c_str()));
  BITMAP info;
  ASSERT_EQ(GetObjectA(slot.bitmap, sizeof info, &info), (int)sizeof info);
  EXPECT_EQ(info.bmBitsPixel, 24);
  ASSERT_EQ(slot.width * 1000 + slot.height, 5002);
  for (int k = 0; k < 10; ++k) {
    int x = k % 5, y = k / 5;
    bool key = row[x] == magenta;
    EXPECT_EQ(GetPixel(slot.maskDC, x, y), key ? 0xFFFFFFu : 0u) << x;
    EXPECT_EQ(GetPixel(slot.maskedImageDC, x, y), key ? 0u : row[x]) << x;
    EXPECT_EQ(GetPixel(slot.imageDC, x, y), row[x]) << x;
  }
  releaseImage(&slot);
  EXPECT_EQ(gdiObjectCount(), before);
}

}  // namespace
