# The one place that chooses the platform. Every subsystem links tv_platform and includes
# platform/windows_api.h; on Windows that is the real API, elsewhere our Linux layer.
#
# Linux has two window backends, chosen at link time: tv_user_gtk (the desktop player) and
# tv_user_headless (tests and torvane-run), each the USER core with its driver. Windows has only
# the real one.

if(WIN32)
  add_library(tv_platform INTERFACE)
  target_include_directories(tv_platform INTERFACE "${PROJECT_SOURCE_DIR}")
  target_compile_definitions(tv_platform INTERFACE WINVER=0x0501 _WIN32_WINNT=0x0501)
  target_link_libraries(tv_platform INTERFACE user32 gdi32 winmm comdlg32 kernel32)
  # Wine cannot find the MinGW runtime DLLs: link the runtimes statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_library(tv_user_backend INTERFACE)  # the real USER32
  set(TORVANE_HEADLESS_BACKEND tv_user_backend)
  set(TORVANE_DESKTOP_BACKEND tv_user_backend)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GDKPIXBUF REQUIRED IMPORTED_TARGET gdk-pixbuf-2.0)
  pkg_check_modules(PANGOCAIRO REQUIRED IMPORTED_TARGET pangocairo pangoft2 fontconfig)
  pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  find_package(Threads REQUIRED)

  file(GLOB layer_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/platform/linux/*.cpp")
  list(FILTER layer_sources EXCLUDE REGEX "/(user_core|user_headless|user_gtk)[^/]*\\.cpp$")
  add_library(tv_platform STATIC ${layer_sources})
  target_include_directories(tv_platform PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(tv_platform PUBLIC PkgConfig::GDKPIXBUF PkgConfig::PANGOCAIRO
                        PkgConfig::SDL2 Threads::Threads)

  # The USER core goes into each backend's library, beside the driver it calls.
  file(GLOB core_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/platform/linux/user_core*.cpp")
  file(GLOB headless_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/platform/linux/user_headless*.cpp")
  if(NOT headless_sources)
    set(headless_sources "${PROJECT_BINARY_DIR}/empty_tv_user_headless.cpp")
    file(WRITE "${headless_sources}" "")
  endif()
  add_library(tv_user_headless STATIC ${core_sources} ${headless_sources})
  target_link_libraries(tv_user_headless PUBLIC tv_platform)

  file(GLOB gtk_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/platform/linux/user_gtk*.cpp")
  if(gtk_sources)
    add_library(tv_user_gtk STATIC ${core_sources} ${gtk_sources})
    target_link_libraries(tv_user_gtk PUBLIC tv_platform PkgConfig::GTK3)
  endif()
  set(TORVANE_HEADLESS_BACKEND tv_user_headless)
  set(TORVANE_DESKTOP_BACKEND tv_user_gtk)
endif()

# Links a program with a window backend: the headless one for tests and torvane-run, the
# desktop one for the player. On Windows both are the system's own.
function(torvane_link_backend target backend)
  target_link_libraries(${target} PRIVATE ${backend} tv_platform)
endfunction()
