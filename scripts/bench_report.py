#!/usr/bin/env python3
"""Runs the start-up probe and turns the benchmark results into docs/benchmarks.md.

    bench_report.py startup BINARY RUNS   -> JSON on stdout
    bench_report.py report RESULTS_DIR    -> Markdown on stdout
"""
import datetime
import json
import os
import platform
import statistics
import subprocess
import time
import sys


def run_startup(binary, runs):
    out = {"baseline": {"ms": [], "rss_kib": []}, "product": {"ms": [], "rss_kib": []}}
    image_bytes = 0
    for _ in range(runs):
        for mode in ("baseline", "product"):
            start = time.time_ns()
            done = subprocess.run([binary, mode], capture_output=True, text=True, timeout=60)
            fields = dict(kv.split("=") for kv in done.stdout.split())
            out[mode]["ms"].append((int(fields["first_paint_ns"]) - start) / 1e6)
            out[mode]["rss_kib"].append(int(fields["peak_rss_kib"]))
            image_bytes = max(image_bytes, int(fields["image_bytes"]))
    out["image_bytes"] = image_bytes
    json.dump(out, sys.stdout)


def iterations(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for bench in data["benchmarks"]:
        if bench.get("run_type", "iteration") == "iteration":
            runs.setdefault(bench["run_name"], []).append(bench)
    return runs


def med(values):
    return statistics.median(values)


def number(value):
    return f"{value:,.0f}" if value >= 100 else f"{value:.3g}"


def spread(values):
    return f"{number(min(values))}–{number(max(values))}"


def per_item_us(runs):
    return [1e6 / r["items_per_second"] for r in runs]


def verdict(ok):
    return "met" if ok else "**not met**"


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


def report(results):
    lines = ["# Benchmarks", "",
             f"Measured {datetime.date.today().isoformat()} on {machine()}, by "
             "`scripts/bench.sh` (each figure the median of the runs, spread = lowest–highest; "
             "each benchmark and its baseline in the same run). Regenerate with `scripts/bench.sh`.",
             ""]

    start = json.load(open(os.path.join(results, "startup.json")))
    p_ms, b_ms = start["product"]["ms"], start["baseline"]["ms"]
    p_rss, b_rss = start["product"]["rss_kib"], start["baseline"]["rss_kib"]
    images_kib = start["image_bytes"] / 1024
    ratio = med(p_ms) / med(b_ms)
    rss_ok = med(p_rss) <= med(b_rss) + images_kib
    lines += ["## 1. Start-up (process start to first paint of the main window, under Xvfb)", "",
              "| | product | baseline (bare frameless 936×760 QDialog) | ratio | goal | |",
              "|---|---|---|---|---|---|",
              f"| time, ms | {med(p_ms):.1f} ({spread(p_ms)}) | {med(b_ms):.1f} ({spread(b_ms)}) "
              f"| {ratio:.2f} | ≤ 1.2 | {verdict(ratio <= 1.2)} |",
              f"| peak RSS, MiB | {med(p_rss) / 1024:.1f} | {med(b_rss) / 1024:.1f} "
              f"(+ {images_kib / 1024:.1f} decoded images = {(med(b_rss) + images_kib) / 1024:.1f}) "
              f"| {med(p_rss) / med(b_rss):.2f} | ≤ baseline + images | {verdict(rss_ok)} |",
              f"", f"{len(p_ms)} runs of each, alternating.", ""]

    guide = iterations(os.path.join(results, "guide.json"))
    runs = next(iter(guide.values()))
    ms = [r["real_time"] for r in runs]  # reported in milliseconds
    rss = [[r[f"rss_after_{n}_kib"] / 1024 for r in runs] for n in (1, 100, 500)]
    growth = max(rss[2][i] - rss[0][i] for i in range(len(runs)))
    lines += ["## 2. Guide (link activation to the guide's first paint; 500 openings and closings a run)", "",
              "| link to paint, ms | RSS after 1 / 100 / 500, MiB | goal | |",
              "|---|---|---|---|",
              f"| {med(ms):.1f} ({spread(ms)}) | {med(rss[0]):.1f} / {med(rss[1]):.1f} / "
              f"{med(rss[2]):.1f} | < 16 ms, no growth | "
              f"{verdict(med(ms) < 16)} ({growth:+.2f} MiB from 1 to 500) |", ""]

    log = iterations(os.path.join(results, "log.json"))
    lines += ["## 3. Log handler (one line to the closed file per call)", "",
              "| threads | handler, µs/line | lines/s | POSIX floor, µs/line | ratio | goal | |",
              "|---|---|---|---|---|---|---|"]
    for threads in (1, 8):
        h = per_item_us(log[f"BM_Handler/real_time/threads:{threads}"])
        f = per_item_us(log[f"BM_PosixFloor/real_time/threads:{threads}"])
        r = med(h) / med(f)
        lines.append(f"| {threads} | {med(h):.2f} ({spread(h)}) | {1e6 / med(h):,.0f} | "
                     f"{med(f):.2f} ({spread(f)}) | {r:.2f} | ≤ 3 | {verdict(r <= 3)} |")
    lines += ["", "The floor is open(O_WRONLY|O_APPEND|O_CREAT), write, close per line with no "
              "lock; the handler holds its lock for the clock and the settings check only, and appends outside it.", ""]

    enc = iterations(os.path.join(results, "encoding.json"))
    lines += ["## 4. Request encoding (`buildPostData`)", "",
              "| parameters | values | buildPostData, ns | reference, ns | ratio | goal | |",
              "|---|---|---|---|---|---|---|"]
    for count in (0, 10, 100):
        for cjk, label in ((0, "ASCII"), (1, "CJK")):
            p = [r["real_time"] for r in enc[f"BM_BuildPostData/params:{count}/cjk:{cjk}"]]
            b = [r["real_time"] for r in enc[f"BM_Reference/params:{count}/cjk:{cjk}"]]
            r = med(p) / med(b)
            lines.append(f"| {count} | {label} | {med(p):,.0f} ({spread(p)}) | {med(b):,.0f} | "
                         f"{r:.2f} | ≤ 2 | {verdict(r <= 2)} |")
    lines.append("")

    cloud = iterations(os.path.join(results, "cloud.json"))
    lines += ["## 5. Cloud client (keep-alive server on 127.0.0.1, on its own thread)", "",
              "| outstanding | TzCloud req/s | p50 / p99, µs | bare QNAM req/s | p50 / p99, µs | "
              "time ratio | goal | |", "|---|---|---|---|---|---|---|---|"]
    for window in (1, 8, 64):
        t = cloud[f"BM_TzCloud/outstanding:{window}/real_time"]
        b = cloud[f"BM_BareQnam/outstanding:{window}/real_time"]
        t_us, b_us = per_item_us(t), per_item_us(b)
        r = med(t_us) / med(b_us)
        lines.append(
            f"| {window} | {1e6 / med(t_us):,.0f} ({spread([1e6 / x for x in t_us])}) | "
            f"{med([x['p50_us'] for x in t]):.0f} / {med([x['p99_us'] for x in t]):.0f} | "
            f"{1e6 / med(b_us):,.0f} | {med([x['p50_us'] for x in b]):.0f} / "
            f"{med([x['p99_us'] for x in b]):.0f} | {r:.2f} | ≤ 1.1 | {verdict(r <= 1.1)} |")
    lines.append("")
    print("\n".join(lines))


if __name__ == "__main__":
    if sys.argv[1] == "startup":
        run_startup(sys.argv[2], int(sys.argv[3]))
    else:
        report(sys.argv[2])
