#!/usr/bin/env python3
"""check.py MAKE_TREE PROBE QUELLOR_SCAN: the benchmark's own quick check.

Makes a small tree, runs every peer over it once and fails unless each ran
and saw every file, quellor-scan found exactly the planted files under their
threat names, and clamscan (when installed) found the planted files its rule
file can express. Never updates ClamAV's database: only the rule file is
given to it."""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402


def main():
    make_tree, probe, scanner = sys.argv[1:4]
    failures = []
    with tempfile.TemporaryDirectory(prefix="quellor-bench-check-") as work:
        tree = os.path.join(work, "tree")
        planted = common.make_tree(make_tree, tree, files=400, mib=16)
        rules = os.path.join(work, "rules.ldb")
        subprocess.run([make_tree, "--clamav-rules", rules], check=True)
        files = sum(len(names) for _, _, names in os.walk(tree))
        if len(planted) < 4:
            failures.append("fewer than four planted files: %r" % planted)

        for name, command in common.peer_commands(tree, probe, scanner, rules).items():
            result = subprocess.run(command, capture_output=True, text=True, errors="replace")
            if name == "find":
                seen = len(result.stdout.splitlines())
                if result.returncode != 0 or seen != files:
                    failures.append("find: status %d, %d of %d files" % (result.returncode, seen, files))
            elif name == "probe":
                if result.returncode != 0 or result.stdout.strip() != str(files):
                    failures.append("probe: status %d, output %r for %d files"
                                    % (result.returncode, result.stdout, files))
            elif name == "quellor-scan":
                found, summary = common.found_by_scanner(result.stdout, tree)
                if result.returncode != 1 or found != planted:
                    failures.append("quellor-scan: status %d, found %r, planted %r"
                                    % (result.returncode, found, planted))
                if not summary or summary["scanned"] != files:
                    failures.append("quellor-scan: summary %r for %d files" % (summary, files))
            elif name == "clamscan":
                found = common.found_by_clamscan(result.stdout, tree)
                expected = {path: threat for path, threat in planted.items() if "Bagle.H" not in threat}
                named = {path: name.split(".r")[0] for path, name in found.items()}
                if result.returncode != 1 or set(found) != set(expected) or any(
                        named[path] != common.clam_name(expected[path]) for path in expected if path in named):
                    failures.append("clamscan: status %d, found %r, expected %r"
                                    % (result.returncode, found, expected))
            print("%s ran" % name)
        if not common.clamscan_path():
            print("clamscan is not installed: not checked")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
