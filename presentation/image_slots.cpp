// Image slots and the virtual screen they are drawn into.
// Owns imageSlots[] and virtualScreen: the 640x480 surface every frame is composed on, and the
// ten slots, each a bitmap loaded from a file with the colour-key mask for magenta built once at
// load time, so that a frame draws a transparent cell with two block transfers and no per-pixel
// work. Reaches Windows only through platform/windows_api.h; the shell's mainWindow is the
// reference for every device context and the owner of the load-failure message.
#include <string.h>

#include "presentation/presentation.h"
#include "resources/texts.h"
#include "shell/shell.h"

ImageSlot virtualScreen;
ImageSlot imageSlots[imageSlotCount];

namespace {

constexpr size_t messageBufferSize = 256;  // the load-failure message, zero included

// Lead bytes of CP932 double-byte characters. A name cut short must not end on one, or the
// message would show half a character.
bool isLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// "<name>を読み込むことができませんでした" in a 256-byte buffer. A name too long to fit with the
// suffix keeps as many whole characters from its start as fit. A lead byte without its trail
// byte at the end of the name is left out: it would pair with the suffix's first byte.
void composeLoadFailure(const char* name, char* message) {
  size_t suffixLength = strlen(textLoadFailedSuffix);
  size_t room = messageBufferSize - 1 - suffixLength;
  size_t kept = 0;
  while (name[kept]) {
    bool lead = isLeadByte((unsigned char)name[kept]);
    if (lead && !name[kept + 1]) break;
    size_t width = lead ? 2 : 1;
    if (kept + width > room) break;
    kept += width;
  }
  memcpy(message, name, kept);
  memcpy(message + kept, textLoadFailedSuffix, suffixLength + 1);
}

// Frees a memory DC and the bitmap it holds: the DC's earlier object is selected back first and
// the DC goes before its bitmap. The handles are cleared, so nothing can use or free them twice.
void freeSurface(HDC* dc, HBITMAP* bitmap, HGDIOBJ* oldObject) {
  if (*dc) {
    if (*oldObject) SelectObject(*dc, *oldObject);
    DeleteDC(*dc);
  }
  if (*bitmap) DeleteObject(*bitmap);
  *dc = nullptr;
  *bitmap = nullptr;
  *oldObject = nullptr;
}

}  // namespace

void resetImageSlots() {
  markPictureChanged();
  for (ImageSlot& slot : imageSlots) {
    slot.loaded = 0;
    slot.visible = 0;
  }
}

bool createSurface(ImageSlot* record, int32_t width, int32_t height) {
  HDC windowDC = GetDC(mainWindow);
  HDC imageDC = CreateCompatibleDC(windowDC);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDC, width, height);
  HGDIOBJ oldBitmap = imageDC && bitmap ? SelectObject(imageDC, bitmap) : nullptr;
  ReleaseDC(mainWindow, windowDC);
  // A surface without its bitmap would draw into the DC's 1x1 default: that is a failure too.
  if (!imageDC || !bitmap) {
    freeSurface(&imageDC, &bitmap, &oldBitmap);
    return false;
  }
  // The surface this record held before is freed now that its successor exists (each opened
  // script makes a new one, and nothing draws into the old one any more).
  freeSurface(&record->imageDC, &record->bitmap, &record->oldBitmap);
  record->imageDC = imageDC;
  record->bitmap = bitmap;
  record->oldBitmap = oldBitmap;
  record->hasMask = 0;
  markPictureChanged();
  // Text drawn on the surface leaves the pixels between the glyphs as they were.
  SetBkMode(imageDC, TRANSPARENT);
  SetTextColor(imageDC, 0xFFFFFF);
  BitBlt(imageDC, 0, 0, width, height, nullptr, 0, 0, BLACKNESS);
  return true;
}

bool loadImage(ImageSlot* record, const char* name) {
  HDC windowDC = GetDC(mainWindow);
  // A bitmap resource of the executable first, then a file of that name.
  record->bitmap =
      (HBITMAP)LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  if (!record->bitmap) {
    HINSTANCE instance = (HINSTANCE)(LONG_PTR)GetWindowLongA(mainWindow, GWL_HINSTANCE);
    record->bitmap = (HBITMAP)LoadImageA(instance, name, IMAGE_BITMAP, 0, 0,
                                         LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  }
  record->imageDC = CreateCompatibleDC(windowDC);
  record->oldBitmap = SelectObject(record->imageDC, record->bitmap);
  record->hasMask = 0;
  if (!record->bitmap) {
    // Nothing of a failed load stays behind: the slot keeps no handle.
    ReleaseDC(mainWindow, windowDC);
    freeSurface(&record->imageDC, &record->bitmap, &record->oldBitmap);
    record->maskBitmap = nullptr;
    record->maskedImageBitmap = nullptr;
    record->oldMaskBitmap = nullptr;
    record->oldMaskedImageBitmap = nullptr;
    record->maskDC = nullptr;
    record->maskedImageDC = nullptr;
    char message[messageBufferSize];
    composeLoadFailure(name, message);
    MessageBoxA(mainWindow, message, captionError, MB_OK);
    return false;
  }

  // The mask: white where the image is magenta, black elsewhere; and the masked image: the image
  // with its magenta pixels made black. Both are built once here, in the window's pixel format.
  record->hasMask = 1;
  BITMAP info;
  GetObjectA(record->bitmap, sizeof info, &info);
  int w = info.bmWidth;
  int h = info.bmHeight;
  record->width = w;
  record->height = h;
  record->maskDC = CreateCompatibleDC(windowDC);
  record->maskedImageDC = CreateCompatibleDC(windowDC);
  HDC tmp = CreateCompatibleDC(windowDC);
  HBITMAP mono = CreateBitmap(w, h, 1, 1, nullptr);
  HGDIOBJ tmpOld = SelectObject(tmp, mono);
  record->maskedImageBitmap = CreateCompatibleBitmap(windowDC, w, h);
  record->oldMaskedImageBitmap = SelectObject(record->maskedImageDC, record->maskedImageBitmap);
  // The key is compared on this copy in the window's format, not on the file's pixels.
  BitBlt(record->maskedImageDC, 0, 0, w, h, record->imageDC, 0, 0, SRCCOPY);
  record->maskBitmap = CreateCompatibleBitmap(windowDC, w, h);
  record->oldMaskBitmap = SelectObject(record->maskDC, record->maskBitmap);
  // Colour to monochrome: pixels equal to the source DC's background colour become 1.
  SetBkColor(record->maskedImageDC, transparentColor);
  BitBlt(tmp, 0, 0, w, h, record->maskedImageDC, 0, 0, SRCCOPY);
  // Monochrome to colour: 1 becomes the destination's background (black), 0 its text colour
  // (white), so the AND blackens the magenta pixels and keeps the others.
  SetBkColor(record->maskedImageDC, 0);
  SetTextColor(record->maskedImageDC, 0xFFFFFF);
  BitBlt(record->maskedImageDC, 0, 0, w, h, tmp, 0, 0, SRCAND);
  SetBkColor(record->maskDC, 0);
  SetTextColor(record->maskDC, 0xFFFFFF);
  BitBlt(record->maskDC, 0, 0, w, h, tmp, 0, 0, NOTSRCCOPY);
  SelectObject(tmp, tmpOld);
  DeleteObject(mono);
  DeleteDC(tmp);

  ReleaseDC(mainWindow, windowDC);
  SetBkMode(record->imageDC, TRANSPARENT);
  return true;
}

bool loadSlotImage(uint32_t slot, const char* name) {
  if (slot >= uint32_t(imageSlotCount)) return false;
  ImageSlot& record = imageSlots[slot];
  if (record.loaded == 1) releaseImage(&record);
  if (!loadImage(&record, name)) return false;
  record.loaded = 1;
  return true;
}

void releaseImage(ImageSlot* record) {
  if (record->loaded == 0) return;
  // The handles are cleared as they are freed: a slot whose reload then fails holds none, and a
  // second release frees nothing twice. loaded keeps its value.
  freeSurface(&record->imageDC, &record->bitmap, &record->oldBitmap);
  if (record->hasMask == 1) {
    freeSurface(&record->maskDC, &record->maskBitmap, &record->oldMaskBitmap);
    freeSurface(&record->maskedImageDC, &record->maskedImageBitmap, &record->oldMaskedImageBitmap);
  }
  record->hasMask = 0;
}

void presentToDC(HDC dc) {
  // Before the first script is opened there is no surface, and nothing is drawn.
  if (!virtualScreen.imageDC) return;
  BitBlt(dc, 0, 0, virtualScreenWidth, virtualScreenHeight, virtualScreen.imageDC, 0, 0, SRCCOPY);
}

void presentToWindow() {
  HDC windowDC = GetDC(mainWindow);
  presentToDC(windowDC);
  ReleaseDC(mainWindow, windowDC);
}
