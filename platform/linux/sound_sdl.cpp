// winmm's simple sound service over SDL2 audio: sndPlaySoundA plays a RIFF WAVE image from
// memory, once or looping, one sound at a time, as on Windows.
// Owns the audio device, the play record that its callback reads and the notes of how long the
// images handed over really are (SND_MEMORY passes no length).
//
// A sound is decoded and converted to the device format on the calling thread, into a buffer of
// our own, and only then swapped into the play record under the device lock. The callback never
// reads the caller's image, so once sndPlaySoundA returns (a stop included) the image is free to
// go, and the callback only copies bytes: it never allocates, logs or calls back into the player.
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
  Uint8* samples;      // the sound in the device format (SDL_malloc); null when nothing plays
  Uint32 length;       // bytes in samples, whole frames
  Uint32 position;     // next byte to deliver; equals length once a single play has ended
  bool looping;        // start again at the end (SND_LOOP)
  Uint32 serial;       // counts the sounds started, so a synchronous play knows its own
  Uint64 requestedAt;  // performance counter when sndPlaySoundA was asked to play it
  Uint64 deliveredAt;  // performance counter at the first callback that delivered it; 0 before
};

// An image handed over with the number of bytes really there (noteSoundImage).
struct ImageNote {
  const void* image;  // null: a free row
  size_t length;      // bytes
};
// The sound slots hold ten images at most; the rest is room for tools and tests.
constexpr int imageNoteCount = 32;

enum class DeviceState { closed, open, unavailable };

// One device buffer is 512 frames, 11.6 ms at 44.1 kHz. A new sound waits for the next
// callback, so this is the worst added delay before its first samples are handed to the driver;
// with the driver's own queue of about two buffers a sound still starts within one 30 ms frame.
// Half of it would leave the device thread less than 6 ms to be scheduled on a busy two-core
// machine and risk audible gaps; twice of it would use up most of the frame by itself.
static_assert(soundDeviceBufferFrames * 1000 / soundDeviceRate < 15, "device buffer too long");

std::mutex serviceMutex;  // the device's life, the notes, one starting or stopping call at a time
DeviceState deviceState = DeviceState::closed;
SDL_AudioDeviceID device = 0;
SDL_AudioSpec deviceSpec;  // what the device was opened with
PlayRecord playRecord;
Uint32 soundsStarted = 0;
ImageNote imageNotes[imageNoteCount];
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
  memset(stream + written, deviceSpec.silence, wanted - written);
}

// Puts a new record in place under the device lock and gives back the samples of the old one,
// which the callback can no longer reach once the lock is released.
Uint8* swapPlayRecord(const PlayRecord& next) {
  SDL_LockAudioDevice(device);
  Uint8* old = playRecord.samples;
  playRecord = next;
  SDL_UnlockAudioDevice(device);
  return old;
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
  // A file cut short in its sound data plays nothing rather than a fragment. The RIFF size is
  // not held against the file: the bytes really there bound every read (readableLength).
  SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");
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
  device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &deviceSpec, 0);
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

// How many bytes of an image may be read: what its note says. An image nobody noted is not
// read at all, since only its RIFF header would tell, and a header cut short with the file, or
// simply wrong, claims more than is there.
bool readableLength(const void* image, size_t* length) {
  for (const ImageNote& note : imageNotes) {
    if (note.image == image) {
      *length = note.length;
      return true;
    }
  }
  if (!unnotedImageReported) {
    fprintf(stderr, "torvane: sndPlaySoundA: an image of unknown length is not played\n");
    unnotedImageReported = true;
  }
  return false;
}

// The image decoded and converted to the device format, in a buffer from SDL_malloc. False when
// SDL cannot read it or it holds no sound: nothing is reported, as on Windows.
bool decodeImage(const char* image, size_t length, Uint8** samples, Uint32* bytes) {
  if (length < 12 || length > INT_MAX) return false;  // not even a RIFF header
  SDL_RWops* source = SDL_RWFromConstMem(image, (int)length);
  if (!source) return false;
  SDL_AudioSpec spec;
  Uint8* data = nullptr;
  Uint32 dataBytes = 0;
  if (!SDL_LoadWAV_RW(source, 1, &spec, &data, &dataBytes)) return false;

  SDL_AudioCVT convert;
  int needed = SDL_BuildAudioCVT(&convert, spec.format, spec.channels, spec.freq,
                                 deviceSpec.format, deviceSpec.channels, deviceSpec.freq);
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
  Uint32 frameBytes = (Uint32)deviceSpec.channels * (SDL_AUDIO_BITSIZE(deviceSpec.format) / 8);
  resultBytes -= resultBytes % frameBytes;
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
  SDL_free(swapPlayRecord(silent));
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

  Uint64 requestedAt = SDL_GetPerformanceCounter();
  Uint8* samples = nullptr;
  Uint32 bytes = 0;
  size_t length = 0;
  bool playable = false;
  if (!(flags & SND_MEMORY)) {
    // The player hands over memory images only; a file name or a system sound is not looked up.
    if (!fileNameReported) {
      fprintf(stderr, "torvane: sndPlaySoundA: only memory images are played\n");
      fileNameReported = true;
    }
  } else if (readableLength(sound, &length)) {
    playable = decodeImage(sound, length, &samples, &bytes);
  }
  if (!playable) {
    // Starting a sound ends the one that was playing, even one that cannot play.
    stopPlaying();
    return FALSE;
  }

  PlayRecord next;
  SDL_zero(next);
  next.samples = samples;
  next.length = bytes;
  next.looping = (flags & SND_LOOP) != 0;
  next.serial = ++soundsStarted;
  next.requestedAt = requestedAt;
  SDL_free(swapPlayRecord(next));

  if (!(flags & SND_ASYNC) && !next.looping) {
    // A synchronous play returns when its sound has ended or another call has replaced it; the
    // service is let go meanwhile so that another thread can stop it.
    Uint32 serial = next.serial;
    hold.unlock();
    for (;;) {
      std::lock_guard<std::mutex> again(serviceMutex);
      if (deviceState != DeviceState::open) break;
      SDL_LockAudioDevice(device);
      bool done = playRecord.serial != serial || playRecord.position >= playRecord.length;
      SDL_UnlockAudioDevice(device);
      if (done) break;
      SDL_Delay(2);
    }
  }
  return TRUE;
}

void noteSoundImage(const void* image, size_t length) {
  if (!image) return;
  std::lock_guard<std::mutex> hold(serviceMutex);
  ImageNote* freeRow = nullptr;
  for (ImageNote& note : imageNotes) {
    if (note.image == image) {
      note.length = length;
      return;
    }
    if (!note.image && !freeRow) freeRow = &note;
  }
  if (freeRow) {
    freeRow->image = image;
    freeRow->length = length;
  } else if (!notesFullReported) {
    fprintf(stderr, "torvane: more than %d sound images at once; the rest are not played\n",
            imageNoteCount);
    notesFullReported = true;
  }
}

void forgetSoundImage(const void* image) {
  if (!image) return;
  std::lock_guard<std::mutex> hold(serviceMutex);
  for (ImageNote& note : imageNotes) {
    if (note.image == image) note.image = nullptr;
  }
}

void closeSoundDevice() {
  std::lock_guard<std::mutex> hold(serviceMutex);
  if (deviceState == DeviceState::open) {
    SDL_CloseAudioDevice(device);  // waits for the device thread to end
    SDL_free(playRecord.samples);
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
