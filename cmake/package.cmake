# What an installed tree offers beyond the programs: find_package(zelk) and pkg-config for
# linking libzelk, and a Debian package of everything (cpack -G DEB in the build directory).
include(CMakePackageConfigHelpers)

set(ZELK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelk)
install(EXPORT zelkTargets NAMESPACE zelk:: DESTINATION ${ZELK_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zelkConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zelkConfig.cmake INSTALL_DESTINATION ${ZELK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zelkConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelkConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/zelkConfigVersion.cmake DESTINATION ${ZELK_CMAKE_DIR})

# pkg-config: paths relative to the file, so that a tree moved elsewhere (or unpacked from
# the package into another root) still links.
file(RELATIVE_PATH ZELK_PC_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" ZELK_PC_PREFIX "${ZELK_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zelk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zelk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelk.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The licence notice, in Debian's machine-readable format, goes with every installation.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME zelk)
set(CPACK_PACKAGE_VENDOR "zelk developers")
set(CPACK_PACKAGE_CONTACT "zelk developers <zelk@zelk-csv.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
list(LENGTH ZELK_TOOL_NAMES ZELK_TOOL_COUNT)
set(CPACK_PACKAGE_DESCRIPTION
  "${ZELK_TOOL_COUNT} small programs that select, project, sort, join, clean,\n\
validate, convert and extract RFC 4180 CSV in constant memory, with manual\n\
pages, bash completion and the static record library libcsv for programs of\n\
your own.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# gawk runs as a child (/usr/bin/awk), and so does sort (/usr/bin/sort), from coreutils,
# which is essential and so not named. The programs link only glibc dynamically; libc6 is
# written out as dpkg-shlibdeps finds it, since running it takes longer than the rest of the
# packaging.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gawk, libc6 (>= 2.34)")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_STRIP_FILES ON)
# The changelog's newest entry is this version: a release changes both.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog ZELK_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ZELK_CHANGELOG_TOP MATCHES "^zelk \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/changelog does not begin with version ${PROJECT_VERSION}")
endif()
set(CPACK_ZELK_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package_docs.cmake)
set(CPACK_GENERATOR DEB)
include(CPack)
