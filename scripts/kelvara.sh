#!/usr/bin/env bash
# Sets up a Debian 12 machine for Kelvara, builds it, and then runs it or its tests.
#   scripts/kelvara.sh run    install what is missing, build, start the program on its sample data
#   scripts/kelvara.sh test   install what is missing, build, run every test
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${KELVARA_BUILD_DIR:-$ROOT/build}
MODE=${1:-run}

PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libcurl4-openssl-dev libssl-dev libpugixml-dev libgtest-dev libgmock-dev libbenchmark-dev
          libcpp-httplib-dev xvfb xauth fonts-dejavu-core)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

install_missing

case "$MODE" in
    run)
        build "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
        SAMPLE="$BUILD/bin/samples/queries-ru.csv"
        if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
            # The window, with the sample imported and clustered as by its import button.
            exec "$BUILD/bin/kelvara" --import "$SAMPLE"
        fi
        echo "No display: running the same job with kelvara-cli instead of the window." >&2
        exec "$BUILD/bin/kelvara-cli" --import "$SAMPLE" --method soft --threshold 3
        ;;
    test)
        build "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
        export QT_QPA_PLATFORM=offscreen
        ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"
        ;;
    *)
        echo "usage: $0 run|test" >&2
        exit 2
        ;;
esac
