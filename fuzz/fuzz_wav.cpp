// libFuzzer target: any bytes as a sound file, loaded into a sound slot by se_load's operation and
// played through sndPlaySoundA once and looping, with what the device would play pulled at once
// instead of waited for, then stopped and deleted. SDL's dummy driver stands in for a device.
// Run with a low memory limit (-rss_limit_mb=256): a sound must cost memory in proportion to its
// file, never to its playing time at the device rate.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/linux/sound_control.h"
#include "sound/sound.h"

namespace {

char path[64];  // the sound file, one per process

void removeSound() {
  remove(path);
}

// Four device buffers: enough for a stream to take in, resample and give out several chunks.
void pullOutput() {
  static char buffer[4 * soundDeviceBufferFrames * soundDeviceFrameBytes];
  for (int i = 0; i < 4; ++i) pullSoundOutput(buffer, (int)sizeof buffer / 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!path[0]) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    snprintf(path, sizeof path, "/tmp/torvane-fuzz-%d.wav", (int)getpid());
    atexit(removeSound);
  }
  FILE* file = fopen(path, "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);

  loadSound(path, 0);
  playSound(0, 0);
  pullOutput();
  playSound(0, 1);
  pullOutput();
  stopSound(0);
  deleteSound(0);
  return 0;
}
