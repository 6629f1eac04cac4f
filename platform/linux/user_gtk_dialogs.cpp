// The desktop backend's modal dialogs: MessageBoxA as a GTK message dialog and GetOpenFileNameA
// as a GTK file chooser. Both run on the desktop thread, whichever thread asks: a message box of
// the frame thread blocks only that thread, while the desktop thread goes on handling the
// window (and any message sent to it) inside the dialog's own loop.
//
// Owns the folder the Open dialog starts in and the answer it gives for a story named on the
// command line.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/user_gtk.h"

namespace {

constexpr UINT iconMask = 0x000000F0;  // MB_ICONMASK
constexpr UINT iconHand = 0x00000010;  // MB_ICONHAND, MB_ICONERROR
constexpr UINT iconQuestion = 0x00000020;
constexpr UINT iconExclamation = 0x00000030;
constexpr UINT iconAsterisk = 0x00000040;

std::string openDialogFolder;  // desktop thread: the folder of the last file chosen
std::string nextOpenAnswer;    // desktop thread: what the next Open answers without a dialog

GtkMessageType messageType(UINT type) {
  switch (type & iconMask) {
    case iconHand:
      return GTK_MESSAGE_ERROR;
    case iconQuestion:
      return GTK_MESSAGE_QUESTION;
    case iconExclamation:
      return GTK_MESSAGE_WARNING;
    case iconAsterisk:
      return GTK_MESSAGE_INFO;
    default:
      return GTK_MESSAGE_OTHER;
  }
}

// Runs a modal dialog until it answers. A dialog owned by a window goes when the window goes
// (as an owned window does on Windows); the reference taken by startDialog keeps it safe to look
// at until finishDialog.
void startDialog(GtkWidget* dialog) {
  g_object_ref(dialog);
  watchActivation(dialog);
}

void finishDialog(GtkWidget* dialog) {
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
}

int showMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  GtkWindow* parent = gtkWindowOf(owner);
  // Only an OK button: the player asks for no other.
  GtkWidget* dialog = gtk_message_dialog_new(
      parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      messageType(type), GTK_BUTTONS_OK, "%s", cp932ToUtf8(text ? text : "").c_str());
  std::string heading = cp932ToUtf8(caption ? caption : "");
  gtk_window_set_title(GTK_WINDOW(dialog), heading.c_str());
  // The caption also heads the box: many desktops draw no title on a modal dialog, and a box's
  // caption ("END", an error's) is often what it says.
  if (!heading.empty()) {
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    GtkWidget* label = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", heading.c_str());
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(area), label, 0);
    gtk_widget_show(label);
  }
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  startDialog(dialog);
  gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  finishDialog(dialog);
  // Escape and the close box also answer OK, as for a Windows box whose only button is OK. A
  // box taken away with its owner window was answered by nobody.
  return response == GTK_RESPONSE_NONE ? 0 : IDOK;
}

bool isFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Windows matches file patterns without regard to letter case; GTK's patterns do not.
std::string caseFreePattern(const std::string& pattern) {
  std::string result;
  for (char c : pattern) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter) {
      result += c;
      continue;
    }
    char lower = static_cast<char>(c | 0x20);
    result += '[';
    result += lower;
    result += static_cast<char>(lower - 'a' + 'A');
    result += ']';
  }
  return result;
}

// The filter pairs of the record: display text, then patterns separated by ';', the list ended
// by an empty string.
void addFilters(GtkFileChooser* chooser, LPCSTR filter, DWORD filterIndex) {
  if (!filter) return;
  std::vector<GtkFileFilter*> filters;
  const char* p = filter;
  while (*p) {
    std::string display = p;
    p += display.size() + 1;
    std::string patterns = p;
    if (*p) p += patterns.size() + 1;  // a display text without patterns ends the list
    GtkFileFilter* gtkFilter = gtk_file_filter_new();
    gtk_file_filter_set_name(gtkFilter, cp932ToUtf8(display.c_str()).c_str());
    size_t start = 0;
    while (start < patterns.size()) {
      size_t end = patterns.find(';', start);
      if (end == std::string::npos) end = patterns.size();
      std::string pattern = cp932ToUtf8(patterns.substr(start, end - start).c_str());
      if (!pattern.empty())
        gtk_file_filter_add_pattern(gtkFilter, caseFreePattern(pattern).c_str());
      start = end + 1;
    }
    gtk_file_chooser_add_filter(chooser, gtkFilter);
    filters.push_back(gtkFilter);
  }
  // nFilterIndex counts from 1; 0 asks for the custom filter, which we do not keep.
  if (filterIndex >= 1 && filterIndex <= filters.size()) {
    gtk_file_chooser_set_filter(chooser, filters[filterIndex - 1]);
  }
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A name typed without an extension gets the default one, as Windows' dialog does, when the
// name as typed is no file.
std::string withDefaultExtension(const std::string& path, LPCSTR defaultExtension) {
  if (isFile(path) || !defaultExtension || !*defaultExtension) return path;
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return path;
  return path + "." + cp932ToUtf8(defaultExtension);
}

// What the chooser gave, as the narrow dialog returns it: CP932. False when CP932 cannot spell
// the path or it does not fit; Windows' narrow dialog fails then.
bool storeChosenPath(LPOPENFILENAMEA dialog, const std::string& nativeChosen) {
  gchar* utf8 = g_filename_to_utf8(nativeChosen.c_str(), -1, nullptr, nullptr, nullptr);
  if (!utf8) return false;
  std::string cp932;
  bool spelled = utf8ToCp932(utf8, &cp932);
  g_free(utf8);
  return spelled && userStoreChosenPath(dialog, cp932);
}

BOOL acceptChosenPath(LPOPENFILENAMEA dialog, const std::string& path) {
  if (!storeChosenPath(dialog, path)) return FALSE;
  openDialogFolder = folderOf(path);
  // Without OFN_NOCHANGEDIR Windows leaves the chosen file's folder current. Should it have
  // gone meanwhile, the directory stays as it was; nobody is told, as on Windows.
  if (!(dialog->Flags & OFN_NOCHANGEDIR)) {
    int changed = chdir(openDialogFolder.c_str());
    (void)changed;
  }
  layerNoteOpenedScript(path);
  return TRUE;
}

BOOL showOpenDialog(LPOPENFILENAMEA dialog) {
  // A story named on the command line is the answer of the first Open, with no dialog shown.
  if (!nextOpenAnswer.empty()) {
    std::string path;
    path.swap(nextOpenAnswer);
    return acceptChosenPath(dialog, path);
  }
  GtkWindow* parent = gtkWindowOf(dialog->hwndOwner);
  std::string title = dialog->lpstrTitle ? cp932ToUtf8(dialog->lpstrTitle) : "";
  // The button labels come from GTK's own translations.
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_OPEN, g_dgettext("gtk30", "_Cancel"),
      GTK_RESPONSE_CANCEL, g_dgettext("gtk30", "_Open"), GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(chooser), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_local_only(files, TRUE);
  addFilters(files, dialog->lpstrFilter, dialog->nFilterIndex);

  // With no initial folder Windows starts in the current directory, and later in the folder
  // the last file was chosen from.
  std::string folder;
  if (dialog->lpstrInitialDir && *dialog->lpstrInitialDir) {
    folder = nativePath(dialog->lpstrInitialDir);
  } else if (!openDialogFolder.empty()) {
    folder = openDialogFolder;
  } else {
    gchar* current = g_get_current_dir();
    folder = current;
    g_free(current);
  }
  gtk_file_chooser_set_current_folder(files, folder.c_str());
  if (dialog->lpstrFile[0]) {
    std::string initial = nativePath(dialog->lpstrFile);
    if (isFile(initial)) gtk_file_chooser_set_filename(files, initial.c_str());
  }

  startDialog(chooser);
  BOOL result = FALSE;
  for (;;) {
    if (gtk_dialog_run(GTK_DIALOG(chooser)) != GTK_RESPONSE_ACCEPT) break;
    gchar* chosen = gtk_file_chooser_get_filename(files);
    if (!chosen) break;
    std::string path = withDefaultExtension(chosen, dialog->lpstrDefExt);
    g_free(chosen);
    if ((dialog->Flags & OFN_FILEMUSTEXIST) && !isFile(path)) continue;  // choose again
    result = acceptChosenPath(dialog, path);
    break;
  }
  finishDialog(chooser);
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The driver's dialog entries

void answerNextOpenDialog(const std::string& nativePath) {
  runOnDesktopThread([&] { nextOpenAnswer = nativePath; });
}

int gtkMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  int result = 0;
  runOnDesktopThread([&] { result = showMessageBox(owner, text, caption, type); });
  return result;
}

BOOL gtkOpenFileName(LPOPENFILENAMEA dialog) {
  if (dialog->nMaxFile == 0) return FALSE;
  BOOL result = FALSE;
  runOnDesktopThread([&] { result = showOpenDialog(dialog); });
  return result;
}
