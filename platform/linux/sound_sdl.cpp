// winmm's simple sound service over SDL2 audio: sndPlaySoundA plays a RIFF WAVE image from
// memory, once or looping, one sound at a time, as on Windows.
// Owns the audio device, the play record that its callback reads and the prepared sounds: every
// image handed over is noted with its real length (SND_MEMORY passes none) and decoded then.
//
// An image is decoded and converted to the device format when it is noted, that is when a slot
// loads it, so that starting it costs no more than swapping the play record under the device
// lock: converting a few seconds of 48 kHz sound to the device rate alone takes longer than a
// 30 ms frame. The callback never reads the caller's image, only our own samples, so once
// sndPlaySoundA returns (a stop included) it no longer touches what it played before; it only
// copies bytes, and never allocates, logs or calls back into the player.
#include <SDL.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "platform/linux/layer.h"
#include "platform/linux/sound_control.h"
#include "platform/windows_api.h"

namespace {

// What the callback plays. Written only under the device lock, which the callback runs under.
struct PlayRecord {
  const Uint8* samples;  // a prepared sound's samples, which it owns; null when nothing plays
  Uint32 length;         // bytes in samples, whole frames
  Uint32 position;       // next byte to deliver; equals length once a single play has ended
  bool looping;          // start again at the end (SND_LOOP)
  Uint32 serial;         // counts the sounds started, so a synchronous play knows its own
  Uint64 requestedAt;    // performance counter when sndPlaySoundA was asked to play it
  Uint64 deliveredAt;    // performance counter at the first callback that delivered it; 0 before
};

// An image handed over (noteSoundImage), decoded.
struct PreparedSound {
  const void* image;  // null: a free row
  Uint8* samples;     // the sound in the device format (SDL_malloc); null when it holds none
  Uint32 length;      // bytes in samples
};
// The sound slots hold ten images at most; the rest is room for tools and tests.
constexpr int preparedSoundCount = 32;

enum class DeviceState { closed, open, unavailable };

// One device buffer is 512 frames, 11.6 ms at 44.1 kHz. A new sound waits for the next
// callback, so this is the worst added delay before its first samples are handed to the driver;
// with the driver's own queue of about two buffers a sound still starts within one 30 ms frame.
// Half of it would leave the device thread less than 6 ms to be scheduled on a busy two-core
// machine and risk audible gaps; twice of it would use up most of the frame by itself.
static_assert(soundDeviceBufferFrames * 1000 / soundDeviceRate < 15, "device buffer too long");

std::mutex serviceMutex;  // the device's life, the prepared sounds, one call at a time
DeviceState deviceState = DeviceState::closed;
SDL_AudioDeviceID device = 0;
PlayRecord playRecord;
Uint32 soundsStarted = 0;
PreparedSound preparedSounds[preparedSoundCount];
bool exitHandlerSet = false;
bool unnotedImageReported = false;
bool notesFullReported = false;
bool fileNameReported = false;

// The device callback: copies the play record's samples, silence after them.
void SDLCALL fillDeviceBuffer(void*, Uint8* stream, int size) {
  Uint32 wanted = (Uint32)size;
  Uint32 written = 0;
  PlayRecord& record = playRecord;
  if (record.samples && record.length > 0) {
    while (written < wanted) {
      if (record.position >= record.length) {
        if (!record.looping) break;
        record.position = 0;
      }
      Uint32 count = record.length - record.position;
      if (count > wanted - written) count = wanted - written;
      memcpy(stream + written, record.samples + record.position, count);
      written += count;
      record.position += count;
    }
    if (written > 0 && record.deliveredAt == 0) record.deliveredAt = SDL_GetPerformanceCounter();
  }
  memset(stream + written, 0, wanted - written);  // silence of signed samples
}

// Puts a new record in place. Once the device lock is released the callback no longer reaches
// the old record's samples.
void swapPlayRecord(const PlayRecord& next) {
  SDL_LockAudioDevice(device);
  playRecord = next;
  SDL_UnlockAudioDevice(device);
}

void closeAtExit() {
  // A thread still inside sndPlaySoundA at exit holds the service: leave the device to the end
  // of the process rather than wait for it.
  if (!serviceMutex.try_lock()) return;
  serviceMutex.unlock();
  closeSoundDevice();
}

// Opens the device on first use. A machine without sound says so once and stays silent.
bool openDevice() {
  if (deviceState == DeviceState::open) return true;
  if (deviceState == DeviceState::unavailable) return false;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    fprintf(stderr, "torvane: no audio, sounds stay silent: %s\n", SDL_GetError());
    deviceState = DeviceState::unavailable;
    return false;
  }
  SDL_AudioSpec wanted;
  SDL_zero(wanted);
  wanted.freq = soundDeviceRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = soundDeviceChannels;
  wanted.samples = soundDeviceBufferFrames;
  wanted.callback = fillDeviceBuffer;
  // No changes allowed: SDL converts to what the hardware takes, and our samples are always
  // in this one format.
  SDL_AudioSpec obtained;
  device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (device == 0) {
    fprintf(stderr, "torvane: no audio device, sounds stay silent: %s\n", SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    deviceState = DeviceState::unavailable;
    return false;
  }
  SDL_zero(playRecord);
  // The device runs from now on, delivering silence between sounds, so a sound starts without
  // the delay of waking a paused device.
  SDL_PauseAudioDevice(device, 0);
  deviceState = DeviceState::open;
  if (!exitHandlerSet) {
    atexit(closeAtExit);
    exitHandlerSet = true;
  }
  return true;
}

// The image decoded and converted to the device format, in a buffer from SDL_malloc. False when
// SDL cannot read it or it holds no sound: nothing is reported, as on Windows. Only the first
// length bytes are read, whatever the RIFF header claims.
bool decodeImage(const void* image, size_t length, Uint8** samples, Uint32* bytes) {
  if (length < 12 || length > INT_MAX) return false;  // not even a RIFF header
  SDL_RWops* source = SDL_RWFromConstMem(image, (int)length);
  if (!source) return false;
  SDL_AudioSpec spec;
  Uint8* data = nullptr;
  Uint32 dataBytes = 0;
  if (!SDL_LoadWAV_RW(source, 1, &spec, &data, &dataBytes)) return false;

  SDL_AudioCVT convert;
  int needed = SDL_BuildAudioCVT(&convert, spec.format, spec.channels, spec.freq, AUDIO_S16SYS,
                                 soundDeviceChannels, soundDeviceRate);
  Uint8* result = data;
  Uint32 resultBytes = dataBytes;
  if (needed < 0) {
    SDL_FreeWAV(data);
    return false;
  }
  if (needed > 0) {
    uint64_t room = (uint64_t)dataBytes * (uint64_t)convert.len_mult;
    if (room > INT_MAX) {
      SDL_FreeWAV(data);
      return false;
    }
    convert.buf = (Uint8*)SDL_malloc(room > 0 ? (size_t)room : 1);
    if (!convert.buf) {
      SDL_FreeWAV(data);
      return false;
    }
    memcpy(convert.buf, data, dataBytes);
    convert.len = (int)dataBytes;
    SDL_FreeWAV(data);
    if (SDL_ConvertAudio(&convert) != 0) {
      SDL_free(convert.buf);
      return false;
    }
    result = convert.buf;
    resultBytes = (Uint32)convert.len_cvt;
  }
  resultBytes -= resultBytes % soundDeviceFrameBytes;
  if (resultBytes == 0) {
    SDL_free(result);
    return false;
  }
  *samples = result;
  *bytes = resultBytes;
  return true;
}

bool somethingPlays() {
  SDL_LockAudioDevice(device);
  bool plays = playRecord.samples &&
               (playRecord.looping || playRecord.position < playRecord.length);
  SDL_UnlockAudioDevice(device);
  return plays;
}

// Ends whatever plays. When this returns the callback no longer reaches the old samples.
void stopPlaying() {
  if (deviceState != DeviceState::open) return;
  PlayRecord silent;
  SDL_zero(silent);
  silent.serial = ++soundsStarted;
  swapPlayRecord(silent);
}

// Ends the sound that plays from these samples, if one does, before they are freed.
void stopPlayingFrom(const Uint8* samples) {
  if (deviceState != DeviceState::open || !samples) return;
  SDL_LockAudioDevice(device);
  bool playing = playRecord.samples == samples;
  SDL_UnlockAudioDevice(device);
  if (playing) stopPlaying();
}

PreparedSound* findPrepared(const void* image) {
  for (PreparedSound& prepared : preparedSounds) {
    if (prepared.image == image) return &prepared;
  }
  return nullptr;
}

void releasePrepared(PreparedSound* prepared) {
  stopPlayingFrom(prepared->samples);
  SDL_free(prepared->samples);
  prepared->image = nullptr;
  prepared->samples = nullptr;
  prepared->length = 0;
}

}  // namespace

BOOL sndPlaySoundA(LPCSTR sound, UINT flags) {
  if (layerSoundObserver) layerSoundObserver(sound, flags);  // torvane-run's log
  std::unique_lock<std::mutex> hold(serviceMutex);
  if (!sound) {
    stopPlaying();
    return TRUE;
  }
  if (!openDevice()) return FALSE;
  if ((flags & SND_NOSTOP) && somethingPlays()) return FALSE;

  const PreparedSound* prepared = nullptr;
  if (!(flags & SND_MEMORY)) {
    // The player hands over memory images only; a file name or a system sound is not looked up.
    if (!fileNameReported) {
      fprintf(stderr, "torvane: sndPlaySoundA: only memory images are played\n");
      fileNameReported = true;
    }
  } else {
    prepared = findPrepared(sound);
    // An image nobody noted is not read at all: only its RIFF header would tell its length,
    // and a header cut short with its file, or simply wrong, claims more than is there.
    if (!prepared && !unnotedImageReported) {
      fprintf(stderr, "torvane: sndPlaySoundA: an image of unknown length is not played\n");
      unnotedImageReported = true;
    }
  }
  if (!prepared || !prepared->samples) {
    // Starting a sound ends the one that was playing, even one that cannot play.
    stopPlaying();
    return FALSE;
  }

  PlayRecord next;
  SDL_zero(next);
  next.samples = prepared->samples;
  next.length = prepared->length;
  next.looping = (flags & SND_LOOP) != 0;
  next.serial = ++soundsStarted;
  next.requestedAt = SDL_GetPerformanceCounter();
  swapPlayRecord(next);

  if (!(flags & SND_ASYNC) && !next.looping) {
    // A synchronous play returns when its sound has ended or another call has replaced it; the
    // service is let go meanwhile so that another thread can stop it.
    Uint32 serial = next.serial;
    hold.unlock();
    for (;;) {
      {
        std::lock_guard<std::mutex> again(serviceMutex);
        if (deviceState != DeviceState::open) break;
        SDL_LockAudioDevice(device);
        bool done = playRecord.serial != serial || playRecord.position >= playRecord.length;
        SDL_UnlockAudioDevice(device);
        if (done) break;
      }
      SDL_Delay(2);
    }
  }
  return TRUE;
}

void noteSoundImage(const void* image, size_t length) {
  if (!image) return;
  {
    // Set before anything is decoded. A file cut short in its sound data plays nothing rather
    // than a fragment. The RIFF size is not held against the file: the noted length bounds
    // every read.
    std::lock_guard<std::mutex> hold(serviceMutex);
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");
  }
  // Decoded outside the service, so that a long conversion holds up no other call.
  Uint8* samples = nullptr;
  Uint32 bytes = 0;
  if (!decodeImage(image, length, &samples, &bytes)) {
    samples = nullptr;
    bytes = 0;
  }

  std::lock_guard<std::mutex> hold(serviceMutex);
  PreparedSound* row = findPrepared(image);
  if (row) {
    releasePrepared(row);
  } else {
    row = findPrepared(nullptr);
  }
  if (!row) {
    if (!notesFullReported) {
      fprintf(stderr, "torvane: more than %d sound images at once; the rest are not played\n",
              preparedSoundCount);
      notesFullReported = true;
    }
    SDL_free(samples);
    return;
  }
  row->image = image;
  row->samples = samples;
  row->length = bytes;
}

bool soundImageDecodes(const void* image, size_t length) {
  {
    std::lock_guard<std::mutex> hold(serviceMutex);
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");  // as noteSoundImage decodes
  }
  Uint8* samples = nullptr;
  Uint32 bytes = 0;
  if (!decodeImage(image, length, &samples, &bytes)) return false;
  SDL_free(samples);
  return true;
}

void forgetSoundImage(const void* image) {
  if (!image) return;
  std::lock_guard<std::mutex> hold(serviceMutex);
  if (PreparedSound* prepared = findPrepared(image)) releasePrepared(prepared);
}

void closeSoundDevice() {
  std::lock_guard<std::mutex> hold(serviceMutex);
  if (deviceState == DeviceState::open) {
    SDL_CloseAudioDevice(device);  // waits for the device thread to end
    SDL_zero(playRecord);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  device = 0;
  deviceState = DeviceState::closed;
}

bool soundDeviceOpen() {
  std::lock_guard<std::mutex> hold(serviceMutex);
  return deviceState == DeviceState::open;
}

SoundStartTiming lastSoundStartTiming() {
  std::lock_guard<std::mutex> hold(serviceMutex);
  SoundStartTiming timing = {0, 0};
  if (deviceState != DeviceState::open) return timing;
  SDL_LockAudioDevice(device);
  timing.requested = playRecord.requestedAt;
  timing.delivered = playRecord.deliveredAt;
  SDL_UnlockAudioDevice(device);
  return timing;
}
