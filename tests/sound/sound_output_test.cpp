// What the sound service really plays, read back through SDL's disk audio driver: a capture
// file holds every frame the device callback produced, in order, so lengths and order of
// sounds are checked in frames, never against the wall clock. Linux only: under Wine the
// platform's own service plays, and there may be no device to read from.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);  // the sanitizer's own heap
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/sound_control.h"
#include "platform/windows_api.h"
#include "sound/sound.h"
#include "support/test_support.h"
#include "wav_images.h"

namespace {

constexpr int toneFrames = 2206;  // 50 ms at 44.1 kHz, even so that loops run on seamlessly

// A stretch of equal output: level is the absolute sample value, 0 for silence.
struct Stretch {
  int level;
  long frames;
};

class SoundOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    releaseSoundSlots();
    resetSoundSlots();
  }
  void TearDown() override {
    releaseSoundSlots();
    resetSoundSlots();
    closeSoundDevice();
    // Back to the suite's own driver for the tests that follow.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("SDL_DISKAUDIOFILE");
  }

  // From the next sndPlaySoundA on, the device writes its output to a new file.
  void beginCapture() {
    closeSoundDevice();
    static int captures = 0;
    capturePath = tempDirectory() + "/capture-" + std::to_string(++captures) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capturePath.c_str(), 1);
  }

  long framesOnDisk() {
    struct stat info;
    if (stat(capturePath.c_str(), &info) != 0) return 0;
    return (long)(info.st_size / soundDeviceFrameBytes);
  }

  // Waits until the device has produced at least `frames` more frames. The file lags behind the
  // device by what the writer buffers, so the device has produced at least what it shows.
  void waitFrames(long frames) {
    long target = framesOnDisk() + frames;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (framesOnDisk() < target) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the disk driver stopped writing";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Closes the device, which completes the file, and gives the left channel of every frame.
  std::vector<int16_t> finishCapture() {
    closeSoundDevice();
    std::vector<int16_t> left;
    FILE* file = fopen(capturePath.c_str(), "rb");
    if (!file) {
      ADD_FAILURE() << "no capture file " << capturePath;
      return left;
    }
    int16_t frame[soundDeviceChannels];
    while (fread(frame, sizeof frame, 1, file) == 1) {
      EXPECT_EQ(frame[0], frame[1]) << "both channels carry the same sound";
      left.push_back(frame[0]);
    }
    fclose(file);
    return left;
  }

  std::string capturePath;
};

// Consecutive frames of the same absolute value merged, from the first that sounds on.
std::vector<Stretch> runsOf(const std::vector<int16_t>& samples) {
  std::vector<Stretch> runs;
  for (int16_t sample : samples) {
    int level = abs(sample);
    if (!runs.empty() && runs.back().level == level) {
      ++runs.back().frames;
    } else if (level != 0 || !runs.empty()) {
      runs.push_back({level, 1});
    }
  }
  return runs;
}

std::string describe(const std::vector<Stretch>& runs) {
  std::string text;
  for (const Stretch& run : runs)
    text += std::to_string(run.level) + "x" + std::to_string(run.frames) + " ";
  return text;
}

// The levels of the runs, in order; the capture must end in silence.
void expectLevels(const std::vector<Stretch>& runs, const std::vector<int>& levels) {
  std::vector<int> got;
  for (const Stretch& run : runs) got.push_back(run.level);
  EXPECT_EQ(got, levels) << describe(runs);
}

// Loads a made-up file into a slot.
void loadImage(const std::string& bytes, int slot) {
  static int files = 0;
  std::string path = writeTempFile(("sound-" + std::to_string(++files) + ".wav").c_str(), bytes);
  loadSound(path.c_str(), slot);
  ASSERT_NE(soundSlots[slot].image, nullptr);
}

TEST_F(SoundOutputTest, EveryModeButOnePlaysOnceForTheSoundsLength) {
  const int modes[] = {0, 2, -1};
  for (int slot = 0; slot < 3; ++slot) loadImage(toneImage(1000 * (slot + 1), toneFrames), slot);
  beginCapture();
  for (int slot = 0; slot < 3; ++slot) {
    playSound(slot, modes[slot]);
    waitFrames(6 * toneFrames);  // a loop would have come round several times by now
  }
  std::vector<Stretch> runs = runsOf(finishCapture());
  expectLevels(runs, {1000, 0, 2000, 0, 3000, 0});
  for (int i = 0; i < 3 && 2 * i < (int)runs.size(); ++i)
    EXPECT_EQ(runs[2 * i].frames, toneFrames) << "mode " << modes[i];
}

TEST_F(SoundOutputTest, ALoopingSoundPlaysUntilAStopFromAnySlotNumber) {
  loadImage(toneImage(1500, toneFrames), 5);
  beginCapture();
  playSound(5, 1);
  waitFrames(12 * toneFrames);
  stopSound(3);  // not the slot that plays
  waitFrames(6 * toneFrames);
  std::vector<int16_t> samples = finishCapture();
  std::vector<Stretch> runs = runsOf(samples);
  expectLevels(runs, {1500, 0});
  ASSERT_EQ(runs.size(), 2u);
  // Device buffers and the writer's lag take a little; several lengths remain.
  EXPECT_GE(runs[0].frames, 8 * toneFrames);
  EXPECT_GE(runs[1].frames, 2 * toneFrames) << "silent after the stop";

  // Each pass starts where the sound starts: the tone alternates without a break at the seams.
  size_t first = 0;
  while (samples[first] == 0) ++first;
  for (long i = 1; i < runs[0].frames; ++i) {
    ASSERT_EQ(samples[first + i], -samples[first + i - 1]) << "frame " << i;
  }
}

TEST_F(SoundOutputTest, ASecondPlayReplacesTheFirstAndAnEmptySlotStopsIt) {
  loadImage(toneImage(1000, toneFrames), 1);
  loadImage(toneImage(2000, toneFrames), 2);
  beginCapture();
  playSound(1, 1);
  waitFrames(4 * toneFrames);
  playSound(2, 0);  // ends the loop at once; the loop does not come back after it
  waitFrames(4 * toneFrames);
  playSound(1, 1);
  waitFrames(4 * toneFrames);
  playSound(7, 0);  // never loaded: stops what plays
  waitFrames(4 * toneFrames);
  std::vector<Stretch> runs = runsOf(finishCapture());
  // The second sound follows the first without a gap.
  expectLevels(runs, {1000, 2000, 0, 1000, 0});
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_GE(runs[0].frames, 2 * toneFrames);
  EXPECT_EQ(runs[1].frames, toneFrames);
  EXPECT_GE(runs[3].frames, 2 * toneFrames);
  EXPECT_EQ(soundSlots[7].played, 1);
}

// Releasing the image that plays ends its sound; releasing any other leaves the sound playing.
// Under AddressSanitizer this also shows that nothing reads an image after its release.
TEST_F(SoundOutputTest, ReleasingThePlayingImageStopsOnlyItsSound) {
  loadImage(toneImage(1000, toneFrames), 0);
  loadImage(toneImage(2000, toneFrames), 1);
  beginCapture();
  playSound(0, 1);
  waitFrames(3 * toneFrames);
  deleteSound(1);                             // not playing
  loadImage(toneImage(2000, toneFrames), 1);  // an empty slot loaded again
  loadImage(toneImage(2500, toneFrames), 2);
  loadImage(toneImage(2000, toneFrames), 2);  // replacing an image that does not play
  waitFrames(3 * toneFrames);
  deleteSound(0);  // the playing image
  waitFrames(3 * toneFrames);
  playSound(1, 1);
  waitFrames(3 * toneFrames);
  loadImage(toneImage(3000, toneFrames), 1);  // replaces the playing image
  waitFrames(3 * toneFrames);
  playSound(1, 1);
  waitFrames(3 * toneFrames);
  releaseSoundSlots();  // as when a script is opened or the window closes
  waitFrames(3 * toneFrames);
  std::vector<Stretch> runs = runsOf(finishCapture());
  expectLevels(runs, {1000, 0, 2000, 0, 3000, 0});
  ASSERT_FALSE(runs.empty());
  EXPECT_GE(runs[0].frames, 4 * toneFrames) << "other slots' images went without a stop";
}

// Each sample format SDL's reader knows, as one short sound: its length in device frames and
// the level in its middle show that it was decoded and converted, not just accepted.
TEST_F(SoundOutputTest, EverySampleFormatPlays) {
  const int frames = 4040;  // 8 blocks of IMA ADPCM
  std::string u8, s16, s24, s32, f32, alaw, ulaw, slow;
  for (int i = 0; i < frames; ++i) {
    int sign = i % 2 == 0 ? 1 : -1;
    u8.push_back((char)(128 + sign * 64));
    appendLe16(&s16, (uint16_t)(sign * 12000));
    appendLe32(&s24, (uint32_t)(sign * 10000 * 256));
    s24.pop_back();  // the low three bytes
    appendLe32(&s32, (uint32_t)(sign * 9000 * 65536));
    float f = sign * 0.25f;
    uint32_t bits;
    memcpy(&bits, &f, 4);
    appendLe32(&f32, bits);
    alaw.push_back((char)(sign > 0 ? 0xAA : 0x2A));  // the loudest A-law codes
    ulaw.push_back((char)(sign > 0 ? 0x80 : 0x00));  // the loudest mu-law codes
    appendLe16(&slow, 8000);
  }

  // IMA ADPCM: each 256-byte block starts at 8000 with step index 0; zero codes keep it there.
  // MS ADPCM: blocks whose two header samples are 8000, predictor 0 and zero codes.
  std::string ima, ms, imaExtension, msExtension;
  for (int block = 0; block < 8; ++block) {
    appendLe16(&ima, 8000);
    ima += std::string(254, '\0');
    ms.push_back('\0');     // predictor
    appendLe16(&ms, 16);    // delta
    appendLe16(&ms, 8000);  // sample 1
    appendLe16(&ms, 8000);  // sample 2
    ms += std::string(249, '\0');
  }
  appendLe16(&imaExtension, 2);    // extension size
  appendLe16(&imaExtension, 505);  // frames per block: 1 in the header, 2 per data byte
  appendLe16(&msExtension, 32);    // extension size
  appendLe16(&msExtension, 500);   // frames per block: 2 in the header, 2 per data byte
  appendLe16(&msExtension, 7);     // the standard coefficients
  for (int16_t c : {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232})
    appendLe16(&msExtension, (uint16_t)c);

  // A RIFF size that claims more than the file, with every chunk whole: still a sound.
  std::string sloppy = toneImage(4000, frames);
  sloppy[4] = (char)0xF0;

  const struct {
    const char* name;
    std::string image;
    long frames;  // expected at 44.1 kHz
    int level;    // expected absolute sample value in the middle of the sound
    int tolerance;
  } formats[] = {
      {"unsigned 8-bit", wavImage(1, 1, 44100, 8, 1, "", u8), frames, 16384, 0},
      {"16-bit mono", wavImage(1, 1, 44100, 16, 2, "", s16), frames, 12000, 0},
      {"24-bit", wavImage(1, 1, 44100, 24, 3, "", s24), frames, 10000, 1},
      {"32-bit", wavImage(1, 1, 44100, 32, 4, "", s32), frames, 9000, 1},
      {"float", wavImage(3, 1, 44100, 32, 4, "", f32), frames, 8192, 2},
      {"A-law", wavImage(6, 1, 44100, 8, 1, "", alaw), frames, 32256, 300},
      {"mu-law", wavImage(7, 1, 44100, 8, 1, "", ulaw), frames, 32124, 300},
      {"IMA ADPCM", wavImage(0x11, 1, 44100, 4, 256, imaExtension, ima), 8 * 505, 8000, 0},
      {"MS ADPCM", wavImage(2, 1, 44100, 4, 256, msExtension, ms), 8 * 500, 8000, 0},
      // Half the device rate: converted to twice as many frames.
      {"22.05 kHz", wavImage(1, 1, 22050, 16, 2, "", slow), 2 * frames, 8000, 100},
      {"overlong RIFF size", sloppy, frames, 4000, 0},
  };
  for (const auto& format : formats) {
    SCOPED_TRACE(format.name);
    loadImage(format.image, 0);
    beginCapture();
    playSound(0, 0);
    waitFrames(format.frames + 4 * toneFrames);
    std::vector<int16_t> samples = finishCapture();
    // Converted sounds ramp in and out over a few frames: measure between the first and the
    // last frame that clearly sounds.
    long first = -1, last = -1;
    for (size_t i = 0; i < samples.size(); ++i) {
      if (abs(samples[i]) <= format.level / 4) continue;
      if (first < 0) first = (long)i;
      last = (long)i;
    }
    ASSERT_GE(first, 0) << "nothing sounded";
    EXPECT_NEAR(last - first + 1, format.frames, format.frames / 100);
    EXPECT_NEAR(abs(samples[(first + last) / 2]), format.level, format.tolerance);
  }
}

// Images the service cannot play. Each still ends the sound that was playing, as starting any
// sound does, and nothing is read beyond the file: the slots' buffers are exactly one byte
// longer than their files, so AddressSanitizer would see it.
TEST_F(SoundOutputTest, UnplayableImagesPlayNothingAndEndTheSoundThatPlayed) {
  std::string other = toneImage(3000, toneFrames);  // would show if any of it played
  std::string huge = toneImage(3000, 64);
  huge[4] = huge[5] = huge[6] = huge[7] = (char)0xFF;  // RIFF size: 4 GiB
  huge[huge.find("data") + 7] = (char)0x7F;            // data size: 2 GiB
  const std::string images[] = {
      "",
      "not a sound at all",
      other.substr(0, 12),                   // the header only
      other.substr(0, other.size() / 2),     // cut in the data, which the header still claims
      other.substr(0, 30),                   // cut in the format
      wavImage(1, 2, 44100, 16, 4, "", ""),  // no data
      wavImage(0x55, 2, 44100, 16, 4, "", std::string(400, '\x11')),  // an unknown format
      wavImage(1, 0, 44100, 16, 4, "", std::string(400, '\x11')),     // no channels
      wavImage(1, 1, 22050, 16, 2, "", ""),  // no data, in a format that needs converting
      // Rates no sound file has: 2,444 bytes at 1 Hz would play for 40 minutes.
      wavImage(1, 1, 1, 8, 1, "", std::string(2400, '\x60')),
      wavImage(1, 1, 999, 8, 1, "", std::string(400, '\x60')),
      wavImage(1, 1, 384001, 8, 1, "", std::string(400, '\x60')),
      huge};

  loadImage(toneImage(1000, toneFrames), 0);
  beginCapture();
  std::vector<int> levels;
  for (const std::string& image : images) {
    loadImage(image, 1);
    playSound(0, 1);
    waitFrames(3 * toneFrames);
    playSound(1, 0);
    waitFrames(3 * toneFrames);
    levels.insert(levels.end(), {1000, 0});
  }
  expectLevels(runsOf(finishCapture()), levels);
}

size_t heapInUse() {
#ifdef __SANITIZE_ADDRESS__
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// A sound is converted while it plays: a long sound of a low rate costs memory in proportion to
// its file at load, not to its playing time at the device rate (here 35 MB), and still plays.
TEST_F(SoundOutputTest, ALongSoundOfALowRateCostsItsFileAtLoadAndPlays) {
  std::string data;
  for (int i = 0; i < 200000; ++i) data.push_back((char)(i % 20 < 10 ? 0xC0 : 0x40));
  std::string image = wavImage(1, 1, 1000, 8, 1, "", data);  // 200 s
  size_t before = heapInUse();
  loadImage(image, 0);
  EXPECT_LT(heapInUse() - before, 4 * image.size());
  beginCapture();
  playSound(0, 0);
  waitFrames(4 * toneFrames);
  std::vector<int16_t> samples = finishCapture();
  int loudest = 0;
  for (int16_t sample : samples) loudest = std::max(loudest, abs(sample));
  EXPECT_GT(loudest, 12000);
}

TEST_F(SoundOutputTest, WithoutAnAudioDeviceNothingSoundsAndNothingFails) {
  closeSoundDevice();
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  loadImage(toneImage(1000, toneFrames), 0);
  playSound(0, 1);
  EXPECT_FALSE(soundDeviceOpen());
  EXPECT_FALSE(sndPlaySoundA(soundSlots[0].image, SND_ASYNC | SND_MEMORY));
  EXPECT_TRUE(sndPlaySoundA(NULL, SND_ASYNC));
  stopSound(0);
  deleteSound(0);
  EXPECT_EQ(soundSlots[0].played, 1);
  EXPECT_EQ(soundSlots[0].image, nullptr);
}

// The service's own flags and notes, used directly: a synchronous play returns after its sound,
// no-stop leaves a playing sound alone, an image nobody noted is never read, and a forgotten
// image stops sounding.
TEST_F(SoundOutputTest, TheServicesOwnFlagsAndNotes) {
  std::string once = toneImage(2000, toneFrames);
  std::string loop = toneImage(1000, toneFrames);
  noteSoundImage(once.data(), once.size());
  noteSoundImage(loop.data(), loop.size());
  beginCapture();
  EXPECT_TRUE(sndPlaySoundA(once.data(), SND_SYNC | SND_MEMORY));
  sndPlaySoundA(NULL, SND_ASYNC);  // would cut the sound short had the call not waited
  waitFrames(2 * toneFrames);
  EXPECT_TRUE(sndPlaySoundA(loop.data(), SND_ASYNC | SND_MEMORY | SND_LOOP));
  waitFrames(2 * toneFrames);
  EXPECT_FALSE(sndPlaySoundA(once.data(), SND_ASYNC | SND_MEMORY | SND_NOSTOP));
  waitFrames(2 * toneFrames);
  std::string unnoted = toneImage(3000, toneFrames);
  EXPECT_FALSE(sndPlaySoundA(unnoted.data(), SND_ASYNC | SND_MEMORY));
  waitFrames(2 * toneFrames);
  forgetSoundImage(once.data());
  // Forgotten while it plays, an image's sound ends: its samples go with it.
  EXPECT_TRUE(sndPlaySoundA(loop.data(), SND_ASYNC | SND_MEMORY | SND_LOOP));
  waitFrames(2 * toneFrames);
  forgetSoundImage(loop.data());
  waitFrames(2 * toneFrames);

  std::vector<Stretch> runs = runsOf(finishCapture());
  expectLevels(runs, {2000, 0, 1000, 0, 1000, 0});
  ASSERT_EQ(runs.size(), 6u);
  EXPECT_EQ(runs[0].frames, toneFrames);
  EXPECT_GE(runs[2].frames, 3 * toneFrames) << "the no-stop call left the loop playing";
}

// torvane-run's log names the bytes of each image played, and reads no more of an image than
// it has: an empty file and one holding only "RIFF" among them.
TEST(TorvaneRunSoundLog, GivesEachImagesLengthWithoutReadingIt) {
  std::string tone = toneImage(1000, 100);
  writeTempFile("empty.wav", "");
  writeTempFile("riff.wav", "RIFF");
  writeTempFile("tone.wav", tone);
  std::string script = writeTempFile(
      "sounds.spt", "se_load 0 empty.wav\r\nse_load 1 riff.wav\r\nse_load 2 tone.wav\r\n"
                    "se_play 0 0\r\nse_play 1 1\r\nse_play 2 0\r\nse_stop 0\r\n");
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  std::string tool(self, length);
  tool.erase(tool.rfind('/'));  // .../tests
  tool.erase(tool.rfind('/'));  // the build directory
  std::string log = tempDirectory() + "/sounds.jsonl";
  std::string command = "'" + tool + "/tools/torvane-run' --base '" + tempDirectory() +
                        "' --click-every 1 --frames 12 --log '" + log + "' '" + script + "'";
  int status = system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << command;

  std::ifstream file(log);
  std::string text(std::istreambuf_iterator<char>(file), {});
  std::vector<std::string> sounds;
  for (size_t at = text.find("\"action\":"); at != std::string::npos;
       at = text.find("\"action\":", at + 1))
    sounds.push_back(text.substr(at, text.find('}', at) - at));
  EXPECT_EQ(sounds, (std::vector<std::string>{
                        "\"action\":\"once\",\"bytes\":0", "\"action\":\"loop\",\"bytes\":4",
                        "\"action\":\"once\",\"bytes\":" + std::to_string(tone.size()),
                        "\"action\":\"stop\",\"bytes\":0"}));
}

}  // namespace

#endif
