// The main window's menu: its command identifiers and its entries. The Windows resource
// (menu.rc) and the Linux desktop backend are both made from this one description.
#ifndef TORVANE_RESOURCES_MENU_H
#define TORVANE_RESOURCES_MENU_H

#define IDM_FILE_OPEN 40001  // File > Open: choose and start a script
#define IDM_FILE_EXIT 40002  // File > Exit: close the window

#endif
