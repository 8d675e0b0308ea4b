# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by CPack from the install rules: `cmake --build build --target package`
# (tools/package.sh) writes ombura_<version>-1_<arch>.deb into the build folder.
#
# Debian puts a game's launcher in /usr/games and its private files in /usr/lib/games/<game>. The
# program reads its data files from its own folder, so they lie beside it there; /usr/games/ombura
# is a relative link to it, which Qt resolves through /proc/self/exe. This layout is the component
# "debian", left out of a plain `cmake --install`; the package takes it together with "desktop".
set(OMBURA_PACKAGE_MAINTAINER "The Ombura Project <ombura@users.noreply.github.com>"
    CACHE STRING "Maintainer field of the Debian package and signature of its changelog")
set(OMBURA_DEBIAN_REVISION 1)
set(OMBURA_DEBIAN_VERSION ${PROJECT_VERSION}-${OMBURA_DEBIAN_REVISION})
set(OMBURA_DEBIAN_PROGRAM_DIR lib/games/ombura)
set(OMBURA_DEBIAN_LAUNCHER_DIR games)
set(OMBURA_DEBIAN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ombura)

install(TARGETS ombura RUNTIME DESTINATION ${OMBURA_DEBIAN_PROGRAM_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
# Stripped as Debian strips programs (dh_strip): no symbols, and none of the sections that only
# name the compiler (.comment, .note).
find_program(OMBURA_STRIP NAMES ${CMAKE_STRIP} strip REQUIRED)
install(CODE "execute_process(COMMAND \"${OMBURA_STRIP}\" --remove-section=.comment --remove-section=.note
                                      --strip-unneeded
                                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${OMBURA_DEBIAN_PROGRAM_DIR}/ombura\"
                              COMMAND_ERROR_IS_FATAL ANY)"
        COMPONENT debian EXCLUDE_FROM_ALL)
list(TRANSFORM OMBURA_DATA_FILES PREPEND ${CMAKE_BINARY_DIR}/ OUTPUT_VARIABLE debian_data)
install(FILES ${debian_data} DESTINATION ${OMBURA_DEBIAN_PROGRAM_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
file(RELATIVE_PATH debian_link_target /usr/${OMBURA_DEBIAN_LAUNCHER_DIR} /usr/${OMBURA_DEBIAN_PROGRAM_DIR}/ombura)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(CREATE_LINK ${debian_link_target} ${CMAKE_CURRENT_BINARY_DIR}/debian/${OMBURA_LAUNCHER} SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/${OMBURA_LAUNCHER} DESTINATION ${OMBURA_DEBIAN_LAUNCHER_DIR}
        COMPONENT debian EXCLUDE_FROM_ALL)

# The changelog's date is the release date in RFC 2822 form; its weekday by Sakamoto's rule.
string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-0*([1-9][0-9]*)-0*([1-9][0-9]*)$" release_date ${OMBURA_RELEASE_DATE})
if(NOT release_date)
  message(FATAL_ERROR "OMBURA_RELEASE_DATE must read YYYY-MM-DD, not '${OMBURA_RELEASE_DATE}'")
endif()
set(year ${CMAKE_MATCH_1})
set(month ${CMAKE_MATCH_2})
set(day ${CMAKE_MATCH_3})
set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(weekday_names Sun Mon Tue Wed Thu Fri Sat)
math(EXPR index "${month} - 1")
list(GET month_offsets ${index} offset)
list(GET month_names ${index} month_name)
set(y ${year})
if(month LESS 3)
  math(EXPR y "${year} - 1")
endif()
math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
list(GET weekday_names ${weekday} weekday_name)
string(REGEX REPLACE "^[0-9]+-[0-9]+-" "" day_text ${OMBURA_RELEASE_DATE})
set(OMBURA_RELEASE_DATE_RFC2822 "${weekday_name}, ${day_text} ${month_name} ${year} 00:00:00 +0000")

configure_file(debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian @ONLY)
set(OMBURA_DEBIAN_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/debian/doc/changelog.Debian.gz)
ombura_gzip(${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian ${OMBURA_DEBIAN_CHANGELOG})
add_custom_target(ombura_debian_changelog ALL DEPENDS ${OMBURA_DEBIAN_CHANGELOG})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright ${OMBURA_DEBIAN_CHANGELOG}
        DESTINATION ${OMBURA_DEBIAN_DOC_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
# The help file, registered with the system's documentation index (doc-base), as dh_installdocs
# names it: <package>.<document>.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/doc-base DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base
        RENAME ombura.ombura-help COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombura)
# All four parts of the version (CPack would take only three).
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Ombura Project")
set(CPACK_PACKAGE_CONTACT ${OMBURA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "click game: keep the girl spinning before she runs away")
# Debian's extended description: lines of at most 80 columns, each starting with a blank.
set(CPACK_PACKAGE_DESCRIPTION [[
A small click game with a Japanese user interface, played in one window with
the mouse. Start a game from the menu and press the man in the middle of the
room as fast as you can: every press turns the girl beside him once around and
sets the escape countdown back to ten seconds. Leave her alone for too long and
she runs away. Intruders with pinwheels pop up at random, and the pace rises
with the score.]])
# Only the two components: anything installed outside them stays out of the package.
set(CPACK_INSTALL_CMAKE_PROJECTS
    ${CMAKE_BINARY_DIR} ${PROJECT_NAME} desktop /
    ${CMAKE_BINARY_DIR} ${PROJECT_NAME} debian /)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OMBURA_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps finds what the program links (Qt, the C++ runtime, FluidSynth, SDL, libsndfile,
# glib, libsoxr). ALSA, whose log the game silences, is opened at run time, so it is named here;
# the linked sound libraries and glib are named too, as before. So is Qt's
# X11 platform plugin, which Qt itself only recommends but without which the window cannot open. The music needs a General MIDI SoundFont: FluidR3_GM, which then
# is the system's default one, as after ./play (TimGM6mb, which FluidSynth's library pulls in,
# ranks below it). The texts need the two Japanese fonts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(OMBURA_DEBIAN_DEPENDS
    qt6-qpa-plugins
    libfluidsynth3
    libsdl2-2.0-0
    libsndfile1
    libsoxr0
    # Debian 13 renamed it for the 64-bit time_t change; the old name only as an alternative.
    "libasound2t64 | libasound2"
    "libglib2.0-0t64 | libglib2.0-0"
    fluid-soundfont-gm
    fonts-ipafont-gothic
    fonts-kouzan-mouhitsu)
list(JOIN OMBURA_DEBIAN_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Native on a Wayland desktop; without it Qt falls back to X11 through Xwayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
include(CPack)

# What the package holds, built without the rest of a build that has the tests (tools/package.sh).
add_custom_target(ombura_package_contents)
add_dependencies(ombura_package_contents ombura ombura_man ombura_debian_changelog)
