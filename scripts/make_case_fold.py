#!/usr/bin/env python3
"""Writes src/base/case_fold_table.h: Unicode's simple case folding (one character to
one character) as runs, from Python's own Unicode database.

A run (first, last, delta, stride) folds every stride-th character from first to
last to itself plus delta. Run again when Python's Unicode version moves on:
    python3 scripts/make_case_fold.py
"""
import pathlib
import sys
import unicodedata


def folding():
    table = {}
    for cp in range(0x110000):
        c = chr(cp)
        if unicodedata.category(c) == "Cs":
            continue
        folded = c.casefold()
        if len(folded) != 1:  # a full folding (ß to ss): the simple one is the lower case
            folded = c.lower() if len(c.lower()) == 1 else c
        if folded != c:
            table[cp] = ord(folded)
    return sorted(table.items())


def runs(items):
    out, i = [], 0
    while i < len(items):
        first, to = items[i]
        delta = to - first
        best_end, best_stride = i, 1
        for stride in (1, 2):
            j = i
            while (j + 1 < len(items) and items[j + 1][0] == items[j][0] + stride
                   and items[j + 1][1] - items[j + 1][0] == delta):
                j += 1
            if j > best_end:
                best_end, best_stride = j, stride
        out.append((first, items[best_end][0], delta, best_stride))
        i = best_end + 1
    return out


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    lines = [
        "#pragma once",
        "// Made by scripts/make_case_fold.py from Unicode %s: do not edit." % unicodedata.unidata_version,
        "// Simple case folding as runs: every stride-th character from first to last",
        "// folds to itself plus delta.",
        "#include <array>",
        "#include <cstdint>",
        "",
        "namespace velmora::case_fold {",
        "",
        "struct Run {",
        "    std::uint32_t first;",
        "    std::uint32_t last;",
        "    std::int32_t delta;",
        "    std::uint32_t stride;",
        "};",
        "",
    ]
    table = runs(folding())
    # The reader looks a character up in the last run that starts at or before it.
    assert all(b[0] > a[1] for a, b in zip(table, table[1:])), "runs overlap"
    lines.append("inline constexpr std::array<Run, %d> kRuns{{" % len(table))
    for first, last, delta, stride in table:
        lines.append("    {0x%04X, 0x%04X, %d, %d}," % (first, last, delta, stride))
    lines += ["}};", "", "}  // namespace velmora::case_fold", ""]
    target = root / "src" / "base" / "case_fold_table.h"
    target.write_text("\n".join(lines))
    print("wrote %s (%d runs)" % (target, len(table)), file=sys.stderr)


if __name__ == "__main__":
    main()
