// LoadImageA beyond the image slots: the DIB section a bitmap file becomes, names that are not
// files, and icons from .ico files. Runs on both builds; the icon's pixels as the desktop backend
// gets them are checked on Linux only.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "bmp_files.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>

#include "platform/linux/layer.h"
#endif

namespace {

// The colour of pixel (x, y) of the test icon, 0x00RRGGBB.
uint32_t iconColor(int x, int y) {
  return (uint32_t)((x * 15) << 16 | (y * 15) << 8 | 0x40);
}

// A 16x16 32-bpp icon: directory, one entry, its image (height doubled for the AND mask), the
// colour rows bottom-up with full alpha, then an all-zero AND mask.
std::string iconFile() {
  std::string image;
  put32(&image, 40);
  put32(&image, 16);
  put32(&image, 32);
  put16(&image, 1);
  put16(&image, 32);
  for (int i = 0; i < 6; ++i) put32(&image, 0);
  for (int y = 15; y >= 0; --y) {
    for (int x = 0; x < 16; ++x) put32(&image, 0xFF000000u | iconColor(x, y));
  }
  image.append(16 * 4, '\0');
  std::string file;
  put16(&file, 0);
  put16(&file, 1);  // an icon
  put16(&file, 1);  // one image
  file += std::string("\x10\x10\0\0", 4);  // 16 x 16, no palette, reserved
  put16(&file, 1);
  put16(&file, 32);
  put32(&file, (uint32_t)image.size());
  put32(&file, 22);
  return file + image;
}

TEST(GdiFiles, ABitmapFileBecomesADibSectionOfItsOwnDepthWithItsBits) {
  BmpFile file;
  file.width = 3;
  file.height = 2;
  file.bitsPerPixel = 24;
  file.pixels = {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112};
  std::string path = writeTempFile("bits.bmp", encodeBmp(file));
  HBITMAP bitmap = (HBITMAP)LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                       LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  ASSERT_TRUE(bitmap);
  BITMAP info;
  ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), (int)sizeof info);
  EXPECT_EQ(info.bmBitsPixel, 24);
  EXPECT_EQ(info.bmWidthBytes, 12);
  ASSERT_TRUE(info.bmBits);
  // Bottom-up rows as in the file: the first stored row is the image's last.
  const uint8_t* bits = (const uint8_t*)info.bmBits;
  EXPECT_EQ(std::string((const char*)bits, 3), "\x0C\x0B\x0A");
  EXPECT_EQ(bits[12], 0x03);
  EXPECT_EQ(bits[12 + 8], 0x07);
  DeleteObject(bitmap);

  // Not from a file: the name would be a bitmap resource of the module, and there is none.
  EXPECT_EQ(
      LoadImageA(GetModuleHandleA(nullptr), path.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION),
      nullptr);
  EXPECT_EQ(LoadImageA(nullptr, "no such file.bmp", IMAGE_BITMAP, 0, 0,
                       LR_LOADFROMFILE | LR_CREATEDIBSECTION),
            nullptr);
}

TEST(GdiFiles, IconsComeFromIcoFilesAndTheSystem) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("test.ico", iconFile());
  HICON icon = (HICON)LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
  ASSERT_TRUE(icon);
#ifndef _WIN32
  EXPECT_EQ(gdiObjectCount(), before + 1);
  IconPixels pixels;
  ASSERT_TRUE(iconPixels(icon, &pixels));
  ASSERT_EQ(pixels.width, 16);
  ASSERT_EQ(pixels.height, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(pixels.pixels[y * pixels.width + x], 0xFF000000u | iconColor(x, y))
          << x << "," << y;
    }
  }
#endif
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_EQ(gdiObjectCount(), before);

  // An icon whose one image is a PNG stream, as icon tools write large sizes: 2 x 2 opaque
  // pixels, 10 20 30, 40 50 60 on the top row, 70 80 90, A0 B0 C0 below.
  const std::string png(
      "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\x02\0\0\0\x02\x08\x06\0\0\0\x72\xB6\x0D\x24\0\0\0"
      "\x1BIDAT\x78\x9C\x63\x10\x50\x30\xF8\xEF\x10\x90\xF0\x9F\xA1\xA0\x61\xC2\xFF\x05\x1B\x0E\xFC"
      "\x07\0\x3F\x64\x08\xDD\x7C\xC2\xB6\x69\0\0\0\0IEND\xAE\x42\x60\x82",
      84);
  std::string pngIcon;
  put16(&pngIcon, 0);
  put16(&pngIcon, 1);
  put16(&pngIcon, 1);
  pngIcon += std::string("\x02\x02\0\0", 4);
  put16(&pngIcon, 1);
  put16(&pngIcon, 32);
  put32(&pngIcon, (uint32_t)png.size());
  put32(&pngIcon, 22);
  path = writeTempFile("png.ico", pngIcon + png);
  icon = (HICON)LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
  ASSERT_TRUE(icon);
#ifndef _WIN32
  ASSERT_TRUE(iconPixels(icon, &pixels));
  ASSERT_EQ(pixels.width, 2);
  EXPECT_EQ(pixels.pixels[0], 0xFF102030u);
  EXPECT_EQ(pixels.pixels[pixels.width + 1], 0xFFA0B0C0u);
#endif
  EXPECT_TRUE(DestroyIcon(icon));

  std::string notAnIcon = writeTempFile("text.ico", "no icon here");
  EXPECT_EQ(LoadImageA(nullptr, notAnIcon.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
  EXPECT_EQ(LoadImageA(nullptr, "missing.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);

  HICON application = LoadIconA(nullptr, IDI_APPLICATION);
  EXPECT_TRUE(application);
#ifndef _WIN32
  EXPECT_FALSE(iconPixels(application, &pixels));  // the desktop shows its own
#endif
}

#ifndef _WIN32
// Story files are opened only when they are regular files, and the open never waits: a FIFO
// would hold the frame thread in its open for ever. A name that is not CP932 names no file, not
// the file whose name has U+FFFD in its place.
TEST(GdiFiles, OnlyRegularFilesWithCp932NamesAreOpened) {
  std::string fifo = tempDirectory() + "/pipe.bmp";
  remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  writeTempFile("\xEF\xBF\xBD.bmp", bmpFile(2, 2, [](int, int) { return 0x123456; }));
  for (const std::string& name : {fifo, tempDirectory() + "/\xFF.bmp", tempDirectory()}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LoadImageA(nullptr, name.c_str(), IMAGE_BITMAP, 0, 0,
                         LR_LOADFROMFILE | LR_CREATEDIBSECTION),
              nullptr);
    EXPECT_EQ(LoadImageA(nullptr, name.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(openNamedFile(name.c_str(), "rb"), nullptr);
  }
  remove(fifo.c_str());
}
#endif

}  // namespace
