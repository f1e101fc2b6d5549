#!/usr/bin/env python3
"""Writes scan/SignatureTable.cpp, the compiled-in executable signature table.

Five rows are fixed (rows 1, 2, 3, 6 and 448, with their patterns as the
detection data gives them). The other 443 rows are made here from a fixed
seed so that the table as a whole has the properties the matcher and its
tests rely on:

  * 448 records and an all-zero terminator;
  * 210 distinct names in eight forms, each form's variant codes first used
    in the order listed below; "W32/Murkel.Agg.Trojan" heads 28 records;
  * every record uses SizeExact except row 2, the single SizeNear record;
  * offset1 spans -1,491,798 .. 737,342 with 419 negative values, offset2
    spans -657,281 .. 669,904 with 178 negative values, fileSize spans
    41,959 .. 10,137,070 (each bound is taken by some record);
  * rows 1 and 2 carry the same positions and patterns and differ only in
    the size test; no other two records share a pattern.

Generated patterns are 20 pseudo-random bytes that an ordinary executable is
unlikely to hold: no byte repeats its neighbour, at least 16 distinct values,
none of the padding and filler bytes 00, FF, 90 and CC, and no run of four
printable characters.

The generator uses its own integer PRNG (splitmix64) and no floating point,
so its output is the same on every machine and Python version.

Usage:
  generate-signature-table.py [OUTPUT]        write the table (default: the
                                              committed scan/SignatureTable.cpp)
  generate-signature-table.py --check [FILE]  exit 1 when FILE differs from
                                              what the generator writes
"""

import os
import sys

SEED = 0x51E11A7E2004
MASK64 = (1 << 64) - 1

RECORDS = 448

# Name forms and their variant codes, in order of first use.
FORMS = [
    ("W32/Murkel.{}.Trojan",
     "D A Am Ac Bm Fj Gc Ba Bn Cd Ax Dt Fi Ev Hi Ej Dl Ew Fb Kx Ge Jq Dp Csm Ci Vj Dm Dg Uy Wq Kb Hz "
     "Xlk Hp C Eg OE Kii Yf Yu G Yry KC MM OC Xw Cz Zx Aar Aey Acz Xp Aac Yb Abc Cm Aca Dh Aec Aen "
     "Aeo Aet Aew Afg Aer Aef Aft Aev Afu Agg Afx Ahf Ahc Ahb Ahk Ahl Ago Ahi Adp Aie Ais Ajf Ajw Akm "
     "Ajz Alf Aib Ams Aln Hy Anv Aku Ald Alb", 94),
    ("W32/MurkEl.{}.Trojan",
     "I X F V Ci Ag S Au Ar W Aa Bi A Bq Ge Dx Nd Ng Jp D Cb Mw Db Dn H Bg Mg Pu Ji Jw Bl Qb Qk Fw "
     "Pm Oa R As Rl Qh Ch Ru Vi Uq Yn Xl Tc Z Qd Ai Vr Ux Wr Xm Xr Ad Aaq Aar Abw Abv Abt Aas Abu "
     "Acs Bu", 65),
    ("W32/MurkEl.{}.Downloader.Trojan", "G L N Q M R Aa Gw Ht If Gt X Jj Ls", 14),
    ("W32/MurkEl.{}.Dl.Trojan",
     "S Ko Jf Kl Lb Mb Ml Mm Mu Mv Mz My Nb Nf No Ow Ny Oi Op Or Pc On Oo", 23),
    ("W32/MurkEl.{}.Clicker.Trojan", "H O Ab Ai Am Bl", 6),
    ("W32/Murkel.{}.PSW.Trojan", "E H M", 3),
]
SINGLE_NAMES = [
    "W32/Murkel.K.Dropper.Trojan",
    "W32/MurkEl.N.Spy.Trojan",
    "W32/MurkEl.A",
    "W32/MurkEl.C",
    "W32/Murkel.Trojan",
]
DISTINCT_NAMES = 210

BUSIEST_NAME = "W32/Murkel.Agg.Trojan"
BUSIEST_RECORDS = 28
# No other name heads more records than this.
OTHER_NAME_LIMIT = 9

SIZE_EXACT = 1
SIZE_NEAR = 2

OFFSET1_MIN, OFFSET1_MAX, OFFSET1_NEGATIVE = -1491798, 737342, 419
OFFSET2_MIN, OFFSET2_MAX, OFFSET2_NEGATIVE = -657281, 669904, 178
FILESIZE_MIN, FILESIZE_MAX = 41959, 10137070


def hex_bytes(text):
    return [int(b, 16) for b in text.split()]


# Rows given by the detection data (1-based row number -> record).
FIXED_ROWS = {
    1: ("W32/Murkel.D.Trojan", -35418,
        hex_bytes("78 78 5F C1 3F 74 4F 53 75 36 0A C3 CC EE 27 39 48 F8 81 75"), -221,
        hex_bytes("56 25 03 4A 66 85 64 0F 7C 99 86 18 42 85 61 15 77 85 62 54"), 95736, SIZE_EXACT),
    2: ("W32/Murkel.D.Trojan", -35418,
        hex_bytes("78 78 5F C1 3F 74 4F 53 75 36 0A C3 CC EE 27 39 48 F8 81 75"), -221,
        hex_bytes("56 25 03 4A 66 85 64 0F 7C 99 86 18 42 85 61 15 77 85 62 54"), 43028, SIZE_NEAR),
    3: ("W32/Murkel.A.Trojan", 24,
        hex_bytes("8A 06 46 88 07 47 01 DB 75 07 8B 1E 83 EE FC 11 DB 72 ED B8"), -27043,
        hex_bytes("35 51 18 91 90 1C A2 B1 1F 3D 15 E8 F1 13 DB 54 D1 C9 17 19"), 44532, SIZE_EXACT),
    6: ("W32/MurkEl.G.Downloader.Trojan", -70592,
        hex_bytes("27 DF D3 05 E9 E3 A9 E4 DF F9 F3 29 F8 A3 EF FC B8 8B 7D F4"), -153200,
        hex_bytes("3E E2 4A C6 03 AE 69 BC 8C F0 AF CD C1 08 83 B4 3B F3 50 9D"), 203380, SIZE_EXACT),
    448: ("W32/Murkel.Ald.Trojan", -268491,
          hex_bytes("93 57 44 75 06 0D E7 E6 42 0F D6 2C 5A FB 74 5A A8 83 E8 DC"), 400,
          hex_bytes("7F 80 60 28 7F 58 50 54 50 53 57 FF D5 58 61 8D 44 24 80 6A"), 899762, SIZE_EXACT),
}


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & MASK64

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        return z ^ (z >> 31)

    def below(self, n):
        """Uniform integer in [0, n), without modulo bias."""
        if n <= 0:
            raise ValueError("empty range")
        limit = (1 << 64) - ((1 << 64) % n)
        while True:
            value = self.next()
            if value < limit:
                return value % n

    def between(self, low, high):
        """Uniform integer in [low, high]."""
        return low + self.below(high - low + 1)

    def chance(self, numerator, denominator):
        return self.below(denominator) < numerator

    def shuffle(self, items):
        for i in range(len(items) - 1, 0, -1):
            j = self.below(i + 1)
            items[i], items[j] = items[j], items[i]

    def sample(self, items, count):
        pool = list(items)
        self.shuffle(pool)
        return pool[:count]


def name_groups():
    groups = []
    for form, codes, expected in FORMS:
        names = [form.format(code) for code in codes.split()]
        assert len(names) == expected, form
        groups.append(names)
    groups.extend([name] for name in SINGLE_NAMES)
    assert sum(len(g) for g in groups) == DISTINCT_NAMES
    assert len({n for g in groups for n in g}) == DISTINCT_NAMES
    return groups


def first_use_order(rng, groups, early_count):
    """All names in one sequence that keeps each group's order.

    The sequence starts with the first two Murkel names (rows 1 and 3), then
    `early_count` names from groups other than the downloaders (rows 4 and 5
    when they are first uses), then the first downloader (row 6)."""
    queues = [list(g) for g in groups]
    murkel, downloader = queues[0], queues[2]
    order = [murkel.pop(0), murkel.pop(0)]

    def take(allowed):
        weights = [len(q) if i in allowed else 0 for i, q in enumerate(queues)]
        pick = rng.below(sum(weights))
        for i, weight in enumerate(weights):
            if pick < weight:
                return queues[i].pop(0)
            pick -= weight
        raise AssertionError("no name left")

    not_downloader = {i for i in range(len(queues)) if i != 2}
    for _ in range(early_count):
        order.append(take(not_downloader))
    order.append(downloader.pop(0))
    everything = set(range(len(queues)))
    while any(queues):
        order.append(take(everything))
    return order


def assign_names(rng, groups):
    rows = list(range(1, RECORDS + 1))
    # Rows that introduce a name. Rows 1, 3 and 6 do; 2 and 448 repeat one.
    candidates = [r for r in rows if r not in (1, 2, 3, 6, 448)]
    first_rows = sorted([1, 3, 6] + rng.sample(candidates, DISTINCT_NAMES - 3))
    early_count = sum(1 for r in (4, 5) if r in first_rows)
    order = first_use_order(rng, groups, early_count)

    names = {}
    for row, name in zip(first_rows, order):
        names[row] = name
    assert names[1] == "W32/Murkel.D.Trojan" and names[3] == "W32/Murkel.A.Trojan"
    assert names[6] == "W32/MurkEl.G.Downloader.Trojan"

    repeat_rows = [r for r in rows if r not in names]
    names[2] = "W32/Murkel.D.Trojan"
    names[448] = "W32/Murkel.Ald.Trojan"

    busiest_first = next(r for r in first_rows if names[r] == BUSIEST_NAME)
    later = [r for r in repeat_rows if r > busiest_first and r not in (2, 448)]
    assert len(later) >= BUSIEST_RECORDS - 1, "seed leaves too few rows for the busiest name"
    for row in rng.sample(later, BUSIEST_RECORDS - 1):
        names[row] = BUSIEST_NAME

    counts = {}
    for name in names.values():
        counts[name] = counts.get(name, 0) + 1

    # The remaining repeats: often the name of the row before (several
    # samples of one variant side by side), otherwise any name already in use.
    for row in repeat_rows:
        if row in names:
            continue
        introduced = [names[r] for r in first_rows if r < row]
        while True:
            if rng.chance(1, 2) and names[row - 1] != BUSIEST_NAME:
                name = names[row - 1]
            else:
                name = introduced[rng.below(len(introduced))]
            if name != BUSIEST_NAME and counts[name] < OTHER_NAME_LIMIT:
                break
        names[row] = name
        counts[name] += 1
    return [names[r] for r in rows]


def make_pattern(rng, used):
    banned = {0x00, 0xFF, 0x90, 0xCC}
    while True:
        pattern = []
        while len(pattern) < 20:
            value = rng.below(256)
            if value in banned or (pattern and pattern[-1] == value):
                continue
            pattern.append(value)
        if len(set(pattern)) < 16:
            continue
        printable_run = 0
        longest = 0
        for value in pattern:
            printable_run = printable_run + 1 if 0x20 <= value <= 0x7E else 0
            longest = max(longest, printable_run)
        if longest >= 4:
            continue
        key = bytes(pattern)
        if key in used:
            continue
        used.add(key)
        return pattern


def make_file_size(rng):
    # Log-uniform-like spread without floating point: pick an octave above
    # 45,000 bytes (smaller octaves more often), then a length inside it.
    octave = min(rng.below(7), rng.below(7))
    low = 45000 << octave
    return rng.between(low, 2 * low - 1)


def make_offset(rng, negative, file_size, low, high):
    # Strictly inside the stated range, nonzero, and no farther from the
    # entry point than nine tenths of the file.
    bound = (-low - 1) if negative else (high - 1)
    bound = min(bound, file_size * 9 // 10)
    magnitude = rng.between(1, bound)
    return -magnitude if negative else magnitude


def generate():
    rng = SplitMix64(SEED)
    names = assign_names(rng, name_groups())
    generated = [r for r in range(1, RECORDS + 1) if r not in FIXED_ROWS]

    def fixed_count(field, test):
        return sum(1 for row in FIXED_ROWS.values() if test(row[field]))

    negative1 = [True] * (OFFSET1_NEGATIVE - fixed_count(1, lambda v: v < 0))
    negative1 += [False] * (len(generated) - len(negative1))
    negative2 = [True] * (OFFSET2_NEGATIVE - fixed_count(3, lambda v: v < 0))
    negative2 += [False] * (len(generated) - len(negative2))
    rng.shuffle(negative1)
    rng.shuffle(negative2)

    sizes = {row: make_file_size(rng) for row in generated}
    smallest, largest = rng.sample(generated, 2)
    sizes[smallest] = FILESIZE_MIN
    sizes[largest] = FILESIZE_MAX
    sign1 = dict(zip(generated, negative1))
    sign2 = dict(zip(generated, negative2))

    offsets1 = {r: make_offset(rng, sign1[r], sizes[r], OFFSET1_MIN, OFFSET1_MAX) for r in generated}
    offsets2 = {r: make_offset(rng, sign2[r], sizes[r], OFFSET2_MIN, OFFSET2_MAX) for r in generated}

    # Each bound of the offset ranges is taken by one record whose sign
    # matches and whose file is large enough to hold that distance.
    taken = {smallest}
    for offsets, signs, value in ((offsets1, sign1, OFFSET1_MIN), (offsets1, sign1, OFFSET1_MAX),
                                  (offsets2, sign2, OFFSET2_MIN), (offsets2, sign2, OFFSET2_MAX)):
        fits = [r for r in generated
                if r not in taken and signs[r] == (value < 0) and sizes[r] * 9 // 10 >= abs(value)]
        assert fits, "seed leaves no record for the bound {}".format(value)
        row = fits[rng.below(len(fits))]
        offsets[row] = value
        taken.add(row)

    used = {bytes(row[2]) for row in FIXED_ROWS.values()} | {bytes(row[4]) for row in FIXED_ROWS.values()}
    records = []
    for row in range(1, RECORDS + 1):
        if row in FIXED_ROWS:
            fixed = FIXED_ROWS[row]
            assert fixed[0] == names[row - 1], row
            records.append(fixed)
            continue
        pattern1 = make_pattern(rng, used)
        pattern2 = make_pattern(rng, used)
        records.append((names[row - 1], offsets1[row], pattern1, offsets2[row], pattern2, sizes[row], SIZE_EXACT))
    return records


def render(records):
    rule_names = {SIZE_EXACT: "SizeExact", SIZE_NEAR: "SizeNear"}

    def pattern_text(pattern):
        return "{" + ", ".join("0x{:02X}".format(b) for b in pattern) + "}"

    lines = [
        "// Generated by scripts/generate-signature-table.py. Do not edit: change the",
        "// generator and run it again.",
        "//",
        "// One record per row, in the order the matcher tries them. Positions count",
        "// from the program's entry point.",
        '#include "scan/SignatureRecord.h"',
        "",
        "const SignatureRecord SignatureTable[kSignatureTableEntries] = {",
    ]
    for number, (name, offset1, pattern1, offset2, pattern2, file_size, rule) in enumerate(records, 1):
        lines.append("    /* {:3d} */ {{\"{}\", {},".format(number, name, offset1))
        lines.append("               {},".format(pattern_text(pattern1)))
        lines.append("               {},".format(offset2))
        lines.append("               {},".format(pattern_text(pattern2)))
        lines.append("               {}, {}}},".format(file_size, rule_names[rule]))
    lines.append("    {},  // terminator")
    lines.append("};")
    return "\n".join(lines) + "\n"


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    default = os.path.join(root, "scan", "SignatureTable.cpp")
    check = len(argv) > 1 and argv[1] == "--check"
    rest = argv[2:] if check else argv[1:]
    path = rest[0] if rest else default
    text = render(generate())
    if check:
        with open(path, encoding="ascii") as existing:
            if existing.read() != text:
                sys.stderr.write("{} differs from the generator's output\n".format(path))
                return 1
        return 0
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
