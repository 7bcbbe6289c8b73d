# SPDX-License-Identifier: GPL-2.0-or-later
# The driver's version lives in one place: the top entry of debian/changelog,
# "lumora-driver (X.Y.Z) ...". The CMake project, the packages and everything
# built from them take it from there; a new release is a new changelog entry
# (dch -v X.Y.Z, or by hand), nothing else changes.
get_filename_component(_lumora_changelog ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog ABSOLUTE)
file(STRINGS ${_lumora_changelog} _lumora_top LIMIT_COUNT 1)
if(NOT _lumora_top MATCHES "^[a-z0-9.+-]+ \\(([0-9]+(\\.[0-9]+)*)[^)]*\\)")
  message(FATAL_ERROR "No version in the top line of ${_lumora_changelog}: '${_lumora_top}'")
endif()
set(LUMORA_VERSION ${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_lumora_changelog})
