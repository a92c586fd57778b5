# Install rules of a Unix-like system, included by cmake/packaging.cmake.
#
#   bin/velador, bin/velador-image                              programs
#   share/man/man1/velador.1.gz, velador-image.1.gz              programs
#   share/bash-completion/completions/velador, velador-image     programs
#   share/doc/velador/README.md, copyright, changelog.gz         programs
#   share/velador/schema/*.schema.json                           programs
#   share/doc/velador/LICENSE                                    licence
#   include/velador/{crypto,encapsulation,image,io}/*.h          development
#   lib/libvelador_{image,encapsulation,crypto,io,platform}.a    development
#   lib/cmake/velador/veladorConfig*.cmake, veladorTargets*.cmake development
#   lib/pkgconfig/velador.pc                                     development
#   share/doc/velador-dev/copyright, changelog.gz                development-notes (packages only)

include(CMakePackageConfigHelpers)

# Manual pages and the changelog go compressed as a distribution wants them: at the highest
# level and without a name or time stamp in the header, so that a rebuild gives the same bytes.
find_program(VELADOR_GZIP gzip REQUIRED)
function(velador_gzip input output)
  execute_process(COMMAND ${VELADOR_GZIP} -9 -n -c ${input} OUTPUT_FILE ${output}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip of ${input} failed: ${status}")
  endif()
endfunction()
velador_gzip(${PROJECT_BINARY_DIR}/doc/velador.1 ${PROJECT_BINARY_DIR}/doc/velador.1.gz)
velador_gzip(${PROJECT_BINARY_DIR}/doc/velador-image.1 ${PROJECT_BINARY_DIR}/doc/velador-image.1.gz)
velador_gzip(${PROJECT_SOURCE_DIR}/doc/changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)

# --- the programs ---------------------------------------------------------------------------

install(TARGETS velador velador-image RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT programs)
install(FILES ${PROJECT_BINARY_DIR}/doc/velador.1.gz ${PROJECT_BINARY_DIR}/doc/velador-image.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
# Where bash-completion looks for the completion of a command, by the command's name.
install(FILES ${PROJECT_SOURCE_DIR}/completion/velador ${PROJECT_SOURCE_DIR}/completion/velador-image
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT programs)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/copyright
              ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velador COMPONENT programs)
# The JSON Schemas of velador-image's documents, one for each command (doc/json.md): data that
# the programs reading the documents load, so in share/velador rather than among the notes of
# share/doc, which a system may leave out.
set(velador_schemas)
foreach(command IN ITEMS check add init extract compact remove build)
  list(APPEND velador_schemas ${PROJECT_SOURCE_DIR}/doc/schema/${command}.schema.json)
endforeach()
install(FILES ${velador_schemas} DESTINATION ${CMAKE_INSTALL_DATADIR}/velador/schema
        COMPONENT programs)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velador
        COMPONENT licence)
install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velador-dev COMPONENT development-notes
        EXCLUDE_FROM_ALL)

# A stripped install (the packages') also drops the compiler's notes from the programs, and the
# debugging sections and notes from the static libraries, with the archives' time stamps and
# owners zeroed: what a distribution's own build does.
string(CONFIGURE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program velador velador-image)
      execute_process(COMMAND "@CMAKE_OBJCOPY@" --remove-section=.comment --remove-section=.note
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/${program}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]] velador_strip_notes @ONLY)
install(CODE "${velador_strip_notes}" COMPONENT programs)

# --- the libraries --------------------------------------------------------------------------
#
# What another program needs to check or make containers and disc images: the headers of the
# crypto, encapsulation and image libraries, and the few io headers they include (a checked
# file, the locked table file, the progress counter). The rest of io, all of platform and every
# header beside a library's sources stay internal; the static libraries of io and platform
# are installed all the same, since the others call into them.

set(velador_libraries velador_image velador_encapsulation velador_crypto velador_io
    velador_platform)
install(TARGETS ${velador_libraries} EXPORT veladorTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
set(velador_include_destination ${CMAKE_INSTALL_INCLUDEDIR}/velador)
foreach(library crypto encapsulation image)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${library}/include/${library}
          DESTINATION ${velador_include_destination} COMPONENT development
          FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/io/include/io/checked_file.h
              ${PROJECT_SOURCE_DIR}/io/include/io/locked_file.h
              ${PROJECT_SOURCE_DIR}/io/include/io/progress.h
        DESTINATION ${velador_include_destination}/io COMPONENT development)

set(velador_cmake_destination ${CMAKE_INSTALL_LIBDIR}/cmake/velador)
foreach(library IN LISTS velador_libraries)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
                              --remove-section=.note --enable-deterministic-archives
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${library}>\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT development)
endforeach()
install(EXPORT veladorTargets NAMESPACE velador:: DESTINATION ${velador_cmake_destination}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/veladorConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/veladorConfig.cmake
                              INSTALL_DESTINATION ${velador_cmake_destination})
# Before 1.0 a minor release may change the interfaces: only the same minor release matches.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/veladorConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/veladorConfig.cmake
              ${PROJECT_BINARY_DIR}/veladorConfigVersion.cmake
        DESTINATION ${velador_cmake_destination} COMPONENT development)

# velador.pc names its prefix relative to its own folder, so the installed tree can move.
set(velador_pc_destination ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VELADOR_PC_PREFIX_FROM_PCFILEDIR /prefix/${velador_pc_destination} /prefix)
set(VELADOR_PC_LIBS "")
foreach(library IN LISTS velador_libraries)
  string(APPEND VELADOR_PC_LIBS " -l${library}")
endforeach()
# The image library reads disc image files through libudfread where the build found it (the
# cached UDFREAD_FOUND of image/): a static library, it leaves -ludfread to its consumer, after
# the velador libraries, as the CMake package does.
if(UDFREAD_FOUND)
  string(APPEND VELADOR_PC_LIBS " -ludfread")
endif()
string(STRIP "${VELADOR_PC_LIBS}" VELADOR_PC_LIBS)
configure_file(${PROJECT_SOURCE_DIR}/cmake/velador.pc.in ${PROJECT_BINARY_DIR}/velador.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velador.pc DESTINATION ${velador_pc_destination}
        COMPONENT development)
