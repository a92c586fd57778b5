# The Debian packages, made from the install components of cmake/install-unix.cmake: velador
# (the programs) and velador-dev (libraries, headers, CMake package, velador.pc). LICENSE goes
# in neither: each package's copyright file holds it. Included by cmake/packaging.cmake for a
# build that is not for Windows.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs development development-notes)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP dev)
set(CPACK_COMPONENT_DEVELOPMENT-NOTES_GROUP dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME velador)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  # The ARM64 cross build (cmake/aarch64-linux-gnu.cmake). dpkg-shlibdeps knows only the
  # libraries of packages installed for the target, and the cross toolchain's are installed as
  # packages of the build machine, so Depends is stated: the C++ runtime is linked in
  # (app/CMakeLists.txt), which leaves the C library, and no symbol version the programs use is
  # newer than this one (scripts/package-check.sh checks that).
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "libc6 (>= 2.36)")
  if(UDFREAD_FOUND)
    # velador-image reads disc image files through libudfread.so.0, of which it calls
    # udfread_file_openat, there since 1.1.0 (scripts/package-check.sh checks this against the
    # library's symbols file).
    string(APPEND CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS ", libudfread0 (>= 1.1.0)")
  endif()
else()
  # dpkg-shlibdeps derives Depends from the libraries the binaries link: libc6, and libudfread0
  # where velador-image reads disc image files.
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_DEBIAN_DEV_PACKAGE_NAME velador-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# UDFREAD_FOUND is pkg_check_modules' cached answer for image/: where the image library reads disc
# image files, a program linking it links libudfread too (-ludfread, through velador.pc and the
# CMake package), which the library's development package provides.
if(UDFREAD_FOUND)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libudfread-dev (>= 1.1.0)")
endif()
# The first line of a description is the package's summary; the rest is wrapped as the Debian
# control file wants it.
string(CONCAT CPACK_DEBIAN_PROGRAMS_DESCRIPTION
       "encapsulate files for a disc image's ADV_OBJ folder or persistent storage\n"
       "velador wraps a single file in a container of one of five types: name\n"
       "enciphered, content enciphered with AES-128-CBC, protected by an AES-CMAC,\n"
       "protected by SHA-1 values in the disc image's content hash table, or\n"
       "enciphered and hashed per 512-byte unit. It also restores and checks such\n"
       "containers. velador-image checks or fills a whole disc image at once.\n"
       "Their messages are in Catalan.")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
       "static C++ libraries of velador's container and disc image code\n"
       "The static libraries and headers of velador's crypto (AES-128, AES-CMAC,\n"
       "SHA-1), encapsulation (the container format, its five types, the content\n"
       "hash table) and image code (check, add, init, extract, compact, remove,\n"
       "build), with a CMake package (find_package(velador), target velador::image)\n"
       "and a pkg-config file (velador), for C++20 programs that make or check\n"
       "containers and disc images themselves.")
