# Installation layout of the Linux package and its CPack set-up:
#
#   cmake --build build && (cd build && cpack -G DEB)
#
# gives build/tamix_<version>_<arch>.deb. The executables have their install
# rules next to their targets; this file adds what only a desktop
# installation needs.
include(GNUInstallDirs)

set(TAMIX_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging/linux")

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

# The desktop entry, metainfo and icons describe the windowed program, so
# they come only with it (a -DTAMIX_BUILD_GUI=OFF build installs the tools).
if(TARGET tamix)
  install(FILES "${TAMIX_PACKAGING_DIR}/tamix.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${TAMIX_PACKAGING_DIR}/io.github.tamix.Tamix.metainfo.xml"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 64 128 256)
    install(FILES "${TAMIX_PACKAGING_DIR}/icons/tamix-${size}.png"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tamix.png)
  endforeach()
  install(FILES "${TAMIX_PACKAGING_DIR}/icons/tamix.svg"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The type of .wdq files that the desktop entry names. The triggers of
  # shared-mime-info and desktop-file-utils rebuild their caches when the
  # package adds or removes these files, so no maintainer script does it.
  install(FILES "${TAMIX_PACKAGING_DIR}/tamix-mime.xml"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tamix.xml)
endif()

# A man page for each program that is built, and the package's changelog.
# Debian ships both compressed with gzip -9n (no name or time stamp inside,
# so rebuilds are identical).
set(tamix_man_programs)
foreach(program tamix tamix-record tamix-sim tamix-file tamix-lsl)
  if(TARGET ${program})
    list(APPEND tamix_man_programs ${program})
  endif()
endforeach()
find_program(TAMIX_GZIP gzip)
set(tamix_man_pages)
foreach(program IN LISTS tamix_man_programs)
  set(page "${TAMIX_PACKAGING_DIR}/man/${program}.1")
  if(TAMIX_GZIP)
    set(compressed "${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz")
    add_custom_command(OUTPUT "${compressed}"
      COMMAND ${CMAKE_COMMAND} -E copy "${page}" "${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1"
      COMMAND ${TAMIX_GZIP} -9nf "${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1"
      DEPENDS "${page}"
      COMMENT "Compressing the man page of ${program}"
      VERBATIM)
    list(APPEND tamix_man_pages "${compressed}")
  else()
    list(APPEND tamix_man_pages "${page}")
  endif()
endforeach()
if(tamix_man_pages)
  add_custom_target(tamix_man_pages ALL DEPENDS ${tamix_man_pages})
  install(FILES ${tamix_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The copyright file (machine-readable) and the changelog of a native package
# (its version has no Debian revision): /usr/share/doc/tamix/changelog.gz.
set(tamix_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tamix)
install(FILES "${TAMIX_PACKAGING_DIR}/debian/copyright" DESTINATION ${tamix_doc_dir})
set(tamix_changelog "${TAMIX_PACKAGING_DIR}/debian/changelog")
if(TAMIX_GZIP)
  set(compressed "${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz")
  add_custom_command(OUTPUT "${compressed}"
    COMMAND ${CMAKE_COMMAND} -E copy "${tamix_changelog}" "${CMAKE_CURRENT_BINARY_DIR}/doc/changelog"
    COMMAND ${TAMIX_GZIP} -9nf "${CMAKE_CURRENT_BINARY_DIR}/doc/changelog"
    DEPENDS "${tamix_changelog}"
    COMMENT "Compressing the package's changelog"
    VERBATIM)
  add_custom_target(tamix_changelog ALL DEPENDS "${compressed}")
  install(FILES "${compressed}" DESTINATION ${tamix_doc_dir})
else()
  install(FILES "${tamix_changelog}" DESTINATION ${tamix_doc_dir})
endif()

# A stripped program still holds the compilers' version strings (.comment),
# which Debian's own stripping removes too. Only when the installation strips
# (cpack, or cmake --install --strip), after the programs' own install rules.
install(CODE "set(TAMIX_OBJCOPY \"${CMAKE_OBJCOPY}\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program tamix tamix-record tamix-file tamix-sim tamix-lsl)
      set(file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/${program}")
      if(EXISTS "${file}")
        execute_process(COMMAND "${TAMIX_OBJCOPY}" --remove-section=.comment "${file}"
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          message(FATAL_ERROR "objcopy --remove-section=.comment ${file} failed")
        endif()
      endif()
    endforeach()
  endif()
]])

# Lintian's notes that do not apply to this package, each with its reason.
install(FILES "${TAMIX_PACKAGING_DIR}/debian/lintian-overrides"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tamix)

# tools/ installs the udev rule to /etc/udev/rules.d, but only on request
# (`--component udev`): that directory belongs to the local administrator,
# which suits a hand-built installation. A package must not own files there;
# distribution packages put their rules in <prefix>/lib/udev/rules.d, which
# udev reads with the lowest precedence, so an administrator's copy in /etc
# still wins. Installing it here in the default component puts it in the
# package (prefix /usr). For a hand-built installation to /usr/local the
# copy in /usr/local/lib/udev/rules.d is harmless, and `--component udev`
# stays the documented way to activate the rule.
install(FILES "${PROJECT_SOURCE_DIR}/src/res/60-tamix-ftdi.rules"
        DESTINATION lib/udev/rules.d)

set(TAMIX_PACKAGE_MAINTAINER "Tamix developers <tamix@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamix)
set(CPACK_PACKAGE_VENDOR Tamix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "monitor and recorder for small USB data acquisition instruments")
set(CPACK_PACKAGE_DESCRIPTION
    "Tamix draws the inputs of a small USB measuring instrument (up to eight
analogue inputs of ±10 V behind an FTDI USB-serial bridge) live as sweeping
traces, and records them to WinDaq binary files (.wdq) or to text files (.dat
with an _info.txt file listing channels and markers). A run can be paused,
stopped and annotated with commented markers.
.
The package holds the desktop program, the command-line recorder
tamix-record, the recording tool tamix-file (information, export to CSV and
EDF+, repair), the instrument simulator tamix-sim, the Lab Streaming Layer
receiver tamix-lsl (a check of the network) and a udev rule that gives the
dialout group access to the instrument.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian packages carry no debugging symbols in their executables.
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAMIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are those of the libraries the programs link (wxWidgets,
# GTK, libstdc++), as dpkg-shlibdeps from dpkg-dev finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${TAMIX_PACKAGING_DIR}/debian/postinst;${TAMIX_PACKAGING_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# Directories as Debian's tools make them, whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
