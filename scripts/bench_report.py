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


STARTUP_MODES = ("baseline", "fair", "product", "fair-network", "fair-styles")


def run_startup(binary, runs):
    out = {mode: {"ms": [], "rss_kib": []} for mode in STARTUP_MODES}
    image_bytes = 0
    for _ in range(runs):
        for mode in STARTUP_MODES:
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
    ms = {mode: start[mode]["ms"] for mode in STARTUP_MODES}
    mib = {mode: [k / 1024 for k in start[mode]["rss_kib"]] for mode in STARTUP_MODES}
    images_mib = start["image_bytes"] / 1024 / 1024
    ratio = med(ms["product"]) / med(ms["fair"])
    rss_limit = med(mib["fair"]) + images_mib + 1
    rss_ok = med(mib["product"]) <= rss_limit

    def row(title, mode):
        return (f"| {title} | {med(ms[mode]):.1f} ({spread(ms[mode])}) | "
                f"{med(mib[mode]):.1f} ({spread(mib[mode])}) |")

    def cost(title, mode):
        return (f"| {title} | {med(ms[mode]) - med(ms['fair']):+.1f} | "
                f"{med(mib[mode]) - med(mib['fair']):+.1f} |")

    lines += ["## 1. Start-up (process start to first paint of the window, under Xvfb)", "",
              "| | time to first paint, ms | peak RSS, MiB |",
              "|---|---|---|",
              row("bare baseline: frameless 936×760 QDialog (reference)", "baseline"),
              row("fair baseline: the same with a 微软雅黑 Chinese QLabel and a QLabel with a "
                  "picture from images/", "fair"),
              row("product", "product"), "",
              "| goal, against the fair baseline | measured | limit | |",
              "|---|---|---|---|",
              f"| time to first paint, product / fair | {ratio:.2f} | ≤ 1.15 | "
              f"{verdict(ratio <= 1.15)} |",
              f"| peak RSS, MiB | {med(mib['product']):.1f} | {med(mib['fair']):.1f} + "
              f"{images_mib:.1f} decoded images + 1 = {rss_limit:.1f} | {verdict(rss_ok)} |", "",
              "What single candidates add to the fair baseline (median against median):", "",
              "| added to the fair baseline | ms | MiB |",
              "|---|---|---|",
              cost("a QNetworkAccessManager (the cloud client's, now made at the first request)",
                   "fair-network"),
              cost("the global style sheet and the window's sheet", "fair-styles"), "",
              f"{len(ms['product'])} runs of each, alternating. A window with Chinese text pays for "
              "the CJK font and Qt's font database, and one with a PNG for the image reader: "
              "those costs are inherent, which is why the fair baseline carries them.", ""]

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
              "lock; the handler holds its lock from reading the clock until the line is in the closed file, so "
              "lines land in the order of their times.", ""]

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
