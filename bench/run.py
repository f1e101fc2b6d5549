#!/usr/bin/env python3
"""run.py [--files N] [--mib M] [--rounds R] [--work DIR] [--without-clamscan]

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
tree and of three runs over the small one), as a Markdown table."""
import argparse
import os
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
    folder = os.path.join(work, "tree-%d-%d" % (files, mib))
    if not os.path.isdir(folder):
        print("making %s ..." % folder, file=sys.stderr)
        common.make_tree(make_tree, folder, files, mib)
    return folder


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
    args = parser.parse_args()

    make_tree, probe, scanner = build(os.path.join(ROOT, "build", "bench"))
    os.makedirs(args.work, exist_ok=True)
    rules = os.path.join(args.work, "rules.ldb")
    subprocess.run([make_tree, "--clamav-rules", rules], check=True)
    small = tree(make_tree, args.work, args.files // 10, args.mib // 10)
    large = tree(make_tree, args.work, args.files, args.mib)

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


if __name__ == "__main__":
    main()
