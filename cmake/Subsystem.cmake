# A subsystem is a folder of portable sources built into one static library. Its sources are
# found by glob so that adding a file needs no edit here.
function(torvane_subsystem name folder)
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
  if(NOT sources)
    # A subsystem whose folder holds no source yet still links.
    set(sources "${PROJECT_BINARY_DIR}/empty_${name}.cpp")
    file(WRITE "${sources}" "")
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC tv_platform ${ARGN})
endfunction()
