#!/usr/bin/env bash
# Sets up a Debian 12 machine for Kelvara, builds it, and then runs it or its tests.
#   scripts/kelvara.sh run    install what is missing, build, start the program on its sample data
#   scripts/kelvara.sh test   install what is missing, build, run every test; with
#                             KELVARA_SANITIZERS=1 (CI sets it) also under AddressSanitizer +
#                             UndefinedBehaviorSanitizer, the thread tests under ThreadSanitizer,
#                             and each fuzz target for a short time when clang is there; with
#                             KELVARA_WINDOWS=1 also the Windows stage below
#   scripts/kelvara.sh windows cross-build for Windows, test under Wine, write kelvara-win64.zip
#                             (scripts/windows.sh; the first run builds Qt and takes long)
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${KELVARA_BUILD_DIR:-$ROOT/build}
MODE=${1:-run}

PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
          libcurl4-openssl-dev libssl-dev libpugixml-dev libgtest-dev libgmock-dev libbenchmark-dev
          libcpp-httplib-dev xvfb xauth fonts-dejavu-core qt6-translations-l10n)

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
        # On a terminal it prints a summary of the clusters; give --output FILE for the CSV.
        exec "$BUILD/bin/kelvara-cli" --import "$SAMPLE" --method soft --threshold 3
        ;;
    test)
        build "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
        export QT_QPA_PLATFORM=offscreen
        ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"
        if [ "${KELVARA_SANITIZERS:-${CI:-0}}" != "0" ] && [ "${KELVARA_SANITIZERS:-1}" != "0" ]; then
            echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
            build "$BUILD-asan" -DCMAKE_BUILD_TYPE=Debug -DKELVARA_SANITIZE=ON -DKELVARA_BUILD_BENCH=OFF
            ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                ctest --test-dir "$BUILD-asan" --output-on-failure -j "$(nproc)"
            echo "== ThreadSanitizer: the thread tests"
            build "$BUILD-tsan" -DCMAKE_BUILD_TYPE=Debug -DKELVARA_TSAN=ON -DKELVARA_BUILD_GUI=OFF \
                -DKELVARA_BUILD_BENCH=OFF
            TSAN_OPTIONS="halt_on_error=1 suppressions=$ROOT/tests/support/tsan.supp" \
                "$BUILD-tsan/bin/kelvara_tests" \
                --gtest_filter='*Thread*:RunController*:*Grouping*:*Stop*:YandexWorkerOverSockets*:Fetch*'
            if command -v clang++ >/dev/null && [ -x scripts/fuzz.sh ]; then
                echo "== Fuzz targets, ${KELVARA_FUZZ_SECONDS:-30} s each"
                bash scripts/fuzz.sh "${KELVARA_FUZZ_SECONDS:-30}"
            fi
        fi
        if [ "${KELVARA_WINDOWS:-0}" = 1 ]; then
            echo "== The Windows build under Wine"
            KELVARA_BUILD_DIR=$BUILD bash scripts/windows.sh
        fi
        ;;
    windows)
        build "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo  # the Linux export to compare with
        KELVARA_BUILD_DIR=$BUILD exec bash scripts/windows.sh
        ;;
    *)
        echo "usage: $0 run|test|windows" >&2
        exit 2
        ;;
esac
