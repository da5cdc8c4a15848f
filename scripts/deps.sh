# Debian packages Vozmo needs; sourced by the run and test commands.
VOZMO_BUILD_PACKAGES="cmake make g++ pkg-config qt6-base-dev libgl-dev libcurl4-openssl-dev
 nlohmann-json3-dev libicu-dev libpulse-dev libsamplerate0-dev libx11-dev libxi-dev libxtst-dev
 libxfixes-dev libatspi2.0-dev libcanberra-dev libwayland-dev wayland-protocols libxkbcommon-dev"
VOZMO_RUN_PACKAGES="pulseaudio-utils procps xdg-utils sound-theme-freedesktop"
VOZMO_TEST_PACKAGES="libgtest-dev libgmock-dev libbenchmark-dev xvfb openbox xdotool xclip pulseaudio
 espeak-ng dbus dbus-x11 at-spi2-core python3 curl libgtk-3-bin python3-gi gir1.2-gtk-3.0
 clang-format x11-utils iproute2 util-linux sway wtype wl-clipboard xwayland
 kwin-wayland qtwayland5 xdg-desktop-portal xdg-desktop-portal-kde"
# GSettings, where GNOME keeps its custom shortcuts.
VOZMO_BUILD_PACKAGES="$VOZMO_BUILD_PACKAGES libglib2.0-dev"
# The GNOME session test: the shell with its portals and settings daemon (which runs custom
# shortcuts), and Python's D-Bus and accessibility bindings that answer the portal's dialog.
VOZMO_TEST_PACKAGES="$VOZMO_TEST_PACKAGES gnome-shell mutter xdg-desktop-portal-gnome
 gnome-settings-daemon gir1.2-atspi-2.0 python3-dbus"
# Making and checking the Debian package; the tests of scripts/install-servers need git.
VOZMO_PACKAGE_PACKAGES="dpkg-dev file lintian appstream desktop-file-utils librsvg2-bin man-db git"
# The fuzz build: clang with its libFuzzer and sanitizer runtimes, llvm-symbolizer for reports.
VOZMO_FUZZ_PACKAGES="clang libclang-rt-14-dev llvm-14"

# SHA-256 of the model files (libcrypto); the download tests make their certificates with openssl.
VOZMO_BUILD_PACKAGES="$VOZMO_BUILD_PACKAGES libssl-dev"
VOZMO_TEST_PACKAGES="$VOZMO_TEST_PACKAGES openssl"

# Installs the missing packages among "$@" when run as root; otherwise prints the one
# apt-get line that is needed and fails.
vozmo_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "Faltan paquetes. Instálalos con:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Instalando: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

vozmo_build() {
    local dir="$1"
    shift
    cmake -S "$VOZMO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
        cmake --build "$dir" -j2
}

# Like vozmo_build, but only the given target (a fuzz build needs no application).
vozmo_build_targets() {
    local dir="$1" target="$2"
    shift 2
    cmake -S "$VOZMO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
        cmake --build "$dir" -j2 --target "$target"
}
