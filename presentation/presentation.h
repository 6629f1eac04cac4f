// Presentation: the virtual screen and the ten image slots, the frame composition, and the
// message text and two-choice menu drawn over them. Reaches Windows only through
// platform/windows_api.h.
#ifndef TORVANE_PRESENTATION_PRESENTATION_H
#define TORVANE_PRESENTATION_PRESENTATION_H

#include <stdint.h>

#include "platform/windows_api.h"

constexpr int virtualScreenWidth = 640;
constexpr int virtualScreenHeight = 480;
constexpr int imageSlotCount = 10;              // scripts address slots 0 to 9
constexpr COLORREF transparentColor = 0xFF00FF;  // magenta

// A drawing surface with an optional colour-key mask, its placement and its animation.
struct ImageSlot {
  int32_t width;        // pixel width of the loaded image
  int32_t height;       // pixel height of the loaded image
  int32_t destX;        // left edge of the drawn rectangle on the virtual screen
  int32_t destY;        // top edge of the drawn rectangle
  int32_t cellWidth;    // width of a cell: of the drawn rectangle, and the step of a horizontal strip
  int32_t cellHeight;   // height of a cell: of the drawn rectangle, and the step of a vertical strip
  int32_t srcX;         // left edge of cell 0 in the image
  int32_t srcY;         // top edge of cell 0 in the image
  int32_t hasMask;      // 1 when the mask and the masked image exist
  int32_t loaded;       // 1 when an image is loaded; releaseImage acts only then
  uint8_t visible;      // 1: the composition draws the slot
  uint8_t transparent;  // 1: drawn through the mask; 0: copied opaque
  uint8_t animState;    // 0 stopped (cell stopFrame), 1 playing (cell currentFrame), 2 hidden
  uint8_t stripAxis;    // 1: cells side by side; otherwise one below the other
  uint8_t currentFrame; // the cell a playing slot draws next; only the composition writes it
  uint8_t frameCount;   // cells in the strip
  uint8_t stopFrame;    // the cell a stopped slot draws
  HBITMAP bitmap;                // the image as loaded (virtual screen: its surface); in imageDC
  HBITMAP maskBitmap;            // white where the image is magenta, black elsewhere; in maskDC
  HBITMAP maskedImageBitmap;     // the image with magenta made black; in maskedImageDC
  HGDIOBJ oldBitmap;             // what imageDC held before bitmap
  HGDIOBJ oldMaskBitmap;         // what maskDC held before maskBitmap
  HGDIOBJ oldMaskedImageBitmap;  // what maskedImageDC held before maskedImageBitmap
  HDC imageDC;                   // holds bitmap; for the virtual screen, where all drawing goes
  HDC maskDC;                    // holds maskBitmap
  HDC maskedImageDC;             // holds maskedImageBitmap
};

extern ImageSlot virtualScreen;
extern ImageSlot imageSlots[imageSlotCount];

// Virtual screen and image slots.
void resetImageSlots();
bool createSurface(ImageSlot* record, int32_t width, int32_t height);
bool loadImage(ImageSlot* record, const char* name);
bool loadSlotImage(uint32_t slot, const char* name);
void releaseImage(ImageSlot* record);
void presentToDC(HDC dc);
void presentToWindow();

// Frame composition: one interpreter step, the slots, the overlay. Returns true when the virtual
// screen was drawn, false when the frame drew nothing because it would have drawn exactly what
// the screen already holds (or the frame ended early).
bool composeFrame();
// Says that what the next frame draws may differ from the last composition: a new virtual screen,
// or a change to a slot, the text or the menu. Kept by the composition; the interpreter step
// marks every step that runs a node, so that no executor has to remember it.
void markPictureChanged();

// Message text and choice menu.
struct TextBox {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};
struct TextPoint {
  int32_t x;
  int32_t y;
};

extern TextBox textPos1;          // the first choice's place; with its size, the message rectangle
extern TextPoint textPos2;        // the second choice's place
extern RECT messageRect;          // the message is wrapped and clipped to it
extern uint8_t textVisible;       // 1: the overlay is drawn
extern uint8_t menuVisible;       // 1: the overlay draws the two choices instead of the message
extern const char* textLine1;     // the message, or the first choice (points into a node)
extern const char* textLine2;     // the second choice (points into a node)
extern uint8_t menuSelection;     // 0 none, 1 the first choice, 2 the second, under the cursor

void resetTextState();
void drawTextOverlay();
uint8_t choiceUnderCursor();
bool cursorInBox(HWND window, int32_t x, int32_t y, int32_t width, int32_t height);

#endif
