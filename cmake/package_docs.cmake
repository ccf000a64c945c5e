# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the tree staged for the Debian package, before it
# is packed: the manual pages compressed and the changelog added, as Debian wants them. A
# plain install keeps the pages as they are. gzip -n leaves out the name and the time, so that
# the same tree always packs to the same bytes.
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB pages "${usr}/share/man/man*/*")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf ${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND gzip -9nc ${CPACK_ZELK_CHANGELOG}
  OUTPUT_FILE ${usr}/share/doc/zelk/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
