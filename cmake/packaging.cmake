# Version record, install rules and packages (CPack). Included at the end of the top-level
# CMakeLists.txt, once the programs and the libraries exist.
#
#   cmake --install build/default --prefix ~/.local    bin/, share/, include/velador/, lib/
#   cd build/default && cpack                          velador_<version>_<arch>.deb and
#                                                      velador-dev_<version>_<arch>.deb
#   cd build/arm64 && cpack                            the same two packages for arm64 (cross build)
#   cd build/windows && cpack                          velador-<version>-win64.zip (mingw build)
#
# The release number is project(VERSION) in the top-level CMakeLists.txt and nothing else: the
# programs, the manual pages, the packages, the CMake package and velador.pc all take it from
# there, and doc/changelog must begin with an entry for it.
#
# Install components of a Unix-like system (cmake/install-unix.cmake): `programs` (package
# velador), `development` and `development-notes` (package velador-dev; cmake/debian-packages.cmake)
# and `licence` (LICENSE, for cmake --install; a Debian package carries the licence in its
# copyright file instead). `development-notes` is left out of a plain cmake --install: it is the
# dev package's own copy of the copyright and changelog. A Windows build has no components: its
# zip holds everything installed.

# The release number, readable in the binary with `strings`.
target_sources(velador PRIVATE ${PROJECT_SOURCE_DIR}/app/version.cpp)
target_compile_definitions(velador PRIVATE VELADOR_VERSION="${PROJECT_VERSION}")

# The manual pages carry the release number in their header.
configure_file(${PROJECT_SOURCE_DIR}/doc/velador.1.in ${PROJECT_BINARY_DIR}/doc/velador.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/doc/velador-image.1.in
               ${PROJECT_BINARY_DIR}/doc/velador-image.1 @ONLY)

# The changelog's newest entry names the release being built.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/doc/changelog)
file(STRINGS ${PROJECT_SOURCE_DIR}/doc/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^velador \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "doc/changelog begins with \"${changelog_top}\", not with an entry for "
                      "velador ${PROJECT_VERSION}: add one for the release (README.md, Versions)")
endif()

set(VELADOR_PACKAGE_MAINTAINER "The velador developers <velador@example.org>"
    CACHE STRING "Maintainer named in the packages, as \"Name <address>\"")
# A build folder configured before the default had an address keeps the old, malformed value.
if(VELADOR_PACKAGE_MAINTAINER STREQUAL "The velador developers")
  set_property(CACHE VELADOR_PACKAGE_MAINTAINER
               PROPERTY VALUE "The velador developers <velador@example.org>")
endif()
if(NOT VELADOR_PACKAGE_MAINTAINER MATCHES "^[^<>@]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "VELADOR_PACKAGE_MAINTAINER is \"${VELADOR_PACKAGE_MAINTAINER}\", "
                      "not \"Name <address>\"")
endif()

if(WIN32)
  # A Windows user unpacks the zip and finds the program beside its notes; a manual page has
  # no reader there.
  install(TARGETS velador velador-image RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  include(${PROJECT_SOURCE_DIR}/cmake/runtime-licences.cmake)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/install-unix.cmake)
endif()

set(CPACK_PACKAGE_NAME velador)
set(CPACK_PACKAGE_VENDOR "The velador developers")
set(CPACK_PACKAGE_CONTACT "${VELADOR_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # One zip of everything installed.
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  include(${PROJECT_SOURCE_DIR}/cmake/debian-packages.cmake)
endif()

# A source package holds what git tracks, not build trees.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build/" "/build-" "/out/" "/\\\\.cache/")

include(CPack)
