// RIFF WAVE images made in the tests, so that no third-party sound is needed: tones whose
// amplitude tells which slot played them, and each sample format the sound service reads.
#ifndef TORVANE_TESTS_SOUND_WAV_IMAGES_H
#define TORVANE_TESTS_SOUND_WAV_IMAGES_H

#include <stdint.h>

#include <string>

// A whole file: RIFF header, a "fmt " chunk with the given fields (and extension bytes after
// the 16 standard ones, for compressed formats) and a "data" chunk.
std::string wavImage(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bitsPerSample,
                     uint16_t blockAlign, const std::string& formatExtension,
                     const std::string& data);

// 16-bit stereo at 44.1 kHz, the device format, so its samples reach the device unchanged:
// frames alternately +amplitude and -amplitude on both channels. frames should be even, so that
// a looping tone runs on without a seam.
std::string toneImage(int amplitude, int frames);

// Little-endian helpers for building chunk contents.
void appendLe16(std::string* bytes, uint16_t value);
void appendLe32(std::string* bytes, uint32_t value);

#endif
