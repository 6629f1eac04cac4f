// The frame tick: one interpreter step, then the ten image slots drawn onto the virtual screen in
// ascending order with their frame-strip animations advanced, then the message or menu on top.
// Owns pictureChanged; writes the slots' currentFrame. Runs on the frame thread.
//
// A frame that would draw what the virtual screen already holds draws nothing. Every drawing
// operation of a frame either writes a pixel from its source or leaves it (copies, the mask's
// AND then OR, the System font's solid glyphs in transparent mode), so drawing the same state
// twice gives the picture the first drawing gave: the screen changes only when the state it is
// drawn from does. That state is the slots, the text and menu, the screen itself (all marked
// through markPictureChanged), a playing strip's cell (the frame that advances it marks the
// next one) and the choice under the cursor (tested every frame while the menu is up).
#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"

namespace {

// The top-left corner of cell k inside the slot's image: a horizontal strip when stripAxis is 1,
// a vertical one otherwise. The arithmetic is 32-bit and wraps rather than overflows.
void cellCorner(const ImageSlot& slot, uint8_t cell, int32_t* sx, int32_t* sy) {
  uint32_t x = (uint32_t)slot.srcX;
  uint32_t y = (uint32_t)slot.srcY;
  if (slot.stripAxis == 1) {
    x += (uint32_t)cell * (uint32_t)slot.cellWidth;
  } else {
    y += (uint32_t)cell * (uint32_t)slot.cellHeight;
  }
  *sx = (int32_t)x;
  *sy = (int32_t)y;
}

void drawSlot(const ImageSlot& slot, uint8_t cell) {
  // A slot shown without an image (never loaded, reset when a script was opened, or a reload that
  // failed) draws nothing: its handles are null or were released.
  if (slot.loaded != 1 || !slot.imageDC) return;
  int32_t sx, sy;
  cellCorner(slot, cell, &sx, &sy);
  HDC screen = virtualScreen.imageDC;
  if (slot.transparent == 1) {
    if (slot.hasMask != 1 || !slot.maskDC || !slot.maskedImageDC) return;
    // (screen AND mask) OR masked image: magenta pixels leave the screen as it was.
    BitBlt(screen, slot.destX, slot.destY, slot.cellWidth, slot.cellHeight, slot.maskDC, sx, sy,
           SRCAND);
    BitBlt(screen, slot.destX, slot.destY, slot.cellWidth, slot.cellHeight, slot.maskedImageDC, sx,
           sy, SRCPAINT);
  } else {
    BitBlt(screen, slot.destX, slot.destY, slot.cellWidth, slot.cellHeight, slot.imageDC, sx, sy,
           SRCCOPY);
  }
}

// 1 while what the next frame draws may differ from what the screen holds; a new screen starts
// with it set.
uint8_t pictureChanged = 1;

bool frameWouldDraw() {
  if (pictureChanged) return true;
  return textVisible == 1 && menuVisible == 1 && choiceUnderCursor() != menuSelection;
}

}  // namespace

void markPictureChanged() {
  pictureChanged = 1;
}

bool composeFrame() {
  if (frameStopRequested) return false;
  bool finished = interpreterStep(&currentCommand);
  // The step may have sent messages to the window; a stop requested meanwhile ends the frame.
  if (frameStopRequested) return false;
  if (finished) {
    // Closing the window ends this script run: nothing more of the frame is done, whatever the
    // window did with the message.
    SendMessageA(mainWindow, WM_CLOSE, 0, 0);
    return false;
  }
  if (!frameWouldDraw()) return false;
  pictureChanged = 0;

  // Nothing clears the screen: each slot is drawn over what earlier slots and frames left, and
  // a higher slot covers a lower one.
  for (ImageSlot& slot : imageSlots) {
    if (slot.visible != 1) continue;
    if (slot.animState == 2) continue;  // hidden: nothing is drawn and the strip stands still
    bool playing = slot.animState == 1;
    drawSlot(slot, playing ? slot.currentFrame : slot.stopFrame);
    if (playing) {
      // The cell shown is the one before the advance; a count of 0 or 1, or a cell beyond a strip
      // that has become shorter, comes back to cell 0.
      uint8_t drawnCell = slot.currentFrame;
      slot.currentFrame = (uint8_t)(slot.currentFrame + 1);
      if (slot.currentFrame >= slot.frameCount) slot.currentFrame = 0;
      // The next frame draws the new cell: a strip of one cell back at cell 0 stands still.
      if (slot.currentFrame != drawnCell) pictureChanged = 1;
    }
  }

  drawTextOverlay();
  return true;
}
