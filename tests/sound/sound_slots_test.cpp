// The sound-effect slots on both builds: what load, play, delete, release and reset do to the
// slot table, with real files and the platform's own sound service (our SDL layer on Linux,
// winmm under Wine, where there may be no audio device). What is heard is checked in
// sound_output_test.cpp, on Linux.
#include <limits.h>
#include <string.h>

#include "sound_support.h"

namespace {

using SoundSlotsTest = SoundTest;

bool holds(int slot, const std::string& bytes) {
  const char* image = soundSlots[slot].image;
  return image && memcmp(image, bytes.data(), bytes.size()) == 0;
}

TEST_F(SoundSlotsTest, ANewFileReplacesTheImageAndAMissingOneKeepsIt) {
  std::string first = toneImage(1000, 200), second = toneImage(2000, 400);
  loadImage(first, 4);
  EXPECT_TRUE(holds(4, first));
  loadImage(second, 4);
  char* kept = soundSlots[4].image;
  for (const std::string& missing : {tempDirectory() + "/no-such.wav", tempDirectory()}) {
    loadSound(missing.c_str(), 4);  // a directory is no sound file either
    EXPECT_EQ(soundSlots[4].image, kept);
  }
  EXPECT_TRUE(holds(4, second));
}

// A play marks its slot, loaded or not, until the next run; numbers outside 0-9 change nothing.
// An empty file gives a buffer (one byte longer than the file) that plays nothing.
TEST_F(SoundSlotsTest, APlayMarksOnlyItsSlotUntilTheNextRun) {
  std::string path = loadImage(toneImage(1000, 200), 3);
  for (int slot : {-1, 10, INT_MIN, INT_MAX})
    loadSound(path.c_str(), slot), playSound(slot, 1), deleteSound(slot);
  deleteSound(5);  // empty: nothing to do
  playSound(3, 1), deleteSound(3);
  playSound(3, 0);                // deleted, it plays a null sound and is counted all the same
  playSound(8, 1), stopSound(8);  // never loaded; a stop changes no flag
  loadImage("", 9), playSound(9, 1), deleteSound(9), loadImage("", 9);
  for (int slot : {0, 6}) loadSound(path.c_str(), slot);  // a load is no play
  for (int slot = 0; slot < soundSlotCount; ++slot) {
    EXPECT_EQ(soundSlots[slot].played, slot == 3 || slot == 8 || slot == 9) << slot;
    EXPECT_EQ(soundSlots[slot].image != nullptr, slot % 3 == 0 && slot != 3) << slot;
  }
  // Opening a script releases the images; their flags stay until the run starts.
  releaseSoundSlots();
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
  EXPECT_EQ(soundSlots[8].played, 1);
  resetSoundSlots();
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.played, 0);
}

}  // namespace
