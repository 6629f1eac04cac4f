// Sound-effect slots: ten whole WAV file images, played from memory one at a time.
// Owns soundSlots; runs on the frame thread, released on the main thread while none runs.
#ifndef TORVANE_SOUND_SOUND_H
#define TORVANE_SOUND_SOUND_H

#include <stdint.h>
#include <stdio.h>

constexpr int soundSlotCount = 10;  // scripts address slots 0 to 9

struct SoundSlot {
  char* image;    // the whole file, one byte longer than it; null when the slot is empty
  uint8_t played; // 1 once played in this script run, even when empty; cleared by resetSoundSlots
};

extern SoundSlot soundSlots[soundSlotCount];

void resetSoundSlots();
void releaseSoundSlots();
void loadSound(const char* fileName, int slot);
int32_t fileLength(FILE* file);
void playSound(int slot, int mode);
void stopSound(int slot);
void deleteSound(int slot);

#endif
