#!/usr/bin/env python3
"""sweepdirs benchmark: every competitor on the same tree in the same run,
alternating, medians and ratios. Never fails on a time; fails loudly when a
removal run leaves anything but what must remain.

  bench.py SWEEPDIRS FLOOR_WALK PROC_SCAN [--quick] [--runs N] [--work DIR]
"""
import argparse
import csv
import os
import platform
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_tree  # noqa: E402

NAMES = ["(", "-name", "_TD*", "-o", "-name", "#TD*", "-o", "-name", "KEL_util*", ")"]


def win(path):
    return "C:" + path.replace("/", "\\")


def timed(cmd, kernel=None):
    """Wall time of cmd; its system time (all its threads) is added to `kernel`, a list, when given."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_stime
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if kernel is not None:
        kernel.append(resource.getrusage(resource.RUSAGE_CHILDREN).ru_stime - before)
    return elapsed


def peak_kib(cmd):
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True).stderr.strip().splitlines()
    return int(out[-1]) if out and out[-1].isdigit() else -1


def syscalls(cmd, only=None):
    """All system calls of cmd and its threads, or only those named in `only`."""
    out = subprocess.run(["strace", "-c", "-f", "-o", "/dev/stdout"] + cmd,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    if only:
        return sum(int(m.group(1)) for m in re.finditer(r"^\s*[\d.]+\s+\S+\s+\S+\s+(\d+)\s+(?:\d+\s+)?(\w+)$", out, re.M)
                   if m.group(2) in only)
    m = re.search(r"^\s*100\.00\s+\S+\s+\S+\s+(\d+)", out, re.M)
    return int(m.group(1)) if m else -1


def process_count():
    return sum(1 for n in os.listdir("/proc") if n.isdigit())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("sweepdirs")
    ap.add_argument("floor")
    ap.add_argument("proc_scan")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--runs", type=int, default=5)
    # The walk rows only: the removal rows regenerate their tree for every run.
    ap.add_argument("--walk-only", action="store_true")
    # The removal rows only.
    ap.add_argument("--remove-only", action="store_true")
    # A quick run (the test script's) gets trees of its own, so that it can
    # run while a full run is measuring.
    ap.add_argument("--work", default=None)
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "results"))
    a = ap.parse_args()
    size = "quick" if a.quick else "full"
    if a.work is None:
        a.work = "/var/tmp/sweepdirs-bench" + ("-quick" if a.quick else "")
    runs = 1 if a.quick else a.runs
    os.makedirs(a.work, exist_ok=True)
    # The work folder's file system, read now: it is taken away at the end.
    fs = subprocess.run(["df", "-T", a.work], stdout=subprocess.PIPE, text=True).stdout.splitlines()[-1].split()[1]
    os.makedirs(a.out, exist_ok=True)
    sweep = a.sweepdirs

    import tempfile
    kel_dir = tempfile.mkdtemp(prefix="kel-", dir=a.work)
    shutil.copy(shutil.which("sleep"), os.path.join(kel_dir, "KEL.EXE"))
    kel = subprocess.Popen([os.path.join(kel_dir, "KEL.EXE"), "3600"])
    fd = shutil.which("fdfind") or shutil.which("fd")
    rows = []
    failures = []

    def tree(kind, name, frac=None):
        root = os.path.join(a.work, name)
        gen_tree.remove_tree(root)
        return root, gen_tree.generate(kind, root, size, 1, kel.pid, frac)

    try:
        # ---- walk only ----
        for kind in [] if a.remove_only else ["balanced", "wide", "deep", "files"]:
            root, m = tree(kind, kind)
            competitors = {
                "sweepdirs": [sweep, "/list", "/v", win(root)],
                "sweepdirs /MT:1": [sweep, "/list", "/v", win(root), "/MT:1"],
                "sweepdirs /MT:2": [sweep, "/list", "/v", win(root), "/MT:2"],
                "find": ["find", root, "-type", "d"] + NAMES + ["-prune"],
                "floor": [a.floor, root],
            }
            if fd:
                pattern = "^(_TD|#TD|KEL_util)"
                competitors["fd -j1"] = [fd, "-u", "-t", "d", "-j1", "--prune", pattern, root]
                competitors["fd"] = [fd, "-u", "-t", "d", "--prune", pattern, root]
            times = {k: [] for k in competitors}
            kernel = {k: [] for k in competitors}
            for cmd in competitors.values():
                timed(cmd)  # warm-up
            for _ in range(runs):
                for k, cmd in competitors.items():
                    times[k].append(timed(cmd, kernel[k]))
            med = {k: statistics.median(v) for k, v in times.items()}
            sys_med = {k: statistics.median(v) for k, v in kernel.items()}
            listed = subprocess.run(competitors["sweepdirs"], stdout=subprocess.PIPE).stdout
            if b"No files were deleted." not in listed:
                failures.append("walk %s: no closing line" % kind)
            if subprocess.run(competitors["sweepdirs /MT:1"], stdout=subprocess.PIPE).stdout != listed:
                failures.append("walk %s: one thread and many print differently" % kind)
            row = {"test": "walk", "tree": kind, "dirs": m.dirs,
                   "sweepdirs_s": round(med["sweepdirs"], 4), "mt1_s": round(med["sweepdirs /MT:1"], 4),
                   "mt2_s": round(med["sweepdirs /MT:2"], 4), "find_s": round(med["find"], 4),
                   "floor_s": round(med["floor"], 4),
                   "vs_find": round(med["sweepdirs"] / med["find"], 3),
                   "vs_floor": round(med["sweepdirs"] / med["floor"], 3),
                   # The parallel floor: the floor walker's time shared out over the cores.
                   "vs_par_floor": round(med["sweepdirs"] * (os.cpu_count() or 1) / med["floor"], 3),
                   # The kernel's own time for the walk's calls, with one thread and with the
                   # default threads, and the bound it sets: that time shared out over the cores.
                   "floor_sys_s": round(sys_med["floor"], 4), "mt1_sys_s": round(sys_med["sweepdirs /MT:1"], 4),
                   "sys_s": round(sys_med["sweepdirs"], 4),
                   "vs_sys_bound": round(med["sweepdirs"] * (os.cpu_count() or 1) / max(sys_med["sweepdirs"], 1e-6), 3),
                   "peak_kib": peak_kib(competitors["sweepdirs"])}
            if fd:
                row["fd_j1_s"] = round(med["fd -j1"], 4)
                row["fd_s"] = round(med["fd"], 4)
                row["vs_fd"] = round(med["sweepdirs"] / med["fd"], 3)
            if kind == "balanced" and shutil.which("strace"):
                row["calls_per_dir"] = round(syscalls(competitors["sweepdirs /MT:1"]) / m.dirs, 2)
                # With threads: the file-system calls; the rest is their waking each other.
                row["fs_calls_per_dir"] = round(syscalls(competitors["sweepdirs"],
                                                         ("openat", "getdents64", "close", "io_uring_enter", "newfstatat", "fstatfs"))
                                                / m.dirs, 2)
                row["floor_calls_per_dir"] = round(syscalls(competitors["floor"]) / m.dirs, 2)
            rows.append(row)
            gen_tree.remove_tree(root, m)

        # ---- walk and remove ----
        for pct in [] if a.walk_only else [10, 1]:
            # "walk + rm list" is what any tool that has to find the stale
            # work areas cannot go below: the bare walk of the whole tree,
            # then rm -rf over the list, timed on the same fresh tree.
            times = {"sweepdirs": [], "sweepdirs /MT:1": [], "find -exec rm": [], "rm list": [], "walk + rm list": []}
            kernel = {k: [] for k in times}
            for _ in range(runs):
                for k in times:
                    root, m = tree("mix", "mix%d" % pct, pct / 100)
                    rm_list = ["rm", "-rf"] + [os.path.join(root, r) for r in m.stale_roots]
                    if k.startswith("sweepdirs"):
                        cmd = [sweep, "/v", win(root)] + k.split()[1:]
                    elif k == "find -exec rm":
                        cmd = ["find", root, "-type", "d"] + NAMES + ["-prune", "-exec", "rm", "-rf", "{}", "+"]
                    else:
                        cmd = rm_list
                    spent = []
                    walk = timed([a.floor, root], spent) if k == "walk + rm list" else 0.0
                    times[k].append(walk + timed(cmd, spent))
                    kernel[k].append(sum(spent))
                    if k.startswith("sweepdirs"):
                        left = gen_tree.snapshot(root)
                        want = m.expected_after_sweep()
                        if left != want:
                            wrong = sorted(want - left)[:5]
                            failures.append("remove mix%d: wrongly removed %s, left %s"
                                            % (pct, wrong, sorted(left - want)[:5]))
                    gen_tree.remove_tree(root, m)
            med = {k: statistics.median(v) for k, v in times.items()}
            sys_med = {k: statistics.median(v) for k, v in kernel.items()}
            rows.append({"test": "remove", "tree": "mix%d" % pct, "dirs": m.dirs,
                         "sweepdirs_s": round(med["sweepdirs"], 4), "mt1_s": round(med["sweepdirs /MT:1"], 4),
                         "find_s": round(med["find -exec rm"], 4),
                         "floor_s": round(med["rm list"], 4),
                         "vs_find": round(med["sweepdirs"] / med["find -exec rm"], 3),
                         "vs_floor": round(med["sweepdirs"] / med["rm list"], 3),
                         "walk_rm_floor_s": round(med["walk + rm list"], 4),
                         "vs_walk_rm_floor": round(med["sweepdirs"] / med["walk + rm list"], 3),
                         "walk_rm_floor_vs_floor": round(med["walk + rm list"] / med["rm list"], 3),
                         # The kernel's own time, as in the walk rows; for the floor, its walk's and rm's.
                         "walk_rm_floor_sys_s": round(sys_med["walk + rm list"], 4),
                         "mt1_sys_s": round(sys_med["sweepdirs /MT:1"], 4), "sys_s": round(sys_med["sweepdirs"], 4),
                         "vs_sys_bound": round(med["sweepdirs"] * (os.cpu_count() or 1) / max(sys_med["sweepdirs"], 1e-6), 3)})

        # ---- the probe ----
        # About 200 running processes in all (sleepers make up what the
        # machine lacks; a busier machine is measured as it is).
        wanted = 200 if not a.quick else 20
        sleepers = [subprocess.Popen(["sleep", "600"]) for _ in range(max(0, wanted - process_count()))]
        try:
            root, m = tree("probe", "probe")
            ctl, mc = tree("probectl", "probectl")
            count = len(m.stale_roots) or gen_tree.SIZES[size]["probe"]["count"]
            with_c = statistics.median([timed([sweep, "/list", "/v", win(root)]) for _ in range(max(runs, 3))])
            without = statistics.median([timed([sweep, "/list", "/v", win(ctl)]) for _ in range(max(runs, 3))])
            scan = subprocess.run([a.proc_scan, "full", str(count)], stdout=subprocess.PIPE, text=True).stdout
            full = re.search(r"us_per_candidate=([\d.]+)", scan)
            scan = subprocess.run([a.proc_scan, "list", str(count)], stdout=subprocess.PIPE, text=True).stdout
            listing = re.search(r"us_per_candidate=([\d.]+)", scan)
            rows.append({"test": "probe", "tree": "probe", "dirs": count,
                         "sweepdirs_s": round(with_c, 4), "find_s": round(without, 4),
                         "us_per_candidate": round((with_c - without) / count * 1e6, 1),
                         "full_proc_scan_us": float(full.group(1)) if full else -1,
                         "proc_listing_us": float(listing.group(1)) if listing else -1,
                         "processes": process_count()})
            gen_tree.remove_tree(root)
            gen_tree.remove_tree(ctl)
        finally:
            for s in sleepers:
                s.kill()
                s.wait()
    finally:
        kel.kill()
        kel.wait()
        shutil.rmtree(kel_dir, ignore_errors=True)
        try:
            os.rmdir(a.work)  # only when nothing else is left there
        except OSError:
            pass

    keys = []
    for r in rows:
        keys += [k for k in r if k not in keys]
    with open(os.path.join(a.out, "latest.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=keys)
        w.writeheader()
        w.writerows(rows)
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    header = "Machine: %d cores, %s, kernel %s, trees on %s (%s); %d runs, medians; %s" % (
        os.cpu_count(), cpu, platform.release(), a.work, fs, runs, "quick sizes" if a.quick else "full sizes")
    lines = [header, "", "| " + " | ".join(keys) + " |", "|" + "---|" * len(keys)]
    for r in rows:
        lines.append("| " + " | ".join(str(r.get(k, "")) for k in keys) + " |")
    table = "\n".join(lines)
    print(table)
    with open(os.path.join(a.out, "latest.md"), "w") as f:
        f.write(table + "\n")
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        ratio_rows = [r for r in rows if "vs_find" in r]
        labels = ["%s %s" % (r["test"], r["tree"]) for r in ratio_rows]
        xs = range(len(labels))
        plt.figure(figsize=(9, 4))
        plt.bar([x - 0.2 for x in xs], [r["vs_find"] for r in ratio_rows], 0.4, label="sweepdirs / find")
        plt.bar([x + 0.2 for x in xs], [r["vs_floor"] for r in ratio_rows], 0.4, label="sweepdirs / floor")
        plt.axhline(1.0, color="grey", linewidth=0.8)
        plt.xticks(list(xs), labels, rotation=20)
        plt.ylabel("time ratio (lower is faster)")
        plt.legend()
        plt.tight_layout()
        plt.savefig(os.path.join(a.out, "latest.png"))
    except ImportError:
        print("(matplotlib is missing: no chart)")
    if failures:
        print("\nWRONG REMOVAL OR OUTPUT:\n  " + "\n  ".join(failures))
        return 1
    print("\nall removal runs left exactly what must remain")
    return 0


if __name__ == "__main__":
    sys.exit(main())
