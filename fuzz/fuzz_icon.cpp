// libFuzzer target: any bytes as an icon file for change_window_icon's LoadImageA, its pixels
// read as the desktop backend reads them, then destroyed.
#include <stdlib.h>

#include "fuzz/support.h"
#include "platform/linux/layer.h"
#include "shell/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = writeFuzzFile("icon.ico", data, size);
  HICON icon = (HICON)LoadImageA(nullptr, path, IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
  if (icon) {
    IconPixels pixels;
    if (!iconPixels(icon, &pixels) || pixels.width < 1 || pixels.height < 1) abort();
    uint32_t sum = 0;
    for (int y = 0; y < pixels.height; ++y) {
      for (int x = 0; x < pixels.width; ++x) sum += pixels.pixels[y * pixels.width + x];
    }
    if (!DestroyIcon(icon) || sum == 0x5EED5EED) return 0;  // the sum keeps the reads alive
  }
  return 0;
}
