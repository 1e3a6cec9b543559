# Installing KALVRIN (cmake --install) and its Debian package (cpack, see
# scripts/package): the three programs, a desktop entry with its icon, the
# manual pages, and the README and samples as documentation.
include(GNUInstallDirs)

set(KALVRIN_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(KALVRIN_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)

foreach(program kalvrin kalvrin-check kalvrin-gen)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# An installed window never writes its settings among the system's programs.
if(TARGET kalvrin_settings)
  target_compile_definitions(kalvrin_settings PRIVATE KALVRIN_INSTALLED_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}")
endif()

# The icon: drawn once as SVG, rendered to the usual sizes at build time.
install(FILES ${KALVRIN_PACKAGING_DIR}/kalvrin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KALVRIN_PACKAGING_DIR}/kalvrin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(KALVRIN_GENERATED_FILES)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${KALVRIN_GENERATED_DIR}/icons/${size}x${size}/kalvrin.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KALVRIN_GENERATED_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${KALVRIN_PACKAGING_DIR}/kalvrin.svg
      DEPENDS ${KALVRIN_PACKAGING_DIR}/kalvrin.svg VERBATIM)
    list(APPEND KALVRIN_GENERATED_FILES ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(STATUS "rsvg-convert not found: only the scalable icon is installed (scripts/deps installs librsvg2-bin)")
endif()

# Manual pages and the changelog, compressed as Debian wants them.
find_program(GZIP gzip REQUIRED)
foreach(page kalvrin.1 kalvrin-check.1 kalvrin-gen.1)
  configure_file(${KALVRIN_PACKAGING_DIR}/man/${page} ${KALVRIN_GENERATED_DIR}/man/${page} @ONLY)
  set(gz ${KALVRIN_GENERATED_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND sh -c "${GZIP} -9nc \"$1\" > \"$2\"" sh ${KALVRIN_GENERATED_DIR}/man/${page} ${gz}
    DEPENDS ${KALVRIN_GENERATED_DIR}/man/${page} VERBATIM)
  list(APPEND KALVRIN_GENERATED_FILES ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${KALVRIN_PACKAGING_DIR}/changelog.in ${KALVRIN_GENERATED_DIR}/changelog @ONLY)
set(KALVRIN_CHANGELOG ${KALVRIN_GENERATED_DIR}/changelog.gz)
add_custom_command(OUTPUT ${KALVRIN_CHANGELOG}
  COMMAND sh -c "${GZIP} -9nc \"$1\" > \"$2\"" sh ${KALVRIN_GENERATED_DIR}/changelog ${KALVRIN_CHANGELOG}
  DEPENDS ${KALVRIN_GENERATED_DIR}/changelog VERBATIM)
list(APPEND KALVRIN_GENERATED_FILES ${KALVRIN_CHANGELOG})
add_custom_target(kalvrin_install_files ALL DEPENDS ${KALVRIN_GENERATED_FILES})

set(KALVRIN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kalvrin)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${KALVRIN_PACKAGING_DIR}/copyright ${KALVRIN_CHANGELOG}
  DESTINATION ${KALVRIN_DOC_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/ DESTINATION ${KALVRIN_DOC_DIR}/samples
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The package: dependencies from the libraries the programs link, the
# version from the project's one version number.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The KALVRIN developers")
set(CPACK_PACKAGE_CONTACT "KALVRIN developers <kalvrin@kalvrin.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test tool for ISO 8583:1993 batch files and their MACs")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "KALVRIN checks batch files of ISO 8583:1993 card-transaction messages.\n"
  "The format check decodes every message by its bitmaps and a table of 128\n"
  "element definitions into one row of a grid; the MAC check verifies the\n"
  "file's single-DES CBC-MAC in three variants under a key.\n"
  "\n"
  "This package holds the desktop window (kalvrin), the command-line checker\n"
  "(kalvrin-check) and a generator of test files (kalvrin-gen).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-deb's default, so that lintian finds the file modes it expects
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
