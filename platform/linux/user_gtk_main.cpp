// The Linux player's entry point: opens the display and hands over to WinMain, as the Windows
// start-up code does. The command line is not passed on; the player takes none.
#include <stdio.h>

#include "platform/linux/user_gtk.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);

int main(int argc, char** argv) {
  if (!startDesktop(&argc, &argv)) {
    fprintf(stderr, "torvane: cannot open the display (is DISPLAY or WAYLAND_DISPLAY set?)\n");
    return 1;
  }
  char emptyCommandLine[] = "";
  return WinMain(GetModuleHandleA(nullptr), nullptr, emptyCommandLine, SW_SHOWDEFAULT);
}
