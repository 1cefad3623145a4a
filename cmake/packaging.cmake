# Installation into the usual places of a Linux desktop, and the Debian package made from it
# ("cpack -G DEB" in a build directory, or scripts/package).
#
# Installed under /usr, the program directory is not writable for the operator, so the program
# keeps "LyrSample.ini" in ~/.config/LyrLogger/ and proposes the home directory for logs.
include(GNUInstallDirs)

set(LYR_LINUX_RES ${PROJECT_SOURCE_DIR}/res/linux)
set(LYR_ICON_SIZES 16 32 48 64 128 256)

if(TARGET lyrlogger)
    install(TARGETS lyrlogger RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(LYR_BUILD_CALC)
        # The UNO libraries live in the office's program folder, where the loader does not look
        # by itself; the installed program keeps that folder as its run path.
        set_property(TARGET lyrlogger PROPERTY INSTALL_RPATH /usr/lib/libreoffice/program)
    endif()
    install(FILES ${LYR_LINUX_RES}/lyrlogger.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(size IN LISTS LYR_ICON_SIZES)
        install(FILES ${LYR_LINUX_RES}/icons/lyrlogger-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME lyrlogger.png)
    endforeach()
    install(FILES ${LYR_LINUX_RES}/lyrlogger.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

install(TARGETS zorva-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# udev reads rules from /usr/lib/udev/rules.d whatever the library directory of the
# architecture, hence no CMAKE_INSTALL_LIBDIR. Under another prefix (/usr/local) the file is
# only an example for /etc/udev/rules.d.
install(FILES ${LYR_LINUX_RES}/70-lyrlogger.rules DESTINATION lib/udev/rules.d)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lyrlogger)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "LyrLogger developers")
set(CPACK_PACKAGE_CONTACT "LyrLogger developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data logger for ZORVA bench meters on a serial port")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "LyrLogger developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# One string: the first line of the field is the summary above, the rest the long description.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "LyrLogger reads the measurements of a ZORVA LYR101, LYR102, KTV201 or KTV202 meter\n"
    "connected through a USB serial adapter and logs them, with date, time, judgement and\n"
    "temperature, to a CSV or text file or into a LibreOffice Calc sheet. A reading is taken\n"
    "on a key press, on the meter's external trigger or at a fixed interval.\n"
    "\n"
    "The package also holds zorva-sim, a simulated meter on a pseudo-terminal, and a udev\n"
    "rule that opens common USB serial adapters to the dialout group and keeps ModemManager\n"
    "away from them.")

# dpkg-shlibdeps derives the library packages with their versions from the binaries: Qt 6,
# libudev, the UNO runtime, the C and C++ runtimes. Where it is missing, the same by name.
find_program(LYR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LYR_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(LYR_DEB_DEPENDS "libc6 (>= 2.34)" "libstdc++6 (>= 12)" "libqt6core6 (>= 6.4)")
    if(TARGET lyrlogger)
        list(APPEND LYR_DEB_DEPENDS libudev1 "libqt6gui6 (>= 6.4)" "libqt6widgets6 (>= 6.4)")
        if(LYR_BUILD_CALC)
            list(APPEND LYR_DEB_DEPENDS
                libuno-sal3 libuno-salhelpergcc3-3 libuno-cppu3 libuno-cppuhelpergcc3-3)
        endif()
    endif()
    list(JOIN LYR_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
# The office itself (soffice, its type registries) is needed only for logging into a sheet;
# the text log works without it.
if(TARGET lyrlogger AND LYR_BUILD_CALC)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libreoffice-calc)
endif()

set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
