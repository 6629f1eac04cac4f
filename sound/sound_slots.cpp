// Sound-effect slots: se_load reads a whole sound file into a slot, se_play hands that memory
// image to the platform's simple sound service, once or looping, one sound at a time.
// Owns soundSlots and the note of which image the platform may still be reading.
#include <limits.h>
#include <stdlib.h>

#include "platform/windows_api.h"
#include "sound/sound.h"

SoundSlot soundSlots[soundSlotCount];

namespace {

constexpr UINT playOnceFlags = SND_ASYNC | SND_MEMORY;             // 5
constexpr UINT playLoopingFlags = SND_ASYNC | SND_MEMORY | SND_LOOP;  // 13
constexpr UINT stopFlags = SND_ASYNC;                               // 1, with a null sound

// The image last handed to the platform, null after a stop. The platform plays one sound at a
// time and starting one ends the last, so this is the only image it may still be reading, for
// ever when it loops. A sound played once that has ended is still named here: stopping it
// again costs nothing.
const char* imageInPlay = nullptr;

bool isSlot(int slot) { return slot >= 0 && slot < soundSlotCount; }

// Gives an image back. The one the platform may be reading is taken from it first: the stop
// returns only when the platform no longer reads it. Images of other slots are not playing, so
// releasing them leaves the sound that plays alone.
void releaseImage(char* image) {
  if (!image) return;
  if (image == imageInPlay) {
    sndPlaySoundA(NULL, stopFlags);
    imageInPlay = nullptr;
  }
  forgetSoundImage(image);
  free(image);
}

}  // namespace

void resetSoundSlots() {
  for (SoundSlot& slot : soundSlots) {
    slot.image = nullptr;
    slot.played = 0;
  }
}

void releaseSoundSlots() {
  for (SoundSlot& slot : soundSlots) {
    releaseImage(slot.image);
    slot.image = nullptr;
  }
}

// The length of an open file in bytes, the file positioned at its start again; -1 when it
// cannot be told or does not fit the 32-bit count the slots use.
int32_t fileLength(FILE* file) {
  if (fseek(file, 0, SEEK_END) != 0) return -1;
  long end = ftell(file);
  if (fseek(file, 0, SEEK_SET) != 0) return -1;
  if (end < 0 || end > INT32_MAX) return -1;
  return (int32_t)end;
}

void loadSound(const char* fileName, int slot) {
  if (!isSlot(slot)) return;
  FILE* file = openNamedFile(fileName, "rb");
  if (!file) return;
  int32_t length = fileLength(file);
  if (length < 0) {
    // A file whose length cannot be told cannot be read whole: the slot keeps what it had.
    fclose(file);
    return;
  }
  SoundSlot& target = soundSlots[slot];
  releaseImage(target.image);
  // One byte longer than the file, so that even an empty file gives a buffer.
  target.image = (char*)malloc((size_t)length + 1);
  if (!target.image) {
    fclose(file);
    return;
  }
  // The platform is told how many bytes really arrived: a file that shrank since its length was
  // taken leaves bytes that nothing wrote, and they must not be played.
  size_t got = fread(target.image, 1, (size_t)length, file);
  noteSoundImage(target.image, got);
  fclose(file);
}

void playSound(int slot, int mode) {
  if (!isSlot(slot)) return;
  SoundSlot& source = soundSlots[slot];
  source.played = 1;
  // An empty slot hands over a null sound, which stops whatever plays.
  sndPlaySoundA(source.image, mode == 1 ? playLoopingFlags : playOnceFlags);
  imageInPlay = source.image;
}

void stopSound(int slot) {
  (void)slot;  // whatever plays is stopped, whichever slot started it
  sndPlaySoundA(NULL, stopFlags);
  imageInPlay = nullptr;
}

void deleteSound(int slot) {
  if (!isSlot(slot)) return;
  // played says this slot may still be sounding; releaseImage stops it exactly when its image
  // is the one the platform reads, and leaves another slot's sound playing.
  SoundSlot& target = soundSlots[slot];
  releaseImage(target.image);
  target.image = nullptr;
}
