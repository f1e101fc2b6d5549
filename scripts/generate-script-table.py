#!/usr/bin/env python3
"""Writes the script signature table and the builder of its stand-in files.

The three records of scan/ScriptSignatureTable.cpp recognise a web page of
2,673 bytes and two small worm scripts of 103 and 131 bytes. Their patterns
are taken from harmless stand-ins of those files, defined here once:

  * the web page is ordinary HTML whose only script block has the type
    "text/plain", which no browser runs; the block starts at byte 1112;
  * the two worm scripts are VBScript files made of comment lines only, so
    running one does nothing.

A record's pattern is the whitespace-free form of a fragment of its
stand-in, stored scrambled: each of its bytes exclusive-or KEY.

The stand-ins themselves are never kept as files in the source tree. This
script writes tests/fixtures/ScriptStandIns.h, from which the native tests
and the demo sample maker build them, and can write them into a folder for
the fuzzer's seeds.

Usage:
  generate-script-table.py                  write both files
  generate-script-table.py --check          exit 1 when a committed file
                                            differs from what is written here
  generate-script-table.py --stand-ins DIR  write the three stand-ins to DIR
"""

import os
import sys

KEY = 0xA7
SLOTS = 13
PATTERN_FIELD = 100
WHITESPACE = b" \t\n\v\f\r"

SIZE_EQUAL = 16
SEARCH_ANYWHERE = 1
RESERVED_IN_USE = 4
CRLF = "\r\n"


def strip(data):
    return bytes(b for b in data if b not in WHITESPACE)


def fill_to(lines, length, filler_prefix, filler_suffix, filler_char):
    """Appends one filler line that brings the text to exactly `length`."""
    used = sum(len(line) for line in lines)
    room = length - used - len(filler_prefix) - len(filler_suffix) - len(CRLF)
    assert room >= 0, "stand-in too long by {}".format(-room)
    lines.append(filler_prefix + filler_char * room + filler_suffix + CRLF)
    return lines


def web_page():
    """A newsletter page of 2,673 bytes with an inert script block at 1112."""
    head = [
        "<html>", "<head>", "<title>Garden club newsletter</title>", "</head>", "<body>",
        "<h1>Garden club newsletter</h1>",
        "<p>Welcome to the spring edition. The seed swap moves to the village hall this year,",
        "and the plant sale opens at nine on the first Saturday of the month.</p>",
        "<p>Members who lent tools for the orchard day can collect them from the shed;",
        "the key hangs in the usual place. Thank you to everyone who helped plant",
        "the new hedge along the lane.</p>",
        "<h2>Dates for the diary</h2>",
        "<ul>", "<li>Seed swap: second Sunday, from ten</li>", "<li>Plant sale: first Saturday, from nine</li>",
        "<li>Orchard walk: last Friday evening</li>", "</ul>",
        "<p>Tea and cake as always. Please bring your own cup.</p>",
    ]
    lines = [line + CRLF for line in head]
    fill_to(lines, 1112, "<!-- ", " -->", "-")
    script = [
        '<script type="text/plain">',
        "// Quellor test page: this block is plain text that no browser runs.",
        "// It stands where a harmful script would stand, so that the cleaner",
        "// has a fragment to recognise; it does nothing and holds nothing.",
        "</script>",
    ]
    lines += [line + CRLF for line in script]
    tail = [
        "<h2>Notes from the plots</h2>",
        "<p>The early potatoes are in and the broad beans survived the frost.",
        "Slugs remain the main enemy; copper tape has helped on two plots.</p>",
        "<p>The water butts are full after the rain. Please close the lids so",
        "that the birds stay safe.</p>",
        "<h2>Committee</h2>",
        "<p>The committee meets on the first Tuesday of every month. Minutes are",
        "pinned to the board by the gate. New members are always welcome.</p>",
    ]
    lines += [line + CRLF for line in tail]
    closing = ["</body>", "</html>"]
    fill_to(lines, 2673 - sum(len(line) + len(CRLF) for line in closing), "<!-- ", " -->", "-")
    lines += [line + CRLF for line in closing]
    return lines


def worm_script(length, words):
    """A VBScript file of comment lines only, `length` bytes long."""
    lines = ["'" + line + CRLF for line in words]
    return fill_to(lines, length, "'", "", ".")


STAND_INS = [
    # (function name, file name, threat, lines, raw offset of the fragment)
    ("WebPage", "newsletter.htm", "W32/MurkEl.T.Trojan", web_page(), 1112),
    ("WormScriptF", "greeting.vbs", "W32/MurkEl.F.Worm",
     worm_script(103, ["Quellor_test_script_F:comments_only;nothing_runs.",
                       "It_stands_in_for_a_worm_script."]), 0),
    ("WormScriptI", "postcard.vbs", "W32/MurkEl.I.Worm",
     worm_script(131, ["Quellor_test_script_I.",
                       "Comment_lines_only:nothing_here_runs,writes_or_spreads;",
                       "it_stands_where_a_worm_script_would."]), 9),
]

# (stand-in index, record offset field, pattern length)
RECORDS = [
    (0, 1112, 100),
    (1, 0, 92),
    (2, 9, 100),
]


def stand_in_bytes(index):
    return "".join(STAND_INS[index][3]).encode("ascii")


def pattern_of(index, raw_offset, length):
    data = stand_in_bytes(index)
    fragment = strip(data[raw_offset:])[:length]
    assert len(fragment) == length
    return fragment


def build_records():
    records = []
    for index, offset, length in RECORDS:
        _, _, threat, lines, raw_offset = STAND_INS[index]
        data = stand_in_bytes(index)
        pattern = pattern_of(index, raw_offset, length)
        # The stand-in must qualify as text and hold its pattern once.
        assert b"\n" in data[:512]
        assert strip(data).count(pattern) == 1
        records.append((threat, len(data), offset, length, bytes(b ^ KEY for b in pattern)))
    assert len(stand_in_bytes(0)) == 2673 and len(stand_in_bytes(1)) == 103 and len(stand_in_bytes(2)) == 131
    assert stand_in_bytes(0)[1112:1119] == b"<script"
    # Slot 2's record says its fragment starts at byte 9 of the stripped text.
    assert strip(stand_in_bytes(2)).find(pattern_of(2, 9, 100)) == 9
    return records


def c_string(text):
    out = ""
    for ch in text:
        if ch == "\\" or ch == '"':
            out += "\\" + ch
        elif ch == "\r":
            out += "\\r"
        elif ch == "\n":
            out += "\\n"
        else:
            assert 0x20 <= ord(ch) < 0x7F
            out += ch
    return '"' + out + '"'


def render_table(records):
    lines = [
        "// Generated by scripts/generate-script-table.py. Do not edit: change the",
        "// generator and run it again.",
        "//",
        "// Three records in use, ten empty slots. Each pattern is stored scrambled",
        "// (every byte exclusive-or kScriptPatternKey) and turned back into text by",
        "// DescrambleScriptTable once per program run.",
        '#include "scan/ScriptSignature.h"',
        "",
        "ScriptSignatureRecord ScriptSignatureTable[kScriptTableSlots] = {",
    ]
    for threat, file_size, offset, length, scrambled in records:
        lines.append('    {{"{}", {}, {}, {}, 0,'.format(threat, file_size, offset, length))
        for start in range(0, len(scrambled), 16):
            chunk = ", ".join("0x{:02X}".format(b) for b in scrambled[start:start + 16])
            opening = "{" if start == 0 else " "
            closing = "}," if start + 16 >= len(scrambled) else ","
            lines.append("     {}{}{}".format(opening, chunk, closing))
        lines.append("     {}, {}, {}, 0, {{}}}},".format(SEARCH_ANYWHERE, RESERVED_IN_USE, SIZE_EQUAL))
    for _ in range(SLOTS - len(records)):
        lines.append("    {},")
    lines.append("};")
    lines.append("")
    lines.append("static_assert(kScriptPatternKey == 0x{:02X}, \"the generator scrambles with this key\");".format(KEY))
    return "\n".join(lines) + "\n"


def render_stand_ins():
    lines = [
        "// Generated by scripts/generate-script-table.py. Do not edit: change the",
        "// generator and run it again.",
        "//",
        "// Builders of the harmless stand-ins the script signature table was made",
        "// from: a newsletter page whose only script block has a type no browser",
        "// runs, and two VBScript files of comment lines only. Portable C++, so the",
        "// native tests and the demo sample maker build the very same bytes.",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <string>",
        "",
        "namespace standin {",
        "",
        "struct ScriptStandIn {",
        "    const char* fileName;  // a name of the kind of file it stands for",
        "    const char* threat;    // the record that recognises it",
        "    std::size_t length;",
        "    std::string (*build)();",
        "};",
        "",
    ]
    for name, _, _, text_lines, _ in STAND_INS:
        lines.append("inline std::string {}()".format(name))
        lines.append("{")
        lines.append("    return std::string(")
        for i, text in enumerate(text_lines):
            end = ");" if i == len(text_lines) - 1 else ""
            lines.append("        {}{}".format(c_string(text), end))
        lines.append("}")
        lines.append("")
    lines.append("// In the order of the table's records.")
    lines.append("const ScriptStandIn kScriptStandIns[] = {")
    for index, (name, file_name, threat, _, _) in enumerate(STAND_INS):
        lines.append('    {{"{}", "{}", {}, {}}},'.format(file_name, threat, len(stand_in_bytes(index)), name))
    lines.append("};")
    lines.append("")
    lines.append("}  // namespace standin")
    return "\n".join(lines) + "\n"


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    outputs = [
        (os.path.join(root, "scan", "ScriptSignatureTable.cpp"), render_table(build_records())),
        (os.path.join(root, "tests", "fixtures", "ScriptStandIns.h"), render_stand_ins()),
    ]
    if len(argv) > 1 and argv[1] == "--check":
        status = 0
        for path, text in outputs:
            with open(path, encoding="ascii") as existing:
                if existing.read() != text:
                    sys.stderr.write("{} differs from the generator's output\n".format(path))
                    status = 1
        return status
    if len(argv) > 2 and argv[1] == "--stand-ins":
        for index, stand_in in enumerate(STAND_INS):
            with open(os.path.join(argv[2], stand_in[1]), "wb") as out:
                out.write(stand_in_bytes(index))
        return 0
    for path, text in outputs:
        with open(path, "w", encoding="ascii", newline="\n") as out:
            out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
