// The one place where a Windows file name becomes a native path. Scripts written on Windows name
// their files with '\' separators, in CP932, in whatever letter case; they must play unchanged.
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/windows_api.h"

namespace {

bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool sameIgnoringCase(const char* a, const char* b) {
  gchar* foldedA = g_utf8_casefold(a, -1);
  gchar* foldedB = g_utf8_casefold(b, -1);
  bool same = g_strcmp0(foldedA, foldedB) == 0;
  g_free(foldedA);
  g_free(foldedB);
  return same;
}

// The entry of directory that equals name but for letter case, or name itself when none does.
std::string matchEntry(const std::string& directory, const std::string& name) {
  DIR* dir = opendir(directory.empty() ? "/" : directory.c_str());
  if (!dir) return name;
  std::string found = name;
  while (struct dirent* entry = readdir(dir)) {
    if (sameIgnoringCase(entry->d_name, name.c_str())) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::string nativePath(const char* windowsName) {
  // After the conversion no trail byte is left, so every '\' is a separator. A name with bytes
  // that are not CP932 could only be guessed at (a U+FFFD in its place would name another file).
  std::string path;
  if (!cp932ToUtf8Exactly(windowsName, &path)) return std::string();
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || exists(path)) return path;

  // Walk the components, matching each one that does not exist as written.
  bool absolute = path[0] == '/';
  std::string resolved = absolute ? "" : ".";
  size_t start = absolute ? 1 : 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    std::string candidate = resolved + "/" + component;
    if (!exists(candidate)) candidate = resolved + "/" + matchEntry(resolved, component);
    resolved = candidate;
  }
  if (!absolute && resolved.compare(0, 2, "./") == 0) resolved.erase(0, 2);
  if (path.back() == '/') resolved += '/';
  return resolved;
}

FILE* openNamedFile(const char* name, const char* mode) {
  if (!name) return nullptr;
  std::string path = nativePath(name);
  if (mode[0] != 'r') return fopen(path.c_str(), mode);
  // Only a regular file is opened for reading. The open itself must not wait: a FIFO would block
  // until a writer came, a device may never end, and the frame thread that reads story files
  // must stay stoppable. A directory, which glibc would open, is refused as Windows refuses it.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, mode);
  if (!file) close(fd);
  return file;
}
