#!/usr/bin/env bash
# Cross-builds the Windows back end, the bundled terminal and the Windows test
# program with mingw-w64, then runs the tests under Wine in a throw-away
# prefix. Installs its tools when run as root on a Debian-like system.
#
#   tests/windows/run.sh            build and test
#   QUILLMARK_WINDOWS_BUILD=DIR     build folder (default: build/windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${QUILLMARK_WINDOWS_BUILD:-$root/build/windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
export WINEDEBUG=-all

install_tools() {
    local need=()
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
    command -v wine >/dev/null || need+=(wine wine64)
    command -v cmake >/dev/null || need+=(cmake)
    command -v tclsh >/dev/null || need+=(tcl)
    command -v python3 >/dev/null || need+=(python3)
    command -v make >/dev/null || need+=(make)
    command -v cc >/dev/null || need+=(gcc)
    if [ ${#need[@]} -eq 0 ]; then
        return
    fi
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
        echo "run.sh: missing tools: ${need[*]}" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
}

# SQLite for Windows: no Windows build of it is packaged, so the amalgamation
# is made from Debian's source package and compiled with mingw-w64. Both are
# kept in the build folder for the next run.
build_sqlite() {
    local out=$build/sqlite
    if [ -f "$out/libsqlite3.a" ] && [ -f "$out/sqlite3.h" ]; then
        return
    fi
    local work=$build/sqlite-src
    rm -rf "$work"
    mkdir -p "$work/lists/partial" "$work/parts" "$out"
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    cat >"$work/parts/source.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $release
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    # A private source list: the system's apt setup is left as it is.
    local apt=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
        -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
    apt-get "${apt[@]}" update -qq
    (cd "$work" && apt-get "${apt[@]}" source --download-only -qq sqlite3)
    tar -xJf "$work"/sqlite3_*.orig.tar.xz -C "$work"
    local tree
    tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n1)
    mkdir -p "$tree/bld"
    (cd "$tree/bld" && ../configure --disable-tcl >/dev/null && make -j2 sqlite3.c >/dev/null)
    x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -c "$tree/bld/sqlite3.c" \
        -o "$work/sqlite3.o"
    x86_64-w64-mingw32-ar rcs "$out/libsqlite3.a" "$work/sqlite3.o"
    cp "$tree/bld/sqlite3.h" "$out/sqlite3.h"
    rm -rf "$work"
}

install_tools
build_sqlite

cross=$build/cross
cmake -S "$root" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_PYTHON=OFF -DQUILLMARK_WERROR=ON \
    -DSQLite3_INCLUDE_DIR="$build/sqlite" -DSQLite3_LIBRARY="$build/sqlite/libsqlite3.a" >/dev/null
cmake --build "$cross" -j 2 -- --no-print-directory >/dev/null

# A throw-away Wine prefix: its drive C holds three installations of the
# terminal, and the user's roaming folder starts empty.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-wine.XXXXXX")
export WINEPREFIX=$prefix
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
drive=$prefix/drive_c
for folder in "Quill Terminal" quill-b quill-p; do
    mkdir -p "$drive/$folder"
    cp "$cross/src/terminal/terminal64.exe" "$drive/$folder/"
done
mkdir -p "$drive/tests"
cp "$cross/tests/windows/windows_test.exe" "$drive/tests/"

# The expected digests, made here independently: SHA-256 of the lower-cased
# path in UTF-16LE. An existing file is named by its final path, a missing one
# by itself; every spelling of the same file has the same digest.
digest() {
    python3 -c 'import hashlib, sys
print(hashlib.sha256(sys.argv[1].lower().encode("utf-16-le")).hexdigest().upper())' "$1"
}
terminal='C:\Quill Terminal\terminal64.exe'
second='C:\quill-b\terminal64.exe'
missing='C:\No Such Folder\Terminal64.EXE'
a=$(digest '\\?\C:\Quill Terminal\terminal64.exe')
b=$(digest '\\?\C:\quill-b\terminal64.exe')
m=$(digest "$missing")

cd "$drive/tests"
wine 'C:\tests\windows_test.exe' \
    --terminal "$terminal" --second "$second" --portable 'C:\quill-p\terminal64.exe' \
    --missing "$missing" \
    --digest "$missing=$m" \
    --digest "$terminal=$a" \
    --digest 'c:\QUILL TERMINAL\TERMINAL64.EXE='"$a" \
    --digest 'C:/Quill Terminal/terminal64.exe='"$a" \
    --digest '..\Quill Terminal\.\terminal64.exe='"$a" \
    --digest "$second=$b"
