#!/usr/bin/env python3
"""Writes a large game database for benchmarks, built from the sample databases'
real rows, repeated with numbered titles and unique GIDs.

Usage: make-bench-cdl.py OUT.cdl [ROWS]   (ROWS defaults to 100000)
"""
import glob
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))


def sample_rows():
    rows = []
    for path in sorted(glob.glob(os.path.join(here, "..", "sample", "cdl", "*.cdl"))):
        with open(path, encoding="utf-8", newline="") as f:
            lines = f.read().split("\r\n")
        header = lines[1].split("\t")
        rows += [dict(zip(header, l.split("\t"))) for l in lines[2:] if l]
    return rows


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    out, count = sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 100000
    rows = sample_rows()
    if not rows:
        sys.exit("no sample databases in sample/cdl")
    headers = ["Game Name", "Country", "Year", "Publisher", "Serial", "GID"]
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("Benchmark\t%d games from the sample databases\n" % count)
        f.write("\t".join(headers) + "\n")
        for i in range(count):
            r = rows[i % len(rows)]
            lap = i // len(rows)
            name = r["Game Name"] + (" %d" % (lap + 1) if lap else "")
            gid = ("b%06d%s" % (i, r["GID"]))[:23]
            f.write("\t".join([name, r["Country"], r["Year"], r["Publisher"], r["Serial"], gid]) + "\n")
    print("%s: %d games" % (out, count))


if __name__ == "__main__":
    main()
