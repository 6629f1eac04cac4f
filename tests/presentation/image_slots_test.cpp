// The image slots' lifecycle and the virtual screen: slot numbers out of range, the message for
// an image that cannot be loaded (bad, truncated and oversized files among them), what a failed
// reload leaves, resetting, releasing, the surface made per opened script, presenting it, and
// that loading and re-creating many times leaks no GDI object. Runs on both builds.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "bmp_files.h"
#include "pixel_canvas.h"
#include "presentation/presentation.h"
#include "resources/texts.h"
#include "shell/shell.h"
#include "support/test_support.h"

namespace {

std::string smallBmp(COLORREF color) {
  BmpFile file;
  file.width = 6;
  file.height = 4;
  uint32_t rgb = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
  file.pixels.assign(24, rgb);
  return encodeBmp(file);
}

class Slots : public ::testing::Test {
 protected:
  HWND window = nullptr;

  void SetUp() override {
    window = createRecordingWindow();
    ASSERT_TRUE(window);
    mainWindow = window;
    memset(imageSlots, 0, sizeof imageSlots);
    memset(&virtualScreen, 0, sizeof virtualScreen);
    beginCapturingMessageBoxes();
  }

  void TearDown() override {
    endCapturingMessageBoxes();
    for (ImageSlot& slot : imageSlots) releaseImage(&slot);
    memset(imageSlots, 0, sizeof imageSlots);
    if (virtualScreen.imageDC) {
      SelectObject(virtualScreen.imageDC, virtualScreen.oldBitmap);
      DeleteDC(virtualScreen.imageDC);
      DeleteObject(virtualScreen.bitmap);
    }
    memset(&virtualScreen, 0, sizeof virtualScreen);
    mainWindow = nullptr;
    destroyRecordingWindow(window);
  }

  // The one message box shown since the last check is the load failure for name.
  void expectLoadFailureMessage(const std::string& name) {
    std::vector<CapturedMessageBox> boxes = capturedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, name + cp932("を読み込むことができませんでした"));
    EXPECT_EQ(boxes[0].caption, cp932("エラー"));
    EXPECT_EQ(boxes[0].type, (UINT)MB_OK);
    EXPECT_EQ(boxes[0].owner, mainWindow);
    beginCapturingMessageBoxes();
  }
};

TEST_F(Slots, ASlotNumberOfTenOrMoreFailsWithoutAMessageAndChangesNoSlot) {
  std::string path = writeTempFile("small.bmp", smallBmp(0x123456));
  imageSlots[9].destX = 77;
  ImageSlot before[imageSlotCount];
  memcpy(before, imageSlots, sizeof before);
  EXPECT_FALSE(loadSlotImage(10, path.c_str()));
  EXPECT_FALSE(loadSlotImage((uint32_t)-1, path.c_str()));
  EXPECT_EQ(memcmp(before, imageSlots, sizeof before), 0);
  EXPECT_TRUE(capturedMessageBoxes().empty());
  EXPECT_TRUE(loadSlotImage(9, path.c_str()));
  EXPECT_EQ(imageSlots[9].loaded, 1);
}

TEST_F(Slots, FilesThatAreNoLoadableBitmapFailWithTheMessage) {
  std::string good = smallBmp(0x00FF00);
  // A header claiming 100000 x 100000 pixels, over a file of a few bytes.
  std::string hugeHeader = good;
  const char hundredThousand[4] = {(char)0xA0, (char)0x86, 0x01, 0x00};
  memcpy(&hugeHeader[18], hundredThousand, 4);
  memcpy(&hugeHeader[22], hundredThousand, 4);
  std::string truncatedHeader = good.substr(0, 30);
  std::string truncatedRows = good.substr(0, good.size() - 20);
  std::string noWidth = good;
  memset(&noWidth[18], 0, 4);
  std::string sevenBits = good;
  sevenBits[28] = 7;
  std::string jpegInside = good;
  jpegInside[30] = 4;  // BI_JPEG
  BmpFile rle;
  rle.width = rle.height = 8;
  rle.bitsPerPixel = 8;
  rle.compression = BI_RLE8;
  rle.palette = {0, 0xFF0000};
  rle.pixels.assign(64, 1);
  std::string rle8 = encodeBmp(rle);
  size_t rleData = rle8.size() - 8 * 4 - 2;  // eight rows of one run and an end of line, the end
  rle.bitsPerPixel = 4;
  rle.compression = BI_RLE4;
  std::string rle4 = encodeBmp(rle);
  // 2048 x 2048 from a 1 KB RLE8 file, and 4096 x 4096 from a 2 MB file of 1 bit per pixel.
  std::string tinyHuge = rle8 + std::string(1024, '\0');
  memcpy(&tinyHuge[18], "\0\x08\0\0\0\x08\0\0", 8);
  BmpFile mono;
  mono.width = mono.height = 4096;
  mono.bitsPerPixel = 1;
  mono.palette = {0, 0xFFFFFF};
  mono.pixels.assign(size_t(4096) * 4096, 1);
  BmpFile fields;
  fields.width = fields.height = 2;
  fields.bitsPerPixel = 32;
  fields.compression = BI_BITFIELDS;
  fields.pixels.assign(4, 0xFF0000);  // no masks: each colour would be 0

  struct Bad {
    const char* file;
    std::string bytes;
    bool wineLoadsIt;  // Wine 8 makes a bitmap of it: no oracle there
  };
  const Bad bad[] = {
      {"text.bmp", "This is no bitmap at all, just some text.\r\n", false},
      {"png.bmp", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false},
      // Wine 8 makes a bitmap even of a cut file; this layer refuses to read past a file's end.
      {"cut header.bmp", truncatedHeader, true},
      {"cut rows.bmp", truncatedRows, true},
      {"huge.bmp", hugeHeader, false},
      {"nowidth.bmp", noWidth, false},
      {"sevenbits.bmp", sevenBits, false},
      {"jpeg.bmp", jpegInside, true},  // Wine ignores the compression of a 24-bpp file
      // Wine makes black pictures of cut RLE data and masks without bits; Windows limits no size.
      {"cut rle8.bmp", rle8.substr(0, rleData + 1), true},
      {"cut rle4.bmp", rle4.substr(0, rleData + 1), true},
      {"no masks.bmp", encodeBmp(fields), true},
      {"tiny huge rle8.bmp", tinyHuge, true},
      {"huge 1 bpp.bmp", encodeBmp(mono), true},
      {"empty.bmp", "", false},
  };
  int before = gdiObjectCount();
  for (const Bad& file : bad) {
    SCOPED_TRACE(file.file);
#ifdef _WIN32
    if (file.wineLoadsIt) continue;
#endif
    releaseImage(&imageSlots[4]);
    memset(&imageSlots[4], 0, sizeof imageSlots[4]);
    std::string path = writeTempFile(file.file, file.bytes);
    EXPECT_FALSE(loadSlotImage(4, path.c_str()));
    expectLoadFailureMessage(path);
    EXPECT_EQ(imageSlots[4].loaded, 0);
    EXPECT_EQ(imageSlots[4].imageDC, nullptr);
  }
  // Failed loads keep nothing: the window DC and the memory DC were let go.
  EXPECT_EQ(gdiObjectCount(), before);

  EXPECT_FALSE(loadSlotImage(4, "no such picture.bmp"));
  expectLoadFailureMessage("no such picture.bmp");
}

TEST_F(Slots, AFailedReloadKeepsNoHandleOfThePreviousImage) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("first.bmp", smallBmp(0xFF00FF));
  ASSERT_TRUE(loadSlotImage(5, path.c_str()));
  ImageSlot& slot = imageSlots[5];
  slot.destX = 12;
  slot.visible = 1;
  slot.transparent = 1;
  slot.frameCount = 3;

  EXPECT_FALSE(loadSlotImage(5, "missing.bmp"));
  expectLoadFailureMessage("missing.bmp");
  EXPECT_EQ(slot.loaded, 1);  // the flag keeps its value
  EXPECT_EQ(slot.hasMask, 0);
  const void* handles[] = {slot.bitmap,        slot.imageDC,           slot.maskBitmap,
                           slot.maskDC,        slot.maskedImageBitmap, slot.maskedImageDC,
                           slot.oldBitmap,     slot.oldMaskBitmap,     slot.oldMaskedImageBitmap};
  for (const void* handle : handles) EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(gdiObjectCount(), before);
  // Placement and flags stay; releasing the slot again frees nothing twice.
  EXPECT_EQ(slot.destX, 12);
  EXPECT_EQ(slot.visible, 1);
  EXPECT_EQ(slot.frameCount, 3);
  releaseImage(&slot);
  EXPECT_EQ(gdiObjectCount(), before);

  ASSERT_TRUE(loadSlotImage(5, path.c_str()));
  EXPECT_EQ(slot.hasMask, 1);
  EXPECT_EQ(slot.destX, 12);
}

TEST_F(Slots, ANameTooLongForTheMessageIsCutAtACharacterBoundary) {
  std::string suffix = cp932("を読み込むことができませんでした");
  ASSERT_EQ(suffix.size(), 32u);
  // 255 bytes of room: 223 for the name. "xx" and 150 double-byte characters: the last whole
  // character that fits ends at byte 222, and half of the next one would reach 223.
  std::string wide;
  for (int i = 0; i < 150; ++i) wide += cp932("画");
  std::string name = "xx" + wide;
  EXPECT_FALSE(loadSlotImage(0, name.c_str()));
  expectLoadFailureMessage(name.substr(0, 222));

  // An odd start: one single-byte character, and 223 bytes fit exactly.
  name = "x" + wide;
  EXPECT_FALSE(loadSlotImage(0, name.c_str()));
  expectLoadFailureMessage(name.substr(0, 223));  // 223 + 32 bytes: the whole room of 255

  // Half a character at the end is left out: it would take the suffix's first byte as its own.
  EXPECT_FALSE(loadSlotImage(0, "x\x82"));
  expectLoadFailureMessage("x");
}

TEST_F(Slots, ResetClearsOnlyLoadedAndVisible) {
  std::string path = writeTempFile("small.bmp", smallBmp(0x123456));
  ASSERT_TRUE(loadSlotImage(6, path.c_str()));
  ImageSlot& slot = imageSlots[6];
  slot.visible = 1;
  slot.destY = -40;
  slot.animState = 1;
  slot.currentFrame = 2;
  slot.stripAxis = 1;
  for (ImageSlot& each : imageSlots) releaseImage(&each);
  resetImageSlots();
  EXPECT_EQ(slot.loaded, 0);
  EXPECT_EQ(slot.visible, 0);
  EXPECT_EQ(slot.destY, -40);
  EXPECT_EQ(slot.animState, 1);
  EXPECT_EQ(slot.currentFrame, 2);
  EXPECT_EQ(slot.stripAxis, 1);
  EXPECT_EQ(slot.width, 6);
}

TEST_F(Slots, LoadingAThousandTimesIntoOneSlotLeaksNothing) {
  std::string path = writeTempFile("again.bmp", smallBmp(0xFF00FF));
  int before = gdiObjectCount();
  ASSERT_TRUE(loadSlotImage(7, path.c_str()));
  int loaded = gdiObjectCount();
  for (int i = 0; i < 999; ++i) ASSERT_TRUE(loadSlotImage(7, path.c_str()));
  EXPECT_EQ(gdiObjectCount(), loaded);
  releaseImage(&imageSlots[7]);
  EXPECT_EQ(gdiObjectCount(), before);
}

TEST_F(Slots, TheVirtualScreenIsBlackAndEachNewOneReplacesTheLast) {
  int before = gdiObjectCount();
  ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  int made = gdiObjectCount();
  BITMAP info;
  ASSERT_EQ(GetObjectA(virtualScreen.bitmap, sizeof info, &info), (int)sizeof info);
  EXPECT_EQ(info.bmWidth, 640);
  EXPECT_EQ(info.bmHeight, 480);
  EXPECT_EQ(info.bmBitsPixel, 32);
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), 0u);
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 639, 479), 0u);
  EXPECT_EQ(GetBkMode(virtualScreen.imageDC), TRANSPARENT);
  EXPECT_EQ(GetTextColor(virtualScreen.imageDC), 0xFFFFFFu);
  EXPECT_EQ(virtualScreen.hasMask, 0);
  EXPECT_EQ(virtualScreen.loaded, 0);

  SetPixel(virtualScreen.imageDC, 10, 10, 0x00FF00);
  for (int i = 0; i < 99; ++i) {
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  }
  EXPECT_EQ(gdiObjectCount(), made);
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 10, 10), 0u);  // a new, black surface
  // releaseImage leaves a record that was never loaded alone.
  releaseImage(&virtualScreen);
  EXPECT_EQ(gdiObjectCount(), made);
#ifndef _WIN32
  EXPECT_GT(made, before);  // Wine's process count stays 0
#else
  (void)before;
#endif
}

TEST_F(Slots, PresentingCopiesTheVirtualScreenAndDrawsNothingBeforeThereIsOne) {
  PixelCanvas target = createCanvas(700, 500, 32);
  fillCanvas(target, 0x2080C0);
  presentToDC(target.dc);  // no script opened yet
  EXPECT_EQ(canvasColor(target, 0, 0), 0x2080C0u);
  EXPECT_EQ(canvasColor(target, 639, 479), 0x2080C0u);

  ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  SetPixel(virtualScreen.imageDC, 639, 479, 0x0000FF);
  SetPixel(virtualScreen.imageDC, 5, 6, 0x563412);
  presentToDC(target.dc);
  EXPECT_EQ(canvasColor(target, 0, 0), 0u);
  EXPECT_EQ(canvasColor(target, 5, 6), 0x563412u);
  EXPECT_EQ(canvasColor(target, 639, 479), 0x0000FFu);
  EXPECT_EQ(canvasColor(target, 640, 479), 0x2080C0u);  // the copy is 640x480 and no more
  EXPECT_EQ(canvasColor(target, 639, 480), 0x2080C0u);
  destroyCanvas(&target);
}

}  // namespace
