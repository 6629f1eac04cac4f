// The real player (WinMain, its message loop, window procedure and frame thread) run on the
// headless backend with a driven clock, frame by frame, as torvane-run runs it; for the shell's
// tests. Each test gets a fresh process state: globals back to their start values, a base
// directory of its own as the executable's directory.
#ifndef TORVANE_TESTS_SHELL_PLAYER_HARNESS_H
#define TORVANE_TESTS_SHELL_PLAYER_HARNESS_H

#include <string>

#include "platform/windows_api.h"

// Starts WinMain on its own thread and waits until its window is up and idle. The executable's
// directory is base (native); an empty base keeps the real one.
bool startPlayer(const std::string& base);
// Chooses path (native; null: the user cancels) in File > Open and lets the program settle: a new
// frame thread has compiled its script and waits for its first frame.
void openThroughMenu(const char* nativePath);
// Runs the next frame's tick (after whatever was posted before) and lets the program settle.
void nextFrame();
void runFrames(int count);
// Posts a left click (WM_LBUTTONDOWN, WM_LBUTTONUP) at client 10,10.
void click();
// Whether WinMain has returned, and with what.
bool playerEnded();
int playerExitCode();
// Ends the player if it still runs (WM_CLOSE) and forgets everything; safe to call twice.
void stopPlayer();
// The player's title as UTF-8.
std::string windowTitleUtf8();

#endif
