# Installing Ravelin like a desktop program, and its Debian package.
#
# `cmake --install <build>` lays out the programs, the menu entry, the icons,
# the AppStream metadata, the manual pages, the watcher's systemd user unit,
# the example data files and the documentation under the prefix. `cpack` in the build folder (or
# scripts/package, which makes a release build first) turns the same install
# into ravelin_<version>-<release>_<arch>.deb.
#
# Everything is installed in one of two components:
#   Runtime  what every install holds, LICENCE.txt too: the About window names
#            it, so the package keeps it beside the copyright file that Debian
#            asks for, although that carries the same text;
#   Debian   the copyright file and changelog that Debian asks for, which only
#            the package installs (a plain install does not ask for them).
# An install rule without a component would reach a plain install but not the
# package; tests/install checks both file lists.

include(GNUInstallDirs)

# GNUInstallDirs names the documentation folder after the project ("Ravelin");
# packages name it after the package.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
    set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/ravelin")
    GNUInstallDirs_get_absolute_install_dir(CMAKE_INSTALL_FULL_DOCDIR CMAKE_INSTALL_DOCDIR DOCDIR)
endif()

# Installed folders are world-readable whatever the umask of whoever installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(RAVELIN_APP_ID io.github.bastionrow.ravelin)
set(ravelin_share "${PROJECT_SOURCE_DIR}/share")
set(ravelin_generated "${PROJECT_BINARY_DIR}/share")

# The programs. The practice server is built as rcon-sim; installed, its name
# says whose practice server it is.
install(TARGETS ravelin ravelin-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Runtime)
install(PROGRAMS "$<TARGET_FILE:rcon-sim>"
        DESTINATION "${CMAKE_INSTALL_BINDIR}"
        RENAME ravelin-practice-server
        COMPONENT Runtime)
# A stripping install (--strip, and every package) strips the programs as
# Debian's own packages are stripped: CMake would leave the renamed copy whole,
# and the compiler's .comment section in all of them.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program ravelin ravelin-cli ravelin-practice-server)
            execute_process(
                COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()" COMPONENT Runtime)

# The desktop's view of the program: menu entry, icons, software-centre entry.
install(FILES "${ravelin_share}/applications/${RAVELIN_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications" COMPONENT Runtime)
install(DIRECTORY "${ravelin_share}/icons/hicolor"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons" COMPONENT Runtime
        FILES_MATCHING PATTERN "${RAVELIN_APP_ID}.png" PATTERN "${RAVELIN_APP_ID}.svg")
install(FILES "${ravelin_share}/metainfo/${RAVELIN_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT Runtime)

# The examples an installed copy gives each user on the first start.
install(FILES "${PROJECT_SOURCE_DIR}/examples/maps.dat" "${PROJECT_SOURCE_DIR}/examples/servermessages.dat"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/ravelin" COMPONENT Runtime)

# Manual pages name the folders of this configuration, and are installed
# compressed as Debian wants them (-n: no name or time stamp, so the package
# is reproducible). They are made when CMake configures, so installing needs
# only the programs built.
find_program(RAVELIN_GZIP gzip REQUIRED)
set(RAVELIN_DOCDIR "${CMAKE_INSTALL_FULL_DOCDIR}")
set(RAVELIN_EXAMPLESDIR "${CMAKE_INSTALL_FULL_DATADIR}/ravelin")

function(ravelin_gzip source target)
    get_filename_component(folder "${target}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    execute_process(COMMAND "${RAVELIN_GZIP}" -9n -c "${source}" OUTPUT_FILE "${target}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

foreach(page ravelin ravelin-cli ravelin-practice-server)
    configure_file("${ravelin_share}/man/${page}.1.in" "${ravelin_generated}/man/${page}.1" @ONLY)
    ravelin_gzip("${ravelin_generated}/man/${page}.1" "${ravelin_generated}/man/${page}.1.gz")
    install(FILES "${ravelin_generated}/man/${page}.1.gz"
            DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT Runtime)
endforeach()

foreach(page ravelin-automation ravelin-fleet)
    configure_file("${ravelin_share}/man/${page}.5.in" "${ravelin_generated}/man/${page}.5" @ONLY)
    ravelin_gzip("${ravelin_generated}/man/${page}.5" "${ravelin_generated}/man/${page}.5.gz")
    install(FILES "${ravelin_generated}/man/${page}.5.gz"
            DESTINATION "${CMAKE_INSTALL_MANDIR}/man5" COMPONENT Runtime)
endforeach()

# The watcher as a systemd user service. It names the installed ravelin-cli,
# and goes where the user manager looks for units of this prefix (lib, not the
# multiarch library folder).
configure_file("${ravelin_share}/systemd/ravelin-watch.service.in"
               "${ravelin_generated}/systemd/ravelin-watch.service" @ONLY)
install(FILES "${ravelin_generated}/systemd/ravelin-watch.service"
        DESTINATION "lib/systemd/user" COMPONENT Runtime)

# The About window looks for LICENCE.txt here, as bin/../share/doc/ravelin.
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENCE.txt"
        DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT Runtime)
install(FILES "${PROJECT_SOURCE_DIR}/examples/watch.conf" "${PROJECT_SOURCE_DIR}/examples/automation.toml"
              "${PROJECT_SOURCE_DIR}/examples/desired.toml"
        DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples" COMPONENT Runtime)

# --- The Debian package -------------------------------------------------------

set(RAVELIN_DEB_RELEASE 1)

# The changelog's newest entry must be this very package, or dpkg and apt show
# a version the package is not.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ravelin_share}/debian/changelog")
file(STRINGS "${ravelin_share}/debian/changelog" ravelin_changelog_top LIMIT_COUNT 1)
if(NOT ravelin_changelog_top MATCHES "^ravelin \\(${PROJECT_VERSION}-${RAVELIN_DEB_RELEASE}\\) ")
    message(WARNING "share/debian/changelog does not start with an entry for ravelin "
                    "${PROJECT_VERSION}-${RAVELIN_DEB_RELEASE}; add one before building the package")
endif()
ravelin_gzip("${ravelin_share}/debian/changelog" "${ravelin_generated}/debian/changelog.Debian.gz")

install(FILES "${ravelin_share}/debian/copyright" "${ravelin_generated}/debian/changelog.Debian.gz"
        DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT Debian EXCLUDE_FROM_ALL)
install(FILES "${ravelin_share}/debian/lintian-overrides"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides" RENAME ravelin
        COMPONENT Debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ravelin)
set(CPACK_PACKAGE_VENDOR "Bastion Row Software")
set(CPACK_PACKAGE_CONTACT "Bastion Row Software <ravelin@bastionrow.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote console client for Battlefield 2 game servers")
set(CPACK_PACKAGE_DESCRIPTION
    "Ravelin administers a Battlefield 2 game server through its remote console:
it lists, kicks and bans players, keeps the ban list and the map rotation,
chats and announces to the players, and sends any console command typed by
hand. The login answers the server's seed with an MD5 digest, so the password
never crosses the wire.

The package also holds ravelin-cli, the same console for terminals and
scripts (one server or many at once, replies as text or JSON), and
ravelin-practice-server, a practice server on this computer for trying
everything without a real game server.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENCE.txt")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")

# One package holding the Runtime and Debian components.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Runtime Debian)

set(CPACK_DEBIAN_PACKAGE_NAME ravelin)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${RAVELIN_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/bastionrow/ravelin")
# dpkg-shlibdeps finds the Qt and C++ libraries (and with Qt's GUI library its
# X11 platform plugin and JPEG reader); the window's font is not a library, and
# the player store's SQLite driver is a plugin Qt loads by name. The PostgreSQL
# driver is wanted only for a team's shared store.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
