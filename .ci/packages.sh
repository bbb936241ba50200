# Sourced by the build and test scripts. Installs the named Debian packages
# that are missing when run as root on a system with apt-get; anywhere else it
# does nothing, and the build says what it lacks.
install_missing_packages() {
    if ! command -v apt-get >/dev/null || [ "$(id -u)" != 0 ]; then
        return 0
    fi
    local need=() package
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || need+=("$package")
    done
    if [ ${#need[@]} -gt 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
    fi
}
