# What `cmake --install` puts where, and the Debian package CPack makes of it.
include(GNUInstallDirs)

# Installing and packaging take what is built and build nothing themselves: the test build folder
# would otherwise build every test and benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VOZMO_HOMEPAGE "https://vozmo.example" CACHE STRING "Project web site")
set(VOZMO_SCREENSHOTS "${VOZMO_HOMEPAGE}/docs" CACHE STRING
    "Web folder holding the pictures of docs/ for the AppStream screenshots")
set(VOZMO_APPSTREAM_ID "example.vozmo.Vozmo" CACHE STRING
    "AppStream component id: the web site's domain reversed")
set(VOZMO_MAINTAINER "Vozmo developers <maintainers@vozmo.example>" CACHE STRING
    "Package maintainer, name and address")
set(VOZMO_RELEASE_DATE "2026-12-10" CACHE STRING "Date of this version, YYYY-MM-DD")
set(VOZMO_LICENSE "unspecified" CACHE STRING "Licence name for the copyright file")
set(VOZMO_LICENSE_TEXT
    "No licence has been chosen yet; all rights are reserved by the developers until one is."
    CACHE STRING "Licence text for the copyright file, one line")

set(VOZMO_DATA_DIR "${CMAKE_INSTALL_DATADIR}/vozmo")
set(VOZMO_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/vozmo")

set(data "${PROJECT_SOURCE_DIR}/data")
set(out "${PROJECT_BINARY_DIR}/data")
file(MAKE_DIRECTORY "${out}")

execute_process(COMMAND date -u -R -d "${VOZMO_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE VOZMO_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file("${data}/vozmo.metainfo.xml.in" "${out}/${VOZMO_APPSTREAM_ID}.metainfo.xml" @ONLY)
configure_file("${data}/vozmo.1" "${out}/vozmo.1" @ONLY)
configure_file("${data}/vozmo-install-servers.1" "${out}/vozmo-install-servers.1" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/packaging/copyright.in" "${out}/copyright" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/packaging/changelog.in" "${out}/changelog" @ONLY)

# Debian keeps manual pages and changelogs compressed, without a time stamp in the header.
set(compressed)
foreach(file vozmo.1 vozmo-install-servers.1 changelog)
    add_custom_command(OUTPUT "${out}/${file}.gz"
        COMMAND gzip -9 -n -c "${out}/${file}" > "${out}/${file}.gz"
        DEPENDS "${out}/${file}"
        VERBATIM)
    list(APPEND compressed "${out}/${file}.gz")
endforeach()

# The bitmap sizes of the icon theme, rendered from the one drawing.
set(VOZMO_ICON_SIZES 16 22 24 32 48 64 128 256)
# Passed through a test environment, where ";" separates variables.
string(REPLACE ";" "," VOZMO_ICON_SIZES_LIST "${VOZMO_ICON_SIZES}")
find_program(RSVG_CONVERT rsvg-convert)
set(icons)
if(RSVG_CONVERT)
    foreach(size IN LISTS VOZMO_ICON_SIZES)
        set(png "${out}/icons/${size}x${size}/vozmo.png")
        add_custom_command(OUTPUT "${png}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${out}/icons/${size}x${size}"
            COMMAND "${RSVG_CONVERT}" -w ${size} -h ${size} -o "${png}" "${data}/icons/vozmo.svg"
            DEPENDS "${data}/icons/vozmo.svg"
            VERBATIM)
        list(APPEND icons "${png}")
        install(FILES "${png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
    endforeach()
else()
    message(STATUS "rsvg-convert not found (librsvg2-bin): the icon is installed as SVG only")
endif()
add_custom_target(vozmo_data ALL DEPENDS ${compressed} ${icons})

install(TARGETS vozmo RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS vozmo_program RUNTIME DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/vozmo")
install(FILES "${data}/vozmo.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${data}/icons/vozmo.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${out}/${VOZMO_APPSTREAM_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${out}/vozmo.1.gz" "${out}/vozmo-install-servers.1.gz"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
# The installed help is the built-in one, with the per-user places in their usual form.
file(READ "${PROJECT_SOURCE_DIR}/src/ui/help/ayuda.html" help)
string(REPLACE "{{carpeta_modelos}}" "~/.local/share/Vozmo/models" help "${help}")
string(REPLACE "{{lista_modelos}}"
    "<ul>\n<li><b>whisper.bin</b>: el modelo de voz</li>\n<li><b>llm.gguf</b>: el modelo del pulido</li>\n</ul>"
    help "${help}")
file(WRITE "${out}/ayuda.html" "${help}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/src/ui/help/ayuda.html")
install(FILES "${out}/ayuda.html" DESTINATION "${VOZMO_DATA_DIR}")
install(PROGRAMS "${PROJECT_SOURCE_DIR}/scripts/install-servers" DESTINATION "${CMAKE_INSTALL_BINDIR}"
    RENAME vozmo-install-servers)
# The application shows sections of the README from here.
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${out}/copyright" "${out}/changelog.gz"
    DESTINATION "${VOZMO_DOC_DIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vozmo)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Vozmo")
set(CPACK_PACKAGE_CONTACT "${VOZMO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "private, offline voice dictation for the desktop")
# A bracket argument: a ";" in a quoted one would split it into a list.
set(CPACK_PACKAGE_DESCRIPTION [=[
Hold the dictation key, speak, let go: what you said is written where you
were typing. Speech recognition and the optional polishing of the text run
on this machine, in two local servers (whisper-server of whisper.cpp and
llama-server of llama.cpp) that Vozmo starts and watches; nothing leaves the
computer. The interface is in Spanish.

The servers are not part of this package: the command vozmo-install-servers
builds them for this machine. The setup window downloads the models.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VOZMO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VOZMO_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# pkill sweeps away servers a crashed run left behind.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps")
# Opening files and settings, sounds, the leading-space check, the sound settings.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, sound-theme-freedesktop, at-spi2-core, pavucontrol")
# The self-test's voice; the tools install-servers builds with.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "espeak-ng, git, cmake, make, g++")
include(CPack)
