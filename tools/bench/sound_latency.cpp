// Measures how long a sound takes to reach the audio device: the time from sndPlaySoundA to the
// first device callback that delivers the sound's samples ("start"), and the time taken to
// decode an image when it is noted, as se_load does ("load"); conversion to the device format
// happens while it plays. Plays are spread over
// the device period at random, so the figures cover every phase of the callback. Runs against
// whatever SDL_AUDIODRIVER names (the real device when unset; "dummy" or "disk" where there is
// none) and prints the load time and the min, median, 95th percentile and max of the start per
// kind of image. The goal is that a sound starts within one 30 ms frame.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/sound_control.h"
#include "platform/windows_api.h"

namespace {

void appendLe(std::string* bytes, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes->push_back((char)((value >> (8 * i)) & 0xFF));
}

// A PCM image of a square tone, the length and format given.
std::string pcmImage(uint32_t rate, uint16_t channels, uint16_t bits, double seconds) {
  uint16_t blockAlign = (uint16_t)(channels * bits / 8);
  uint32_t frames = (uint32_t)(rate * seconds);
  std::string data;
  data.reserve((size_t)frames * blockAlign);
  for (uint32_t frame = 0; frame < frames; ++frame) {
    bool high = (frame / 50) % 2 == 0;
    for (int channel = 0; channel < channels; ++channel) {
      if (bits == 8) {
        appendLe(&data, high ? 200 : 56, 1);
      } else {
        appendLe(&data, (uint32_t)(uint16_t)(int16_t)(high ? 8000 : -8000), 2);
      }
    }
  }
  std::string file = "RIFF";
  appendLe(&file, (uint32_t)(36 + data.size()), 4);
  file += "WAVEfmt ";
  appendLe(&file, 16, 4);
  appendLe(&file, 1, 2);
  appendLe(&file, channels, 2);
  appendLe(&file, rate, 4);
  appendLe(&file, rate * blockAlign, 4);
  appendLe(&file, blockAlign, 2);
  appendLe(&file, bits, 2);
  file += "data";
  appendLe(&file, (uint32_t)data.size(), 4);
  return file + data;
}

struct Case {
  const char* name;
  std::string image;
};

}  // namespace

int main(int argc, char** argv) {
  int plays = argc > 1 ? atoi(argv[1]) : 100;
  std::vector<Case> cases = {
      {"0.5 s, 44.1 kHz 16-bit stereo (device format)", pcmImage(44100, 2, 16, 0.5)},
      {"0.5 s, 22.05 kHz 8-bit mono (converted)", pcmImage(22050, 1, 8, 0.5)},
      {"5 s, 48 kHz 16-bit stereo (resampled)", pcmImage(48000, 2, 16, 5.0)},
      {"30 s, 44.1 kHz 16-bit stereo (device format)", pcmImage(44100, 2, 16, 30.0)},
      {"20 min, 1 kHz 8-bit mono (lowest rate)", pcmImage(1000, 1, 8, 1200.0)},
  };
  const char* driver = getenv("SDL_AUDIODRIVER");
  printf("driver %s, device buffer %d frames (%.1f ms), %d plays per image\n",
         driver ? driver : "(default)", soundDeviceBufferFrames,
         soundDeviceBufferFrames * 1000.0 / soundDeviceRate, plays);

  double ticksPerMs = (double)SDL_GetPerformanceFrequency() / 1000.0;
  srand(1);
  for (Case& c : cases) {
    // The image is decoded when it is noted, as when a slot loads it.
    Uint64 noteStart = SDL_GetPerformanceCounter();
    noteSoundImage(c.image.data(), c.image.size());
    double noteMs = (double)(SDL_GetPerformanceCounter() - noteStart) / ticksPerMs;
    std::vector<double> latencies;
    for (int i = 0; i < plays; ++i) {
      // A random moment within the device period and a little beyond.
      std::this_thread::sleep_for(std::chrono::microseconds(rand() % 15000));
      if (!sndPlaySoundA(c.image.data(), SND_ASYNC | SND_MEMORY)) {
        fprintf(stderr, "no device: set SDL_AUDIODRIVER=dummy or disk\n");
        return 1;
      }
      SoundStartTiming timing = lastSoundStartTiming();
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (timing.delivered == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        timing = lastSoundStartTiming();
      }
      if (timing.delivered == 0) {
        fprintf(stderr, "the device never delivered the sound\n");
        return 1;
      }
      latencies.push_back((double)(timing.delivered - timing.requested) / ticksPerMs);
    }
    sndPlaySoundA(NULL, SND_ASYNC);
    forgetSoundImage(c.image.data());
    std::sort(latencies.begin(), latencies.end());
    size_t n = latencies.size();
    printf("%-46s load %6.2f | start: min %5.2f  median %5.2f  p95 %5.2f  max %5.2f ms\n",
           c.name, noteMs, latencies[0], latencies[n / 2],
           latencies[std::min(n - 1, n * 95 / 100)], latencies[n - 1]);
  }
  closeSoundDevice();
  return 0;
}
