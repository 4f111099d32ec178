#!/usr/bin/env bash
# bench/bench.sh windows: the start-up benchmark for the Windows build. Builds the start-up
# probes and vipcard.exe with the static Qt into build-bench-win32/ (build-bench-win64/ where
# the machine runs no 32-bit code, as scripts/deps.sh windows decides), times the probe's modes
# under Wine in one alternating run and writes the Windows section of docs/benchmarks.md,
# leaving the Linux figures as they are.
# The machine should be otherwise idle; the load average goes into the table.
set -euo pipefail
LESSA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$LESSA_ROOT/scripts/deps.sh"

runs=${LESSA_BENCH_WINDOWS_RUNS:-15}
# The toolchain, Wine and the static Qt, built once: the shipped 32-bit build where it runs.
preset=bench-$("$LESSA_ROOT/scripts/deps.sh" windows)
lessa_install xvfb xauth x11-utils fonts-wqy-microhei python3
case $preset in
bench-win32) arch=i686 loader=/usr/lib/wine/wine ;;
*) arch=x86_64 loader=/usr/lib/wine/wine64 ;;
esac
qt=$(lessa_qt_prefix "$arch")
wineserver=/usr/lib/wine/wineserver64
build="$LESSA_ROOT/build-$preset"
mkdir -p "$build"
# Two runs would share the prefix, the run folder and the results.
exec 9>"$build/.bench-windows.lock"
flock -n 9 || { echo "error: another bench/bench.sh windows is running" >&2; exit 1; }

(cd "$LESSA_ROOT" && cmake --preset "$preset" &&
    cmake --build --preset "$preset" --target vipcard cloudpost msi bench_startup bench_startup_fair)

# The run folder as the product expects it around its working directory: images/ in it,
# main.qss in ../mainqss/. The programs are the stripped ones whose sizes are reported.
run="$build/bench-run"
rm -rf --one-file-system "$run"
mkdir -p "$run/bin" "$run/mainqss"
cp -r "$LESSA_ROOT/images" "$run/bin/"
cp "$LESSA_ROOT/mainqss/main.qss" "$run/mainqss/"
for exe in vipcard cloudpost; do "$arch-w64-mingw32-strip" -o "$run/$exe.exe" "$build/$exe.exe"; done
for exe in bench_startup bench_startup_fair; do
    "$arch-w64-mingw32-strip" -o "$run/bin/$exe.exe" "$build/bench/$exe.exe"
done
results="$build/results"
rm -rf --one-file-system "$results"
mkdir -p "$results"
# Written by a JSON writer: Qt's stamp has more than one line.
python3 "$LESSA_ROOT/bench/bench_report.py" build-windows \
    "$("$arch-w64-mingw32-g++" --version | head -1)" "$(<"$qt/.complete")" "$("$loader" --version)" \
    "$run/vipcard.exe" "$run/cloudpost.exe" "$build/vipcard.msi" "$run/bin/bench_startup.exe" \
    "$run/bin/bench_startup_fair.exe" \
    >"$results/build-windows.json"

export LC_ALL=C.UTF-8 LANG=C.UTF-8
export WINEPREFIX="$build/wineprefix" WINESERVER="$wineserver" WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe,winedbg.exe='
x_state="$build/x.state"
"$LESSA_ROOT/scripts/x-server.sh" start "$x_state"
trap '"$wineserver" -k 2>/dev/null || true; "$LESSA_ROOT/scripts/x-server.sh" stop "$x_state"' EXIT
DISPLAY=$(head -1 "$x_state")
export DISPLAY
# The prefix is made once, with the fonts as every Wine run of the project has them.
"$LESSA_ROOT/scripts/wine-run.sh" --prepare
# One wineserver for all runs, started before them, so that no run pays for starting it; a
# first run of each program starts the session's services and reads the programs into the
# page cache, before anything is timed.
"$wineserver" -p
(cd "$run/bin" && for exe in bench_startup bench_startup_fair; do
    "$loader" "$exe.exe" fair >/dev/null 2>&1
done)

echo "== start-up under Wine: $runs runs of each, alternating" \
    "(load: $(cut -d' ' -f1-3 /proc/loadavg))"
python3 "$LESSA_ROOT/bench/bench_report.py" startup-wine "$loader" "$run/bin" "$runs" \
    >"$results/startup-windows.json"
python3 "$LESSA_ROOT/bench/bench_report.py" windows-report "$results" \
    "$LESSA_ROOT/docs/benchmarks.md"
echo "Wrote the Windows section of docs/benchmarks.md"
