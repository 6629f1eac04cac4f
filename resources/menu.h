// The main window's menu: its command identifiers and its entries. The Windows resource
// (menu.rc) and the Linux desktop backend are both made from the one description below, so the
// two menus cannot drift apart.
#ifndef TORVANE_RESOURCES_MENU_H
#define TORVANE_RESOURCES_MENU_H

#define IDM_FILE_OPEN 40001  // File > Open: choose and start a script
#define IDM_FILE_EXIT 40002  // File > Exit: close the window

// The menu resource "Menu", top to bottom. Each row names the CP932 text of texts.h that the
// Linux backend shows and the UTF-8 spelling that windres compiles; a test checks that the two
// agree. menu.rc and menu.cpp expand the rows with macros of their own.
#define TORVANE_MAIN_MENU(POPUP, ITEM, SEPARATOR, END) \
  POPUP(menuTextFile, "ファイル")                      \
  ITEM(menuTextOpen, "開く", IDM_FILE_OPEN)             \
  SEPARATOR()                                          \
  ITEM(menuTextExit, "終了", IDM_FILE_EXIT)             \
  END()

#ifndef RC_INVOKED

enum MenuEntryKind {
  menuPopup,      // opens a submenu holding the entries up to its menuEnd
  menuItem,       // a command: choosing it sends WM_COMMAND with commandId
  menuSeparator,  // a line between items
  menuEnd,        // closes the innermost open popup
};

struct MenuEntry {
  MenuEntryKind kind;
  const char* text;  // CP932; null for separators and ends
  const char* utf8;  // the same text in UTF-8, as the .rc spells it; null where text is null
  int commandId;     // for items; 0 otherwise
};

struct MenuResource {
  const char* name;          // the resource name a window class gives as lpszMenuName
  const MenuEntry* entries;  // in order, popups closed by their menuEnd
  int entryCount;
};

// The menu resource of that name, compared without regard to ASCII letter case as Windows
// compares resource names; null when there is none. Integer resource ids name no menu here.
const MenuResource* findMenuResource(const char* name);

#endif

#endif
