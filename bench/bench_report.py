#!/usr/bin/env python3
"""Runs the start-up probe and turns the benchmark results into docs/benchmarks.md.

    bench_report.py startup BINARY RUNS                  -> JSON on stdout
    bench_report.py startup-wine LOADER RUN_DIR RUNS     -> JSON on stdout: the Windows probes
        in RUN_DIR (bench_startup.exe, bench_startup_fair.exe) through the Wine LOADER, in the
        Wine session the caller prepared (bench/bench-windows.sh)
    bench_report.py build-windows COMPILER QT WINE FILE... -> JSON on stdout: what built and ran
        the Windows programs (QT: the Qt build's stamp, every line of it) and each FILE's bytes
    bench_report.py report RESULTS_DIR DOC               -> writes DOC, keeping its Windows section
    bench_report.py windows-report RESULTS_DIR DOC       -> replaces (or adds) DOC's Windows section
"""
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time


STARTUP_MODES = ("baseline", "fair", "product", "fair-network", "fair-styles")


def time_first_paint(command, cwd=None):
    """Starts COMMAND and returns its report with the time from the start to its first paint.

    The output goes to a file, not a pipe: under Wine, the session's own processes may inherit
    the pipe and keep it open after the probe has gone."""
    with tempfile.TemporaryFile("w+") as out:
        start = time.time_ns()
        subprocess.run(command, stdout=out, stderr=subprocess.DEVNULL, cwd=cwd, timeout=120,
                       check=True)
        end = time.time_ns()
        out.seek(0)
        fields = dict(kv.split("=") for kv in out.read().split())
    painted = int(fields["first_paint_ns"])
    if not start <= painted <= end:
        sys.exit(f"error: {command}: first paint at {painted} ns, outside the run "
                 f"[{start}, {end}]: the probe's clock is not the driver's")
    # The steps the probe marked on the way, in milliseconds from the start.
    steps = {key[:-3]: (int(value) - start) / 1e6 for key, value in fields.items()
             if key.endswith("_ns") and key != "first_paint_ns"}
    return {"ms": (painted - start) / 1e6, "rss_kib": int(fields["peak_rss_kib"]),
            "image_bytes": int(fields["image_bytes"]), "steps": steps}


def run_alternating(commands, runs, cwd=None):
    """Runs each of COMMANDS (mode -> argv) once per round, RUNS rounds."""
    out = {mode: {"ms": [], "rss_kib": []} for mode in commands}
    image_bytes = 0
    for _ in range(runs):
        for mode, command in commands.items():
            result = time_first_paint(command, cwd)
            out[mode]["ms"].append(result["ms"])
            out[mode]["rss_kib"].append(result["rss_kib"])
            for step, ms in result["steps"].items():
                out[mode].setdefault("steps_ms", {}).setdefault(step, []).append(ms)
            image_bytes = max(image_bytes, result["image_bytes"])
    out["image_bytes"] = image_bytes
    return out


def run_startup(binary, runs):
    json.dump(run_alternating({mode: [binary, mode] for mode in STARTUP_MODES}, int(runs)),
              sys.stdout)


def load_average():
    with open("/proc/loadavg") as f:
        return [float(x) for x in f.read().split()[:3]]


def check_clock(command, cwd=None, readings=20):
    """Asks the probe's "clock" mode for its time READINGS times, each between two readings of
    the driver's clock; fails unless every answer lies within its bracket. Returns the
    brackets' widths in microseconds."""
    probe = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, cwd=cwd, text=True, bufsize=1)
    widths = []
    try:
        # The first answer waits for the probe to start: it checks the clock but is not counted.
        for reading in range(readings + 1):
            before = time.time_ns()
            probe.stdin.write("now\n")
            probe.stdin.flush()
            answer = probe.stdout.readline()
            after = time.time_ns()
            if not answer.startswith("now_ns="):
                sys.exit(f"error: {command} answered {answer!r} instead of its time")
            now = int(answer.strip().split("=")[1])
            if not before <= now <= after:
                sys.exit(f"error: the probe's clock ({now} ns) is not the driver's "
                         f"([{before}, {after}] ns): its readings cannot be compared")
            if reading:
                widths.append((after - before) / 1e3)
    finally:
        probe.stdin.close()
        probe.wait(timeout=60)
    return widths


def run_startup_wine(loader, run_dir, runs):
    probe = [loader, "bench_startup.exe"]
    commands = {mode: probe + [mode] for mode in STARTUP_MODES}
    commands["fair-exe"] = [loader, "bench_startup_fair.exe"]
    out = {"load_before": load_average(), "nice": os.nice(0),
           "clock_bracket_us": check_clock(probe + ["clock"], run_dir)}
    out.update(run_alternating(commands, int(runs), cwd=run_dir))
    out["load_after"] = load_average()
    json.dump(out, sys.stdout)


def build_windows(compiler, qt, wine, *files):
    json.dump({"compiler": compiler, "qt": qt, "wine": wine,
               "sizes": {os.path.basename(file): os.path.getsize(file) for file in files}},
              sys.stdout)


# What the shipped files may weigh, MiB: what IT copies to every school PC.
SIZE_GOALS = {"vipcard.exe": 8, "cloudpost.exe": 4, "vipcard.msi": 5}


def load(results, name):
    with open(os.path.join(results, name)) as f:
        return json.load(f)


def iterations(results, name):
    runs = {}
    for bench in load(results, name)["benchmarks"]:
        if bench.get("run_type", "iteration") == "iteration":
            runs.setdefault(bench["run_name"], []).append(bench)
    return runs


med = statistics.median


def number(value):
    return f"{value:,.0f}" if value >= 100 else f"{value:.3g}"


def spread(values):
    return f"{number(min(values))}–{number(max(values))}"


def per_item_us(runs):
    return [1e6 / r["items_per_second"] for r in runs]


def verdict(ok):
    return "met" if ok else "**not met**"


def goal(ratio, limit):
    """A ratio's last cells: the ratio, its limit and whether it is met."""
    return f"{ratio:.2f} | ≤ {limit} | {verdict(ratio <= limit)} |"


def table(*headings):
    """A Markdown table's heading row and rule."""
    return ["|" + "|".join(f" {h} " if h else " " for h in headings) + "|",
            "|" + "---|" * len(headings)]


class Startup:
    """The start-up figures of MODES, and the rows both reports make of them."""

    def __init__(self, start, modes):
        self.ms = {mode: start[mode]["ms"] for mode in modes}
        self.mib = {mode: [k / 1024 for k in start[mode]["rss_kib"]] for mode in modes}
        self.images_mib = start["image_bytes"] / 1024 / 1024
        self.rss_limit = med(self.mib["fair"]) + self.images_mib + 1

    def row(self, title, mode):
        """Time and peak memory of one mode, median (spread)."""
        ms, mib = self.ms[mode], self.mib[mode]
        return f"| {title} | {med(ms):.1f} ({spread(ms)}) | {med(mib):.1f} ({spread(mib)}) |"

    def table(self, memory, *rows):
        """The baselines' rows, then ROWS' (title, mode)."""
        return table("", "time to first paint, ms", memory) + [self.row(*row) for row in (
            ("bare baseline: frameless 936×760 QDialog (reference)", "baseline"),
            ("fair baseline: the same with a 微软雅黑 Chinese QLabel and a QLabel with a picture "
             "from images/", "fair")) + rows] + [""]

    def time_goal(self, title, baseline="fair", figure=med):
        """Product against BASELINE by FIGURE of the runs: the median, or min for the fastest."""
        ratio = figure(self.ms["product"]) / figure(self.ms[baseline])
        return f"| {title} | {goal(ratio, 1.1)}"

    def memory_goal(self, title):
        product, fair = med(self.mib["product"]), med(self.mib["fair"])
        return (f"| {title} | {product:.1f} | {fair:.1f} + {self.images_mib:.1f} decoded images "
                f"+ 1 = {self.rss_limit:.1f} | {verdict(product <= self.rss_limit)} |")

    def candidates(self, network):
        """What each diagnostic mode adds to the fair baseline, in time and memory."""

        def cost(title, mode):
            return (f"| {title} | {med(self.ms[mode]) - med(self.ms['fair']):+.1f} | "
                    f"{med(self.mib[mode]) - med(self.mib['fair']):+.1f} |")
        return (["What single candidates add to the fair baseline (median against median):", ""]
                + table("added to the fair baseline", "ms", "MiB")
                + [cost(f"a QNetworkAccessManager (the cloud client's, {network} at the first "
                        "request)", "fair-network"),
                   cost("the global style sheet and the window's sheet", "fair-styles"), ""])


def machine():
    cpu = "unknown CPU"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        qt = subprocess.run(["pkg-config", "--modversion", "Qt5Core"], capture_output=True,
                            text=True).stdout.strip()
    except OSError:
        qt = "?"
    return (f"{platform.system()} {platform.release()} {platform.machine()}, {cpu}, "
            f"{os.cpu_count()} cores; Qt {qt}; Release build")


WINDOWS_BEGIN = "<!-- windows start-up: bench/bench.sh windows -->"
WINDOWS_END = "<!-- end of windows start-up -->"


def read_doc(doc):
    try:
        with open(doc, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def windows_section(text):
    """The Windows section of TEXT, markers included, or "" when it has none."""
    begin, end = text.find(WINDOWS_BEGIN), text.find(WINDOWS_END)
    return text[begin:end + len(WINDOWS_END)] + "\n" if 0 <= begin <= end else ""


def write_doc(doc, text):
    with open(doc + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(doc + ".tmp", doc)


def report(results, doc):
    """Writes DOC's Linux sections, keeping its Windows section and what follows it."""
    text = read_doc(doc)
    begin = text.find(WINDOWS_BEGIN)
    write_doc(doc, linux_report(results) + (text[begin:] if begin >= 0 else ""))


def linux_report(results):
    lines = ["# Benchmarks", "",
             f"Measured {datetime.date.today().isoformat()} on {machine()}, by "
             "`bench/bench.sh` (each figure the median of the runs, spread = lowest–highest; "
             "each benchmark and its baseline in the same run). Regenerate with `bench/bench.sh`.",
             ""]

    start = Startup(load(results, "startup.json"), STARTUP_MODES)
    lines += ["## 1. Start-up (process start to first paint of the window, under Xvfb)", ""]
    lines += start.table("peak RSS, MiB", ("product", "product"))
    lines += table("goal, against the fair baseline", "measured", "limit", "") + [
        start.time_goal("time to first paint, product / fair, by the medians"),
        start.time_goal("time to first paint, product / fair, by the fastest runs", figure=min),
        start.memory_goal("peak RSS, MiB"), ""]
    lines += start.candidates("now made") + [
        f"{len(start.ms['product'])} runs of each, alternating. A window with Chinese text pays "
        "for the CJK font and Qt's font database, and one with a PNG for the image reader: "
        "those costs are inherent, which is why the fair baseline carries them.", ""]

    runs = next(iter(iterations(results, "guide.json").values()))
    ms = [r["real_time"] for r in runs]  # reported in milliseconds
    rss = [[r[f"rss_after_{n}_kib"] / 1024 for r in runs] for n in (1, 100, 500)]
    growth = max(rss[2][i] - rss[0][i] for i in range(len(runs)))
    lines += ["## 2. Guide (link activation to the guide's first paint; 500 openings and "
              "closings a run)", ""]
    lines += table("link to paint, ms", "RSS after 1 / 100 / 500, MiB", "goal", "") + [
        f"| {med(ms):.1f} ({spread(ms)}) | {med(rss[0]):.1f} / {med(rss[1]):.1f} / "
        f"{med(rss[2]):.1f} | < 16 ms, no growth | "
        f"{verdict(med(ms) < 16)} ({growth:+.2f} MiB from 1 to 500) |", ""]

    log = iterations(results, "log.json")
    lines += ["## 3. Log handler (one line to the closed file per call)", ""]
    lines += table("threads", "handler, µs/line", "lines/s", "floor, µs/line", "ratio", "goal", "")
    for threads, floor, label in ((1, "BM_PosixFloor", ""), (8, "BM_PosixFloor", ""),
                                  (8, "BM_PosixFloorLocked", " (floor under one lock)")):
        h = per_item_us(log[f"BM_Handler/real_time/threads:{threads}"])
        f = per_item_us(log[f"{floor}/real_time/threads:{threads}"])
        lines.append(f"| {threads}{label} | {med(h):.2f} ({spread(h)}) | {1e6 / med(h):,.0f} | "
                     f"{med(f):.2f} ({spread(f)}) | {goal(med(h) / med(f), 3)}")
    lines += ["", "The floor is open(O_WRONLY|O_APPEND|O_CREAT), write, close per line. The handler "
              "holds its lock from reading the clock until the line is in the closed file, so "
              "that lines land in the order of their times: its eight threads take turns, while "
              "the bare floor's share the cores, by as much as the machine lets them. The floor "
              "under one lock does the same work in turns, which is what the handler is judged "
              "by with eight threads.", ""]

    enc = iterations(results, "encoding.json")
    lines += ["## 4. Request encoding (`buildPostData`)", ""]
    lines += table("parameters", "values", "buildPostData, ns", "reference, ns", "ratio", "goal",
                   "")
    for count in (0, 10, 100):
        for cjk, label in ((0, "ASCII"), (1, "CJK")):
            p = [r["real_time"] for r in enc[f"BM_BuildPostData/params:{count}/cjk:{cjk}"]]
            b = [r["real_time"] for r in enc[f"BM_Reference/params:{count}/cjk:{cjk}"]]
            lines.append(f"| {count} | {label} | {med(p):,.0f} ({spread(p)}) | {med(b):,.0f} | "
                         f"{goal(med(p) / med(b), 2)}")
    lines.append("")

    def latency(runs):
        return f"{med([x['p50_us'] for x in runs]):.0f} / {med([x['p99_us'] for x in runs]):.0f}"

    cloud = iterations(results, "cloud.json")
    counted = {}  # (client, window): {requests: instructions}
    with open(os.path.join(results, "cloud-instructions.txt")) as f:
        for client, window, requests, total in (line.split() for line in f):
            counted.setdefault((client, int(window)), {})[int(requests)] = int(total)

    def per_request(client, window):
        runs = counted[client, window]
        return (runs[1200] - runs[200]) / 1000

    lines += ["## 5. Cloud client (keep-alive server on 127.0.0.1, on its own thread)", ""]
    lines += table("outstanding", "TzCloud req/s", "p50 / p99, µs", "bare QNAM req/s",
                   "p50 / p99, µs", "wall ratio", "CPU ratio", "instructions/request",
                   "ratio", "goal", "")
    for window in (1, 8, 64):
        t = cloud[f"BM_TzCloud/outstanding:{window}/process_time/real_time"]
        b = cloud[f"BM_BareQnam/outstanding:{window}/process_time/real_time"]
        t_us, b_us = per_item_us(t), per_item_us(b)
        t_cpu, b_cpu = ([r["cpu_time"] for r in runs] for runs in (t, b))
        t_ins, b_ins = per_request("TzCloud", window), per_request("BareQnam", window)
        lines.append(
            f"| {window} | {1e6 / med(t_us):,.0f} ({spread([1e6 / x for x in t_us])}) | "
            f"{latency(t)} | {1e6 / med(b_us):,.0f} ({spread([1e6 / x for x in b_us])}) | "
            f"{latency(b)} | {med(t_us) / med(b_us):.2f} | {med(t_cpu) / med(b_cpu):.2f} | "
            f"{t_ins / 1000:,.0f}k / {b_ins / 1000:,.0f}k | {goal(t_ins / b_ins, 1.1)}")
    lines += ["", "The goal is judged by the instructions a request costs (callgrind, over the "
              "whole process: the client, Qt's HTTP thread and the server; 1,200 requests less "
              "200, so that the set-up drops out), the same on every machine and in every run. "
              "The wall and CPU times, medians of the runs, show the same requests as the "
              "scheduler placed three busy threads on two cores: over five runs on a machine of "
              "this kind, while another job ran, the wall ratios ranged from 0.68 to 2.08 and "
              "the CPU ratios from 0.75 to 1.40.", ""]
    return "\n".join(lines) + "\n"


def windows_report(results, doc):
    """Replaces DOC's Windows section (or adds it at the end), leaving the rest as it is."""
    text = read_doc(doc) or "# Benchmarks\n\n"
    old, section = windows_section(text), windows_startup(results)
    write_doc(doc, text.replace(old, section) if old else text.rstrip("\n") + "\n\n" + section)


def windows_startup(results):
    start = load(results, "startup-windows.json")
    build = load(results, "build-windows.json")
    figures = Startup(start, STARTUP_MODES + ("fair-exe",))
    ms = figures.ms
    size = build["sizes"]
    clock = start["clock_bracket_us"]
    # The stamp's first line names Qt's source and its version; the rest is its configure line.
    qt = build["qt"].splitlines()[0]
    bits = "32-bit" if build["compiler"].startswith("i686") else "64-bit"

    def loads(values):
        return " / ".join(f"{v:.2f}" for v in values)

    def took(mode, begin, end):
        """Each run's time from mark BEGIN to mark END; "paint" is the first paint."""
        marks = dict(start[mode]["steps_ms"], paint=ms[mode])
        return [b - a for a, b in zip(marks[begin], marks[end])]

    def in_main(mode):
        return med(took(mode, "main", "paint"))

    def figure(values):
        return f"{med(values):.1f} ({min(values):.1f})"

    def steps(title, mode):
        parts = [start[mode]["steps_ms"]["main"], took(mode, "main", "app"),
                 took(mode, "app", "window"), took(mode, "window", "paint"), ms[mode]]
        return f"| {title} | " + " | ".join(figure(p) for p in parts) + " |"

    def exe(title, name):
        mib, limit = size[name] / 1024 / 1024, SIZE_GOALS.get(name)
        met = f"≤ {limit} | {verdict(mib <= limit)}" if limit else " | "
        return f"| {title} | {size[name]:,} | {mib:.1f} | {met} |"

    lines = [WINDOWS_BEGIN,
             f"## 6. Start-up on Windows (the {bits} build under Wine, process start to "
             "first paint)", "",
             f"Measured {datetime.date.today().isoformat()} on {platform.system()} "
             f"{platform.machine()}, {os.cpu_count()} cores, by `bench/bench.sh windows`: "
             f"{bits} programs built by {build['compiler']} against the static Qt "
             f"{qt}, Release, stripped, each run by {build['wine']}'s {bits} loader "
             f"in a {'WoW64' if bits == '32-bit' else '64-bit'} prefix with `WINEDEBUG=-all`, "
             "one wineserver kept running for all runs "
             f"and one Xvfb, all at niceness {start['nice']}. The machine was shared: load "
             f"average (1 / 5 / 15 min) {loads(start['load_before'])} before the runs, "
             f"{loads(start['load_after'])} after. "
             "Each figure the median of the runs, spread = lowest–highest.", ""]
    lines += figures.table(
        "peak working set, MiB",
        ("fair baseline as a program of its own (`bench_startup_fair.exe`)", "fair-exe"),
        ("product (what `main()` does, in the probe)", "product"))
    lines += table("goal", "measured", "limit", "") + [
        figures.time_goal("time to first paint, product / fair"),
        figures.time_goal("the same by the fastest runs", figure=min),
        figures.time_goal("against the fair baseline's own program", "fair-exe"),
        f"| for diagnosis: `main()` to first paint, product / fair (Wine's process "
        f"start left out) | {in_main('product') / in_main('fair'):.2f} | | |",
        figures.memory_goal("peak working set, MiB"), ""]
    lines += figures.candidates("made") + [
        "Where the time goes, step by step (median (lowest) of each step, ms; the steps' "
        "figures need not add up to the total's):", ""]
    lines += table("", "start to `main()`", "`QApplication`", "the window made",
                   "`show()` to first paint", "total") + [
        steps("bare baseline", "baseline"), steps("fair baseline", "fair"),
        steps("fair baseline, its own program", "fair-exe"),
        steps("product (the style sheets load in \"the window made\")", "product"),
        steps("fair + QNetworkAccessManager", "fair-network"),
        steps("fair + style sheets", "fair-styles"), "",
        "The product's step \"the window made\" in parts (median (lowest), ms): "
        f"version.ini read and the global style sheet loaded "
        f"{figure(took('product', 'app', 'sheet'))}, the page made "
        f"{figure(took('product', 'sheet', 'page'))}, the window presented "
        f"(`Startup::presentMainWindow`) {figure(took('product', 'page', 'window'))}.", "",
        "Executables as built for Release (linked with `-s`, and stripped again), same "
        "compiler, flags and static Qt; each links Qt and the C and C++ runtimes statically. "
        "The package is `vipcard.msi` as the `msi` target builds it:", ""]
    lines += table("file", "bytes", "MiB", "goal, MiB", "") + [
        exe("`vipcard.exe`, the product", "vipcard.exe"),
        exe("`cloudpost.exe`, the command-line client", "cloudpost.exe"),
        exe("`vipcard.msi`, the package IT installs", "vipcard.msi"),
        exe("`bench_startup_fair.exe`, the fair baseline as a program of its own",
            "bench_startup_fair.exe"),
        exe("`bench_startup.exe`, the probe timed above (every mode, the product's code "
            "included)", "bench_startup.exe"), "",
        f"`vipcard.exe` is {size['vipcard.exe'] / size['bench_startup_fair.exe']:.2f} times "
        "the fair baseline's program "
        f"({(size['vipcard.exe'] - size['bench_startup_fair.exe']) / 1024 / 1024:+.1f} MiB).",
        "",
        f"{len(ms['product'])} runs of each, alternating; the start time is the driver's, "
        "taken before it starts the Wine loader, so every figure includes what Wine adds to "
        "a process start (its loader, the DLLs, the connection to the X server). The probe "
        "reads `GetSystemTimePreciseAsFileTime` (100 ns ticks from 1601, converted to Unix "
        "nanoseconds), the driver Linux's `CLOCK_REALTIME`; asked through a pipe "
        f"{len(clock)} times, the probe's clock lay each time between the driver's readings "
        f"before the question and after the answer (median bracket {med(clock):.0f} µs, "
        f"widest {max(clock):.0f} µs), and every first paint lay within its run. On a "
        "shared machine the runs of every mode fall into a fast group and a slow one, "
        "before `main()` as much as after it, so a median can land in either: the fastest "
        "runs, the least disturbed, are given beside the medians.",
        WINDOWS_END]
    return "\n".join(lines) + "\n"


COMMANDS = {"startup": run_startup, "startup-wine": run_startup_wine,
            "build-windows": build_windows, "report": report, "windows-report": windows_report}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS:
        sys.exit(__doc__)
    COMMANDS[sys.argv[1]](*sys.argv[2:])
