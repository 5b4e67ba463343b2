#!/usr/bin/env python3
# Copyright 2026 The tarn-scanner Authors. All rights reserved.
# Turns the JSON files of tarn_bench into tables and checks the targets.
# Prints Markdown; with --results FILE it also replaces the part of FILE
# between the "results" markers, keeping the notes around it.
import argparse
import json
import os
import platform
import re
import subprocess
import sys

BEGIN = "<!-- results:begin (written by scripts/bench.sh) -->"
END = "<!-- results:end -->"
STEPS = ["glusterfind", "filter", "sort", "distribute", "link", "chunk", "copy"]
STEP_INPUT = {  # which entries a step's rate counts
    "glusterfind": "change-list lines", "filter": "change-list lines",
    "sort": "kept entries", "distribute": "kept entries",
    "link": "application and shard list lines", "chunk": "linked lines",
    "copy": "result lines"}


def load(paths):
    """Benchmark name -> counters of its fastest repetition, with "reps" added.

    The machine is shared: other work only ever adds time, so the fastest of
    several repetitions is the figure closest to the code's own cost."""
    out = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data.get("benchmarks", []):
            if b.get("run_type") == "aggregate":
                continue
            name = b["run_name"].split("/iterations")[0]
            if b.get("error_occurred"):
                out[name] = {"error": b.get("error_message", "error")}
                continue
            if "error" in out.get(name, {}):
                continue
            reps = out.get(name, {}).get("reps", 0) + 1
            if name not in out or b["real_time"] < out[name]["real_time"]:
                out[name] = dict(b)
            out[name]["reps"] = reps
    return out


def fmt_s(v):
    return "%.3f" % v if v < 10 else "%.2f" % v


def fmt_rate(v):
    return "%.2fM" % (v / 1e6) if v >= 1e6 else "%.0fk" % (v / 1e3)


def shell(cmd):
    try:
        return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout.strip()
    except OSError:
        return ""


def journal(dev):
    """"with journal", "without journal" or "" from the kernel's mount message."""
    name = os.path.basename(dev)
    line = shell("dmesg 2>/dev/null | grep 'EXT4-fs (%s): mounted' | tail -1" % name)
    if "without journal" in line:
        return "without journal"
    return "with journal" if "data mode" in line else ""


def machine_disk(path):
    dev = shell("df %s | awk 'NR==2 {print $1}'" % path)
    text = shell("df -hT %s | awk 'NR==2 {print $1\", \"$2\", \"$3\" total, \"$5\" free\"}'"
                 % path)
    if dev.startswith("/dev/loop"):
        text += ", " + journal(dev) if journal(dev) else ""
        return text
    extra = [journal(dev)]
    rota = shell("lsblk -no ROTA %s 2>/dev/null | head -1" % dev)
    extra.append({"0": "reported non-rotational", "1": "reported rotational"}.get(rota, ""))
    return ", ".join([text] + [e for e in extra if e])


def machine(data_dir):
    cpu = shell("lscpu | sed -n 's/^Model name: *//p'") or platform.processor()
    mem = shell("free -g | awk '/^Mem:/ {print $2 \" GiB\"}'")
    disk = machine_disk(data_dir)
    dev = shell("df %s | awk 'NR==2 {print $1}'" % data_dir)
    if dev.startswith("/dev/loop"):
        back = shell("losetup -nO BACK-FILE %s" % dev)
        disk += "; image file %s on %s" % (back, machine_disk(os.path.dirname(back) or "."))
    return [
        ("CPU", "%s, %s cores (nproc)" % (cpu, os.cpu_count())),
        ("Memory", mem),
        ("Disk of the data", disk),
        ("OS", shell("sed -n 's/^PRETTY_NAME=//p' /etc/os-release").strip('"') + ", kernel " +
         platform.release()),
        ("Compiler", shell("c++ --version | head -1")),
        ("Load average (1, 5, 15 min) at the start and the end",
         "%s; %s" % (os.environ.get("TARN_BENCH_LOAD_START", "?"),
                     shell("cut -d' ' -f1-3 /proc/loadavg"))),
    ]


def case_names(results):
    names = sorted({n.split("/", 1)[1] for n in results
                    if n.startswith(("scan/", "steps/"))},
                   key=lambda n: (n.startswith("wide"), int(re.sub(r"\D", "", n) or 0)))
    return names


def tables(results):
    lines = []
    cases = case_names(results)
    if not cases:
        return lines
    lines.append("### Whole runs (`initiate_scan`, end to end)\n")
    lines.append("The fastest of the repetitions (reps) of each benchmark.\n")
    lines.append("| case | lines | reps | run 1 s | entries/s | CPU s | run 2 s | CPU s "
                 "| run 2 / run 1 | peak memory MiB |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for c in cases:
        r = results.get("scan/" + c)
        if r is None:
            continue
        if "error" in r:
            lines.append("| %s | failed: %s | | | | | | | | |" % (c, r["error"]))
            continue
        run2 = r.get("r2_run_s")
        lines.append("| %s | %d | %d | %s | %s | %s | %s | %s | %s | %.0f |" % (
            c, r["lines"], r["reps"], fmt_s(r["run_s"]), fmt_rate(r["run_eps"]), fmt_s(r["run_cpu_s"]),
            fmt_s(run2) if run2 else "", fmt_s(r["r2_run_cpu_s"]) if run2 else "",
            "%.2fx" % (run2 / r["run_s"]) if run2 else "", r["peak_MiB"]))
    lines.append("")
    lines.append("### Steps (the same run, step by step)\n")
    lines.append("Per run, a row of elapsed seconds (entries per second) and a row of CPU seconds "
                 "of the process, all threads.\n")
    lines.append("| case | reps | run | " + " | ".join(STEPS) + " | sum of steps s | peak MiB |")
    lines.append("|---|---:|---|" + "---:|" * (len(STEPS) + 2))
    for c in cases:
        r = results.get("steps/" + c)
        if r is None:
            continue
        if "error" in r:
            lines.append("| %s | | failed: %s |" % (c, r["error"]) + " |" * (len(STEPS) + 2))
            continue
        for p, label in (("", "1"), ("r2_", "2")):
            if p + "total_s" not in r:
                continue
            cells = []
            for s in STEPS:
                sec = r[p + s + "_s"]
                eps = r.get(p + s + "_eps")
                cells.append(fmt_s(sec) + (" (%s/s)" % fmt_rate(eps) if eps else ""))
            lines.append("| %s | %d | %s | %s | %s | %.0f |" % (
                c, r["reps"], label, " | ".join(cells), fmt_s(r[p + "total_s"]), r["peak_MiB"]))
            cpu = [fmt_s(r[p + s + "_cpu_s"]) for s in STEPS]
            lines.append("| | | %s CPU | %s | %s | |" % (label, " | ".join(cpu),
                                                         fmt_s(r[p + "total_cpu_s"])))
    lines.append("")
    lines.append("Rates count: " + "; ".join("%s: %s" % kv for kv in STEP_INPUT.items()) + ".")
    lines.append("")
    return lines


RIG_STEPS = ["filter", "sort", "distribute", "link", "chunk", "copy"]


def rig_runs(results):
    """(case, "full" or "incremental", counters) of the real-volume runs, full first."""
    runs = []
    for name, r in results.items():
        parts = name.split("/")
        if len(parts) == 3 and parts[0] == "rig":
            runs.append((parts[1], parts[2], r))
    return sorted(runs, key=lambda x: (x[0], x[1] != "full"))


def rig_tables(results):
    runs = rig_runs(results)
    if not runs:
        return []
    lines = ["### Real volume (GlusterFS through its FUSE mount, the real glusterfind)\n",
             "One run each, in a process of its own; the full scan as a default one (pieces "
             "only), the incremental one with the changed files listed too, so that they can "
             "be checked. \"own\" is the run's time less glusterfind's: its pass, and the "
             "session step (\"glusterfind list\", and \"glusterfind create\" on the "
             "session's first run, in the session column); the library's own work; per "
             "entry, divided by the change-list lines. CPU seconds: the scanning process (all threads) and, for "
             "glusterfind, its child processes.\n",
             "| case | scan | change-list lines | glusterfind s | session s | own s | own / glusterfind "
             "| own per entry us | " + " | ".join(RIG_STEPS) +
             " | other s | own CPU s | glusterfind CPU s | peak MiB "
             "| listed = changed + directories or gone |",
             "|---|---|---:|---:|---:|---:|---:|---:|" + "---:|" * (len(RIG_STEPS) + 5)]
    for case, scan, r in runs:
        if "error" in r:
            lines.append("| %s | %s | failed: %s |" % (case, scan, r["error"]) +
                         " |" * (len(RIG_STEPS) + 12))
            continue
        other = r["own_s"] - sum(r[s + "_s"] for s in RIG_STEPS)
        lines.append("| %s | %s | %d | %s | %s | %s | %.2fx | %.0f | %s | %s | %s | %s | %.0f "
                     "| %d = %d + %d |"
                     % (case, scan, r["lines"], fmt_s(r["glusterfind_s"]),
                        fmt_s(r.get("session_s", 0)), fmt_s(r["own_s"]),
                        r["own_to_glusterfind"], r["own_per_entry_us"],
                        " | ".join(fmt_s(r[s + "_s"]) for s in RIG_STEPS), fmt_s(other),
                        fmt_s(r["own_cpu_s"]), fmt_s(r["glusterfind_children_cpu_s"]),
                        r["peak_MiB"], r.get("listed", 0), r.get("expected", 0),
                        r.get("extra_allowed", 0)))
    lines.append("")
    lines.append("\"other\": the lock, unread journals, the names check, the collect file, the "
                 "manifest and the release. \"glusterfind post\" after each run is not "
                 "counted.")
    lines.append("")
    return lines


def peak(results, case):
    """Largest peak memory of the case's benchmarks, or None."""
    values = [results[k]["peak_MiB"] for k in ("scan/" + case, "steps/" + case)
              if k in results and "error" not in results[k]]
    return max(values) if values else None


def verdicts(results):
    out = ["### Targets\n", "| target | measured | verdict |", "|---|---|---|"]

    def row(target, measured, ok):
        out.append("| %s | %s | %s |" % (target, measured, "met" if ok else "**missed**"))

    wide = [results["scan/" + c] for c in case_names(results)
            if c.startswith("wide") and "scan/" + c in results]
    wide = [w for w in wide if "error" not in w]
    if wide:
        w = wide[0]
        row("wide case, run 1 within 4 s", "%s s" % fmt_s(w["run_s"]), w["run_s"] <= 4)
        if "r2_run_s" in w:
            ratio = w["r2_run_s"] / w["run_s"]
            row("second run within 1.2x the first", "%.2fx" % ratio, ratio <= 1.2)
        row("peak memory under 1 GiB", "%.0f MiB" % w["peak_MiB"], w["peak_MiB"] < 1024)
    small = results.get("scan/lines-100000")
    big = results.get("scan/lines-1000000")
    if small and big and "error" not in small and "error" not in big:
        ratio = big["run_s"] / small["run_s"]
        row("1,000,000 lines at most 12x the time of 100,000", "%.1fx" % ratio, ratio <= 12)
    ten = results.get("scan/lines-10000000")
    if ten is not None:
        if "error" in ten:
            row("10,000,000 lines: the run completes", "failed: %s" % ten["error"], False)
        else:
            mib = peak(results, "lines-10000000")
            row("10,000,000 lines: peak memory under 512 MiB", "%.0f MiB" % mib, mib < 512)
            wide1 = results.get("scan/wide-1000000")
            if wide1 and "error" not in wide1:
                ratio = ten["run_s"] / wide1["run_s"]
                row("10,000,000 lines at most 11x the time of 1,000,000 (wide-1000000, run 1; "
                    "both 10,000 applications)", "%.1fx (%s s / %s s)" % (
                        ratio, fmt_s(ten["run_s"]), fmt_s(wide1["run_s"])), ratio <= 11)
    hundred = results.get("scan/lines-100000000")
    if hundred is not None:
        if "error" in hundred:
            row("100,000,000 lines: the run completes", "failed: %s" % hundred["error"], False)
        else:
            mib = peak(results, "lines-100000000")
            row("100,000,000 lines: completes, peak memory under 512 MiB",
                "%s s, %.0f MiB" % (fmt_s(hundred["run_s"]), mib), mib < 512)
    for case, scan, r in rig_runs(results):
        if scan != "full":
            continue
        if "error" in r:
            row("real volume, %s, full scan: own time at most 0.25x glusterfind's" % case,
                "failed: %s" % r["error"], False)
            continue
        row("real volume, %s, full scan: own time at most 0.25x glusterfind's" % case,
            "%.2fx (%s s / %s s)" % (r["own_to_glusterfind"], fmt_s(r["own_s"]),
                                     fmt_s(r["glusterfind_s"])),
            r["own_to_glusterfind"] <= 0.25)
    copy = results.get("copy_to_glusterfs/100000")
    if copy and "error" not in copy:
        row("copying 100,000 result lines into the real GlusterFS volume within 2 s",
            "%s s" % fmt_s(copy["copy_s"]), copy["copy_s"] <= 2)
    out.append("")
    return out


def main():
    p = argparse.ArgumentParser(description="Tables from tarn_bench JSON output.")
    p.add_argument("json", nargs="+")
    p.add_argument("--data", default="build/bench-data", help="where the cases were generated")
    p.add_argument("--results", help="Markdown file whose results section is replaced")
    args = p.parse_args()
    results = load(args.json)
    body = tables(results) + rig_tables(results) + verdicts(results)
    m = ["### Machine\n", "| | |", "|---|---|"]
    m += ["| %s | %s |" % kv for kv in machine(args.data)]
    m.append("")
    text = "\n".join(m + body)
    print(text)
    if args.results:
        old = open(args.results).read() if os.path.exists(args.results) else ""
        section = BEGIN + "\n" + text + "\n" + END
        if BEGIN in old and END in old:
            new = old[:old.index(BEGIN)] + section + old[old.index(END) + len(END):]
        else:
            new = old + ("\n" if old else "") + section + "\n"
        with open(args.results, "w") as f:
            f.write(new)


if __name__ == "__main__":
    sys.exit(main())
