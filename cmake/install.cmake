# SPDX-License-Identifier: GPL-2.0-or-later
# Install rules of the driver.  Paths are absolute cache variables because
# CUPS looks in fixed places; stage them with DESTDIR:
#   cmake --install build                        # onto this system
#   DESTDIR=/tmp/stage cmake --install build     # into a staging tree
#   cmake --build build --target uninstall       # removes what was installed
foreach(filter rastertoLumora pstoLumora)
  if(TARGET ${filter})
    install(TARGETS ${filter} RUNTIME DESTINATION ${LUMORA_FILTER_DIR}
            PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
install(FILES ${LUMORA_PPD_FILES} DESTINATION ${LUMORA_PPD_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Uninstall: remove every file of the last install (install_manifest.txt)
# and the then empty PPD directory.
if(NOT TARGET uninstall)
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
            -DPPD_DIR=${LUMORA_PPD_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
    COMMENT "Removing the installed driver")
endif()
