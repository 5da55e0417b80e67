#!/usr/bin/env python3
"""Runs every benchmark binary of a build and writes one table of figures and baselines.

Each binary measures a figure and its baseline in the same run: a benchmark named
BM_X[/args] is paired with BM_X_Baseline[/args]. The table shows both times, the
throughput where a benchmark reports bytes, every user counter both sides report, and
the ratio figure / baseline. The result goes to stdout and to the given Markdown file
together with a description of the machine. No figure is typed by hand.
"""
import datetime
import glob
import json
import os
import platform
import subprocess
import sys


def machine():
    cpu = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "unknown"
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal"):
                    mem = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
                    break
    except OSError:
        pass
    return cpu, os.cpu_count(), mem, platform.platform()


def run(binary):
    out = subprocess.run([binary, "--benchmark_format=json"], capture_output=True, text=True)
    sys.stderr.write(out.stderr[-2000:] if out.returncode else "")
    if out.returncode != 0:
        raise SystemExit("%s failed with %d" % (binary, out.returncode))
    return json.loads(out.stdout)["benchmarks"]


def split(name):
    base, _, args = name.partition("/")
    return base, args


STANDARD = {"name", "family_index", "per_family_instance_index", "run_name", "run_type",
            "repetitions", "repetition_index", "threads", "iterations", "real_time",
            "cpu_time", "time_unit", "bytes_per_second", "items_per_second", "label",
            "aggregate_name", "aggregate_unit", "error_occurred", "error_message"}


FLOORS = """\
The whole-program figures of `bench_app` are measured against a floor program
(`bench/support/minimalqt.cpp`) that has what the main window cannot do without: the
same list with the same rows, in the list's 13 px face, above a trace box in the window's
fixed-width face (ＭＳ ゴシック, 11 px, which resolves to IPAGothic here through the
program's own font set-up) holding the lines the program's trace box holds at the same
moment, kept to the newest 1,000 as the program keeps them. The trace box and its second
face are part of the program's look, so the floor pays for them too (against a bare list
alone the program's resident memory measured about 1.2x; against this floor about 1.1x).
The goals against this floor: first paint at most 1.3x, resident memory after start-up
and after 50 reloads of 1,000 rows at most 1.10x, for both families of servers.

`Reload50Pages` reloads the XML family's 50 pages of 20; `ReloadFediverse` the same
1,000 rows from the local service's fediverse face (Mastodon flavour), signed in with a
token: 25 pages of 40. Each runs 50 reloads in a shown window (`reload_probe`) and
reports VmRSS and VmHWM after start-up and after the reloads, against the floor program
holding the same rows and the same trace lines at those moments. Time floors: for the
XML family the sum of libcurl fetching the 50 pages, libxml2 parsing them and the floor
inserting the rows; for the fediverse one process (`reload_floor --fediverse`) doing the
whole reload with libcurl, `QJsonDocument` and libxml2's HTML parser for the texts. That
process is not the memory floor: libcurl and the libraries it loads take some 5 MB more
than the whole program.

`bench_rows` compares the memory of 1,000 statuses held as typed rows (a vector of a
struct with the id, names, texts and flags in their own types) with the baseline of
QTreeWidgetItems holding the same nine fields as strings; `bytes_per_1000_rows` is the
heap growth while the rows are alive.

`bench_fediverse` turns a 40-status page of the fediverse's home timeline (every field a
Mastodon status carries, HTML with mentions, hashtags and shortened links, repeats and a
content warning) into rows, against `QJsonDocument` alone parsing the same bytes.

The instruction counts of start-up and of a 50-page reload, each against its floor, are
not in this table: `test_instruction_counts` (label `perf`) checks them under callgrind
in every `./dev test` run, since counted instructions do not depend on a busy machine.

"""


def fmt_time(b):
    return "%.3g %s" % (b["real_time"], b["time_unit"])


def fmt_num(v):
    if abs(v) >= 1000:
        return "%.0f" % v
    return "%.3g" % v


def rows_for(binary, benches):
    by_name = {b["name"]: b for b in benches if b.get("run_type", "iteration") == "iteration"}
    rows = []
    for name, b in by_name.items():
        base, args = split(name)
        if base.endswith("_Baseline"):
            continue
        bl_name = base + "_Baseline" + ("/" + args if args else "")
        bl = by_name.get(bl_name)
        figure = base[3:] if base.startswith("BM_") else base
        label = figure + ("/" + args if args else "")
        if bl is None:
            rows.append((label, "time", fmt_time(b), "", ""))
            continue
        ratio = b["real_time"] / bl["real_time"] if bl["real_time"] else float("nan")
        rows.append((label, "time", fmt_time(b), fmt_time(bl), "%.2f" % ratio))
        if "bytes_per_second" in b and "bytes_per_second" in bl:
            mb, mbl = b["bytes_per_second"] / 1e6, bl["bytes_per_second"] / 1e6
            rows.append((label, "MB/s", "%.1f" % mb, "%.1f" % mbl, "%.2f" % (mb / mbl if mbl else float("nan"))))
        for key, value in b.items():
            if key in STANDARD or not isinstance(value, (int, float)):
                continue
            if key in bl and isinstance(bl[key], (int, float)):
                r = value / bl[key] if bl[key] else float("nan")
                rows.append((label, key, fmt_num(value), fmt_num(bl[key]), "%.2f" % r))
            else:
                rows.append((label, key, fmt_num(value), "", ""))
        # What only the baseline reports: the parts a floor is the sum of.
        for key, value in bl.items():
            if key in STANDARD or key in b or not isinstance(value, (int, float)):
                continue
            rows.append((label, key, "", fmt_num(value), ""))
    return [(os.path.basename(binary),) + r for r in rows]


def main():
    build, out_path = sys.argv[1], sys.argv[2]
    binaries = sorted(p for p in glob.glob(os.path.join(build, "bench", "bench_*"))
                      if os.access(p, os.X_OK) and os.path.isfile(p))
    if not binaries:
        raise SystemExit("no benchmark binaries in %s/bench" % build)
    rows = []
    for binary in binaries:
        print("== %s" % os.path.basename(binary), flush=True)
        rows += rows_for(binary, run(binary))
    cpu, cores, mem, plat = machine()
    header = ("| benchmark | figure | measured | value | baseline | ratio |\n"
              "|---|---|---|---|---|---|\n")
    body = "".join("| %s | %s | %s | %s | %s | %s |\n" % r for r in rows)
    text = ("# Performance\n\n"
            "Written by `./dev bench` on %s. Every figure is measured in the same run as its "
            "baseline; the ratio is figure / baseline (for times lower is better, for MB/s "
            "higher is better).\n\n"
            "Machine: %s, %s cores, %s memory, %s.\n\n" % (
                datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
                cpu, cores, mem, plat)) + FLOORS + header + body
    print(header + body)
    os.makedirs(os.path.dirname(os.path.abspath(out_path)), exist_ok=True)
    with open(out_path, "w") as f:
        f.write(text)
    print("written to %s" % out_path)


if __name__ == "__main__":
    main()
