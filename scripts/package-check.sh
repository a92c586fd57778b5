#!/usr/bin/env bash
# Checks what users get: the install rules, the Debian packages and the Windows zip. Each package
# is built with cpack, unpacked into a throw-away folder, and the velador inside it is run (the
# Windows one under wine): the help, and a round trip through a container with a key file; then
# velador-image adds to a disc image and checks it. The installed tree's libraries are built
# against by the example program (scripts/consumer-check.sh), with CMake and with pkg-config.
# Last, lintian checks every Debian package built here: any error or warning fails the check.
# One function checks each package (check_deb for velador of each architecture, check_dev_deb,
# check_windows_zip), after check_install for the installed tree. Prints every check and ends
# with status 1 when one fails.
# Usage: scripts/package-check.sh [<native build> [<windows build> | none [<arm64 build> | none]]]
#   The builds default to build/default and build/windows and must be configured already
#   (.ci/run does that). Without a configured build/windows, and no Windows build named, the
#   zip is skipped with a message; a Windows build named that is not configured fails the check.
#   The same holds for the ARM64 cross build (default build/arm64, scripts/arm64-check.sh makes
#   it) and its arm64 Debian packages, whose programs are tried under qemu-aarch64 (with the
#   unpacked libudfread that build was built against, VELADOR_ARM64_LIBRARY_ROOT).
#   Only the targets velador and velador-image (and the libraries they link) are brought up to
#   date here.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
native_build=$(realpath "${1:-build/default}")
windows_build=${2:-build/windows}
windows_named=$([ $# -ge 2 ] && echo yes || echo no)
arm64_build=${3:-build/arm64}
arm64_named=$([ $# -ge 3 ] && echo yes || echo no)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
export WINEPREFIX="$work/wineprefix"

source scripts/checks.sh
die() {
  echo "  FAIL  $*"
  exit 1
}

# --- helpers the checks call --------------------------------------------------------------

package_version() { sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$1/CPackConfig.cmake"; }
# install_libdir <build>: where the build installs its libraries, below the prefix.
install_libdir() { sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$1/CMakeCache.txt"; }

# Every Debian package make_package built; lintian checks them all at the end.
debs_built=()

# build_programs <build>: brings velador and velador-image (and the libraries they link) up to
# date; the build log shows when it fails.
build_programs() {
  cmake --build "$1" -j 2 --target velador velador-image >"$work/build.log" 2>&1 || {
    cat "$work/build.log"
    die "building velador and velador-image in $1"
  }
}

# make_package <build> <generator>: the packages of one generator in a build folder; the cpack
# log shows when it fails.
make_package() {
  local build=$1 generator=$2
  build_programs "$build"
  [ "$generator" != DEB ] || rm -f "$build"/*.deb
  (cd "$build" && cpack -G "$generator") >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    die "cpack -G $generator in $build"
  }
  if [ "$generator" = DEB ]; then
    local built
    for built in "$build"/*.deb; do
      [ -f "$built" ] && debs_built+=("$built")
    done
  fi
}

# lint <deb...>: lintian has no error and no warning about the packages, and no hardening tag
# of any level; every tag it gives, informational ones too, shows (each line names its
# package). One run for all: lintian takes seconds to start.
lint() {
  local tags="$work/lintian.out" status=0
  lintian --fail-on error,warning --display-info --tag-display-limit 0 "$@" >"$tags" 2>&1 ||
    status=$?
  grep -v '^running with root privileges' "$tags" | sed 's/^/          /' || true
  [ "$status" -eq 0 ] && ! grep -q ' hardening-' "$tags"
}

# run_in <output file> <folder> <command...>: runs velador in the folder and keeps its text
# with CR LF turned into LF, standard error apart. velador ends with status 0 whatever happens,
# so any other status means it crashed.
run_in() {
  local out=$1 dir=$2 status=0
  shift 2
  (cd "$dir" && "$@") >"$out.raw" 2>"$out.err" || status=$?
  tr -d '\r' <"$out.raw" >"$out"
  [ "$status" -eq 0 ]
}

same_text() { cmp -s "$1" "$2"; }
holds() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }
differs() { ! cmp -s "$1" "$2"; }
empty_file() { [ ! -s "$1" ]; }
# quiet <command...>: the command ends with status 0 and prints nothing; what it printed shows.
quiet() {
  local said="$work/said" status=0
  "$@" >"$said" 2>&1 || status=$?
  sed 's/^/          /' "$said"
  [ "$status" -eq 0 ] && [ ! -s "$said" ]
}
# field <name>: the control field of the Debian package $deb.
field() { dpkg-deb -f "$deb" "$1"; }
# depends_on <package>: the Debian package's Depends names it.
depends_on() {
  dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -xF "$1" >/dev/null
}
not_depends_on() { ! depends_on "$1"; }
every_line_crlf() { [ "$(grep -c $'\r$' "$1" || true)" = "$(wc -l <"$1")" ]; }
version_record() { strings "$1" | grep -x "velador version $2" >/dev/null; }
no_temporaries() { [ -z "$(find "$1" -name '.velador-*')" ]; }
header_is() { [ "$(head -c 5 "$1" | od -An -tx1 | tr -d ' \n')" = "$2" ]; }

# file_list <folder>: the files below it, one per line, sorted.
file_list() { (cd "$1" && find . -type f | sort); }
# gunzipped_is <file.gz> <file>: the compressed file holds exactly the other one's bytes.
gunzipped_is() { gzip -t "$1" && cmp -s <(gzip -dc "$1") "$2"; }
# max_gzip <file.gz>: compressed at the highest level, with no time stamp in the header (the
# header's bytes 4 to 7 are the time, byte 8 is 2 for the highest level).
max_gzip() { [ "$(od -An -tx1 -j 4 -N 5 "$1" | tr -d ' \n')" = 0000000002 ]; }

# lint_page <page> [<title>]: groff and, when installed, mandoc must have nothing to say about
# it; its header names the title (VELADOR by default) and the release.
lint_page() {
  local page=$1 title=${2:-VELADOR} text="$work/page.roff"
  case $page in
    *.gz) gzip -dc "$page" >"$text" ;;
    *) cp "$page" "$text" ;;
  esac
  check "manual page: groff -man -ww -z reports nothing" quiet groff -man -ww -z "$text"
  check "manual page: groff -t -man -ww -z (tables too) reports nothing" \
    quiet groff -t -man -ww -z "$text"
  if command -v mandoc >/dev/null; then
    check "manual page: mandoc -T lint reports nothing" quiet mandoc -T lint "$text"
  else
    echo "  --    mandoc is not installed; its lint is skipped"
  fi
  check "manual page $title: header names velador $version" \
    grep -q "^\.TH $title 1 .*\"velador $version\"" "$text"
}

# image_trip <label> <velador-image command...>: adds a Hash file and a picture to a fresh disc
# image, then checks it; both end with status 0 and the check accepts both files.
image_trip() {
  local label=$1
  shift
  local dir="$work/image-$label"
  mkdir -p "$dir/img/ADV_OBJ" "$dir/img/AACS"
  head -c 40060 /dev/zero >"$dir/img/AACS/CONTENT_HASH_TABLE2.AACS"
  printf '0123456789abcdef' >"$dir/key.bin"
  printf '<menu/>\n' >"$dir/menu.xml"
  head -c 3000 /dev/urandom >"$dir/logo.png"
  check "$label: velador-image --version names the release" \
    run_in "$dir/version.out" "$dir" "$@" --version
  check "$label: velador-image --version prints 'velador-image $version'" \
    grep -qx "velador-image $version" "$dir/version.out"
  check "$label: velador-image add ends with status 0" \
    run_in "$dir/add.out" "$dir" "$@" add img --key key.bin menu.xml logo.png
  check "$label: velador-image check ends with status 0" \
    run_in "$dir/check.out" "$dir" "$@" check img --key key.bin
  check "$label: both files accepted" [ "$(grep -c ACCEPTAT "$dir/check.out")" = 2 ]
  check "$label: no temporary file left" no_temporaries "$dir"
}

# image_file_trip <label> reads|unsupported <velador-image command...>: after image_trip, the
# same image mastered by genisoimage into a disc image file (a UDF file system), which
# velador-image checks in place: it accepts both files with status 0 (reads), or says that it
# reads no image files, with status 2 (unsupported). Skipped, with a message, without genisoimage.
image_file_trip() {
  local label=$1 expected=$2
  shift 2
  local dir="$work/image-$label" status=0
  if ! command -v genisoimage >/dev/null; then
    echo "  --    genisoimage is not installed; $label: the disc image file's check is skipped"
    return 0
  fi
  genisoimage -quiet -udf -o "$dir/disc.udf" "$dir/img"
  (cd "$dir" && "$@" check disc.udf --key key.bin) >"$dir/check-file.raw" 2>&1 || status=$?
  tr -d '\r' <"$dir/check-file.raw" >"$dir/check-file.out"
  if [ "$expected" = reads ]; then
    check "$label: velador-image check of a disc image file ends with status 0" [ "$status" = 0 ]
    check "$label: both files of the disc image file accepted" \
      [ "$(grep -c ACCEPTAT "$dir/check-file.out")" = 2 ]
  else
    check "$label: velador-image check of a disc image file ends with status 2" [ "$status" = 2 ]
    check "$label: it says that it reads no disc image files" \
      holds "$dir/check-file.out" "no llegeix fitxers d'imatge de disc"
  fi
}

# help_check <label> <command...>: `/?` prints exactly the native build's help.
help_check() {
  local label=$1
  shift
  local out="$work/help-$label.out"
  check "$label: velador /? ends with status 0" run_in "$out" "$work" "$@" '/?'
  check "$label: velador /? prints the help of the build" same_text "$out" "$work/help-build.out"
}

# round_trip <label> <command...>: encapsulates a picture for persistent storage with a key
# file (the Encryption type), decapsulates the container and compares the result.
round_trip() {
  local label=$1
  shift
  local dir="$work/trip-$label"
  mkdir -p "$dir/storage" "$dir/back"
  printf '0123456789abcdef' >"$dir/key.bin"
  head -c 3000 /dev/urandom >"$dir/logo.png"
  check "$label: encapsulation ends with status 0" \
    run_in "$dir/encapsulate.out" "$dir" "$@" -e -p logo.png storage key.bin
  check "$label: encapsulation reported" \
    holds "$dir/encapsulate.out" "ENCAPSULACIO: El fitxer s'ha encapsulat correctament"
  check "$label: container header is AACS, Encryption" header_is "$dir/storage/logo.png" 4141435301
  check "$label: content is enciphered in the container" \
    differs <(tail -c +284 "$dir/storage/logo.png") "$dir/logo.png"
  check "$label: decapsulation ends with status 0" \
    run_in "$dir/decapsulate.out" "$dir" "$@" -d storage/logo.png back key.bin
  check "$label: decapsulation reported" \
    holds "$dir/decapsulate.out" "DESENCAPSULACIO: El fitxer s'ha desencapsulat correctament"
  check "$label: stored name matches" holds "$dir/decapsulate.out" "COINCIDEIX amb el nom"
  check "$label: no mismatch reported" lacks "$dir/decapsulate.out" "NO COINCIDEIX"
  check "$label: restored file is identical to the original" \
    cmp -s "$dir/logo.png" "$dir/back/logo.png"
  check "$label: no temporary file left" no_temporaries "$dir"
}

# The public headers: every one in a library's include/<library>/ of crypto, encapsulation and
# image, and the three io headers they include; no other.
public_headers() {
  local library
  for library in crypto encapsulation image; do
    (cd "$source_dir/$library/include" && find "$library" -name '*.h')
  done
  printf '%s\n' io/checked_file.h io/locked_file.h io/progress.h
}
# expected_tree <prefix> <libdir> <development: yes/no> <programs: yes/no> <licence: yes/no>
# <dev notes: yes/no>: the files an install or a package should hold, sorted.
expected_tree() {
  local prefix=$1 lib=$2 dev=$3 programs=$4 licence=$5 notes=$6 library schema
  {
    if [ "$programs" = yes ]; then
      printf "$prefix/%s\n" bin/velador bin/velador-image \
        share/bash-completion/completions/velador share/bash-completion/completions/velador-image \
        share/doc/velador/README.md share/doc/velador/changelog.gz share/doc/velador/copyright \
        share/man/man1/velador.1.gz share/man/man1/velador-image.1.gz
      for schema in check add init extract compact remove build; do
        echo "$prefix/share/velador/schema/$schema.schema.json"
      done
    fi
    [ "$licence" = no ] || echo "$prefix/share/doc/velador/LICENSE"
    if [ "$dev" = yes ]; then
      public_headers | sed "s|^|$prefix/include/velador/|"
      for library in crypto encapsulation image io platform; do
        echo "$prefix/$lib/libvelador_$library.a"
      done
      printf "$prefix/$lib/%s\n" cmake/velador/veladorConfig.cmake \
        cmake/velador/veladorConfigVersion.cmake cmake/velador/veladorTargets.cmake \
        cmake/velador/veladorTargets-release.cmake pkgconfig/velador.pc
    fi
    if [ "$notes" = yes ]; then
      printf "$prefix/%s\n" share/doc/velador-dev/copyright share/doc/velador-dev/changelog.gz
    fi
  } | sort
}

# highest_glibc <binary>...: the newest GLIBC_ symbol version the binaries need.
highest_glibc() { readelf -W -V "$@" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1; }
# at_most <version> <version>: the first is no newer than the second.
at_most() { [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$2" ]; }
# elf_for <binary> <machine>: an ELF file for that machine, as readelf names it.
elf_for() { readelf -h "$1" | grep -q "Machine: *$2"; }
# reads_image_files <build>: the build's velador-image reads disc image files (it found
# libudfread; image/CMakeLists.txt).
reads_image_files() { grep -qx 'UDFREAD_FOUND:INTERNAL=1' "$1/CMakeCache.txt"; }
# needs_library <binary> <soname>: the binary names the shared library among those it needs.
needs_library() { readelf -d "$1" | grep '(NEEDED)' | grep -qF "[$2]"; }
# library_root <build>: the folder of unpacked ARM64 packages an ARM64 cross build was built
# against (VELADOR_ARM64_LIBRARY_ROOT, cmake/aarch64-linux-gnu.cmake); nothing for a build of
# the system's libraries.
library_root() { sed -n 's/^VELADOR_ARM64_LIBRARY_ROOT:PATH=//p' "$1/CMakeCache.txt"; }
# udfread_symbols <build> <architecture>: the symbols file of the libudfread0 the build found:
# the one installed for that architecture, or the one scripts/arm64-check.sh kept beside the
# unpacked library; nothing when there is none.
udfread_symbols() {
  local root
  root=$(library_root "$1")
  if [ -n "$root" ]; then
    [ ! -f "$root/DEBIAN/libudfread0/symbols" ] || echo "$root/DEBIAN/libudfread0/symbols"
  else
    dpkg-query --control-path "libudfread0:$2" symbols 2>/dev/null || true
  fi
}
# highest_udfread <binary> <symbols file>: the newest version of libudfread0 in which a
# udfread_ function the binary calls came, after that symbols file; nothing when there is no
# such file or a function is not in it.
highest_udfread() {
  local symbols=$2 symbol since versions=()
  [ -f "$symbols" ] || return 0
  for symbol in $(readelf -W --dyn-syms "$1" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' |
    grep '^udfread_' | sort -u); do
    since=$(awk -v name="$symbol@Base" '$1 == name { print $2 }' "$symbols")
    [ -n "$since" ] || return 0
    versions+=("$since")
  done
  [ ${#versions[@]} -eq 0 ] || printf '%s\n' "${versions[@]}" | sort -V | tail -n 1
}

# --- the checks: the install tree and each package ----------------------------------------

# check_install <build>: cmake --install of the native build puts exactly the files it should in
# place, and the example program builds against them. Leaves the tree in $prefix, and the help of
# the built velador in $work/help-build.out, for the packages' checks.
check_install() {
  local build=$1 libdir consumer
  echo "== velador $version: install rules ($build)"
  build_programs "$build"
  run_in "$work/help-build.out" "$work" "$build/app/velador" '/?' ||
    die "the built velador does not run"
  libdir=$(install_libdir "$build")
  [ -n "$libdir" ] || die "no CMAKE_INSTALL_LIBDIR in $build/CMakeCache.txt"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  check "cmake --install puts the programs, pages, completions, JSON Schemas, notes, headers, libraries, CMake package and velador.pc in place, nothing else" \
    same_text <(file_list "$prefix") <(expected_tree . "$libdir" yes yes yes no)
  check "installed completion of velador is the source's" \
    cmp -s "$prefix/share/bash-completion/completions/velador" "$source_dir/completion/velador"
  check "installed completion of velador-image is the source's" cmp -s \
    "$prefix/share/bash-completion/completions/velador-image" "$source_dir/completion/velador-image"
  check "installed JSON Schemas are the source's doc/schema" \
    diff -r "$prefix/share/velador/schema" "$source_dir/doc/schema"
  check "CMake package version $version" \
    grep -qx "set(PACKAGE_VERSION \"$version\")" "$prefix/$libdir/cmake/velador/veladorConfigVersion.cmake"
  check "pkg-config version $version" \
    [ "$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --modversion velador)" = "$version" ]
  check "doc/changelog's newest entry is velador ($version)" \
    grep -q "^velador ($version) " <(head -n 1 "$source_dir/doc/changelog")
  if scripts/consumer-check.sh "$prefix" "$build/app/velador-image" >"$work/consumer.out" 2>&1; then
    consumer=yes
  else
    consumer=no
  fi
  sed 's/^/    /' "$work/consumer.out"
  check "the example program builds against the installed tree with CMake and pkg-config, and runs" \
    [ "$consumer" = yes ]
}

# control_fields <label> <package> <section>: the control fields of the Debian package $deb that
# name it: package, version $version, architecture $arch and section.
control_fields() {
  local label=$1 package=$2 section=$3
  check "${label}control: Package $package" [ "$(field Package)" = "$package" ]
  check "${label}control: Version $version" [ "$(field Version)" = "$version" ]
  check "${label}control: Architecture $arch" [ "$(field Architecture)" = "$arch" ]
  check "${label}control: Section $section" [ "$(field Section)" = "$section" ]
}

# check_deb <architecture> <build>: builds the build's Debian packages and checks velador's: its
# control fields, that it holds the files it should and no other, and the programs it installs,
# run: the help, a round trip through a container, a disc image. The package of this machine's
# architecture is checked besides for its notes and manual pages, the same files in every
# architecture's package (and its velador-dev by check_dev_deb). One of another architecture
# is checked besides for its binaries, for its velador-dev being built and for a libc6 in
# Depends that covers the C library its programs need; its programs run under qemu (arm64
# only: tests/support/qemu-arm64.sh, on the processor QEMU_CPU names, qemu's own otherwise).
check_deb() {
  local arch=$1 build version deb root native label said run_label run=() what machine machine_name
  local libc needed gz image_files udfread library_path
  build=$(realpath "$2")
  version=$(package_version "$build")
  deb="$build/velador_${version}_${arch}.deb"
  if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    native=yes label="" said="" run_label=deb
    what="the programs, their compressed manual pages, completions, JSON Schemas, README.md, copyright and changelog.gz"
    echo "== Debian package $(basename "$deb")"
  else
    case $arch in
      arm64)
        machine=AArch64 machine_name=ARM64 run=("$source_dir/tests/support/qemu-arm64.sh")
        # Installed, the programs have no run path: where the build took its libraries from
        # unpacked packages, the loader looks for them there.
        library_path=$(library_root "$build")
        [ -z "$library_path" ] ||
          run=(env "VELADOR_ARM64_LIBRARY_PATH=$library_path/usr/lib/aarch64-linux-gnu" "${run[@]}")
        ;;
      *) die "no way to try $arch programs here" ;;
    esac
    native=no label="$arch " said="$arch: " run_label=$arch what="what the native one holds"
    echo "== $arch Debian package $(basename "$deb")"
  fi
  make_package "$build" DEB
  [ -f "$deb" ] || die "cpack made no $deb"
  echo "        Depends: $(field Depends)"
  control_fields "$label" velador utils
  check "${label}control: Maintainer set" [ -n "$(field Maintainer)" ]
  check "${label}control: Description set" [ -n "$(field Description)" ]
  check "${label}control: Depends names libc6" depends_on libc6
  # The C++ runtime is linked into both programs (app/CMakeLists.txt), so no libstdc++6.
  check "${label}control: Depends does not name libstdc++6 (the C++ runtime is linked in)" \
    not_depends_on libstdc++6
  if reads_image_files "$build"; then
    image_files=reads
    check "${label}control: Depends names libudfread0 (velador-image reads disc image files)" \
      depends_on libudfread0
  else
    image_files=unsupported
    check "${label}control: Depends does not name libudfread0 (this build reads no image files)" \
      not_depends_on libudfread0
  fi

  root="$work/root-$arch"
  dpkg -x "$deb" "$root"
  check "${label}package holds $what, nothing else" \
    same_text <(file_list "$root") <(expected_tree ./usr "$(install_libdir "$build")" no yes no no)
  if [ "$native" = yes ]; then
    check "README.md is the source's" \
      cmp -s "$root/usr/share/doc/velador/README.md" "$source_dir/README.md"
    check "copyright is the source's doc/copyright" \
      cmp -s "$root/usr/share/doc/velador/copyright" "$source_dir/doc/copyright"
    check "changelog.gz holds the source's doc/changelog" \
      gunzipped_is "$root/usr/share/doc/velador/changelog.gz" "$source_dir/doc/changelog"
    for gz in "$root/usr/share/doc/velador/changelog.gz" "$root"/usr/share/man/man1/*.gz; do
      check "${gz#"$root"/}: gzip -9n" max_gzip "$gz"
    done
    check "completions are the source's" \
      diff -r "$root/usr/share/bash-completion/completions" "$source_dir/completion"
    check "JSON Schemas are the source's doc/schema" \
      diff -r "$root/usr/share/velador/schema" "$source_dir/doc/schema"
  else
    check "${label}-dev package built" [ -f "$build/velador-dev_${version}_${arch}.deb" ]
    check "${said}velador is an $machine_name binary" elf_for "$root/usr/bin/velador" "$machine"
    check "${said}velador-image is an $machine_name binary" \
      elf_for "$root/usr/bin/velador-image" "$machine"
    # The stated Depends must cover every C library version the programs need.
    libc=$(field Depends | sed -n 's/.*libc6 (>= \([0-9.]*\)).*/\1/p')
    needed=$(highest_glibc "$root/usr/bin/velador" "$root/usr/bin/velador-image")
    echo "        newest C library symbol version needed: $needed"
    check "${label}control: Depends' libc6 ($libc) covers the newest symbol version needed" \
      at_most "$needed" "$libc"
    if [ "$image_files" = reads ]; then
      # And the stated libudfread0 every udfread_ function velador-image calls.
      udfread=$(field Depends | sed -n 's/.*libudfread0 (>= \([0-9.]*\)).*/\1/p')
      needed=$(highest_udfread "$root/usr/bin/velador-image" "$(udfread_symbols "$build" "$arch")")
      echo "        newest libudfread0 version needed: ${needed:-unknown}"
      check "${label}control: Depends' libudfread0 ($udfread) covers the newest function needed" \
        at_most "${needed:-unknown}" "$udfread"
    fi
  fi
  if [ "$image_files" = reads ]; then
    check "${said}velador-image needs libudfread.so.0" \
      needs_library "$root/usr/bin/velador-image" libudfread.so.0
  fi

  check "${said}installed velador carries 'velador version $version'" \
    version_record "$root/usr/bin/velador" "$version"
  help_check "$run_label" "${run[@]}" "$root/usr/bin/velador"
  check "$run_label: nothing on standard error" empty_file "$work/help-$run_label.out.err"
  round_trip "$run_label" "${run[@]}" "$root/usr/bin/velador"
  image_trip "$run_label" "${run[@]}" "$root/usr/bin/velador-image"
  image_file_trip "$run_label" "$image_files" "${run[@]}" "$root/usr/bin/velador-image"
  if [ "$native" = yes ]; then
    lint_page "$root/usr/share/man/man1/velador.1.gz"
    lint_page "$root/usr/share/man/man1/velador-image.1.gz" VELADOR-IMAGE
  fi
}

# check_dev_deb <build>: velador-dev of the native build, made by check_deb: its control fields,
# that it holds the files it should and no other, and that its headers, CMake package and
# velador.pc are those check_install installed.
check_dev_deb() {
  local build arch version deb maintainer libdir dev_root file
  build=$(realpath "$1")
  arch=$(dpkg --print-architecture)
  version=$(package_version "$build")
  deb="$build/velador-dev_${version}_${arch}.deb"
  maintainer=$(dpkg-deb -f "$build/velador_${version}_${arch}.deb" Maintainer)
  libdir=$(install_libdir "$build")
  echo "== Debian package $(basename "$deb")"
  [ -f "$deb" ] || die "cpack made no $deb"
  control_fields "" velador-dev libdevel
  check "control: Maintainer as velador's" [ "$(field Maintainer)" = "$maintainer" ]
  echo "        Depends: $(field Depends)"
  if reads_image_files "$build"; then
    check "control: Depends names libudfread-dev (the image library links -ludfread)" \
      depends_on libudfread-dev
    check "velador.pc links -ludfread" grep -q '^Libs: .* -ludfread' "$prefix/$libdir/pkgconfig/velador.pc"
  else
    check "control: Depends does not name libudfread-dev (this build reads no image files)" \
      not_depends_on libudfread-dev
  fi
  dev_root="$work/dev-root"
  dpkg -x "$deb" "$dev_root"
  check "package holds the headers, static libraries, CMake package, velador.pc, copyright and changelog.gz, nothing else" \
    same_text <(file_list "$dev_root") <(expected_tree ./usr "$libdir" yes no no yes)
  check "its headers are those of cmake --install" diff -r "$dev_root/usr/include" "$prefix/include"
  check "its copyright is the source's doc/copyright" \
    cmp -s "$dev_root/usr/share/doc/velador-dev/copyright" "$source_dir/doc/copyright"
  check "its changelog.gz holds the source's doc/changelog" \
    gunzipped_is "$dev_root/usr/share/doc/velador-dev/changelog.gz" "$source_dir/doc/changelog"
  for file in cmake/velador/veladorConfig.cmake cmake/velador/veladorConfigVersion.cmake \
    cmake/velador/veladorTargets.cmake pkgconfig/velador.pc; do
    check "$file is that of cmake --install" cmp -s "$dev_root/usr/$libdir/$file" "$prefix/$libdir/$file"
  done
  check "pkg-config finds the package's velador.pc where it was unpacked" \
    [ "$(PKG_CONFIG_PATH="$dev_root/usr/$libdir/pkgconfig" pkg-config --variable=includedir velador |
      xargs realpath)" = "$dev_root/usr/include" ]
}

# check_windows_zip <build>: builds the zip of the Windows cross build and checks it: the files it
# holds, no other, and the programs in it, run under wine (started without address-space
# randomisation, which now and then leaves wine no room for its fixed pages, "failed to map the
# shared user data", status 1).
check_windows_zip() {
  local build version zip folder exe
  build=$(realpath "$1")
  version=$(package_version "$build")
  zip="$build/velador-$version-win64.zip"
  echo "== Windows zip $(basename "$zip")"
  rm -f "$zip"
  make_package "$build" ZIP
  [ -f "$zip" ] || die "cpack made no $zip"
  folder=$(basename "$zip" .zip)
  cmake -E tar tf "$zip" | sed 's/^/        /'
  printf '%s\n' "$folder/LICENSE" "$folder/README.md" "$folder/velador-image.exe" \
    "$folder/velador.exe" "$folder/licences/gcc-runtime.txt" \
    "$folder/licences/mingw-w64-runtime.txt" | sort >"$work/expected-zip"
  check "zip holds velador.exe, velador-image.exe, README.md, LICENSE and the runtime's licences in one folder, nothing else" \
    same_text <(cmake -E tar tf "$zip" | grep -v '/$' | sort) "$work/expected-zip"
  mkdir "$work/zip"
  (cd "$work/zip" && cmake -E tar xf "$zip")
  check "LICENSE is the source's" cmp -s "$work/zip/$folder/LICENSE" "$source_dir/LICENSE"
  check "licences/gcc-runtime.txt holds the GCC Runtime Library Exception" \
    grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$work/zip/$folder/licences/gcc-runtime.txt"
  check "licences/mingw-w64-runtime.txt names winpthreads" \
    grep -q 'winpthreads' "$work/zip/$folder/licences/mingw-w64-runtime.txt"
  exe="$work/zip/$folder/velador.exe"
  check "velador.exe carries 'velador version $version'" version_record "$exe" "$version"
  help_check wine setarch -R wine "$exe"
  check "wine: every line of the help ends in CR LF" every_line_crlf "$work/help-wine.out.raw"
  round_trip wine setarch -R wine "$exe"
  image_trip wine setarch -R wine "$work/zip/$folder/velador-image.exe"
  image_file_trip wine unsupported setarch -R wine "$work/zip/$folder/velador-image.exe"
}

# wanted <title> <build> <named: yes/no> <kind of build> <where it comes from> <what 'none'
# skips>: whether to check the package of an optional build; says why when not. A build given
# as none is skipped, and so is a default one that is not configured; a named one that is not
# configured fails the check.
wanted() {
  local title=$1 build=$2 named=$3 kind=$4 source=$5 skips=$6
  if [ "$build" = none ]; then
    echo "== $title: skipped (no $kind given)"
    return 1
  fi
  [ ! -f "$build/CPackConfig.cmake" ] || return 0
  [ "$named" = yes ] || {
    echo "== $title: skipped ($build is no configured $kind; $source)"
    return 1
  }
  die "$build is not a configured $kind (pass 'none' to skip $skips)"
}

# --- the run ------------------------------------------------------------------------------

version=$(package_version "$native_build")
[ -n "$version" ] || die "no CPackConfig.cmake with a version in $native_build"
prefix="$work/prefix"  # where check_install installs the native build
check_install "$native_build"
check_deb "$(dpkg --print-architecture)" "$native_build"
check_dev_deb "$native_build"
if wanted "Windows zip" "$windows_build" "$windows_named" "cross build" \
  "see README.md for the Windows build" "the zip"; then
  check_windows_zip "$windows_build"
fi
if wanted "arm64 Debian package" "$arm64_build" "$arm64_named" "ARM64 build" \
  "scripts/arm64-check.sh makes it" "the arm64 package"; then
  check_deb arm64 "$arm64_build"
fi

if [ ${#debs_built[@]} -gt 0 ]; then
  echo "== lintian $(for built in "${debs_built[@]}"; do basename "$built"; done | paste -sd ' ' -)"
  check "lintian: no error, no warning, no hardening tag" lint "${debs_built[@]}"
fi

echo "package check: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
