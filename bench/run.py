#!/usr/bin/env python3
"""run.py [--files N] [--mib M] [--rounds R] [--work DIR] [--without-clamscan] [--without-dialog]

The scanner benchmark. Builds quellor-scan, the tree generator and the
header-reading floor without sanitizers (build/bench), makes two trees (N
files and M MiB, default 20,000 and 2,048; and a tenth of that) under DIR
(default build/bench/trees, kept for later runs), warms the page cache, then
times R interleaved rounds (default 3) of every peer over the large tree:
find (the walk), probe (opens every file, reads its first 1 KiB and last
4 KiB), quellor-scan (report only, JSON to a pipe) and clamscan with a rule
file made from the scanner's pattern tables (when ClamAV is installed; its
own database is never used or updated). Prints medians, ratios to probe and
peak memory (/usr/bin/time -v; the median of the timed runs over the large
tree and of three runs over the small one), as a Markdown table.

Then the dialog's table (unless --without-dialog): the x64 Quellor.exe
under Wine's 64-bit loader, timed from SCAN to "Scanning completed" over
the prefix's c: and the large tree as d:, against the bare Win32 walk with
header probes over the same drives in the same prefix, everything pinned to
one CPU (bench/dialog.sh); peak working sets from the same runs and from
runs over the small tree."""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXPECTED_STATUS = {"find": 0, "probe": 0, "quellor-scan": 1, "clamscan": 1}


def build(folder):
    subprocess.run(["cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release", "-DQUELLOR_SANITIZE=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", folder, "-j2", "--target", "quellor-scan", "quellor_bench_tree",
                    "quellor_bench_probe"], check=True, stdout=subprocess.DEVNULL)
    return (os.path.join(folder, "quellor_bench_tree"), os.path.join(folder, "quellor_bench_probe"),
            os.path.join(folder, "quellor-scan"))


def tree(make_tree, work, files, mib):
    """The tree's folder, made unless kept from an earlier run, and its
    planted files (kept beside it)."""
    folder = os.path.join(work, "tree-%d-%d" % (files, mib))
    listing = folder + ".planted.json"
    if not os.path.isdir(folder) or not os.path.isfile(listing):
        print("making %s ..." % folder, file=sys.stderr)
        shutil.rmtree(folder, ignore_errors=True)
        with open(listing, "w") as out:
            json.dump(common.make_tree(make_tree, folder, files, mib), out)
    with open(listing) as planted:
        return folder, json.load(planted)


def run(name, command):
    """Wall time and peak resident KiB of one run (through /usr/bin/time -v,
    whose own cost is a fork and an exec)."""
    started = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-v"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, errors="replace")
    elapsed = time.perf_counter() - started
    status = None
    peak = None
    for line in result.stderr.splitlines():
        if "Maximum resident set size" in line:
            peak = int(line.split(":")[1])
        if "Exit status:" in line:
            status = int(line.split(":")[1])
    if status != EXPECTED_STATUS[name]:
        sys.exit("%s ended with status %s: %s" % (name, status, " ".join(command)))
    return elapsed, peak


def build_dialog(folder):
    """The x64 programs of the dialog's benchmark; each Quellor*.exe in
    FOLDER/bench-programs is timed."""
    subprocess.run(["cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release",
                    "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "toolchain-mingw-x86_64.cmake")],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", folder, "-j2", "--target", "Quellor", "bench_walk_probe",
                    "bench_dialog_timer"], check=True, stdout=subprocess.DEVNULL)
    programs = os.path.join(folder, "bench-programs")
    shutil.rmtree(programs, ignore_errors=True)
    os.makedirs(programs)
    shutil.copy(os.path.join(folder, "Quellor.exe"), programs)
    return folder


def keep_planted(tree_folder, planted, copy):
    """A copy of the planted files, laid out as in the tree, to put back
    after every scan that removed them."""
    shutil.rmtree(copy, ignore_errors=True)
    for path in planted:
        target = os.path.join(copy, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(tree_folder, path), target)
    return copy


def dialog_runs(build, tree_folder, planted_copy, rounds):
    """{peer: [(seconds, files, peak KiB)]} from bench/dialog.sh."""
    result = subprocess.run([os.path.join(ROOT, "bench", "dialog.sh"), build, tree_folder, planted_copy,
                             str(rounds)], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("bench/dialog.sh failed (status %d):\n%s%s" % (result.returncode, result.stdout, result.stderr))
    runs = {}
    for line in result.stdout.splitlines():
        fields = line.split()
        peak = int(fields[3]) if len(fields) > 3 else None
        runs.setdefault(fields[0], []).append((int(fields[1]) / 1000.0, int(fields[2]), peak))
    return runs


def dialog_table(args, small_tree, large_tree):
    build = build_dialog(os.path.join(ROOT, "build", "bench-win64"))
    small, small_planted = small_tree[0], keep_planted(*small_tree, os.path.join(args.work, "planted-small"))
    large, large_planted = large_tree[0], keep_planted(*large_tree, os.path.join(args.work, "planted-large"))
    dialog_runs(build, large, large_planted, 1)  # settles the cache and makes the prefix
    runs = dialog_runs(build, large, large_planted, args.rounds)
    small_runs = dialog_runs(build, small, small_planted, 3)
    floor = statistics.median(seconds for seconds, _, _ in runs["walk"])
    print()
    print("Dialog under Wine (x64 build, 64-bit prefix, one CPU): c: of the prefix and the tree as d:; %d rounds"
          % args.rounds)
    print()
    print("| peer | files | median s | min s | max s | time / walk | peak KiB (%d files) | peak KiB (%d files) |"
          % (args.files // 10, args.files))
    print("|---|---|---|---|---|---|---|---|")
    for name, values in runs.items():
        seconds = [value[0] for value in values]
        peaks = [value[2] for value in values if value[2] is not None]
        small_peaks = [value[2] for value in small_runs.get(name, []) if value[2] is not None]
        print("| %s | %d | %.3f | %.3f | %.3f | %.2f | %s | %s |"
              % (name, values[0][1], statistics.median(seconds), min(seconds), max(seconds),
                 statistics.median(seconds) / floor,
                 statistics.median(small_peaks) if small_peaks else "-",
                 statistics.median(peaks) if peaks else "-"))
    print()
    print("Quellor.exe time relative to the bare walk: %.2fx (goal: at most 1.5x)"
          % (statistics.median(value[0] for value in runs["Quellor"]) / floor))


def small_peak(name, command, runs=3):
    """The median peak of a few runs over the small tree."""
    return statistics.median(run(name, command)[1] for _ in range(runs))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=20000)
    parser.add_argument("--mib", type=int, default=2048)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench", "trees"))
    parser.add_argument("--without-clamscan", action="store_true",
                        help="leave clamscan out (its runs take minutes over the large tree)")
    parser.add_argument("--without-dialog", action="store_true",
                        help="leave the dialog's table out (it needs the x64 cross build and Wine)")
    args = parser.parse_args()

    make_tree, probe, scanner = build(os.path.join(ROOT, "build", "bench"))
    os.makedirs(args.work, exist_ok=True)
    rules = os.path.join(args.work, "rules.ldb")
    subprocess.run([make_tree, "--clamav-rules", rules], check=True)
    small, small_planted = tree(make_tree, args.work, args.files // 10, args.mib // 10)
    large, large_planted = tree(make_tree, args.work, args.files, args.mib)

    if args.without_clamscan:
        rules = None
    peers = common.peer_commands(large, probe, scanner, rules)
    # The generator has just written both trees, so they are in the page
    # cache; one run of the cheap peers settles it. clamscan reads every
    # byte in every run and gets no extra run.
    for name in ("find", "probe", "quellor-scan"):
        run(name, peers[name])
    times = {name: [] for name in peers}
    peaks = {name: [] for name in peers}
    for _ in range(args.rounds):
        for name, command in peers.items():
            elapsed, peak = run(name, command)
            times[name].append(elapsed)
            peaks[name].append(peak)

    medians = {name: statistics.median(values) for name, values in times.items()}
    small_peers = common.peer_commands(small, probe, scanner, rules)
    print("Tree: %d files, %d MiB (and %d files, %d MiB for memory); %d rounds, warm cache; %s"
          % (args.files, args.mib, args.files // 10, args.mib // 10, args.rounds, os.uname().machine))
    print()
    print("| peer | median s | min s | max s | time / probe | peak KiB (%d files) | peak KiB (%d files) |"
          % (args.files // 10, args.files))
    print("|---|---|---|---|---|---|---|")
    for name in peers:
        print("| %s | %.3f | %.3f | %.3f | %.2f | %s | %s |"
              % (name, medians[name], min(times[name]), max(times[name]), medians[name] / medians["probe"],
                 small_peak(name, small_peers[name]), statistics.median(peaks[name])))
    print()
    print("quellor-scan throughput relative to probe: %.2fx (goal: at least 0.9x)"
          % (medians["probe"] / medians["quellor-scan"]))
    if not args.without_dialog:
        dialog_table(args, (small, small_planted), (large, large_planted))


if __name__ == "__main__":
    main()
