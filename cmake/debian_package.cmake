# The Debian package (make package): the three programs, the language files, the
# menu entry and icon, AppStream data, manual pages and the Debian documents.
include(GNUInstallDirs)

set(VELMORA_PACKAGE_MAINTAINER "The Velmora developers <maintainers@velmora.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
# The release this version is: the changelog and the AppStream data carry it.
set(VELMORA_RELEASE_DATE "2026-12-06")
set(VELMORA_RELEASE_DATE_RFC2822 "Sun, 06 Dec 2026 12:00:00 +0000")
set(VELMORA_PACKAGE_REVISION 1)
set(VELMORA_PACKAGE_VERSION "${PROJECT_VERSION}-${VELMORA_PACKAGE_REVISION}")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
# Named by the package, not by the CMake project.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/velmora)
set(generated ${CMAKE_BINARY_DIR}/packaging)
# Folders made by the install are 0755 whatever the umask of the one who builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS velmora velmora-cli velmora-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# velmora-cli's PDF writer, found by it as <bin>/../lib/velmora/modules/velmora-report-pdf.so:
# a private module, one folder below /usr/lib/velmora so that the package does not
# run ldconfig for it as for a shared library.
install(TARGETS velmora_report_pdf LIBRARY DESTINATION lib/velmora/modules
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# Found by the programs as <bin>/../share/velmora/par.
install(FILES ${PROJECT_SOURCE_DIR}/par/Lan_Ver.ini ${PROJECT_SOURCE_DIR}/par/Lan_En.ini
              ${PROJECT_SOURCE_DIR}/par/Lan.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/par)
# The menu entry and the AppStream data, named by the program's AppStream id.
set(VELMORA_APP_ID org.velmora.Velmora)
install(FILES ${packaging}/${VELMORA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/velmora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/velmora.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
configure_file(${packaging}/${VELMORA_APP_ID}.metainfo.xml.in
               ${generated}/${VELMORA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${generated}/${VELMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/copyright DESTINATION ${doc_dir})
install(FILES ${packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME velmora)

# Manual pages and the changelog, compressed as Debian wants them: gzip -9n, so the
# same input gives the same bytes (no name or time in the header).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(page velmora velmora-cli velmora-sim)
    configure_file(${packaging}/man/${page}.1 ${generated}/${page}.1 @ONLY)
    list(APPEND compressed ${page}.1)
    install(FILES ${generated}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${packaging}/changelog.in ${generated}/changelog.Debian @ONLY)
list(APPEND compressed changelog.Debian)
install(FILES ${generated}/changelog.Debian.gz DESTINATION ${doc_dir})
set(compressed_outputs)
foreach(file ${compressed})
    add_custom_command(OUTPUT ${generated}/${file}.gz
        COMMAND ${GZIP_PROGRAM} -9n -c ${generated}/${file} > ${generated}/${file}.gz
        DEPENDS ${generated}/${file}
        COMMENT "Compressing ${file}")
    list(APPEND compressed_outputs ${generated}/${file}.gz)
endforeach()
add_custom_target(velmora_package_documents ALL DEPENDS ${compressed_outputs})

# CPack's DEB generator.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE VELMORA_DEB_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT VELMORA_DEB_ARCH)
    set(VELMORA_DEB_ARCH amd64)
endif()
set(VELMORA_DEB_FILE velmora_${VELMORA_PACKAGE_VERSION}_${VELMORA_DEB_ARCH}.deb)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELMORA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "companion of an optical-fibre fusion splicer")
# The summary above is the synopsis line; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmora talks to a fusion splicer over its serial line (usually a USB
serial adapter): it reads, edits and writes back the splicer's parameter
groups, downloads the splice records and exports them to CSV, downloads
and shows the splice images, and sends firmware updates. It keeps every
splice in a local archive, places splices on the fibres of a job's
closures, and delivers the splice matrix (XLSX, CSV), a PDF report and
the closures as GeoJSON.
.
The package holds the window (velmora), the command-line tool
(velmora-cli) and a virtual splicer on a pseudo-terminal (velmora-sim).")
set(CPACK_DEBIAN_FILE_NAME ${VELMORA_DEB_FILE})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELMORA_PACKAGE_REVISION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VELMORA_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link (Qt, SQLite...) become Depends, and so do
# those they load on first use (libxlsxwriter...), which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
velmora_loaded_library_packages(CPACK_DEBIAN_PACKAGE_DEPENDS)
# Chinese mode: Qt's own dialogs in Chinese, and a font with the characters.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
