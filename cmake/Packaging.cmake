# Packages, made by cpack in a build folder: on Linux a Debian package of the player, its tools
# and the demo (with the desktop entry, icon, file type and manual pages); on Windows a zip of
# torvane.exe with the demo, the folder a user unpacks and plays from.

set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VENDOR "Torvane developers")
set(CPACK_PACKAGE_CONTACT
    "Torvane developers <maintainers@users.noreply.c-seed-a36bd561.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for picture-and-text stories")
set(CPACK_PACKAGE_DESCRIPTION
    "Torvane plays stories written as Shift-JIS .spt scripts with the bitmaps,\n\
icons and WAV sounds they name: pictures, messages that wait for a click,\n\
two-way choices and sound effects in a 640x480 window. The package holds the\n\
player with a demo story, torvane-check, which reports a script's faults, and\n\
torvane-run, which plays a story without a window on a schedule of clicks and\n\
writes its pictures.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME "torvane-${PROJECT_VERSION}-win32")
  else()
    set(CPACK_PACKAGE_FILE_NAME "torvane-${PROJECT_VERSION}-win64")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # misc, not games: Debian keeps games' programs in /usr/games, and these are tools as well.
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries from what the programs are linked with; the font the text is drawn in.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
endif()

include(CPack)
