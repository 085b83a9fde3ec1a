#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, run and test, if any are missing.
# As root it runs apt-get; otherwise it prints the one command to run.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libcurl4-openssl-dev
    libmicrohttpd-dev prometheus
    # Qt's translation tools (lupdate, lrelease, their CMake functions) and Qt's own translations.
    qt6-l10n-tools qt6-tools-dev qt6-translations-l10n
    # The status page's password hashes (yescrypt).
    libcrypt-dev
    # The MQTT client's library; the tests start brokers of their own on free ports, so the
    # system's service (loopback port 1883) may run or not.
    libmosquitto-dev mosquitto mosquitto-clients
    python3 python3-aiosmtpd openssl git
    qtkeychain-qt6-dev gnome-keyring dbus-daemon dbus-bin libsecret-tools
    xvfb xauth imagemagick fonts-noto-cjk
    iproute2 util-linux procps
    libsystemd-dev systemd
    librsvg2-bin desktop-file-utils appstream dpkg-dev man-db file lintian debootstrap
    clang libclang-rt-14-dev curl
    # The status page's browser tests (headless Chromium driven by Selenium).
    chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
