// The sound-effect slots on both builds: what load, play, delete, release and reset do to the
// slot table, with real files and the platform's own sound service (our SDL layer on Linux,
// winmm under Wine, where there may be no audio device). What is heard is checked in
// sound_output_test.cpp, on Linux.
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "sound/sound.h"
#include "support/test_support.h"
#include "wav_images.h"

namespace {

class SoundSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override { releaseSoundSlots(), resetSoundSlots(); }
  void TearDown() override { stopSound(0), releaseSoundSlots(), resetSoundSlots(); }
  // A tone file; the amplitude tells the files apart.
  static std::string tone(const char* name, int amplitude = 1000, int frames = 200) {
    return writeTempFile(name, toneImage(amplitude, frames));
  }
  static void expectAllEmptyAndNotPlayed() {
    for (int slot = 0; slot < soundSlotCount; ++slot) {
      EXPECT_EQ(soundSlots[slot].image, nullptr) << slot;
      EXPECT_EQ(soundSlots[slot].played, 0) << slot;
    }
  }
};

// Lets the platform's player run a little (the headless clock's Sleep is virtual).
void pause() {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

bool imageHolds(int slot, const std::string& bytes) {
  const char* image = soundSlots[slot].image;
  return image && memcmp(image, bytes.data(), bytes.size()) == 0;
}

TEST_F(SoundSlotsTest, ANewFileReplacesTheImageAndAMissingFileKeepsIt) {
  std::string first = toneImage(1000, 200), second = toneImage(2000, 400);
  std::string firstPath = writeTempFile("first.wav", first);
  std::string secondPath = writeTempFile("second.wav", second);

  loadSound(firstPath.c_str(), 4);
  ASSERT_TRUE(imageHolds(4, first));
  EXPECT_EQ(soundSlots[4].played, 0) << "a load does not count as a play";

  loadSound(secondPath.c_str(), 4);
  EXPECT_TRUE(imageHolds(4, second));

  char* kept = soundSlots[4].image;
  std::string missing = tempDirectory() + "/no-such-sound.wav";
  loadSound(missing.c_str(), 4);
  EXPECT_EQ(soundSlots[4].image, kept);
  EXPECT_TRUE(imageHolds(4, second));
  // A directory is no sound file either.
  loadSound(tempDirectory().c_str(), 4);
  EXPECT_EQ(soundSlots[4].image, kept);

  // The kept sound still plays, and playing marks only its own slot.
  playSound(4, 0);
  EXPECT_EQ(soundSlots[4].played, 1);
  for (int slot = 0; slot < soundSlotCount; ++slot)
    EXPECT_EQ(soundSlots[slot].played, slot == 4) << slot;
}

TEST_F(SoundSlotsTest, AScriptsWindowsNameFindsTheFile) {
  std::filesystem::create_directories(std::filesystem::path(tempDirectory()) / "Se");
  std::string bytes = toneImage(3000, 100);
  writeTempFile("Se/Chime.wav", bytes);
  // As a script written on Windows names it: backslashes, another letter case.
  std::string name = tempDirectory() + "\\SE\\chime.WAV";
  loadSound(name.c_str(), 0);
  EXPECT_TRUE(imageHolds(0, bytes));
}

TEST_F(SoundSlotsTest, AnEmptyFileLeavesABufferWithNothingToPlay) {
  std::string loop = tone("loop.wav");
  std::string empty = writeTempFile("empty.wav", "");
  loadSound(loop.c_str(), 1);
  loadSound(empty.c_str(), 2);
  EXPECT_NE(soundSlots[2].image, nullptr) << "an empty file still gives its one-byte buffer";

  // Playing it is up to the platform: nothing plays, nothing breaks.
  playSound(1, 1);
  playSound(2, 0);
  playSound(2, 1);
  EXPECT_EQ(soundSlots[2].played, 1);
  deleteSound(2);
  EXPECT_EQ(soundSlots[2].image, nullptr);
}

TEST_F(SoundSlotsTest, SlotNumbersOutsideZeroToNineChangeNothing) {
  std::string path = tone("tone.wav");
  for (int slot : {-1, 10, 11, -2147483647 - 1, 2147483647}) {
    loadSound(path.c_str(), slot);
    playSound(slot, 1);
    deleteSound(slot);
  }
  expectAllEmptyAndNotPlayed();
}

TEST_F(SoundSlotsTest, DeleteEmptiesASlotAndEmptySlotsStillCountAsPlayed) {
  std::string path = tone("tone.wav");
  deleteSound(3);  // an empty slot: nothing to do
  EXPECT_EQ(soundSlots[3].image, nullptr);
  EXPECT_EQ(soundSlots[3].played, 0);

  loadSound(path.c_str(), 3);
  playSound(3, 0);
  deleteSound(3);
  EXPECT_EQ(soundSlots[3].image, nullptr);
  EXPECT_EQ(soundSlots[3].played, 1);

  // Played again after the delete, it behaves as a slot never loaded: a null sound, and the
  // slot counts as played all the same.
  playSound(3, 0);
  playSound(8, 1);
  EXPECT_EQ(soundSlots[3].image, nullptr);
  EXPECT_EQ(soundSlots[8].played, 1);
  stopSound(8);
  EXPECT_EQ(soundSlots[8].played, 1) << "a stop changes no flag";
}

TEST_F(SoundSlotsTest, ANewScriptRunStartsWithEverySlotEmptyAndNotPlayed) {
  std::string path = tone("tone.wav");
  for (int slot = 0; slot < soundSlotCount; slot += 2) loadSound(path.c_str(), slot);
  for (int slot = 0; slot < soundSlotCount; slot += 3) playSound(slot, slot % 2);

  // Opening a script releases the slots; their played flags stay until the run starts.
  releaseSoundSlots();
  for (int slot = 0; slot < soundSlotCount; ++slot) {
    EXPECT_EQ(soundSlots[slot].image, nullptr) << slot;
    EXPECT_EQ(soundSlots[slot].played, slot % 3 == 0 ? 1 : 0) << slot;
  }
  resetSoundSlots();
  expectAllEmptyAndNotPlayed();
}

// Every way an image is given back while a looping sound may be playing from it: Windows'
// service reads the image for as long as the sound plays, ours the samples it made of it.
// Under AddressSanitizer a read of anything released fails here; what is heard meanwhile is
// checked in sound_output_test.cpp.
TEST_F(SoundSlotsTest, ImagesAreReleasedSafelyWhileALoopingSoundPlays) {
  std::string a = tone("a.wav", 1000, 4410), b = tone("b.wav", 2000, 4410);
  for (int round = 0; round < 3; ++round) {
    loadSound(a.c_str(), 0);
    loadSound(a.c_str(), 1);
    playSound(0, 1);
    pause();
    loadSound(b.c_str(), 0);  // the playing image is replaced
    pause();
    playSound(0, 1);
    pause();
    deleteSound(0);  // the playing image is deleted
    pause();
    playSound(1, 1);
    pause();
    releaseSoundSlots();  // the playing image goes with all the others
    pause();
    resetSoundSlots();
  }
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
}

}  // namespace
