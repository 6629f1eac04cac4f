// The command executors: what each script command does to the image slots, the message text and
// menu, the sound slots, the main window and the run flag. Nothing is drawn here; the frame
// tick draws the result after the step. Owns commandExecutors; keeps no state of its own except
// the last icon it loaded. Runs on the frame thread.
#include <string.h>

#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "resources/texts.h"
#include "shell/shell.h"
#include "sound/sound.h"

int32_t scriptNumber(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > (int64_t)INT32_MAX + 1) break;  // saturated either way; stop before int64 overflows
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return (int32_t)value;
}

namespace {

// The image slot an argument names, or null when the number is no slot. The compiler lets only
// 0 to 9 through for the bitmap commands, but the anim_ commands check digits only, and such a
// command must leave everything outside the ten slots alone: it is ignored.
ImageSlot* slotNamed(const char* argument) {
  int32_t slot = scriptNumber(argument);
  if (slot < 0 || slot >= imageSlotCount) return nullptr;
  return &imageSlots[slot];
}

// destX, destY, cellWidth, cellHeight, srcX and srcY from six consecutive arguments.
void setPlacement(ImageSlot* slot, char* const* args) {
  slot->destX = scriptNumber(args[0]);
  slot->destY = scriptNumber(args[1]);
  slot->cellWidth = scriptNumber(args[2]);
  slot->cellHeight = scriptNumber(args[3]);
  slot->srcX = scriptNumber(args[4]);
  slot->srcY = scriptNumber(args[5]);
}

// Byte fields keep the low 8 bits of the number: 256 stores 0, 300 stores 44.
uint8_t lowByte(const char* argument) {
  return (uint8_t)(uint32_t)scriptNumber(argument);
}

// Every change_window_icon loads a new icon; the one it replaced on the window is destroyed so
// that a script changing icons in a loop does not use up the system's objects.
HICON loadedIcon = nullptr;

void changeWindowCaptionExecutor(CommandNode* node) {
  SetWindowTextA(node->window, node->args[1]);
}

void scriptEndExecutor(CommandNode*) {
  MessageBoxA(mainWindow, textScriptEnded, captionEnd, MB_OK);
}

void bitmapLoadExecutor(CommandNode* node) {
  uint32_t slot = (uint32_t)scriptNumber(node->args[1]);
  loadSlotImage(slot, node->args[2]);
  // Hidden whether or not the load succeeded, until the next bitmap_show or anim_play.
  if (slot < (uint32_t)imageSlotCount) imageSlots[slot].visible = 0;
}

void bitmapShowExecutor(CommandNode* node) {
  ImageSlot* slot = slotNamed(node->args[1]);
  if (!slot) return;
  setPlacement(slot, &node->args[2]);
  int32_t maskMode = scriptNumber(node->args[8]);
  if (maskMode == 0) slot->transparent = 0;
  if (maskMode == 1) slot->transparent = 1;
  // Any other mask mode keeps the transparency the slot had.
  slot->visible = 1;
}

void bitmapHideExecutor(CommandNode* node) {
  if (ImageSlot* slot = slotNamed(node->args[1])) slot->visible = 0;
}

void seLoadExecutor(CommandNode* node) {
  loadSound(node->args[2], scriptNumber(node->args[1]));
}

void seDeleteExecutor(CommandNode* node) {
  deleteSound(scriptNumber(node->args[1]));
}

void sePlayExecutor(CommandNode* node) {
  playSound(scriptNumber(node->args[1]), scriptNumber(node->args[2]));
}

void seStopExecutor(CommandNode* node) {
  stopSound(scriptNumber(node->args[1]));
}

void textClearExecutor(CommandNode*) {
  textVisible = 0;
}

// The choices are not copied: they live in the node as long as the command list does.
void menuExecutor(CommandNode* node) {
  textLine1 = node->args[1];
  textLine2 = node->args[2];
}

// The choice value and the label are the step's; showing the menu is all that happens here.
void ifExecutor(CommandNode*) {
  menuVisible = 1;
}

// The step carries out jmp itself and never calls this row; it is here so the table has no hole.
void jmpExecutor(CommandNode*) {}

void changeWindowIconExecutor(CommandNode* node) {
  // A missing file gives a null icon, which is sent all the same and clears the small icon.
  HICON icon = (HICON)LoadImageA(nullptr, node->args[1], IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
  SendMessageA(mainWindow, WM_SETICON, ICON_SMALL, (LPARAM)icon);
  if (loadedIcon) DestroyIcon(loadedIcon);
  loadedIcon = icon;
}

void setTextPosExecutor(CommandNode* node) {
  int32_t box = scriptNumber(node->args[1]);
  if (box == 1) {
    textPos1.x = scriptNumber(node->args[2]);
    textPos1.y = scriptNumber(node->args[3]);
    textPos1.width = scriptNumber(node->args[4]);
    textPos1.height = scriptNumber(node->args[5]);
  } else if (box == 2) {
    // The second choice's box is sized by its text, so its width and height are not kept.
    textPos2.x = scriptNumber(node->args[2]);
    textPos2.y = scriptNumber(node->args[3]);
  }
  // The message rectangle follows box 1 alone, whichever box was set. The sums wrap as 32-bit
  // numbers rather than overflow.
  SetRect(&messageRect, textPos1.x, textPos1.y,
          (int32_t)((uint32_t)textPos1.x + (uint32_t)textPos1.width),
          (int32_t)((uint32_t)textPos1.y + (uint32_t)textPos1.height));
}

void animPlayExecutor(CommandNode* node) {
  ImageSlot* slot = slotNamed(node->args[1]);
  if (!slot) return;
  setPlacement(slot, &node->args[2]);
  slot->stripAxis = lowByte(node->args[8]);
  slot->frameCount = lowByte(node->args[9]);
  // Arguments 10 and 11 are accepted and have no effect.
  slot->transparent = scriptNumber(node->args[12]) != 0 ? 1 : 0;
  // currentFrame is left where the composition put it: a restarted animation goes on from there.
  slot->animState = 1;
  slot->visible = 1;
}

void animStopExecutor(CommandNode* node) {
  ImageSlot* slot = slotNamed(node->args[1]);
  if (!slot) return;
  slot->stopFrame = lowByte(node->args[2]);
  slot->animState = 0;
}

void changeWindowSizeExecutor(CommandNode* node) {
  MoveWindow(node->window, scriptNumber(node->args[1]), scriptNumber(node->args[2]),
             scriptNumber(node->args[3]), scriptNumber(node->args[4]), TRUE);
}

void animHideExecutor(CommandNode* node) {
  if (ImageSlot* slot = slotNamed(node->args[1])) slot->animState = 2;
}

}  // namespace

void noOpExecutor(CommandNode*) {}

void textExecutor(CommandNode* node) {
  const char* text = node->args[0];
  if (text[0] == '$') {
    // A label: passed over without a stop and without showing anything.
    runEnabled = 1;
    return;
  }
  if (strcmp(text, commandNames[commandIndexTextShow]) == 0) {
    // A text_show line carries no text of its own (its one token is the command's name): it
    // stops the script like a text line but leaves the message as it was.
    runEnabled = 0;
    return;
  }
  SetTextColor(virtualScreen.imageDC, 0);
  textVisible = 1;
  textLine1 = text;
  runEnabled = 0;
}

const CommandExecutor commandExecutors[commandCount] = {
    changeWindowCaptionExecutor,  //  0 change_window_caption  SetWindowTextA, node's window
    noOpExecutor,                 //  1 script_start
    scriptEndExecutor,            //  2 script_end             message box; the step ends
    bitmapLoadExecutor,           //  3 bitmap_load            load, then hide the slot
    noOpExecutor,                 //  4 bitmap_delete          the slot keeps its bitmap
    bitmapShowExecutor,           //  5 bitmap_show            placement, mask mode, visible
    bitmapHideExecutor,           //  6 bitmap_hide
    seLoadExecutor,               //  7 se_load
    seDeleteExecutor,             //  8 se_delete
    sePlayExecutor,               //  9 se_play                mode 1 loops
    seStopExecutor,               // 10 se_stop                stops whatever plays
    noOpExecutor,                 // 11 bgm_load
    noOpExecutor,                 // 12 bgm_delete
    noOpExecutor,                 // 13 bgm_play
    noOpExecutor,                 // 14 bgm_stop
    textExecutor,                 // 15 text_show              also text lines and labels
    textClearExecutor,            // 16 text_clear
    menuExecutor,                 // 17 menu                   the choices, shown by if
    noOpExecutor,                 // 18 msg_window_open
    noOpExecutor,                 // 19 msg_window_close
    ifExecutor,                   // 20 if                     menu up; the step chooses
    jmpExecutor,                  // 21 jmp                    never called: the step jumps
    changeWindowIconExecutor,     // 22 change_window_icon     WM_SETICON to mainWindow
    noOpExecutor,                 // 23 change_text_color
    setTextPosExecutor,           // 24 set_text_pos           a box, messageRect from box 1
    animPlayExecutor,             // 25 anim_play
    animStopExecutor,             // 26 anim_stop
    changeWindowSizeExecutor,     // 27 change_window_size     MoveWindow, node's window
    animHideExecutor,             // 28 anim_hide
};
static_assert(sizeof(commandExecutors) / sizeof(commandExecutors[0]) == commandCount,
              "one executor per command");
