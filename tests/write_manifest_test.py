#!/usr/bin/env python3
"""The publishing script against tests/data/entry-names.tsv, the table of
names that the program's own tests read too: the script publishes exactly the
names the program takes, and the address the program asks for is the standard
percent-encoding of the name; and its signing, which fails without a trace.
(The program's tests update from a site the script signed.)"""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

HERE = pathlib.Path(__file__).resolve().parent
SCRIPT = HERE.parent / "scripts" / "write_manifest.py"
sys.path.insert(0, str(SCRIPT.parent))
import write_manifest  # noqa: E402


def unescaped(text: str) -> bytes:
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            kind = text[i + 1]
            if kind == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"t": b"\t", "n": b"\n"}.get(kind, kind.encode())
            i += 2
        else:
            out += text[i].encode()
            i += 1
    return bytes(out)


def cases():
    lines = (HERE / "data" / "entry-names.tsv").read_text("utf-8").split("\n")[1:]
    for line in filter(None, lines):
        name, verdict, path, why = (line.split("\t") + [""] * 4)[:4]
        yield unescaped(name), verdict == "ok", path, why


def a_database_file(name: bytes) -> bool:
    """A name the script finds in a folder: a file name ending in .cdl."""
    return name.endswith(b".cdl") and b"/" not in name


def run(folder: pathlib.Path):
    return subprocess.run(
        [sys.executable, str(SCRIPT), str(folder), str(folder / "version.ini")],
        capture_output=True, text=True, errors="backslashreplace")


class EntryNames(unittest.TestCase):
    def test_the_rule_and_the_address(self):
        for name, taken, path, why in cases():
            with self.subTest(name=name, why=why):
                self.assertEqual(write_manifest.refusal(os.fsdecode(name)) is None, taken)
                if taken:
                    self.assertEqual(urllib.parse.quote(name, safe=""), path)

    def test_each_name_alone(self):
        for name, taken, _, why in filter(lambda c: a_database_file(c[0]), cases()):
            with self.subTest(name=name, why=why), tempfile.TemporaryDirectory() as folder:
                folder = pathlib.Path(folder)
                (folder / os.fsdecode(name)).write_bytes(b"db of " + name)
                result = run(folder)
                self.assertEqual(result.returncode, 0 if taken else 1, result.stderr)
                written = folder / "version.ini"
                self.assertEqual(written.exists(), taken)
                if taken:
                    line = written.read_bytes().decode("utf-8")
                    self.assertEqual(line.split(";")[0].encode("utf-8"), name)
                    self.assertTrue(line.endswith("\r\n"))
                else:
                    self.assertIn("not written", result.stderr)

    def test_a_folder_of_both_names_each_refused_one(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = pathlib.Path(folder)
            for name, _, _, _ in filter(lambda c: a_database_file(c[0]), cases()):
                (folder / os.fsdecode(name)).write_bytes(b"db")
            result = run(folder)
            self.assertEqual(result.returncode, 1)
            self.assertFalse((folder / "version.ini").exists())
            for name, taken, _, _ in filter(lambda c: a_database_file(c[0]), cases()):
                shown = ascii(os.fsdecode(name)) + " "
                if taken:
                    self.assertNotIn(shown, result.stderr)
                else:
                    self.assertIn(shown, result.stderr)


class Signing(unittest.TestCase):
    def test_a_failed_signing_changes_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = pathlib.Path(folder)
            (folder / "a.cdl").write_bytes(b"db")
            (folder / "version.ini").write_bytes(b"old\r\n")
            result = subprocess.run(
                [sys.executable, str(SCRIPT), str(folder), str(folder / "version.ini"),
                 "--sign", str(folder / "no.key")], capture_output=True, text=True)
            self.assertEqual(result.returncode, 1)
            self.assertIn("not written", result.stderr)
            self.assertEqual((folder / "version.ini").read_bytes(), b"old\r\n")
            self.assertEqual(sorted(p.name for p in folder.iterdir()), ["a.cdl", "version.ini"])


if __name__ == "__main__":
    unittest.main()
