// The sound-effect slots on both builds, with real files and the platform's own sound service
// (our SDL layer on Linux, winmm under Wine, where there may be no audio device): what load,
// play, delete, release and reset do to the slot table. On Linux also what the service really
// plays, read back through SDL's disk audio driver: its file holds every frame the device made,
// in order, so lengths and order of sounds are checked in frames, never against the wall clock.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include "sound/sound.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/linux/sound_control.h"
#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);  // the sanitizer's own heap
#endif
#endif

namespace {

// 16-bit stereo at 44.1 kHz, the device format, so that its samples reach the device unchanged:
// frames alternately +amplitude and -amplitude, which tells sounds apart and shows each seam.
std::string toneImage(int amplitude, int frames) {
  std::string data;
  for (int frame = 0; frame < frames; ++frame)
    putLe(data, (uint16_t)(frame % 2 ? -amplitude : amplitude) * 0x10001u, 4);
  return wavImage(1, 2, 44100, 16, 4, data);
}

std::string loadImage(const std::string& bytes, int slot) {  // from a new file; its path
  static int files = 0;
  std::string path = writeTempFile(("sound-" + std::to_string(++files) + ".wav").c_str(), bytes);
  loadSound(path.c_str(), slot);
  return path;
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override { releaseSoundSlots(), resetSoundSlots(); }
  void TearDown() override { stopSound(0), releaseSoundSlots(), resetSoundSlots(); }
};

// A new file replaces the image, a missing one (or a directory) keeps it. A play marks its slot,
// loaded or not, until the next run; numbers outside 0-9 change nothing. An empty file gives a
// buffer (one byte longer than the file) that plays nothing.
TEST_F(SoundTest, LoadsReplaceAndPlaysMarkOnlyTheirSlotUntilTheNextRun) {
  std::string second = toneImage(2000, 400), path = loadImage(toneImage(1000, 200), 3);
  loadImage(second, 3);
  char* kept = soundSlots[3].image;
  for (const std::string& missing : {tempDirectory() + "/no-such.wav", tempDirectory()})
    loadSound(missing.c_str(), 3);
  EXPECT_TRUE(soundSlots[3].image == kept && memcmp(kept, second.data(), second.size()) == 0);
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
  releaseSoundSlots();  // a script is opened: the images go, the flags stay until the run starts
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
  EXPECT_EQ(soundSlots[8].played, 1);
  resetSoundSlots();
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.played, 0);
}

#ifndef _WIN32
constexpr long tone = 2206;  // frames of the test tones: 50 ms, even so that loops run on

class SoundOutputTest : public SoundTest {
 protected:
  void TearDown() override {
    SoundTest::TearDown();
    closeSoundDevice();
    setenv("SDL_AUDIODRIVER", "dummy", 1);  // the suite's own driver, for the tests that follow
  }
  // From the next play on, the device writes its output to a new file, a buffer a millisecond:
  // it runs ten times as fast as a sound plays.
  void beginCapture() {
    closeSoundDevice();
    static int captures = 0;
    path = tempDirectory() + "/capture-" + std::to_string(++captures) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1), setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
  }
  long framesOnDisk() {
    struct stat info;
    return stat(path.c_str(), &info) ? 0 : (long)info.st_size / soundDeviceFrameBytes;
  }
  // Returns once the device made `frames` more frames; after ten seconds without, at once.
  void wait(long frames) {
    long target = framesOnDisk() + frames;
    for (int i = 0; i < 2000 && !stalled && framesOnDisk() < target; ++i) usleep(5000);
    stalled = framesOnDisk() < target;
    EXPECT_FALSE(stalled) << "the disk driver stopped writing";
  }
  // Closes the device, which completes the file: the left channel of every frame.
  std::vector<int16_t> finish() {
    closeSoundDevice();
    std::ifstream file(path, std::ios::binary);
    std::vector<int16_t> left;
    for (int16_t frame[soundDeviceChannels]; file.read((char*)frame, sizeof frame);) {
      EXPECT_EQ(frame[0], frame[1]) << "both channels carry the same sound";
      left.push_back(frame[0]);
    }
    return left;
  }
  // Finishes a capture whose stretches of one absolute level (0 for silence), from the first
  // that sounds on, must have these levels: their lengths in frames.
  std::vector<long> finishWith(const std::vector<int>& levels) {
    std::vector<int> got;
    std::vector<long> frames;
    for (int16_t sample : finish()) {
      if (!got.empty() && got.back() == abs(sample))
        ++frames.back();
      else if (sample != 0 || !got.empty())
        got.push_back(abs(sample)), frames.push_back(1);
    }
    EXPECT_EQ(got, levels);
    frames.resize(levels.size());
    return frames;
  }
  std::string path;
  bool stalled = false;
};

// Modes 0, 2 and -1 play once, 1 loops; a play replaces the sound at once, and a stop or a
// play of an empty slot, whichever slot it names, ends it. Releasing the image that plays ends
// its sound, releasing any other leaves it playing; under AddressSanitizer this also shows that
// nothing reads an image or its samples after their release.
TEST_F(SoundOutputTest, ModesStopsAndReleases) {
  for (int slot = 0; slot < 4; ++slot) loadImage(toneImage(1000 * (slot + 1), tone), slot);
  beginCapture();
  const int modes[] = {0, 2, -1};
  for (int slot = 0; slot < 3; ++slot) playSound(slot, modes[slot]), wait(6 * tone);
  playSound(3, 1), wait(12 * tone);
  playSound(0, 0), wait(4 * tone);  // follows the loop without a gap
  playSound(3, 1), wait(4 * tone), playSound(7, 0), wait(4 * tone);
  playSound(3, 1), wait(4 * tone), stopSound(5), wait(4 * tone);
  playSound(3, 1), wait(3 * tone), deleteSound(1), loadImage(toneImage(2000, tone), 1);
  loadImage(toneImage(2500, tone), 2), wait(3 * tone), deleteSound(3), wait(3 * tone);
  playSound(1, 1), wait(3 * tone), loadImage(toneImage(3000, tone), 1), wait(3 * tone);
  playSound(1, 1), wait(3 * tone), releaseSoundSlots(), wait(3 * tone);  // a script is opened
  std::vector<long> runs = finishWith(
      {1000, 0, 2000, 0, 3000, 0, 4000, 1000, 0, 4000, 0, 4000, 0, 4000, 0, 2000, 0, 3000, 0});
  for (int i : {0, 2, 4, 7}) EXPECT_EQ(runs[i], tone) << i;
  for (int i : {6, 13}) EXPECT_GE(runs[i], 5 * tone) << i;
}

long heapInUse() {  // AddressSanitizer's heap is its own
#ifdef __SANITIZE_ADDRESS__
  return (long)__sanitizer_get_current_allocated_bytes();
#endif
  return (long)(mallinfo2().uordblks + mallinfo2().hblkhd);
}

// Sample sizes, rates and a sloppy header (SDL's own decoders, A-law or ADPCM, take the same way
// once decoded): the length in device frames and the level in the middle show that the sound was
// converted, not just accepted. Converted while it plays, a sound of a low rate costs memory in
// proportion to its file, not to its playing time at the device rate.
TEST_F(SoundOutputTest, EverySampleFormatPlays) {
  const int n = 4040;
  const struct {
    const char* name;
    uint16_t tag, bits;
    uint32_t rate, plus, minus;  // the sound's n frames alternate between these codes
    long frames;                 // at 44.1 kHz
    int level, tolerance;
    bool overlongRiffSize = false;  // claiming more than the file, with every chunk whole
  } formats[] = {
      {"unsigned 8-bit", 1, 8, 44100, 192, 64, n, 16384, 0},
      {"16-bit", 1, 16, 44100, 12000, -12000u, n, 12000, 0},
      {"24-bit", 1, 24, 44100, 10000 << 8, -(10000u << 8), n, 10000, 1},
      {"float", 3, 32, 44100, 0x3E800000, 0xBE800000, n, 8192, 2},  // +-0.25
      {"22.05 kHz", 1, 16, 22050, 8000, 8000, 2 * n, 8000, 100},
      {"1 kHz", 1, 8, 1000, 192, 192, n * 441 / 10, 16384, 300},
      {"384 kHz", 1, 16, 384000, 8000, 8000, n * 441 / 3840, 8000, 100},
      {"overlong RIFF size", 1, 16, 44100, 4000, -4000u, n, 4000, 0, true},
  };
  for (const auto& format : formats) {
    SCOPED_TRACE(format.name);
    std::string data;
    for (int i = 0; i < n; ++i) putLe(data, i % 2 ? format.minus : format.plus, format.bits / 8);
    std::string image = wavImage(format.tag, 1, format.rate, format.bits, format.bits / 8, data);
    if (format.overlongRiffSize) image[4] = (char)0xF0;
    long before = heapInUse();
    loadImage(image, 0);
    EXPECT_LT(heapInUse() - before, 100000);  // the 1 kHz sound whole: 712 KB
    beginCapture();
    playSound(0, 0), wait(format.frames + 4 * tone);
    std::vector<int16_t> samples = finish();
    // Converted sounds ramp in and out: measured between the first and last clear frames.
    long first = -1, last = -1;
    for (long i = 0; i < (long)samples.size(); ++i)
      if (abs(samples[i]) > format.level / 4) first = first < 0 ? i : first, last = i;
    ASSERT_GE(first, 0) << "nothing sounded";
    EXPECT_NEAR(last - first + 1, format.frames, format.frames / 100);
    EXPECT_NEAR(abs(samples[(first + last) / 2]), format.level, format.tolerance);
  }
}

// Images the service cannot play. Each still ends the sound that played, as any play does, and
// nothing is read beyond the file: slot buffers are one byte longer than their files, so
// AddressSanitizer would see it.
TEST_F(SoundOutputTest, UnplayableImagesPlayNothingAndEndTheSoundThatPlayed) {
  std::string other = toneImage(3000, tone), huge = toneImage(3000, 64), data(400, '\x60');
  huge.replace(4, 4, "\xFF\xFF\xFF\xFF");    // RIFF size: 4 GiB
  huge[huge.find("data") + 7] = (char)0x7F;  // data size: 2 GiB
  const std::string images[] = {
      "", "not a sound at all", other.substr(0, 12), other.substr(0, 30),  // cut in the format
      other.substr(0, other.size() / 2),  // cut in the data that the header still claims
      wavImage(1, 2, 44100, 16, 4, ""), wavImage(1, 1, 22050, 16, 2, ""),  // no data
      wavImage(0x55, 2, 44100, 16, 4, data), wavImage(1, 0, 44100, 16, 4, data),
      // Rates no sound file has: 2,400 bytes at 1 Hz would play for 40 minutes.
      wavImage(1, 1, 1, 8, 1, std::string(2400, '\x60')), wavImage(1, 1, 999, 8, 1, data),
      wavImage(1, 1, 384001, 8, 1, data), huge};
  loadImage(toneImage(1000, tone), 0);
  beginCapture();
  std::vector<int> levels;
  for (const std::string& image : images) {
    loadImage(image, 1);
    playSound(0, 1), wait(3 * tone), playSound(1, 0), wait(3 * tone);
    levels.insert(levels.end(), {1000, 0});
  }
  finishWith(levels);
}

TEST_F(SoundOutputTest, WithoutAnAudioDeviceNothingSoundsAndNothingFails) {
  closeSoundDevice();
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  loadImage(toneImage(1000, tone), 0);
  playSound(0, 1);
  int16_t output[4] = {1, 1, 1, 1};
  EXPECT_FALSE(soundDeviceOpen() || pullSoundOutput(output, sizeof output) || output[0] != 1);
  EXPECT_FALSE(sndPlaySoundA(soundSlots[0].image, SND_ASYNC | SND_MEMORY));
  EXPECT_TRUE(sndPlaySoundA(NULL, SND_ASYNC));
  deleteSound(0);
  EXPECT_EQ(soundSlots[0].image, nullptr);
}

// The service's own flags and notes: a synchronous play returns after its sound, no-stop leaves
// a playing sound alone, an image nobody noted is never read, a forgotten one stops sounding.
TEST_F(SoundOutputTest, TheServicesOwnFlagsAndNotes) {
  std::string once = toneImage(2000, tone), loop = toneImage(1000, tone),
              other = toneImage(3000, tone);
  noteSoundImage(once.data(), once.size()), noteSoundImage(loop.data(), loop.size());
  auto play = [&](const std::string& image, UINT flags) {
    BOOL played = sndPlaySoundA(image.data(), flags | SND_MEMORY);
    wait(2 * tone);
    return played;
  };
  beginCapture();
  EXPECT_TRUE(sndPlaySoundA(once.data(), SND_SYNC | SND_MEMORY));
  sndPlaySoundA(NULL, SND_ASYNC);  // would cut the sound short had the call not waited
  EXPECT_TRUE(play(loop, SND_ASYNC | SND_LOOP));
  EXPECT_FALSE(play(once, SND_ASYNC | SND_NOSTOP));
  EXPECT_FALSE(play(other, SND_ASYNC));  // never noted
  forgetSoundImage(once.data());
  EXPECT_TRUE(play(loop, SND_ASYNC | SND_LOOP));
  forgetSoundImage(loop.data());  // its samples go with it
  wait(2 * tone);
  int16_t output[4] = {1, 1, 1, 1};  // what plays now, at once: silence
  EXPECT_TRUE(pullSoundOutput(output, sizeof output));
  EXPECT_EQ(output[3], 0);
  std::vector<long> runs = finishWith({2000, 0, 1000, 0, 1000, 0});
  EXPECT_EQ(runs[0], tone);
  EXPECT_GE(runs[2], 3 * tone) << "the no-stop call left the loop playing";
}

#endif

}  // namespace
