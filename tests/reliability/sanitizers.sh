#!/usr/bin/env bash
# Builds the extension and the bundled terminal with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang), then runs the whole test suite against
# that build. The interpreter runs with the sanitizer runtime preloaded and
# leak detection off (it never frees everything); every terminal the tests
# start runs with leak detection on. Any sanitizer report fails the run.
#
#   SANITIZER_BUILD   build folder (default build/sanitizers)
#   extra arguments   passed to pytest (default: the whole suite)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${SANITIZER_BUILD:-$root/build/sanitizers}

. .ci/packages.sh
install_missing_packages clang libclang-rt-14-dev cmake libssl-dev libsqlite3-dev
clangxx=$(command -v clang++-14 || command -v clang++)
runtime=$("$clangxx" -print-file-name=libclang_rt.asan-x86_64.so)
if [ ! -f "$runtime" ]; then
    echo "no AddressSanitizer runtime at $runtime" >&2
    exit 1
fi

sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
venv="$build/venv"
mkdir -p "$build"
if [ ! -x "$venv/bin/python" ]; then
    python3 -m venv "$venv"
    "$venv/bin/pip" install -q --upgrade pip
fi
# The shared runtime, so that the interpreter (which cannot be rebuilt) and
# the extension use one copy; the terminal finds it through its run path.
"$venv/bin/pip" install -q "$root[test]" \
    -C build-dir="$build/wheel" \
    -C cmake.build-type=RelWithDebInfo \
    -C cmake.define.CMAKE_CXX_COMPILER="$clangxx" \
    -C cmake.define.CMAKE_CXX_FLAGS="$sanitize -fno-omit-frame-pointer" \
    -C cmake.define.CMAKE_SHARED_LINKER_FLAGS="$sanitize -shared-libasan" \
    -C cmake.define.CMAKE_EXE_LINKER_FLAGS="$sanitize -shared-libasan -Wl,-rpath,$(dirname "$runtime")"

site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
cp "$root/tests/reliability/sanitizer_env.py" "$site/"
echo "import sanitizer_env" >"$site/quillmark_sanitizer_env.pth"

logs="$build/reports"
rm -rf "$logs"
mkdir -p "$logs"
common="allocator_may_return_null=1:print_stacktrace=1:log_path=$logs/report"
python_options="detect_leaks=0:$common"
wrapper="$build/python"
cat >"$wrapper" <<EOF
#!/bin/sh
LD_PRELOAD="$runtime" ASAN_OPTIONS="$python_options" exec "$venv/bin/python" "\$@"
EOF
chmod +x "$wrapper"

export QUILLMARK_SANITIZED=1
export QUILLMARK_PYTHON_WRAPPER="$wrapper"
export QUILLMARK_CHILD_ASAN_OPTIONS="detect_leaks=1:$common"
export LSAN_OPTIONS="suppressions=$root/tests/reliability/lsan_terminal.supp"
export UBSAN_OPTIONS="print_stacktrace=1:log_path=$logs/report"

status=0
"$wrapper" -m pytest -q -p no:cacheprovider "${@:-tests}" || status=1
if compgen -G "$logs/report*" >/dev/null; then
    echo "=== sanitizer reports ==="
    cat "$logs"/report*
    status=1
else
    echo "no sanitizer report"
fi
exit $status
