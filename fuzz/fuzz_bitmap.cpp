// libFuzzer target: any bytes as a bitmap file, loaded into an image slot (LoadImageA and the
// mask built from it) and as a device-dependent bitmap. A load that succeeds must give a bitmap
// of a size the loader allows; the memory limit of the run catches loads that cost too much.
#include <stdlib.h>

#include "fuzz/support.h"
#include "presentation/presentation.h"
#include "shell/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  openFuzzWindow();
  const char* path = writeFuzzFile("picture.bmp", data, size);
  if (loadSlotImage(0, path)) {
    const ImageSlot& slot = imageSlots[0];
    if (slot.width < 1 || slot.height < 1 || int64_t(slot.width) * slot.height > (int64_t(8) << 20))
      abort();
    HBITMAP device = (HBITMAP)LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    if (!device) abort();  // the same file must load either way
    DeleteObject(device);
  }
  endFuzzRun();
  return 0;
}
