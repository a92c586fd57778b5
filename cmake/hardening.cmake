# Hardening of everything built for an ELF system with GCC or Clang, as a distribution builds
# its packages: the checked variants of the C library's buffer functions (_FORTIFY_SOURCE, which
# works only with the optimiser on), stack canaries, position-independent executables, and a
# relocation table made read-only once every symbol is bound at start (full RELRO).
# The sanitizer builds go without: their runtimes watch the same accesses, and a fortified call
# would check a buffer before they see it. Windows builds go without too (no ELF, and the
# cross toolchain's stack protector needs a library of its own).
option(VELADOR_HARDENING "Compile and link with hardening flags (ELF systems, GCC or Clang)" ON)

if(VELADOR_HARDENING AND NOT WIN32 AND NOT APPLE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang"
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_compile_options(-fstack-protector-strong -fPIE
    # Undefined first: some compilers define it already, and a second definition would warn.
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options(-pie LINKER:-z,relro LINKER:-z,now)
endif()
