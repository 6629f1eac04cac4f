// The menu resources of the program as data, for systems where no resource compiler puts them
// into the executable. Made from the same rows as menu.rc.
#include "resources/menu.h"

#include <stdint.h>

#include "resources/texts.h"

namespace {

#define MENU_POPUP(text, utf8) {menuPopup, text, utf8, 0},
#define MENU_ITEM(text, utf8, id) {menuItem, text, utf8, id},
#define MENU_SEPARATOR() {menuSeparator, nullptr, nullptr, 0},
#define MENU_END() {menuEnd, nullptr, nullptr, 0},
const MenuEntry mainMenuEntries[] = {
    TORVANE_MAIN_MENU(MENU_POPUP, MENU_ITEM, MENU_SEPARATOR, MENU_END)};
#undef MENU_POPUP
#undef MENU_ITEM
#undef MENU_SEPARATOR
#undef MENU_END

const MenuResource menuResources[] = {
    {menuResourceName, mainMenuEntries, sizeof mainMenuEntries / sizeof mainMenuEntries[0]},
};

char asciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (asciiUpper(*a) != asciiUpper(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

const MenuResource* findMenuResource(const char* name) {
  // An integer id (MAKEINTRESOURCE) is no pointer to a name.
  if (!name || reinterpret_cast<uintptr_t>(name) >> 16 == 0) return nullptr;
  for (const MenuResource& resource : menuResources) {
    if (sameName(resource.name, name)) return &resource;
  }
  return nullptr;
}
