"""What the benchmark script and its quick check share: making a tree and
running each peer over it once."""
import json
import os
import shutil
import subprocess


def make_tree(make_tree_tool, folder, files, mib, seed=1):
    """Writes the tree; returns {relative path: threat} of the planted files."""
    result = subprocess.run([make_tree_tool, folder, "--files", str(files), "--mib", str(mib), "--seed", str(seed)],
                            check=True, capture_output=True, text=True)
    planted = {}
    for line in result.stdout.splitlines():
        path, threat = line.split("\t")
        planted[path] = threat
    return planted


def clamscan_path():
    return shutil.which("clamscan")


def peer_commands(tree, probe, scanner, rules):
    """The command of each peer, in the order they are timed."""
    commands = {
        "find": ["find", tree, "-type", "f"],
        "probe": [probe, tree],
        "quellor-scan": [scanner, "--quiet", "--json", tree],
    }
    if rules and clamscan_path():
        commands["clamscan"] = [clamscan_path(), "--no-summary", "--infected", "-r", "-d", rules, tree]
    return commands


def found_by_scanner(output, tree):
    """{relative path: threat} from quellor-scan's JSON lines, and its summary."""
    found, summary = {}, None
    for line in output.splitlines():
        record = json.loads(line)
        if record["type"] == "detection":
            found[os.path.relpath(record["path"], tree)] = record["threat"]
        elif record["type"] == "summary":
            summary = record
    return found, summary


def found_by_clamscan(output, tree):
    """{relative path: rule name} from clamscan's "path: name FOUND" lines."""
    found = {}
    for line in output.splitlines():
        if line.endswith(" FOUND"):
            path, name = line[: -len(" FOUND")].rsplit(": ", 1)
            found[os.path.relpath(path, tree)] = name
    return found


def clam_name(threat):
    """The rule-name stem the rule file gives a threat."""
    return threat.replace("/", ".")
