#!/usr/bin/env python3
"""Writes version.ini for a folder of game databases.

One line per *.cdl file, "<name>;<size>-<sha256>", so that a line changes
whenever its file does and TIRMO can check each download. With --program
VERSION a "Main;VERSION" line is added: changing it tells every user that a
newer program is out.

A file whose name TIRMO would refuse is named on standard error and nothing
is written: exit status 1. TIRMO asks for every other name with each byte
outside letters, digits and "-._~" percent-encoded, so a web server finds
the file whatever characters its name has.

With --sign SECRET_KEY (a key made by "minisign -G") OUTPUT.minisig is
written beside it by minisign, with the time of signing in its trusted
comment ("timestamp:<seconds>"): a TIRMO built with the matching public key
takes only a manifest signed so, and none older than the last it took. Both
files take their places only when the signing has worked.

Usage: write_manifest.py CDL_FOLDER OUTPUT [--program VERSION] [--sign SECRET_KEY]
"""
import argparse
import hashlib
import os
import pathlib
import subprocess
import sys
import time


def refusal(name: str) -> str | None:
    """Why TIRMO can't take this name; None when it can. The same rule as the
    program's: both are tested against tests/data/entry-names.tsv."""
    raw = os.fsencode(name)
    if not raw:
        return "has no name"
    if len(raw) > 259:
        return "is longer than 259 bytes"
    if raw in (b".", b".."):
        return "is the name of a folder"
    if b";" in raw:
        return 'has ";", which ends a name in version.ini'
    if b"/" in raw or b"\\" in raw:
        return "has a path separator"
    if any(b < 32 or b == 127 for b in raw):
        return "has a control character"
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError:
        return "isn't UTF-8, which its address can't carry"
    return None


def manifest_lines(paths: list[pathlib.Path], program: str | None) -> list[str]:
    lines = []
    if program:
        lines.append(f"Main;{program}")
    for path in sorted(paths, key=lambda p: p.name.lower()):
        data = path.read_bytes()
        lines.append(f"{path.name};{len(data)}-{hashlib.sha256(data).hexdigest()}")
    return lines


def sign(manifest: pathlib.Path, secret_key: pathlib.Path, output: pathlib.Path) -> bool:
    """Writes manifest.minisig with minisign; a password it asks for is read
    from the terminal."""
    comment = f"timestamp:{int(time.time())}\tfile:{output.name}"
    try:
        done = subprocess.run(["minisign", "-S", "-s", str(secret_key), "-m", str(manifest),
                               "-x", f"{manifest}.minisig", "-t", comment], stdout=subprocess.DEVNULL)
    except FileNotFoundError:
        print("write_manifest: minisign is not installed (Debian package minisign)", file=sys.stderr)
        return False
    if done.returncode != 0:
        print(f"write_manifest: minisign couldn't sign with {secret_key}", file=sys.stderr)
    return done.returncode == 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("output", type=pathlib.Path)
    parser.add_argument("--program", help="program version line (Main;VERSION)")
    parser.add_argument("--sign", type=pathlib.Path, metavar="SECRET_KEY",
                        help="minisign secret key: also write OUTPUT.minisig")
    args = parser.parse_args()
    if not args.folder.is_dir():
        print(f"write_manifest: no folder {args.folder}", file=sys.stderr)
        return 1
    paths = list(args.folder.glob("*.cdl"))
    refused = [(p.name, refusal(p.name)) for p in paths if refusal(p.name)]
    if refused:
        print(f"write_manifest: {args.output} not written; rename these files in {args.folder}:", file=sys.stderr)
        for name, why in sorted(refused):
            print(f"  {ascii(name)} {why}", file=sys.stderr)
        return 1
    text = "".join(line + "\r\n" for line in manifest_lines(paths, args.program))
    if not args.sign:
        args.output.write_bytes(text.encode("utf-8"))
        print(f"wrote {args.output} ({text.count(chr(10))} lines)")
        if os.path.exists(f"{args.output}.minisig"):
            print(f"write_manifest: {args.output}.minisig no longer signs it: sign with --sign, or "
                  "remove it for programs built without a key", file=sys.stderr)
        return 0
    new = args.output.with_name(args.output.name + ".new")
    new.write_bytes(text.encode("utf-8"))
    if not sign(new, args.sign, args.output):
        new.unlink()
        print(f"write_manifest: {args.output} not written", file=sys.stderr)
        return 1
    # The signature first: a client between the two steps is refused once
    # rather than taking an old list.
    os.replace(f"{new}.minisig", f"{args.output}.minisig")
    os.replace(new, args.output)
    print(f"wrote {args.output} ({text.count(chr(10))} lines) and {args.output}.minisig")
    return 0


if __name__ == "__main__":
    sys.exit(main())
