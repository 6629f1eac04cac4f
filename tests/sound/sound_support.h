// Shared by the sound tests: RIFF WAVE images made here, so that no third-party sound is needed,
// and the fixture that gives every test empty, unplayed slots and stops what plays after it.
#ifndef TORVANE_TESTS_SOUND_SOUND_SUPPORT_H
#define TORVANE_TESTS_SOUND_SOUND_SUPPORT_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

#include "sound/sound.h"
#include "support/test_support.h"

inline void appendLe(std::string* bytes, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes->push_back((char)(value >> 8 * i & 0xFF));
}

// A whole file: a "fmt " chunk and a "data" chunk.
inline std::string wavImage(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits,
                            uint16_t blockAlign, const std::string& data) {
  std::string body("WAVEfmt \x10\0\0\0", 12);  // 16 bytes of format
  appendLe(&body, formatTag, 2), appendLe(&body, channels, 2), appendLe(&body, rate, 4);
  appendLe(&body, rate * blockAlign, 4), appendLe(&body, blockAlign, 2), appendLe(&body, bits, 2);
  body += "data";
  appendLe(&body, (uint32_t)data.size(), 4);
  body += data + std::string(data.size() % 2, '\0');  // chunks are padded to an even length
  std::string file = "RIFF";
  appendLe(&file, (uint32_t)body.size(), 4);
  return file + body;
}

// 16-bit stereo at 44.1 kHz, the device format, so that its samples reach the device unchanged:
// frames alternately +amplitude and -amplitude, which tells sounds apart and shows each seam.
inline std::string toneImage(int amplitude, int frames) {
  std::string data;
  for (int frame = 0; frame < frames; ++frame)
    appendLe(&data, (uint16_t)(frame % 2 ? -amplitude : amplitude) * 0x10001u, 4);
  return wavImage(1, 2, 44100, 16, 4, data);
}

// Writes bytes to a new file and loads it into a slot; the file's path.
inline std::string loadImage(const std::string& bytes, int slot) {
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

#endif
