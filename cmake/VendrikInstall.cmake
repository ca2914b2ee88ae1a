# Installing like a desktop program (the four programs, menu entry, icons, AppStream
# data, manual pages, shell completions) and the Debian package made from that by `cpack -G DEB`.
include(GNUInstallDirs)

set(vendrik_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(vendrik_doc_out ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS Vendrik vendrik-cli vendrik-port meldor2-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${vendrik_pkg}/org.vendrik.Vendrik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${vendrik_pkg}/org.vendrik.Vendrik.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${vendrik_pkg}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
# Where bash-completion looks for a command's completion when it is first completed.
install(FILES ${vendrik_pkg}/completions/vendrik-cli ${vendrik_pkg}/completions/vendrik-port
  ${vendrik_pkg}/completions/meldor2-sim
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages and the changelog are installed compressed, as Debian wants them.
set(vendrik_gz)
foreach(page Vendrik.1 vendrik-cli.1 vendrik-port.1 meldor2-sim.1)
  add_custom_command(OUTPUT ${vendrik_doc_out}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${vendrik_doc_out}
    COMMAND gzip -9nc ${vendrik_pkg}/man/${page} > ${vendrik_doc_out}/${page}.gz
    DEPENDS ${vendrik_pkg}/man/${page} VERBATIM)
  list(APPEND vendrik_gz ${vendrik_doc_out}/${page}.gz)
  install(FILES ${vendrik_doc_out}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${vendrik_doc_out}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${vendrik_doc_out}
  COMMAND gzip -9nc ${vendrik_pkg}/changelog > ${vendrik_doc_out}/changelog.gz
  DEPENDS ${vendrik_pkg}/changelog VERBATIM)
add_custom_target(vendrik_docs ALL DEPENDS ${vendrik_gz} ${vendrik_doc_out}/changelog.gz)
install(FILES ${vendrik_doc_out}/changelog.gz ${vendrik_pkg}/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vendrik)

# `cmake --install` and cpack install what was built; they do not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME vendrik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vendrik developers")
set(CPACK_PACKAGE_CONTACT "Vendrik developers <vendrik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for the Meldor-2 measuring device")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vendrik writes a program into the Meldor-2 measuring device over an RS-232
serial line and reads it back. Its user interface is in Russian.
.
The package also holds vendrik-cli, which writes, reads and compares
devices from scripts, up to eight at once; vendrik-port, which lists
serial ports, points the program's COM1-COM8 at them and explains why a
port does not open; and meldor2-sim, a simulated device to try the
program without hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The toolkit's own texts (file dialog, context menus, standard buttons) in Russian; the
# libraries found by shlibdeps are added to this.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
# The windows are laid out for Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
