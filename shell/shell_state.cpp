// The shell's globals, in a file of their own: the compiler and the presentation read
// mainWindow and scriptPath, and their tests link these without the rest of the shell.
#include "shell/shell.h"

HWND mainWindow = nullptr;
HINSTANCE instanceHandle = nullptr;
std::atomic<uint8_t> appActive{1};
uint8_t cleanupDone = 0;

char workingDirectory[pathBufferSize] = {};
char scriptPath[pathBufferSize] = {};
HANDLE frameThread = nullptr;
uint8_t frameThreadStarted = 0;
std::atomic<bool> frameStopRequested{false};
