# Shared by scripts/run, scripts/test and scripts/screenshot: install what is missing, build.
# shellcheck shell=bash

KELVOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages to build Kelvor, run it, and run its tests.
KELVOR_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
    libsqlite3-dev libxcb1-dev libgtest-dev libgmock-dev)
KELVOR_RUN_PACKAGES=(libqt6widgets6 qt6-qpa-plugins fonts-dejavu-core)
# openbox: a real window manager for the frame tests; qt6-gtk-platformtheme: GTK's themes, a
# dark one among them, for Qt programs; libsm-dev, libice-dev: the test-only session manager
# that speaks XSMP to the real program; weston, xwayland, qt6-wayland: a Wayland desktop, the
# program through XWayland and natively; dbus-daemon: private session and system buses;
# python3-dbus, python3-gi: the test-only lock-screen services on them.
KELVOR_TEST_PACKAGES=(sqlite3 xvfb xauth xdotool x11-utils faketime imagemagick
    desktop-file-utils appstream libglib2.0-bin openbox qt6-gtk-platformtheme libsm-dev libice-dev
    weston xwayland qt6-wayland dbus-daemon python3-dbus python3-gi)
# What cpack needs to make the Debian package and compute its dependencies.
KELVOR_PACKAGE_PACKAGES=(dpkg-dev file)
# What the install test runs on the package when it is there: lintian.
KELVOR_PACKAGE_CHECK_PACKAGES=(lintian)
# What bench/run needs besides the build: an X server, the map watcher's libxcb headers,
# strace for wake-up and fsync counts, procps for pgrep, valgrind to count instructions,
# the sqlite3 shell as the floor of printing the session history, a session bus for the
# second start.
KELVOR_BENCH_PACKAGES=(xvfb xauth x11-utils libxcb1-dev strace procps valgrind sqlite3
    dbus-daemon dbus-bin)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs only the packages that are not installed yet; nothing at all on a ready machine.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    # Waits for another apt-get (a second script, an unattended upgrade) rather than failing.
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends \
        "${missing[@]}"
}

# Configures build/ once (or with the given cache options into the given folder).
configure_kelvor() {
    local dir=${1:-$KELVOR_ROOT/build}
    shift || true
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$KELVOR_ROOT" -B "$dir" -G Ninja "$@"
    fi
}

# Configures as above, then builds everything.
build_kelvor() {
    local dir=${1:-$KELVOR_ROOT/build}
    configure_kelvor "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}
