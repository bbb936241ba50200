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
# No .NET or HTML engine is wanted, so Wine never offers to install one.
export WINEDLLOVERRIDES="mscoree,mshtml="

install_tools() {
    local need=()
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
    # wine runs 64-bit programs only with its 64-bit loader beside it.
    if ! command -v wine >/dev/null ||
        { ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; }; then
        need+=(wine wine64)
    fi
    command -v cmake >/dev/null || need+=(cmake)
    command -v tclsh >/dev/null || need+=(tcl)
    python3 -m pip --version >/dev/null 2>&1 || need+=(python3 python3-pip)
    command -v xz >/dev/null || need+=(xz-utils)
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

# Downloads the source package $1 of this Debian release into folder $2,
# through a private source list: the system's apt setup is left as it is.
download_source() {
    local package=$1 work=$2
    mkdir -p "$work/lists/partial" "$work/parts"
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    cat >"$work/parts/source.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $release
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    local apt=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
        -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
    apt-get "${apt[@]}" update -qq
    (cd "$work" && apt-get "${apt[@]}" source --download-only -qq "$package")
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
    mkdir -p "$out"
    download_source sqlite3 "$work"
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

# What a Windows build of the extension needs and no Windows Python on this
# machine provides: CPython's headers with the Windows pyconfig.h (from
# Debian's source package) and NumPy's headers for Windows (from its wheel).
fetch_python_headers() {
    local out=$build/python-win
    if [ -f "$out/Include/Python.h" ] && [ -f "$out/PC/pyconfig.h" ] &&
        [ -f "$out/numpy/numpy/ndarrayobject.h" ]; then
        return
    fi
    local work=$build/python-src
    rm -rf "$work" "$out"
    mkdir -p "$out"
    download_source "python$python_version" "$work"
    tar -xzf "$work"/python"$python_version"_*.orig.tar.gz -C "$work" --wildcards \
        '*/Include/*' '*/PC/pyconfig.h'
    local tree
    tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'Python-*' | head -n1)
    mv "$tree/Include" "$out/Include"
    mkdir -p "$out/PC"
    mv "$tree/PC/pyconfig.h" "$out/PC/pyconfig.h"
    python3 -m pip download -q --no-deps --only-binary=:all: --platform win_amd64 \
        --python-version "$python_version" -d "$work/wheel" "numpy>=2"
    python3 - "$work"/wheel/numpy-*.whl "$out/numpy" <<'UNPACK'
import sys, zipfile
prefix = "numpy/_core/include/"
with zipfile.ZipFile(sys.argv[1]) as wheel:
    for name in wheel.namelist():
        if name.startswith(prefix) and not name.endswith("/"):
            target = sys.argv[2] + "/" + name[len(prefix):]
            import os
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(wheel.read(name))
UNPACK
    rm -rf "$work"
}

# The extension compiled and linked for Windows, against an import library
# of exactly the interpreter functions it calls. Nothing here can load it: no
# Windows CPython is to be had, so this is a compile-and-link check.
build_extension() {
    local out=$build/extension
    local headers=$build/python-win
    local tag=${python_version/./}
    rm -rf "$out"
    mkdir -p "$out"
    ls "$root"/src/module/*.cpp "$root"/src/api/*.cpp |
        xargs -P 2 -I{} sh -c 'x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra \
            -Wno-missing-field-initializers -Werror -I"$0/src" -I"$1/Include" -I"$1/PC" \
            -I"$1/numpy" -DNPY_NO_DEPRECATED_API=NPY_1_16_API_VERSION \
            -DNPY_TARGET_VERSION=NPY_1_16_API_VERSION -DPY_ARRAY_UNIQUE_SYMBOL=quillmark_ARRAY_API \
            -DPY_SSIZE_T_CLEAN -c "{}" -o "$2/$(basename "{}" .cpp).o"' "$root" "$headers" "$out"
    {
        echo "LIBRARY python$tag.dll"
        echo "EXPORTS"
        x86_64-w64-mingw32-nm -u "$out"/*.o | sed -n 's/.*__imp_\(_*Py[A-Za-z0-9_]*\)$/\1/p' |
            sort -u
    } >"$out/python$tag.def"
    x86_64-w64-mingw32-dlltool -d "$out/python$tag.def" -l "$out/libpython$tag.a"
    x86_64-w64-mingw32-g++-posix -shared -static -o "$out/_core.cp$tag-win_amd64.pyd" \
        "$out"/*.o "$cross/src/link/libquillmark_link.a" \
        "$cross/src/wire/libquillmark_wire.a" "$out/libpython$tag.a" \
        -ladvapi32 -luser32 -lshell32 -lole32 -luuid
    local exports
    exports=$(x86_64-w64-mingw32-objdump -p "$out/_core.cp$tag-win_amd64.pyd")
    if ! grep -q 'PyInit__core' <<<"$exports"; then
        echo "run.sh: the extension exports no PyInit__core" >&2
        exit 1
    fi
    echo "built $(basename "$out/_core.cp$tag-win_amd64.pyd") (compile-and-link check only)"
}

python_version=3.11
install_tools
build_sqlite
fetch_python_headers

cross=$build/cross
cmake -S "$root" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_PYTHON=OFF -DQUILLMARK_WERROR=ON \
    -DSQLite3_INCLUDE_DIR="$build/sqlite" -DSQLite3_LIBRARY="$build/sqlite/libsqlite3.a" >/dev/null
cmake --build "$cross" -j 2 -- --no-print-directory >/dev/null
build_extension

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
# Passed as text it would depend on the locale: the program names this path
# itself, with a capital E acute.
accented=$(python3 -c 'import hashlib
path = "\\\\?\\C:\\Quill T\u00c9rminal\\terminal64.exe"
print(hashlib.sha256(path.lower().encode("utf-16-le")).hexdigest().upper())')

cd "$drive/tests"
wine 'C:\tests\windows_test.exe' \
    --terminal "$terminal" --second "$second" --portable 'C:\quill-p\terminal64.exe' \
    --missing "$missing" --accented-digest "$accented" \
    --digest "$missing=$m" \
    --digest "$terminal=$a" \
    --digest 'c:\QUILL TERMINAL\TERMINAL64.EXE='"$a" \
    --digest 'C:/Quill Terminal/terminal64.exe='"$a" \
    --digest '..\Quill Terminal\.\terminal64.exe='"$a" \
    --digest "$second=$b"
