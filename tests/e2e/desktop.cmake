# Desktop tests, labelled e2e and desktop. Each runs on an X display of its own (with-xvfb.sh),
# so they may run beside each other and beside anything on the developer's display.
#   platform_gtk           the platform contract on the GTK backend, with what only GTK shows
#   desktop_gtk_<scenario> the GTK player: the demo, a cancelled Open, File > Exit, the close
#                          box, a second Open, the installed player with stories in and out of
#                          its folder (desktop_gtk.sh)
#   desktop_wine           torvane.exe under Wine (desktop_wine.sh; skipped without a Windows build)
# and, labelled e2e only, demo_story (the demo played headless), install (cmake --install) and
# package (the Debian package).
# Timeouts are a few times the usual time with the sanitizers: the platform suite 15 s, a GTK scenario up
# to 30 s, the Wine scenario 15 s (more with a cold prefix: each wait inside may take 40 s),
# install 2 s (it plays the installed demo), package 30 s, demo_story 15 s.

set(torvane_desktop_environment
  "LANG=ja_JP.UTF-8" "LC_ALL=ja_JP.UTF-8" "SDL_AUDIODRIVER=dummy" "NO_AT_BRIDGE=1"
  "GTK_THEME=Adwaita" "GDK_BACKEND=x11" "GSETTINGS_BACKEND=memory"
  # GTK and fontconfig keep caches until the process ends, which the leak checker would report.
  "ASAN_OPTIONS=detect_leaks=0")

if(NOT WIN32 AND TARGET tv_user_gtk)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
  file(GLOB contract CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/platform/*.cpp"
       "${PROJECT_SOURCE_DIR}/tests/platform/gtk/*.cpp")
  add_executable(test_platform_gtk ${contract} ${torvane_canvas_sources}
                 "${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp")
  target_include_directories(test_platform_gtk PRIVATE "${PROJECT_SOURCE_DIR}/tests"
                             "${PROJECT_SOURCE_DIR}")
  target_link_libraries(test_platform_gtk PRIVATE tv_user_gtk tv_resources tv_platform
                        PkgConfig::X11 GTest::gtest)
  add_test(NAME platform_gtk
           COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/with-xvfb.sh" $<TARGET_FILE:test_platform_gtk>
                   --gtest_color=no)
  set_tests_properties(platform_gtk PROPERTIES LABELS "platform;desktop" TIMEOUT 90
                       ENVIRONMENT "${torvane_desktop_environment}")
endif()

# The desktop scenarios of the players: the GTK player here; torvane.exe under Wine, when a
# Windows build is at hand. Their pictures come from torvane-run, so they need this build's.
if(NOT WIN32 AND TARGET torvane AND TARGET e2e_tool)
  foreach(scenario demo cancel exit closebox reopen installed hidpi fullscreen)
    add_test(NAME desktop_gtk_${scenario}
             COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/with-xvfb.sh"
                     "${CMAKE_CURRENT_SOURCE_DIR}/desktop_gtk.sh" ${scenario}
                     "$<TARGET_FILE_DIR:torvane>" $<TARGET_FILE:e2e_tool>)
    set_tests_properties(desktop_gtk_${scenario} PROPERTIES LABELS "e2e;desktop" TIMEOUT 120
                         ENVIRONMENT "${torvane_desktop_environment}")
  endforeach()
  # Room for a window twice the usual size.
  set_property(TEST desktop_gtk_hidpi desktop_gtk_fullscreen APPEND PROPERTY ENVIRONMENT
               "TORVANE_XVFB_SCREEN=1600x1300")
endif()

# torvane.exe under Wine: the shipped 32-bit player, or where this machine cannot start 32-bit
# programs the 64-bit build of the same sources, with its demo; pictures from this build's
# torvane-run.
set(TORVANE_WIN32_PLAYER "${PROJECT_SOURCE_DIR}/build/windows/tools/torvane.exe" CACHE FILEPATH
    "The 32-bit torvane.exe, for the desktop test under Wine")
set(TORVANE_WIN64_PLAYER "${PROJECT_SOURCE_DIR}/build/win64/tools/torvane.exe" CACHE FILEPATH
    "The 64-bit torvane.exe, for the desktop test where 32-bit programs cannot run")
# The sanitizer build would only run the same Windows program again.
if(NOT WIN32 AND TARGET e2e_tool AND NOT TORVANE_SANITIZE)
  add_test(NAME desktop_wine
           COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/with-xvfb.sh"
                   "${CMAKE_CURRENT_SOURCE_DIR}/desktop_wine.sh" "${TORVANE_WIN32_PLAYER}"
                   "$<TARGET_FILE_DIR:torvane>" $<TARGET_FILE:e2e_tool>
                   "${TORVANE_WIN64_PLAYER}")
  set_tests_properties(desktop_wine PROPERTIES LABELS "e2e;desktop;wine" TIMEOUT 180
                       SKIP_RETURN_CODE 77 ENVIRONMENT "${torvane_desktop_environment}")
endif()

# What cmake --install and the Debian package leave behind, and the installed demo played.
if(NOT WIN32 AND TARGET torvane AND TARGET torvane-run)
  add_test(NAME install COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/install_check.sh" "${CMAKE_BINARY_DIR}")
  add_test(NAME package
           COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/install_check.sh" "${CMAKE_BINARY_DIR}" deb)
  set_tests_properties(install PROPERTIES LABELS "e2e" TIMEOUT 60
                       ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;SDL_AUDIODRIVER=dummy")
  set_tests_properties(package PROPERTIES LABELS "e2e" TIMEOUT 120
                       ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;SDL_AUDIODRIVER=dummy")
endif()

# The demo story played headless, both branches.
if(NOT WIN32 AND TARGET torvane-run AND TARGET torvane-check)
  add_test(NAME demo_story COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/demo_check.sh"
                                   "$<TARGET_FILE_DIR:torvane-run>")
  set_tests_properties(demo_story PROPERTIES LABELS "e2e" TIMEOUT 60
                       ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;SDL_AUDIODRIVER=dummy")
endif()
