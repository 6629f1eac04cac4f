// The one header through which the player reaches the Windows API.
// On Windows it is the real API; elsewhere it declares the subset the player calls, with the
// same names, types and values, implemented under platform/linux/.
#ifndef TORVANE_PLATFORM_WINDOWS_API_H
#define TORVANE_PLATFORM_WINDOWS_API_H

#include <stdio.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <commdlg.h>

#if defined(_WIN64) && !defined(GWL_HINSTANCE)
// The player is a 32-bit program; its tests also run as a 64-bit build, whose headers leave
// out the 32-bit window-long indices. The value is the same.
#define GWL_HINSTANCE (-6)
#endif

// Opens a file that a script or a dialog named. On Windows the name is already native.
inline FILE* openNamedFile(const char* name, const char* mode) { return fopen(name, mode); }

// Windows' sound service takes a memory image by its RIFF header alone: nothing to note.
inline void noteSoundImage(const void*, size_t) {}
inline void forgetSoundImage(const void*) {}
#else
#include "linux/win32_subset.h"

// Opens a file that a script or a dialog named: a CP932 Windows name ('\' separators,
// case-insensitive) mapped to the native file (platform/linux/file_names.cpp).
FILE* openNamedFile(const char* name, const char* mode);

// SND_MEMORY passes no length, and a RIFF header cut short with its file claims more bytes than
// are there. Whoever hands an image to sndPlaySoundA notes how many bytes it really has once
// the image is complete, and forgets it before the buffer is freed. The sound service
// (platform/linux/sound_sdl.cpp) decodes the image when it is noted, reads no further than the
// noted length and plays no image it was not told about.
void noteSoundImage(const void* image, size_t length);
void forgetSoundImage(const void* image);
#endif

#endif
