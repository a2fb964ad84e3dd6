#!/usr/bin/env python3
"""Writes version.ini for a folder of game databases.

One line per *.cdl file, "<name>;<size>-<sha256>", so that a line changes
whenever its file does. With --program VERSION a "Main;VERSION" line is added:
changing it tells every user that a newer program is out.

Usage: write_manifest.py CDL_FOLDER OUTPUT [--program VERSION]
"""
import argparse
import hashlib
import pathlib
import sys


def manifest_lines(folder: pathlib.Path, program: str | None) -> list[str]:
    lines = []
    if program:
        lines.append(f"Main;{program}")
    for path in sorted(folder.glob("*.cdl"), key=lambda p: p.name.lower()):
        data = path.read_bytes()
        lines.append(f"{path.name};{len(data)}-{hashlib.sha256(data).hexdigest()}")
    return lines


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("output", type=pathlib.Path)
    parser.add_argument("--program", help="program version line (Main;VERSION)")
    args = parser.parse_args()
    if not args.folder.is_dir():
        print(f"write_manifest: no folder {args.folder}", file=sys.stderr)
        return 1
    bad = [p.name for p in args.folder.glob("*.cdl") if ";" in p.name or "/" in p.name]
    if bad:
        print(f"write_manifest: names with ';' can't be listed: {bad}", file=sys.stderr)
        return 1
    text = "".join(line + "\r\n" for line in manifest_lines(args.folder, args.program))
    args.output.write_bytes(text.encode("utf-8"))
    print(f"wrote {args.output} ({text.count(chr(10))} lines)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
