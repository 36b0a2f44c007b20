#!/usr/bin/env bash
# Vidmorph's set-up, build and test driver for Debian 12.
#   ./build.sh run [FILE...]   install what is missing, build (Release) and start Vidmorph
#   ./build.sh test            install what is missing, run every test in a Release build and
#                              again under ASan+UBSan
#   ./build.sh bench           install what is missing, build (Release) and print the benchmarks
# Works as root, or as a normal user with sudo.
set -euo pipefail
cd "$(dirname "$0")"

RUN_PACKAGES=(cmake make g++ pkg-config dpkg-dev qt6-base-dev qt6-multimedia-dev libqt6svg6 libgl-dev ffmpeg
    libopencore-amrnb-dev libavformat-dev libavcodec-dev libavutil-dev fonts-wqy-microhei
    qt6-translations-l10n xdg-utils)
TEST_PACKAGES=(xvfb xauth openbox x11-utils xdotool bc desktop-file-utils file clang libclang-rt-14-dev
    locales lintian devscripts appstream man-db groff-base parallel openssh-server openssh-client
    mplayer dbus-daemon slurm-wlm munge)
# What the benchmarks compare against, and the load they put beside the encoders.
BENCH_PACKAGES=(handbrake-cli stress-ng)

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DVIDMORPH_WERROR=ON "$@"
    cmake --build "$dir" -j"$(nproc)"
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
run)
    install_missing "${RUN_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DVIDMORPH_TESTS=OFF
    exec build/Vidmorph/vidmorph "$@"
    ;;
test)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    # Twice: lifetime and timing faults hide in one build and show in the other. The fuzzers
    # run once, in the sanitizer pass.
    configure_and_build build -DCMAKE_BUILD_TYPE=Release
    ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 900 -E '^fuzz_'
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVIDMORPH_SANITIZE=ON
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 900
    ;;
bench)
    install_missing "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=Release
    bench/run build
    ;;
*)
    sed -n '2,7p' "$0"
    exit 2
    ;;
esac
