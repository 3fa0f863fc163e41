#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./run.sh test [ctest arguments]   build and run every test under Wine, two
#                                     cases at a time, each in a Wine prefix of
#                                     its own (-jN: N at a time; -j1: one at a
#                                     time in the first prefix only)
#   ./run.sh demo [--tampered]        start the extension in the reference host
#                                     against the embedded sample site, signed
#                                     with a key the build made (--tampered:
#                                     one file changed after signing)
#   ./run.sh bench [options]          build and run the benchmark under Wine
#                                     (./run.sh bench --help lists its options)
#   ./run.sh soak [CYCLES] [options]  build and run the soak under Wine: CYCLES
#                                     (5000) hostile start-ups, each loading and
#                                     unloading the library; fails on a crash, a
#                                     hang or growth (./run.sh soak --help)
#   ./run.sh crash [POINTS] [options] build and run the crash test under Wine:
#                                     kill the host at POINTS (100) instants of
#                                     a first install and an update, then check
#                                     the next starts (./run.sh crash --help)
#   ./run.sh build                    only install, set up and build
#   ./run.sh fuzz [SECONDS]           build the fuzz targets natively (clang,
#                                     libFuzzer) and run each for SECONDS (60)
# BUILD_DIR (default ./build) selects the build tree; the Wine prefixes live in
# it. Commands that use Wine wait for one another in the same build tree.
# BUILD_TARGETS limits what is built (space separated target names).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
PREFIX=$BUILD_DIR/wineprefix
cmd=${1:-}
[ $# -gt 0 ] && shift

export WINEARCH=win32
export WINEPREFIX=$PREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

log() { printf '[run.sh] %s\n' "$*" >&2; }

packages=(g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 xvfb cmake googletest
          mscompress python3 python3-pefile openssl x11-apps imagemagick gcab locales fonts-wqy-microhei fonts-wine)
# The fuzz targets build natively with clang and libFuzzer (the runtime is in
# libclang-rt-14-dev); the test run replays their corpora.
fuzz_packages=(cmake clang libclang-rt-14-dev)

# ensure_packages [package...]: the project's packages by default.
ensure_packages() {
    local missing=()
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${packages[@]}")
    for p in "${wanted[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine runs 32-bit Linux programs (wineserver32, the loader). Some kernels
# have the i386 compatibility mode switched off, or cannot offer it at all
# (some virtual machines); there the kernel refuses every 32-bit program with
# "Exec format error". Such programs then run under qemu's user-mode
# emulation, registered with binfmt_misc. qemu before 8.1 cannot place
# Wine's fixed address reservations (MAP_FIXED_NOREPLACE), so Debian 12
# takes qemu from its backports.
QEMU_I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
QEMU_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

ensure_i386_exec() {
    /usr/lib/wine/wineserver32 --version >/dev/null 2>&1 && return 0
    log "this kernel does not run 32-bit programs; running them through qemu-i386"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    local have
    have=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
    if [ -z "$have" ] || dpkg --compare-versions "${have#*:}" lt 8.1; then
        if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
            echo 'deb http://deb.debian.org/debian bookworm-backports main' |
                $sudo tee /etc/apt/sources.list.d/bookworm-backports.list >/dev/null
        fi
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            -t bookworm-backports qemu-user-static >/dev/null
    fi
    local bm=/proc/sys/fs/binfmt_misc
    [ -e "$bm/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$bm"
    # The F flag keeps the interpreter file open: re-register so that the
    # entry names the qemu just installed.
    [ -e "$bm/qemu-i386" ] && echo -1 | $sudo tee "$bm/qemu-i386" >/dev/null
    printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$QEMU_I386_MAGIC" "$QEMU_I386_MASK" |
        $sudo tee "$bm/register" >/dev/null
    if ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
        log "32-bit programs still do not run"; exit 1
    fi
}

configure_and_build() {
    if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
        log "configuring $BUILD_DIR"
        cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake" \
            -DGPC_WINE_PREFIX="$PREFIX" >/dev/null
    fi
    log "building"
    local targets=()
    for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
    if ! cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}" >"$BUILD_DIR/build.log" 2>&1; then
        grep -v -E '^\[ *[0-9]+%\]' "$BUILD_DIR/build.log" | tail -n 80
        log "build failed (whole log: $BUILD_DIR/build.log)"
        exit 1
    fi
}

# Every command that uses the build tree's Wine prefixes holds this lock, so
# that a second one waits instead of stopping the first one's Wine servers.
# flock -o keeps the lock in flock itself: the Wine servers and test servers
# this run leaves behind for a while never hold it.
lock_build_dir() {
    [ "${GPC_RUN_LOCKED:-}" = "$BUILD_DIR" ] && return 0
    mkdir -p "$BUILD_DIR"
    local lock=$BUILD_DIR/.run.lock
    if ! flock -n "$lock" true; then
        log "another ./run.sh is using $BUILD_DIR; waiting for it to end"
    fi
    exec env GPC_RUN_LOCKED="$BUILD_DIR" flock -o "$lock" "$0" "$cmd" "$@"
}

XVFB_PID=""
started_wineserver=0
# The prefixes of the test slots after the first (cmake/wine_slot.sh):
# $PREFIX2, $PREFIX3, ...
SLOT_PREFIXES=()

cleanup() {
    if [ "$started_wineserver" = 1 ]; then
        local p
        for p in "$PREFIX" "${SLOT_PREFIXES[@]}"; do
            WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true
        done
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" >/dev/null 2>&1 || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}

start_xvfb() {
    local n
    for n in $(seq 91 190); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
            XVFB_PID=$!
            for _ in $(seq 1 50); do
                [ -e "/tmp/.X11-unix/X$n" ] && break
                sleep 0.1
            done
            if kill -0 "$XVFB_PID" 2>/dev/null; then
                export DISPLAY=":$n"
                return 0
            fi
            XVFB_PID=""
        fi
    done
    log "could not start Xvfb"; exit 1
}

ensure_prefix() {
    if [ ! -f "$PREFIX/system.reg" ]; then
        log "creating Wine prefix $PREFIX"
        mkdir -p "$PREFIX"
        wineboot -i </dev/null >/dev/null 2>&1 || true
        wineserver -w
    fi
    if [ ! -f "$PREFIX/.gpc-settings-2" ]; then
        # Crashes must end the process at once instead of waiting in a debugger.
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /d '' /f </dev/null >/dev/null 2>&1
        # Without a window manager, Wine waits 2 s whenever a managed window is
        # destroyed; unmanaged windows close at once and draw their own caption.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
        wineserver -w
        touch "$PREFIX/.gpc-settings-2"
    fi
    # This Wine does not load the fonts of its data directory (Debian's
    # fonts-wine) but does load those in the prefix's Fonts folder. Without
    # Marlett and Tahoma, caption buttons show letters and dialogs use a
    # stand-in face.
    local fonts=$PREFIX/drive_c/windows/Fonts
    if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/*.ttf "$fonts/"
    fi
}

# slot_prefixes SLOTS: a prefix for each test slot after the first, copied
# from the first once that is ready (about a second), and again whenever
# the first one's settings change.
slot_prefixes() {
    local n p
    SLOT_PREFIXES=()
    for ((n = 2; n <= $1; n++)); do
        p=$PREFIX$n
        if [ ! -f "$p/.gpc-settings-2" ] || [ "$PREFIX/.gpc-settings-2" -nt "$p/.gpc-settings-2" ]; then
            log "copying the Wine prefix for test slot $((n - 1))"
            rm -rf "$p"
            cp -a "$PREFIX" "$p"
        fi
        SLOT_PREFIXES+=("$p")
    done
}

start_wine() {
    ensure_prefix
    # One wineserver per prefix for the whole run keeps each program start
    # cheap; the prefixes warm up side by side.
    local p pids=()
    started_wineserver=1
    for p in "$PREFIX" "${SLOT_PREFIXES[@]}"; do
        WINEPREFIX=$p wineserver -p </dev/null >/dev/null 2>&1 || true
        WINEPREFIX=$p wine cmd /c exit </dev/null >/dev/null 2>&1 &
        pids+=($!)
    done
    wait "${pids[@]}" || true
}

# Folders the test programs make in a prefix's Temp: they remove their own,
# but a program that crashed cannot.
sweep_test_temp() {
    local p
    for p in "$PREFIX" "${SLOT_PREFIXES[@]}"; do
        rm -rf "$p"/drive_c/users/*/Temp/gpctest_* 2>/dev/null || true
    done
}

# test_jobs ARG...: the -j / --parallel value among ctest's arguments ("" when
# none is given).
test_jobs() {
    local prev=""
    local a
    for a in "$@"; do
        case "$prev" in -j|--parallel) printf '%s' "$a"; return 0 ;; esac
        case "$a" in
            -j[0-9]*) printf '%s' "${a#-j}"; return 0 ;;
            --parallel=*) printf '%s' "${a#--parallel=}"; return 0 ;;
        esac
        prev=$a
    done
}

# write_slot_spec FILE SLOTS: ctest's resource file, one "wineprefix" per slot.
write_slot_spec() {
    local n ids=""
    for ((n = 0; n < $2; n++)); do
        ids+="${ids:+, }{\"id\": \"$n\", \"slots\": 1}"
    done
    printf '{"version": {"major": 1, "minor": 0}, "local": [{"wineprefix": [%s]}]}\n' "$ids" >"$1"
}

case "$cmd" in
    test)
        lock_build_dir "$@"
        ensure_packages "${packages[@]}" "${fuzz_packages[@]}"
        ensure_i386_exec
        mkdir -p "$BUILD_DIR"
        # Two cases at a time unless told otherwise; each slot has a Wine
        # prefix (and wineserver) of its own, the Xvfb display is shared.
        jobs=$(test_jobs "$@")
        parallel=()
        if [ -z "$jobs" ]; then
            jobs=2
            parallel=(-j2)
        fi
        case "$jobs" in ''|*[!0-9]*|0) echo "run.sh test: -j needs a number of cases" >&2; exit 2 ;; esac
        trap cleanup EXIT
        start_xvfb
        ensure_prefix
        configure_and_build
        if [ "$jobs" -gt 1 ]; then
            slot_prefixes "$jobs"
            write_slot_spec "$BUILD_DIR/wine_slots.json" "$jobs"
            parallel+=(--resource-spec-file "$BUILD_DIR/wine_slots.json")
        fi
        start_wine
        set +e
        ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 "${parallel[@]}" "$@"
        rc=$?
        set -e
        sweep_test_temp
        exit $rc
        ;;
    demo)
        lock_build_dir "$@"
        ensure_packages
        ensure_i386_exec
        mkdir -p "$BUILD_DIR"
        trap cleanup EXIT
        start_xvfb
        ensure_prefix
        configure_and_build
        start_wine
        exec_rc=0
        python3 "$ROOT/demo/run_demo.py" --build "$BUILD_DIR" "$@" || exec_rc=$?
        exit $exec_rc
        ;;
    bench)
        lock_build_dir "$@"
        ensure_packages
        ensure_i386_exec
        mkdir -p "$BUILD_DIR"
        trap cleanup EXIT
        start_xvfb
        ensure_prefix
        BUILD_TARGETS=${BUILD_TARGETS:-gpc_bench}
        configure_and_build
        start_wine
        # Its figures are printed, never judged: only a failure to set up
        # gives a non-zero exit.
        exec_rc=0
        wine "$BUILD_DIR/bin/gpc_bench.exe" "$@" </dev/null || exec_rc=$?
        exit $exec_rc
        ;;
    soak)
        lock_build_dir "$@"
        ensure_packages
        ensure_i386_exec
        mkdir -p "$BUILD_DIR"
        trap cleanup EXIT
        start_xvfb
        ensure_prefix
        BUILD_TARGETS=${BUILD_TARGETS:-gpc_soak}
        configure_and_build
        start_wine
        exec_rc=0
        wine "$BUILD_DIR/bin/gpc_soak.exe" "$@" </dev/null || exec_rc=$?
        exit $exec_rc
        ;;
    crash)
        # ./run.sh crash [POINTS] [options]: the host killed at POINTS (100)
        # instants of a first install and an update, each followed by the
        # next start and its checks; fails on any breach
        # (./run.sh crash --help lists the options).
        ensure_packages
        ensure_i386_exec
        mkdir -p "$BUILD_DIR"
        trap cleanup EXIT
        start_xvfb
        ensure_prefix
        BUILD_TARGETS=${BUILD_TARGETS:-gpc_crash}
        configure_and_build
        start_wine
        exec_rc=0
        wine "$BUILD_DIR/bin/gpc_crash.exe" "$@" </dev/null || exec_rc=$?
        exit $exec_rc
        ;;
    build)
        lock_build_dir "$@"
        ensure_packages
        ensure_i386_exec
        mkdir -p "$BUILD_DIR"
        ensure_prefix
        configure_and_build
        wineserver -k >/dev/null 2>&1 || true
        ;;
    fuzz)
        seconds=${1:-60}
        case "$seconds" in ''|*[!0-9]*) echo "usage: ./run.sh fuzz [SECONDS]" >&2; exit 2 ;; esac
        ensure_packages "${fuzz_packages[@]}"
        mkdir -p "$BUILD_DIR"
        fuzz_dir=$BUILD_DIR/fuzz
        log "building the fuzz targets in $fuzz_dir"
        if ! cmake -DSOURCE="$ROOT/tests/fuzz" -DBINARY="$fuzz_dir" -DCXX="$(command -v clang++)" \
                -P "$ROOT/tests/fuzz/build_native.cmake" >"$fuzz_dir.build.log" 2>&1; then
            tail -n 60 "$fuzz_dir.build.log"
            log "fuzz build failed (whole log: $fuzz_dir.build.log)"
            exit 1
        fi
        failed=0
        printf '%-12s %12s %9s %7s %9s  %s\n' target executions exec/s cov features findings
        for exe in "$fuzz_dir"/fuzz_*; do
            [ -x "$exe" ] || continue
            t=${exe##*/fuzz_}
            work=$fuzz_dir/work/$t          # the growing corpus of this machine
            found=$fuzz_dir/findings/$t     # inputs that failed, with their logs
            rm -rf "$found"
            mkdir -p "$work" "$found"
            inputs=("$work" "$ROOT/tests/fuzz/corpus/$t")
            [ -d "$ROOT/tests/fuzz/regressions/$t" ] && inputs+=("$ROOT/tests/fuzz/regressions/$t")
            set +e
            "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
                -artifact_prefix="$found/" "${inputs[@]}" >"$found/run.log" 2>&1
            rc=$?
            set -e
            execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$found/run.log" | tail -n 1)
            rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$found/run.log" | tail -n 1)
            last=$(grep -E '^#[0-9]+' "$found/run.log" | tail -n 1 || true)
            [ -n "$execs" ] || execs=$(printf '%s' "$last" | sed -n 's/^#\([0-9]*\).*/\1/p')
            cov=$(printf '%s' "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
            ft=$(printf '%s' "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
            n=$(find "$found" -maxdepth 1 -type f ! -name run.log | wc -l)
            if [ "$rc" -ne 0 ] && [ "$n" -eq 0 ]; then n=1; fi
            note="0"
            if [ "$n" -ne 0 ]; then
                failed=1
                note="$n: input and stack in $found"
            else
                rm -rf "$found"
            fi
            printf '%-12s %12s %9s %7s %9s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$note"
        done
        if [ "$failed" -ne 0 ]; then
            log "findings: fix each at its cause and keep its input in tests/fuzz/regressions/<target>/"
            exit 1
        fi
        ;;
    *)
        echo "usage: ./run.sh test [ctest args] | ./run.sh demo [--tampered] | ./run.sh bench [options] | ./run.sh soak [CYCLES] | ./run.sh crash [POINTS] | ./run.sh build | ./run.sh fuzz [SECONDS]" >&2
        exit 2
        ;;
esac
