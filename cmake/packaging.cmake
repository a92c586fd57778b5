# Version record and install rules. Included at the end of the top-level
# CMakeLists.txt, once the `velador` target exists.
#
#   cmake --install build/default --prefix ~/.local    bin/, share/man/man1/, share/doc/velador/

include(GNUInstallDirs)

# The release number, readable in the binary with `strings`.
target_sources(velador PRIVATE ${PROJECT_SOURCE_DIR}/app/version.cpp)
target_compile_definitions(velador PRIVATE VELADOR_VERSION="${PROJECT_VERSION}")

# The manual page carries the release number in its header.
configure_file(${PROJECT_SOURCE_DIR}/doc/velador.1.in ${PROJECT_BINARY_DIR}/doc/velador.1 @ONLY)

if(WIN32)
  # A Windows user unpacks the zip and finds the program beside its notes; a manual page has
  # no reader there.
  install(TARGETS velador RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(TARGETS velador RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/doc/velador.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
