# How the released program is built (PATCHER_RELEASE, the "release" and
# "release-windows" presets): one self-contained stripped program, built so
# that the same commit gives the same bytes wherever and whenever it is
# built. tools/release.sh drives it and sets SOURCE_DATE_EPOCH.

# No path of the source or build folder in the program (__FILE__, debug
# info before stripping): the binary folder is inside the source folder, and
# the last matching map wins, so it comes second.
add_compile_options(
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
  -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

# Archives without time stamps, owners or modes.
set(CMAKE_CXX_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")

add_link_options(-s)
if(WIN32)
  # The PE header's link time would differ at every build.
  add_link_options(-Wl,--no-insert-timestamp)
else()
  # Linux: the C library and the C++ runtime linked in, so that the program
  # runs on any x86-64 distribution and in a root with nothing else in it.
  # As a static PIE it keeps address randomization.
  add_link_options(-static-pie)
endif()
