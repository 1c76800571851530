#!/usr/bin/env bash
# Cross-builds Kelvara for 64-bit Windows on Debian 12, tests it under Wine and packs
# kelvara-win64.zip. Called as `scripts/kelvara.sh windows`.
#
# Debian has no Qt for Windows, so the first run builds what the program links from Debian's own
# source packages (Qt 6.4.2 Core/Gui/Widgets/Test, zlib, libcurl with the Windows TLS backend,
# pugixml; OpenSSL only for the tests' loopback double, never shipped) and keeps it in
# $KELVARA_WIN_CACHE (default ~/.cache/kelvara-win64), outside the repository; later runs reuse it.
#   KELVARA_WIN_CACHE   where the cross toolchain lives
#   KELVARA_WIN_STEPS   "toolchain" stops after the toolchain; default: everything
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
CACHE=${KELVARA_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kelvara-win64}
PREFIX=$CACHE/prefix
SRC=$CACHE/src
TRIPLE=x86_64-w64-mingw32
JOBS=$(nproc)
BUILD=${KELVARA_WIN_BUILD_DIR:-$ROOT/build-win64}
mkdir -p "$CACHE" "$PREFIX" "$SRC"

WIN_PACKAGES=(mingw-w64 wine64 zip dpkg-dev perl make cmake ninja-build pkg-config
              qt6-base-dev qt6-base-dev-tools qt6-svg-dev googletest libcpp-httplib-dev xvfb xauth)

sudo_if_needed() { if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi; }

install_missing() {
    local missing=()
    for p in "${WIN_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    sudo_if_needed apt-get update -qq
    DEBIAN_FRONTEND=noninteractive sudo_if_needed apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Each finished step leaves a stamp, so a second run only does what is missing.
done_step() { [ -f "$CACHE/stamps/$1" ]; }
mark_step() { mkdir -p "$CACHE/stamps"; touch "$CACHE/stamps/$1"; }

# apt-get source through a sources folder of our own: the machine's apt sources with their type
# switched to source packages. The machine's own apt configuration is left as it was.
SOURCE_PACKAGES=(qt6-base zlib curl pugixml openssl cpp-httplib)

fetch_sources() {
    local pkg missing=()
    for pkg in "${SOURCE_PACKAGES[@]}"; do
        [ -n "$(srcdir "$pkg")" ] || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local apt=$CACHE/apt
    rm -rf "$apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/archives/partial"
    : >"$apt/empty.list"
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -nE 's/^deb([[:space:]])/deb-src\1/p' "$f" >"$apt/sources.list.d/$(basename "$f").list"
    done
    local opts=(-o "Dir::Etc::SourceList=$apt/empty.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::Archives=$apt/archives"
                -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root")
    apt-get "${opts[@]}" update -qq
    # The newest version first; when the archive no longer serves its files (a security update
    # replaced), the release's own.
    for pkg in "${missing[@]}"; do
        (cd "$SRC" && { apt-get "${opts[@]}" source -qq "$pkg" || apt-get "${opts[@]}" source -qq "$pkg/bookworm"; })
    done
}

srcdir() { find "$SRC" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | sort | tail -n 1; }

write_toolchain() {
    cat >"$CACHE/mingw.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $TRIPLE-gcc-posix)
set(CMAKE_CXX_COMPILER $TRIPLE-g++-posix)
set(CMAKE_RC_COMPILER $TRIPLE-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$TRIPLE $PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

cmake_cross() {
    local name=$1 src=$2; shift 2
    cmake -S "$src" -B "$CACHE/build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$CACHE/mingw.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX" "$@"
    cmake --build "$CACHE/build/$name" -j "$JOBS"
    cmake --install "$CACHE/build/$name"
}

QT_HOST=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)

# Qt 6.4.2 turns its dynamic OpenGL on for Windows even with OpenGL off, and the platform plugin
# then reaches for an OpenGL context it does not have: its one use there is guarded by OpenGL too.
patch_qtbase() {
    local f
    f="$(srcdir qt6-base)/src/plugins/platforms/windows/qwindowswindow.cpp"
    grep -q 'QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)' "$f" ||
        sed -i '/^static inline bool isSoftwareGl()/,/^}/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$f"
}

build_qtbase() {
    done_step qtbase && return 0
    patch_qtbase
    # Only what the programs link: no OpenGL, D-Bus, SQL, printing or network module.
    cmake_cross qtbase "$(srcdir qt6-base)" "${QT_HOST[@]}" -DBUILD_SHARED_LIBS=ON \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_icu=OFF -DFEATURE_system_zlib=OFF \
        -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_libpng=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF \
        -DFEATURE_sql=OFF -DFEATURE_testlib=ON -DFEATURE_widgets=ON
    mark_step qtbase
}

# zlib, for answers the service sends compressed (as the Linux build's libcurl takes them).
# Linked into libcurl statically: Debian's source has no resource file for the DLL.
build_zlib() {
    done_step zlib && return 0
    local b=$CACHE/build/zlib
    cmake -S "$(srcdir zlib)" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$CACHE/mingw.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON >/dev/null
    cmake --build "$b" -j "$JOBS" --target zlibstatic
    mkdir -p "$PREFIX/include" "$PREFIX/lib"
    cp "$(srcdir zlib)/zlib.h" "$b/zconf.h" "$PREFIX/include/"
    cp "$b/libzlibstatic.a" "$PREFIX/lib/libz.a"
    mark_step zlib
}

build_curl() {
    done_step curl-zlib && return 0
    # Schannel: the system's TLS and certificate store, so no OpenSSL is shipped.
    cmake_cross curl "$(srcdir curl)" -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_DISABLE_LDAP=ON -DUSE_LIBIDN2=OFF \
        -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=ON -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
        -DENABLE_MANUAL=OFF -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none
    mark_step curl-zlib
}

build_pugixml() {
    done_step pugixml && return 0
    cmake_cross pugixml "$(srcdir pugixml)" -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF
    mark_step pugixml
}

build_gtest() {
    done_step gtest && return 0
    cmake_cross gtest /usr/src/googletest -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=ON
    mark_step gtest
}

# OpenSSL serves only the tests' loopback double (cpp-httplib); it is linked statically into the
# test programs and never shipped.
build_openssl() {
    done_step openssl && return 0
    local b=$CACHE/build/openssl
    rm -rf "$b"
    cp -a "$(srcdir openssl)" "$b"
    (cd "$b" && ./Configure mingw64 --cross-compile-prefix=$TRIPLE- --prefix="$PREFIX" --libdir=lib \
        no-shared no-tests >/dev/null && make -s -j "$JOBS" build_libs \
        && make -s install_dev)
    mark_step openssl
}

# The tests' loopback double compiles cpp-httplib's single header (Debian's is split).
install_httplib() {
    mkdir -p "$PREFIX/include"
    cp "$(srcdir cpp-httplib)/httplib.h" "$PREFIX/include/httplib.h"
}

toolchain() {
    fetch_sources
    write_toolchain
    local start=$SECONDS
    build_qtbase
    build_zlib
    build_curl
    build_pugixml
    build_gtest
    build_openssl
    install_httplib
    echo "Windows toolchain ready in $CACHE ($((SECONDS - start)) s this run)"
}

# ---- Kelvara itself ----------------------------------------------------------------------------

# The tree's pictures as PNG files, rendered on this machine with Debian's Qt Svg (the cross
# toolchain has no Qt Svg).
render_tree_images() {
    mkdir -p "$BUILD"
    g++ -std=c++17 -fPIC -O1 "$ROOT/tools/render_tree_images.cpp" -o "$BUILD/render_tree_images" \
        $(pkg-config --cflags --libs Qt6Svg Qt6Gui Qt6Core)
    QT_QPA_PLATFORM=offscreen "$BUILD/render_tree_images" "$ROOT/src/ui/tree_images.qrc" \
        "$BUILD/tree-images"
}

build_kelvara() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    "$PREFIX/bin/qt-cmake" -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$PREFIX" "${QT_HOST[@]}" -DKELVARA_BUILD_BENCH=OFF \
        -DKELVARA_TREE_IMAGES_PNG_DIR="$BUILD/tree-images" "${launcher[@]}" >/dev/null
    cmake --build "$BUILD" -j "$JOBS"
}

# The DLLs a program needs that Windows does not have, found by reading its import table.
DLL_DIRS=("$PREFIX/bin" "/usr/lib/gcc/$TRIPLE/12-posix" "/usr/$TRIPLE/lib")
copy_dlls() {
    local dest=$1; shift
    local queue=("$@") seen=" " file dll dir
    while [ ${#queue[@]} -gt 0 ]; do
        file=${queue[0]}
        queue=("${queue[@]:1}")
        while read -r dll; do
            case "$seen" in *" ${dll,,} "*) continue ;; esac
            seen+="${dll,,} "
            for dir in "${DLL_DIRS[@]}"; do
                if [ -f "$dir/$dll" ]; then
                    cp -f "$dir/$dll" "$dest/"
                    queue+=("$dir/$dll")
                    break
                fi
            done  # not found: a DLL of the system
        done < <($TRIPLE-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
    done
}

# Qt's plugins: the Windows platform (offscreen too, for the tests) and the native style.
copy_plugins() {
    local dest=$1
    mkdir -p "$dest/platforms" "$dest/styles"
    cp -f "$PREFIX/plugins/platforms/qwindows.dll" "$dest/platforms/"
    [ "${2:-}" = tests ] && cp -f "$PREFIX/plugins/platforms/qoffscreen.dll" "$dest/platforms/"
    if [ -f "$PREFIX/plugins/styles/qwindowsvistastyle.dll" ]; then
        cp -f "$PREFIX/plugins/styles/qwindowsvistastyle.dll" "$dest/styles/"
    fi
    # Qt's own texts in Russian (platform-independent files from Debian's translations).
    mkdir -p "$dest/translations"
    if [ -f /usr/share/qt6/translations/qtbase_ru.qm ]; then
        cp -f /usr/share/qt6/translations/qtbase_ru.qm "$dest/translations/"
    fi
    printf '[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n' >"$dest/qt.conf"
}

WINE=/usr/lib/wine/wine64
wine_run() {
    # No Mono or Gecko: nothing here needs them, and their installers would ask.
    WINEPREFIX=$CACHE/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" "$@"
}

run_tests_under_wine() {
    local bin=$BUILD/bin
    copy_dlls "$bin" "$bin"/*.exe "$PREFIX/plugins/platforms/qoffscreen.dll" \
        "$PREFIX/plugins/platforms/qwindows.dll"
    copy_plugins "$bin" tests
    [ -d "$CACHE/wineprefix" ] || wine_run wineboot --init >/dev/null 2>&1 || true
    local status=0
    for t in kelvara_tests kelvara_ui_tests; do
        echo "== $t.exe under Wine"
        (cd "$bin" && QT_QPA_PLATFORM=offscreen wine_run "./$t.exe" --gtest_brief=1) || status=1
    done
    return $status
}

# The same export from the same sample as the Linux build, byte for byte.
compare_export_with_linux() {
    local linux=${KELVARA_BUILD_DIR:-$ROOT/build}/bin/kelvara-cli
    if [ ! -x "$linux" ]; then
        echo "(no Linux build at $linux: export comparison skipped)"
        return 0
    fi
    local dir
    dir=$(mktemp -d)
    cp "$ROOT/data/regions.txt" "$dir/"
    (cd "$BUILD/bin" && wine_run ./kelvara-cli.exe --import 'samples\queries-ru.csv' \
        --codepage windows-1251 --output "$(winepath_of "$dir/win.csv")") >/dev/null
    (cd "$(dirname "$linux")" && ./kelvara-cli --import samples/queries-ru.csv \
        --codepage windows-1251 --output "$dir/linux.csv") >/dev/null
    if cmp "$dir/win.csv" "$dir/linux.csv"; then
        echo "kelvara-cli.exe and the Linux kelvara-cli wrote the same export ($(wc -c <"$dir/win.csv") bytes)"
    else
        echo "the Windows and Linux exports differ: $dir" >&2
        return 1
    fi
    rm -rf "$dir"
}
winepath_of() { echo "Z:${1//\//\\}"; }

package() {
    local stage=$BUILD/kelvara-win64
    rm -rf "$stage" "$BUILD/kelvara-win64.zip"
    mkdir -p "$stage"
    cp "$BUILD/bin/kelvara.exe" "$BUILD/bin/kelvara-cli.exe" "$stage/"
    copy_dlls "$stage" "$stage/kelvara.exe" "$stage/kelvara-cli.exe" \
        "$PREFIX/plugins/platforms/qwindows.dll"
    copy_plugins "$stage"
    cp "$ROOT/data/regions.txt" "$ROOT/data/ignored-hosts.txt" "$stage/"
    cp -r "$ROOT/data/samples" "$stage/samples"
    # CR LF and a byte-order mark, so that Notepad shows the Russian part as such.
    { printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$ROOT/docs/windows-readme.txt"; } >"$stage/README.txt"
    (cd "$BUILD" && zip -qr kelvara-win64.zip kelvara-win64)
    echo "Wrote $BUILD/kelvara-win64.zip ($(du -h "$BUILD/kelvara-win64.zip" | cut -f1))"
}

main() {
    install_missing
    toolchain
    [ "${KELVARA_WIN_STEPS:-all}" = toolchain ] && return 0
    render_tree_images
    build_kelvara
    local status=0
    run_tests_under_wine || status=1
    compare_export_with_linux || status=1
    package
    return $status
}

# On one line, so that bash has read all of it before it starts the long build.
main "$@"; exit $?
