# Version record, install rules and packages (CPack). Included at the end of the top-level
# CMakeLists.txt, once the `velador` and `velador-image` targets exist.
#
#   cmake --install build/default --prefix ~/.local    bin/, share/man/man1/, share/doc/velador/
#   cd build/default && cpack                          velador_<version>_<arch>.deb
#   cd build/arm64 && cpack                            velador_<version>_arm64.deb (cross build)
#   cd build/windows && cpack                          velador-<version>-win64.zip (mingw build)

include(GNUInstallDirs)

# The release number, readable in the binary with `strings`.
target_sources(velador PRIVATE ${PROJECT_SOURCE_DIR}/app/version.cpp)
target_compile_definitions(velador PRIVATE VELADOR_VERSION="${PROJECT_VERSION}")

# The manual pages carry the release number in their header.
configure_file(${PROJECT_SOURCE_DIR}/doc/velador.1.in ${PROJECT_BINARY_DIR}/doc/velador.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/doc/velador-image.1.in
               ${PROJECT_BINARY_DIR}/doc/velador-image.1 @ONLY)

if(WIN32)
  # A Windows user unpacks the zip and finds the program beside its notes; a manual page has
  # no reader there.
  install(TARGETS velador velador-image RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(TARGETS velador velador-image RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/doc/velador.1 ${PROJECT_BINARY_DIR}/doc/velador-image.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(VELADOR_PACKAGE_MAINTAINER "The velador developers"
    CACHE STRING "Maintainer named in the packages, as \"Name <address>\"")

set(CPACK_PACKAGE_NAME velador)
set(CPACK_PACKAGE_VENDOR "The velador developers")
set(CPACK_PACKAGE_CONTACT "${VELADOR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "encapsulate files for a disc image's ADV_OBJ folder or persistent storage")
# Line breaks are kept: the Debian control file wants the long description wrapped.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "velador wraps a single file in a container of one of five types: name\n"
       "enciphered, content enciphered with AES-128-CBC, protected by an AES-CMAC,\n"
       "protected by SHA-1 values in the disc image's content hash table, or\n"
       "enciphered and hashed per 512-byte unit. It also restores and checks such\n"
       "containers. velador-image checks or fills a whole disc image at once.\n"
       "Their messages are in Catalan.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  # The ARM64 cross build (cmake/aarch64-linux-gnu.cmake). dpkg-shlibdeps knows only the
  # libraries of packages installed for the target, and the cross toolchain's are installed as
  # packages of the build machine, so Depends is stated: the C++ runtime is linked in
  # (app/CMakeLists.txt), which leaves the C library, and no symbol version the programs use is
  # newer than this one (scripts/package-check.sh checks that).
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36)")
else()
  # dpkg-shlibdeps derives Depends from the libraries the binary links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

# A source package holds what git tracks, not build trees.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build/" "/build-" "/out/" "/\\\\.cache/")

include(CPack)
