// The release this executable was built from, kept as plain text in the binary so that
// `strings velador | grep 'velador version'` answers which release is installed: the command
// line is fixed, so there is no option that could print it. The build passes the number in
// VELADOR_VERSION (cmake/packaging.cmake).

#ifndef VELADOR_VERSION
#error "VELADOR_VERSION must be defined by the build"
#endif

namespace velador {

// External linkage and `used` keep the text in the executable although no code reads it: the
// compiler must emit it, and the linker keeps every section of an object it is given directly.
extern const char kVersionRecord[];
[[gnu::used]] const char kVersionRecord[] = "velador version " VELADOR_VERSION;

}  // namespace velador
