// winmm's simple sound service over SDL2 audio: sndPlaySoundA plays a RIFF WAVE image from
// memory, once or looping, one sound at a time, as on Windows.
// Owns the audio device, the play record that its callback reads and the prepared sounds: every
// image handed over is noted with its real length (SND_MEMORY passes none) and decoded then.
//
// An image is decoded when it is noted, that is when a slot loads it, into samples of its own
// format (as many bytes as the file's, four times as many for ADPCM), and converted to the
// device format only while it plays, a device buffer at a time, through an SDL audio stream.
// Converted whole at load, a small file of a low rate would cost what its playing time costs at
// 44.1 kHz stereo: 2,444 bytes at 1 Hz make 423 MB. Starting a sound costs a new stream and a
// swap of the play record under the device lock. The callback never reads the caller's image,
// only our own samples, so once sndPlaySoundA returns (a stop included) it no longer touches
// what it played before; it never logs or calls back into the player.
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
  const Uint8* samples;     // a prepared sound's samples; null when nothing plays
  Uint32 length;            // bytes in samples, whole frames of the sound's own format
  Uint32 frameBytes;        // bytes of one frame of samples
  int rate;                 // the sound's frames per second
  SDL_AudioStream* stream;  // converts samples to the device format; the record owns it
  Uint32 position;          // next byte of samples to convert
  bool flushed;             // a single play has handed its last samples to the stream
  bool finished;            // a single play has delivered everything
  bool looping;             // start again at the end (SND_LOOP)
  Uint32 serial;            // counts the sounds started, so a synchronous play knows its own
  Uint64 requestedAt;       // performance counter when sndPlaySoundA was asked to play it
  Uint64 deliveredAt;       // performance counter at the first callback that delivered it
};

// An image handed over (noteSoundImage), decoded.
struct PreparedSound {
  const void* image;   // null: a free row
  size_t imageLength;  // bytes of the image, as noted
  Uint8* samples;      // the sound in its own format (SDL_LoadWAV_RW); null when it holds none
  Uint32 length;       // bytes in samples, whole frames
  SDL_AudioSpec spec;  // format, channels and rate of samples
};

// The rates a sound may have. A stream pads its input by 512 frames to resample, so below the
// lower limit that padding alone makes seconds of output at once (at 1 Hz, 90 MB), and above the
// upper one SDL's padding buffer grows with the rate (hundreds of MB at 2 GHz). 1 kHz is below
// the lowest rate sound files use (telephone sound, 8 kHz; old game sounds, 4 to 5.5 kHz);
// 384 kHz is the highest that recording equipment offers.
constexpr int minSoundRate = 1000;
constexpr int maxSoundRate = 384000;

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

// Hands the stream the next source samples: about as many as make `missing` device bytes, at
// least one frame; at the end of a single play the stream is flushed once. False when nothing
// more will come.
bool feedStream(PlayRecord& record, Uint32 missing) {
  if (record.position >= record.length) {
    if (record.looping) {
      record.position = 0;
    } else if (!record.flushed) {
      record.flushed = true;
      return SDL_AudioStreamFlush(record.stream) == 0;
    } else {
      return false;
    }
  }
  Uint64 frames =
      (Uint64)(missing / soundDeviceFrameBytes) * (Uint64)record.rate / soundDeviceRate + 1;
  Uint64 bytes = frames * record.frameBytes;
  if (bytes > record.length - record.position) bytes = record.length - record.position;
  if (SDL_AudioStreamPut(record.stream, record.samples + record.position, (int)bytes) != 0)
    return false;
  record.position += (Uint32)bytes;
  return true;
}

// The device callback: converts the play record's samples as far as the buffer needs, silence
// after them.
void SDLCALL fillDeviceBuffer(void*, Uint8* stream, int size) {
  Uint32 wanted = (Uint32)size;
  Uint32 written = 0;
  PlayRecord& record = playRecord;
  if (record.stream && !record.finished) {
    while (written < wanted) {
      int got = SDL_AudioStreamGet(record.stream, stream + written, (int)(wanted - written));
      if (got < 0) break;
      written += (Uint32)got;
      if (written < wanted && !feedStream(record, wanted - written)) {
        record.finished = true;
        break;
      }
    }
    if (written > 0 && record.deliveredAt == 0) record.deliveredAt = SDL_GetPerformanceCounter();
  }
  memset(stream + written, 0, wanted - written);  // silence of signed samples
}

// Puts a new record in place. Once the device lock is released the callback no longer reaches
// the old record's samples, and its stream goes.
void swapPlayRecord(const PlayRecord& next) {
  SDL_LockAudioDevice(device);
  SDL_AudioStream* old = playRecord.stream;
  playRecord = next;
  SDL_UnlockAudioDevice(device);
  if (old) SDL_FreeAudioStream(old);
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

// A stream from a sound's format to the device's; null when SDL cannot convert it.
SDL_AudioStream* newStream(const SDL_AudioSpec& spec) {
  return SDL_NewAudioStream(spec.format, spec.channels, spec.freq, AUDIO_S16SYS,
                            soundDeviceChannels, soundDeviceRate);
}

// Whether the "fmt " and "data" chunks, and every chunk before the later of them, lie within the
// image. SDL allocates what such a chunk's header claims before it reads it: a file of 271 bytes
// claiming 488 MB of data costs 488 MB. A chunk cut short is a file cut short, which plays
// nothing anyway; without both chunks there is no sound.
bool chunksWithinImage(const Uint8* bytes, size_t length) {
  bool format = false, data = false;
  size_t at = 12;  // after "RIFF", its size and "WAVE"
  while (at <= length - 8 && !(format && data)) {
    Uint32 size = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 |
                  (Uint32)bytes[at + 7] << 24;
    if (size > length - at - 8) return false;
    format = format || memcmp(bytes + at, "fmt ", 4) == 0;
    data = data || memcmp(bytes + at, "data", 4) == 0;
    at += 8 + (size_t)size + (size & 1);  // chunks are padded to an even length
  }
  return format && data;
}

// The image decoded into samples of its own format, whole frames of them, in a buffer for
// SDL_FreeWAV. False when SDL cannot read it, it holds no sound, or it could not be converted
// to the device format: nothing is reported, as on Windows. Only the first length bytes are
// read, whatever the RIFF header claims.
bool decodeImage(const void* image, size_t length, PreparedSound* prepared) {
  if (length < 12 || length > INT_MAX) return false;  // not even a RIFF header
  if (!chunksWithinImage((const Uint8*)image, length)) return false;
  SDL_RWops* source = SDL_RWFromConstMem(image, (int)length);
  if (!source) return false;
  SDL_AudioSpec spec;
  Uint8* data = nullptr;
  Uint32 dataBytes = 0;
  if (!SDL_LoadWAV_RW(source, 1, &spec, &data, &dataBytes)) return false;
  Uint32 frameBytes = SDL_AUDIO_BITSIZE(spec.format) / 8 * spec.channels;
  if (frameBytes > 0) dataBytes -= dataBytes % frameBytes;
  SDL_AudioStream* probe = nullptr;
  bool playable = frameBytes > 0 && dataBytes > 0 && spec.freq >= minSoundRate &&
                  spec.freq <= maxSoundRate && (probe = newStream(spec)) != nullptr;
  if (probe) SDL_FreeAudioStream(probe);
  if (!playable) {
    SDL_FreeWAV(data);
    return false;
  }
  prepared->samples = data;
  prepared->length = dataBytes;
  prepared->spec = spec;
  return true;
}

bool somethingPlays() {
  SDL_LockAudioDevice(device);
  bool plays = playRecord.stream && !playRecord.finished;
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
  SDL_FreeWAV(prepared->samples);
  SDL_zerop(prepared);
}

}  // namespace

BOOL sndPlaySoundA(LPCSTR sound, UINT flags) {
  std::unique_lock<std::mutex> hold(serviceMutex);
  if (layerSoundObserver) {  // torvane-run's log: the image's length, where it was noted
    const PreparedSound* noted = sound && (flags & SND_MEMORY) ? findPrepared(sound) : nullptr;
    layerSoundObserver(sound, flags, noted ? noted->imageLength : 0);
  }
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
  next.stream = newStream(prepared->spec);
  if (!next.stream) {  // out of memory: the image was converted once when it was noted
    stopPlaying();
    return FALSE;
  }
  next.samples = prepared->samples;
  next.length = prepared->length;
  next.frameBytes = SDL_AUDIO_BITSIZE(prepared->spec.format) / 8 * prepared->spec.channels;
  next.rate = prepared->spec.freq;
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
        bool done = playRecord.serial != serial || playRecord.finished;
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
  // Decoded outside the service, so that a long decoding holds up no other call.
  PreparedSound decoded;
  SDL_zero(decoded);
  if (!decodeImage(image, length, &decoded)) SDL_zero(decoded);
  decoded.image = image;
  decoded.imageLength = length;

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
    SDL_FreeWAV(decoded.samples);
    return;
  }
  *row = decoded;
}

bool soundImageDecodes(const void* image, size_t length) {
  {
    std::lock_guard<std::mutex> hold(serviceMutex);
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");  // as noteSoundImage decodes
  }
  PreparedSound decoded;
  SDL_zero(decoded);
  if (!decodeImage(image, length, &decoded)) return false;
  SDL_FreeWAV(decoded.samples);
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
    if (playRecord.stream) SDL_FreeAudioStream(playRecord.stream);
    SDL_zero(playRecord);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  device = 0;
  deviceState = DeviceState::closed;
}

bool pullSoundOutput(void* buffer, int bytes) {
  std::lock_guard<std::mutex> hold(serviceMutex);
  if (deviceState != DeviceState::open) return false;
  SDL_LockAudioDevice(device);
  fillDeviceBuffer(nullptr, (Uint8*)buffer, bytes - bytes % soundDeviceFrameBytes);
  SDL_UnlockAudioDevice(device);
  return true;
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
