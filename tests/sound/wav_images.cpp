// RIFF WAVE images for the sound tests.
#include "wav_images.h"

void appendLe16(std::string* bytes, uint16_t value) {
  bytes->push_back((char)(value & 0xFF));
  bytes->push_back((char)(value >> 8));
}

void appendLe32(std::string* bytes, uint32_t value) {
  appendLe16(bytes, (uint16_t)(value & 0xFFFF));
  appendLe16(bytes, (uint16_t)(value >> 16));
}

std::string wavImage(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bitsPerSample,
                     uint16_t blockAlign, const std::string& formatExtension,
                     const std::string& data) {
  std::string format;
  appendLe16(&format, formatTag);
  appendLe16(&format, channels);
  appendLe32(&format, rate);
  appendLe32(&format, rate * blockAlign);  // bytes per second, for whole blocks
  appendLe16(&format, blockAlign);
  appendLe16(&format, bitsPerSample);
  format += formatExtension;

  std::string body = "WAVE";
  body += "fmt ";
  appendLe32(&body, (uint32_t)format.size());
  body += format;
  body += "data";
  appendLe32(&body, (uint32_t)data.size());
  body += data;
  if (data.size() % 2) body.push_back('\0');  // chunks are padded to an even length

  std::string file = "RIFF";
  appendLe32(&file, (uint32_t)body.size());
  return file + body;
}

std::string toneImage(int amplitude, int frames) {
  std::string data;
  for (int frame = 0; frame < frames; ++frame) {
    int16_t value = (int16_t)(frame % 2 == 0 ? amplitude : -amplitude);
    appendLe16(&data, (uint16_t)value);  // left
    appendLe16(&data, (uint16_t)value);  // right
  }
  return wavImage(1, 2, 44100, 16, 4, "", data);
}
