# Install rules and the Debian package (CPack).
#
# Layout under the prefix: bin/ the programs, lib/quarvel/ the modules they
# dlopen (quarvel-cli's commands, FFmpeg; found from bin/ as ../lib/quarvel),
# share/quarvel/ the data files (found from bin/ as ../share/quarvel, see
# paths::DataFilePath), and
# the desktop entry, icon, man pages and bash completion where desktops,
# man and bash look for them.

set(QUARVEL_DATA_DIR "${PROJECT_SOURCE_DIR}/data")

install(TARGETS quarvel-cli RUNTIME DESTINATION ${QUARVEL_INSTALL_BINDIR})
if(TARGET quarvel)
  install(TARGETS quarvel RUNTIME DESTINATION ${QUARVEL_INSTALL_BINDIR})
endif()
install(TARGETS quarvel_cli_commands quarvel_ffmpeg quarvel_ffmpeg_format
        LIBRARY DESTINATION ${QUARVEL_INSTALL_MODULEDIR})
install(FILES "${PROJECT_BINARY_DIR}/data/adpcm1.wav" "${PROJECT_BINARY_DIR}/data/adpcm2.wav"
              "${PROJECT_BINARY_DIR}/data/adpcm3.wav"
        DESTINATION ${QUARVEL_INSTALL_DATADIR})

# Man pages and the changelog go in compressed without a time stamp, as
# Debian wants them.
find_program(QUARVEL_GZIP gzip REQUIRED)
set(quarvel_packed "")
set(quarvel_changelog_in "${PROJECT_BINARY_DIR}/packaging/changelog")
string(TIMESTAMP quarvel_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${quarvel_changelog_in}"
  "quarvel (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Built from the project's sources.\n\n"
  " -- ${QUARVEL_MAINTAINER}  ${quarvel_changelog_date}\n")
foreach(source IN ITEMS "${QUARVEL_DATA_DIR}/quarvel.1" "${QUARVEL_DATA_DIR}/quarvel-cli.1" "${quarvel_changelog_in}")
  get_filename_component(name "${source}" NAME)
  set(packed "${PROJECT_BINARY_DIR}/packaging/${name}.gz")
  add_custom_command(OUTPUT "${packed}"
    COMMAND "${QUARVEL_GZIP}" -9nc "${source}" > "${packed}"
    DEPENDS "${source}"
    COMMENT "Compressing ${name}")
  list(APPEND quarvel_packed "${packed}")
endforeach()
add_custom_target(quarvel_packaging_files ALL DEPENDS ${quarvel_packed})

if(TARGET quarvel)
  install(FILES "${PROJECT_BINARY_DIR}/packaging/quarvel.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES "${QUARVEL_DATA_DIR}/quarvel.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${QUARVEL_DATA_DIR}/quarvel.svg" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES "${PROJECT_BINARY_DIR}/packaging/quarvel-cli.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${QUARVEL_DATA_DIR}/quarvel-cli.bash" RENAME quarvel-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES "${QUARVEL_DATA_DIR}/copyright" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarvel)
install(FILES "${PROJECT_BINARY_DIR}/packaging/changelog.gz" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarvel)

# Everything the install rules take, for scripts/package and the package test.
add_custom_target(quarvel_install_parts)
add_dependencies(quarvel_install_parts quarvel-cli quarvel_cli_commands quarvel_ffmpeg quarvel_ffmpeg_format
                 quarvel_recording_templates quarvel_packaging_files)
if(TARGET quarvel)
  add_dependencies(quarvel_install_parts quarvel)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarvel)
set(CPACK_PACKAGE_VENDOR "The Quarvel developers")
set(CPACK_PACKAGE_CONTACT "${QUARVEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns Shockwave Flash movies into animated GIF, AVI and video")
set(CPACK_PACKAGE_DESCRIPTION
"Quarvel plays SWF movies in its own player (shapes, bitmaps, text, sound,
ActionScript 1, 2 and 3), captures their frames and records their sound, and
writes an animated GIF, an AVI, an MP3, or a video (MP4, WebM, animated WebP
or PNG). It comes as a desktop window and as the command line quarvel-cli,
which also converts whole folders of movies at once.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Text falls back on these metric-compatible fonts; lame writes MP3.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "lame")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
