# The licences of the runtime the mingw-w64 build links into both .exe files (-static in
# app/CMakeLists.txt): GCC's libstdc++ and libgcc (GPL 3 with the GCC Runtime Library
# Exception) and mingw-w64's C runtime and winpthreads (ZPL 2.1, MIT and others), whose terms ask
# a binary to come with their notices. The zip carries them as the toolchain's packages state
# them, in licences/. Included by cmake/packaging.cmake for a Windows build.
set(velador_default_runtime_licences "")
foreach(package gcc-mingw-w64-base mingw-w64-common)
  if(EXISTS /usr/share/doc/${package}/copyright)
    list(APPEND velador_default_runtime_licences /usr/share/doc/${package}/copyright)
  endif()
endforeach()
set(VELADOR_RUNTIME_LICENCES "${velador_default_runtime_licences}" CACHE STRING
    "The copyright files of the toolchain's GCC and mingw-w64 runtime, in that order")

list(LENGTH VELADOR_RUNTIME_LICENCES velador_runtime_licence_count)
if(MINGW AND NOT velador_runtime_licence_count EQUAL 2)
  message(WARNING "The copyright files of the GCC and mingw-w64 runtime were not found "
                  "(Debian: gcc-mingw-w64-base, mingw-w64-common); set VELADOR_RUNTIME_LICENCES "
                  "to them, or the zip will lack their notices")
elseif(MINGW)
  list(GET VELADOR_RUNTIME_LICENCES 0 velador_gcc_licence)
  list(GET VELADOR_RUNTIME_LICENCES 1 velador_mingw_licence)
  install(FILES ${velador_gcc_licence} DESTINATION licences RENAME gcc-runtime.txt)
  install(FILES ${velador_mingw_licence} DESTINATION licences RENAME mingw-w64-runtime.txt)
endif()
