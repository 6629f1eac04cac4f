// Control of the sound service (sound_sdl.cpp), for tests and tools. The player itself never
// includes this: it sees only sndPlaySoundA and the image notes of platform/windows_api.h.
#ifndef TORVANE_PLATFORM_LINUX_SOUND_CONTROL_H
#define TORVANE_PLATFORM_LINUX_SOUND_CONTROL_H

#include <stddef.h>
#include <stdint.h>

// The format every sound is converted to before it plays, and the device buffer.
constexpr int soundDeviceRate = 44100;        // frames per second
constexpr int soundDeviceChannels = 2;        // interleaved left, right
constexpr int soundDeviceBufferFrames = 512;  // frames per callback: 11.6 ms at 44.1 kHz
constexpr int soundDeviceFrameBytes = 4;      // signed 16-bit, native byte order, per channel

// Closes the audio device and SDL's audio subsystem, waiting for the device thread to end (the
// disk driver's file is complete afterwards). The next sndPlaySoundA opens them again and reads
// SDL_AUDIODRIVER and the other SDL variables afresh. Also run at process exit.
void closeSoundDevice();

// Fills bytes (whole device frames) of buffer at once, as the device callback would have filled
// its next buffer, so that a tool reads what plays without waiting for the device. False, with
// the buffer untouched, when no device is open.
bool pullSoundOutput(void* buffer, int bytes);
// Whether sndPlaySoundA would play this WAV file image: the decoding of a noted image, with
// nothing kept and no device opened.
bool soundImageDecodes(const void* image, size_t length);

// Whether the device is open (false before the first call and when there is no device).
bool soundDeviceOpen();

// When the last sound started by sndPlaySoundA was asked for and when the device callback first
// delivered its samples, both in SDL performance-counter ticks (SDL_GetPerformanceFrequency per
// second); delivered is 0 until that has happened.
struct SoundStartTiming {
  uint64_t requested;
  uint64_t delivered;
};
SoundStartTiming lastSoundStartTiming();

#endif
