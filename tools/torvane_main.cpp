// The Linux player's entry point: reads the command line, opens the display and hands over to
// WinMain, as the Windows start-up code does. A story named on the command line is opened
// through File > Open, exactly as if the user had chosen it in the Open dialog; one that cannot
// be opened is reported in a message box and the player waits with no story.
// State: the story named on the command line, until it is opened. Deps: the GTK backend, the
// shell's main window, the menu's command identifiers, the system's texts.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/linux/layer.h"
#include "platform/linux/user_gtk.h"
#include "resources/menu.h"
#include "resources/texts.h"
#include "shell/shell.h"

namespace {

std::string commandLineStory;  // native absolute path; empty once handed on

void usage(FILE* out) {
  fprintf(out,
          "usage: torvane [STORY.spt]\n"
          "Plays a picture-and-text story. With a script named, the player opens it at start-up\n"
          "as File > Open would; the story's pictures and sounds are found beside its script.\n"
          "  --help     print this help and exit\n"
          "  --version  print the version and exit\n");
}

bool readableFile(const std::string& path) {
  int file = open(path.c_str(), O_RDONLY);
  if (file < 0) return false;
  struct stat info;
  bool regular = fstat(file, &info) == 0 && S_ISREG(info.st_mode);
  close(file);
  return regular;
}

// The path as the message box shows it: CP932, characters that have no CP932 form as '?'.
std::string shownPath(const std::string& native) {
  std::string out;
  if (utf8ToCp932(native, &out)) return out;
  out.clear();
  for (unsigned char c : native) {
    if (c < 0x80) out += (char)c;
    else if ((c & 0xC0) != 0x80) out += '?';
  }
  return out;
}

// Runs in the player's message loop until the main window exists; then opens the story.
gboolean openCommandLineStory(gpointer) {
  if (!mainWindow) return G_SOURCE_CONTINUE;
  std::string story;
  story.swap(commandLineStory);
  std::string windowsName;
  // A name the Open dialog could not have given (no CP932 form, longer than its buffer) is as
  // unopenable as a missing file.
  if (!readableFile(story) || !utf8ToCp932(story, &windowsName) ||
      windowsName.size() >= (size_t)pathBufferSize) {
    std::string path = shownPath(story);
    std::string text(strlen(formatScriptCannotOpen) + path.size(), '\0');
    int length = snprintf(&text[0], text.size() + 1, formatScriptCannotOpen, path.c_str());
    text.resize(length > 0 ? (size_t)length : 0);
    MessageBoxA(mainWindow, text.c_str(), captionError, MB_OK);
    return G_SOURCE_REMOVE;
  }
  answerNextOpenDialog(story);
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    if (strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      printf("torvane %s\n", TORVANE_VERSION);
      return 0;
    }
  }
  if (!startDesktop(&argc, &argv)) {
    fprintf(stderr, "torvane: cannot open the display (is DISPLAY or WAYLAND_DISPLAY set?)\n");
    return 1;
  }
  // What the desktop did not take of the command line (its own --display and the like).
  const char* story = nullptr;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    if (!optionsEnded && strcmp(argv[i], "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && argv[i][0] == '-' && argv[i][1] != '\0') {
      fprintf(stderr, "torvane: unknown option %s\n", argv[i]);
      usage(stderr);
      return 2;
    } else if (story) {
      usage(stderr);
      return 2;
    } else {
      story = argv[i];
    }
  }
  if (story) {
    // The player makes its own folder current before it opens anything: resolve against ours.
    char here[PATH_MAX];
    commandLineStory = story;
    if (story[0] != '/' && getcwd(here, sizeof here)) {
      commandLineStory = std::string(here) + "/" + story;
    }
    g_timeout_add(10, openCommandLineStory, nullptr);
  }
  char emptyCommandLine[] = "";
  return WinMain(GetModuleHandleA(nullptr), nullptr, emptyCommandLine, SW_SHOWDEFAULT);
}
