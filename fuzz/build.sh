# Sourced by fuzz/run.sh and fuzz/campaign.sh with $root and $build set:
# builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into $build and exports what they need to run.
. "$root/.ci/packages.sh"
packages=(clang libclang-rt-14-dev cmake libssl-dev libsqlite3-dev)
if [ "$(command -v python3)" = /usr/bin/python3 ]; then
    packages+=(python3-dev python3-venv)
fi
install_missing_packages "${packages[@]}"
clangxx=$(command -v clang++-14 || command -v clang++)

# The reply target embeds the interpreter: it needs NumPy importable and its
# headers, taken from a virtual environment of its own.
venv="$build/venv"
if [ ! -x "$venv/bin/python" ]; then
    python3 -m venv "$venv"
    "$venv/bin/pip" install -q numpy
fi
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$clangxx" \
    -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$build" -j2 >/dev/null

python_home=$("$venv/bin/python" -c 'import sys; print(sys.base_prefix)')
site_packages=$("$venv/bin/python" -c 'import numpy, os; print(os.path.dirname(os.path.dirname(numpy.__file__)))')
export PYTHONHOME="$python_home" PYTHONPATH="$site_packages"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1"

# A reply may announce up to 4 GiB and the module may allocate that much
# (never more): only a larger allocation is a fault.
fuzz_options=(-max_len=65536 -timeout=20 -malloc_limit_mb=4097)
