// The message text and the two-choice menu drawn over the image slots at the end of every frame
// tick, and the choice under the mouse cursor. Owns the text and menu state (textPos1, textPos2,
// messageRect, textVisible, menuVisible, textLine1, textLine2, menuSelection); the command
// executors fill it, the interpreter step reads menuSelection. Draws on the virtual screen.
#include <string.h>

#include "presentation/presentation.h"
#include "shell/shell.h"

namespace {

constexpr TextBox defaultTextPos1 = {0, 0, 200, 200};
constexpr TextPoint defaultTextPos2 = {0, 0};
constexpr COLORREF selectedChoiceColor = 0x0000FF;  // red
constexpr COLORREF choiceColor = 0;                 // black
constexpr int32_t hitWidthPerByte = 7;              // a double-byte character counts twice
constexpr int32_t hitHeight = 15;                   // the box covers hitHeight + 1 rows
constexpr UINT messageFormat = DT_WORDBREAK;

// A choice as the menu sees it. An absent text (an `if` with no `menu` before it) has no box
// and is not drawn: the length of a null string cannot be taken.
struct Choice {
  const char* text;
  int32_t x;
  int32_t y;
  int32_t length;  // bytes
};

bool cursorOnChoice(const Choice& choice) {
  return choice.text &&
         cursorInBox(mainWindow, choice.x, choice.y, choice.length * hitWidthPerByte, hitHeight);
}

void drawChoice(HDC screen, const Choice& choice, COLORREF color) {
  SetTextColor(screen, color);
  if (choice.text) TextOutA(screen, choice.x, choice.y, choice.text, choice.length);
}

Choice firstChoice() {
  return {textLine1, textPos1.x, textPos1.y, textLine1 ? int32_t(strlen(textLine1)) : 0};
}

Choice secondChoice() {
  return {textLine2, textPos2.x, textPos2.y, textLine2 ? int32_t(strlen(textLine2)) : 0};
}

void drawMenu(HDC screen) {
  const Choice first = firstChoice();
  const Choice second = secondChoice();
  uint8_t selection = choiceUnderCursor();
  menuSelection = selection;
  // The colour is left as the last choice set it: red after selection 2, which a message drawn
  // before the next text line inherits.
  drawChoice(screen, first, selection == 1 ? selectedChoiceColor : choiceColor);
  drawChoice(screen, second, selection == 2 ? selectedChoiceColor : choiceColor);
}

}  // namespace

TextBox textPos1;
TextPoint textPos2;
RECT messageRect;
uint8_t textVisible;
uint8_t menuVisible;
const char* textLine1;
const char* textLine2;
uint8_t menuSelection;

void resetTextState() {
  markPictureChanged();
  textPos1 = defaultTextPos1;
  textPos2 = defaultTextPos2;
  textLine1 = nullptr;
  textLine2 = nullptr;
  textVisible = 0;
  menuVisible = 0;
}

void drawTextOverlay() {
  if (textVisible != 1) return;
  HDC screen = virtualScreen.imageDC;
  if (menuVisible == 1) {
    drawMenu(screen);
    return;
  }
  if (!textLine1) return;
  DrawTextA(screen, textLine1, int(strlen(textLine1)), &messageRect, messageFormat);
}

uint8_t choiceUnderCursor() {
  // The first choice is tested first, so it wins where the two boxes overlap.
  if (cursorOnChoice(firstChoice())) return 1;
  if (cursorOnChoice(secondChoice())) return 2;
  return 0;
}

bool cursorInBox(HWND window, int32_t x, int32_t y, int32_t width, int32_t height) {
  POINT cursor;
  if (!GetCursorPos(&cursor) || !ScreenToClient(window, &cursor)) return false;
  // In 64 bits so that a box near the edge of the 32-bit range cannot wrap around.
  const int64_t right = int64_t(x) + width;
  const int64_t bottom = int64_t(y) + height;
  return x <= cursor.x && cursor.x <= right && y <= cursor.y && cursor.y <= bottom;
}
