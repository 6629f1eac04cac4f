// The sound-effect slots with real files and the platform's sound service, on both builds; on
// Linux also what it plays, read back through SDL's disk audio driver, whose file holds every
// frame the device made in order: sounds are measured in frames, never by the wall clock.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include "sound/sound.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/linux/sound_control.h"
#endif

namespace {

std::string toneImage(int amplitude, int frames) {  // in the device's format, alternating signs
  std::string data;
  for (int frame = 0; frame < frames; ++frame)
    putLe(data, (uint16_t)(frame % 2 ? -amplitude : amplitude) * 0x10001u, 4);
  return wavImage(1, 2, 44100, 16, 4, data);
}

void loadImage(const std::string& bytes, int slot) {  // from a new file
  static int files = 0;
  std::string path = writeTempFile(("sound-" + std::to_string(++files) + ".wav").c_str(), bytes);
  loadSound(path.c_str(), slot);
}

class SoundTest : public ::testing::Test {
 protected:
  void TearDown() override { stopSound(0), releaseSoundSlots(), resetSoundSlots(); }
};

// A new file replaces the image, a missing one (or a directory) keeps it; numbers outside 0-9
// change nothing. A play marks its slot, loaded or not; opening a script drops the images and
// keeps the marks until the run starts.
TEST_F(SoundTest, LoadsReplaceAndPlaysMarkOnlyTheirSlotUntilTheNextRun) {
  std::string second = toneImage(2000, 400), path = writeTempFile("first.wav", toneImage(1, 20));
  loadSound(path.c_str(), 3), loadImage(second, 3);
  char* kept = soundSlots[3].image;
  for (const std::string& missing : {tempDirectory() + "/no-such.wav", tempDirectory()})
    loadSound(missing.c_str(), 3);
  EXPECT_TRUE(soundSlots[3].image == kept && memcmp(kept, second.data(), second.size()) == 0);
  for (int slot : {-1, 10, INT_MIN, INT_MAX})
    loadSound(path.c_str(), slot), playSound(slot, 1), deleteSound(slot);
  playSound(8, 1), stopSound(8);  // never loaded; a stop changes no mark
  for (int slot = 0; slot < soundSlotCount; ++slot)
    EXPECT_EQ(soundSlots[slot].played, slot == 8) << slot;
  releaseSoundSlots();
  EXPECT_TRUE(soundSlots[3].image == nullptr && soundSlots[8].played);
  resetSoundSlots();
  EXPECT_FALSE(soundSlots[8].played);
}

#ifndef _WIN32
constexpr long tone = 2206;  // frames of the test tones: 50 ms, even so that loops run on
constexpr long frameBytes = soundDeviceFrameBytes;

class SoundOutputTest : public SoundTest {
 protected:
  void TearDown() override {
    SoundTest::TearDown();
    closeSoundDevice();
    setenv("SDL_AUDIODRIVER", "dummy", 1);  // the suite's own driver, for the tests that follow
  }
  // From the next play on, the device writes to a new file, ten times as fast as sounds play.
  void beginCapture() {
    closeSoundDevice();
    static int captures = 0;
    path = tempDirectory() + "/capture-" + std::to_string(++captures) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1), setenv("SDL_DISKAUDIOFILE", path.c_str(), 1),
        setenv("SDL_DISKAUDIODELAY", "1", 1);
  }
  // Returns once the device made `frames` more frames; after ten seconds without, at once.
  void wait(long frames) {
    struct stat info;
    auto made = [&] { return stat(path.c_str(), &info) ? 0 : info.st_size / frameBytes; };
    long target = made() + frames;
    for (int i = 0; i < 2000 && !stalled && made() < target; ++i) usleep(5000);
    EXPECT_FALSE(stalled = made() < target) << "the disk driver stopped writing";
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

// Sample sizes, rates and a RIFF size beyond the file: the length in device frames and the level
// in the middle show that the sound was converted, not just accepted.
TEST_F(SoundOutputTest, EverySampleFormatPlays) {
  const int n = 4040;
  const struct {
    uint16_t tag, bits;
    uint32_t rate, plus, minus;  // the sound's n frames alternate between these codes
    long frames, level, tolerance;  // frames at 44.1 kHz
  } formats[] = {
      {1, 8, 44100, 192, 64, n, 16384, 0},
      {1, 16, 44100, 12000, -12000u, n, 12000, 0},  // with the RIFF size 0xF0 too large
      {1, 24, 44100, 10000 << 8, -(10000u << 8), n, 10000, 1},
      {3, 32, 44100, 0x3E800000, 0xBE800000, n, 8192, 2},  // float, +-0.25
      {1, 16, 22050, 8000, 8000, 2 * n, 8000, 100},
      {1, 8, 1000, 192, 192, n * 441 / 10, 16384, 300},
      {1, 16, 384000, 8000, 8000, n * 441 / 3840, 8000, 100},
  };
  for (const auto& format : formats) {
    SCOPED_TRACE(format.rate + format.bits);
    std::string data;
    for (int i = 0; i < n; ++i) putLe(data, i % 2 ? format.minus : format.plus, format.bits / 8);
    std::string image = wavImage(format.tag, 1, format.rate, format.bits, format.bits / 8, data);
    if (format.level == 12000) image[4] = (char)0xF0;
    loadImage(image, 0), beginCapture();
    playSound(0, 0), wait(format.frames + 4 * tone);
    std::vector<int16_t> samples = finish();
    long first = -1, last = -1;  // converted sounds ramp in and out: between clear frames
    for (long i = 0; i < (long)samples.size(); ++i)
      if (abs(samples[i]) > format.level / 4) first = first < 0 ? i : first, last = i;
    ASSERT_GE(first, 0) << "nothing sounded";
    EXPECT_NEAR(last - first + 1, format.frames, format.frames / 100);
    EXPECT_NEAR(abs(samples[(first + last) / 2]), format.level, format.tolerance);
  }
}

// Images the service cannot play still end the sound that played, and nothing is read beyond
// the file: slot buffers are one byte longer than their files, so AddressSanitizer would see it.
TEST_F(SoundOutputTest, UnplayableImagesPlayNothingAndEndTheSoundThatPlayed) {
  std::string other = toneImage(3000, tone), huge = toneImage(3000, 64), data(400, '\x60');
  huge.replace(4, 4, "\xFF\xFF\xFF\xFF");    // RIFF size: 4 GiB
  huge[huge.find("data") + 7] = (char)0x7F;  // data size: 2 GiB
  const std::string images[] = {
      "", "not a sound at all", other.substr(0, 30),  // cut in the format
      other.substr(0, other.size() / 2),              // cut in the data the header claims
      wavImage(1, 2, 44100, 16, 4, ""), wavImage(0x55, 2, 44100, 16, 4, data),
      wavImage(1, 0, 44100, 16, 4, data),
      wavImage(1, 1, 999, 8, 1, data), wavImage(1, 1, 384001, 8, 1, data), huge};  // rates
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

#endif

}  // namespace
