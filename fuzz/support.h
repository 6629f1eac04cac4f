// What the libFuzzer targets share: the input written to a file of this process, a headless main
// window for the player's code to draw with and send to, and the clean state between runs.
#ifndef TORVANE_FUZZ_SUPPORT_H
#define TORVANE_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

// Writes bytes to the file "<per-process folder>/name" and returns its path (CP932 = ASCII).
const char* writeFuzzFile(const char* name, const uint8_t* data, size_t size);
// The folder of writeFuzzFile, made on the first call.
const char* fuzzFolder();
// Makes mainWindow a headless window that answers everything as DefWindowProcA does but keeps
// WM_CLOSE from destroying it; the virtual screen is made once.
void openFuzzWindow();
// Releases the slots, the sound data and the message boxes of a run.
void endFuzzRun();

#endif
