#!/usr/bin/env python3
"""Turns a software list (the XML lists of Debian's mame-data package, CC0-1.0)
into a TIRMO game database (.cdl).

Usage: softlist2cdl.py LIST.xml OUT.cdl "Display Name" ["description"]
(the description defaults to the list's own)

The database is TAB-separated text with CR LF line ends: the display name and
a description, then the headers, then one line per disc. The title without its
region is the game name, the region the country, the list's short name the GID.
"""
import re
import sys
import xml.etree.ElementTree as ET

HEADERS = ["Game Name", "Country", "Year", "Publisher", "Serial", "GID"]
MAX_GID = 23  # what an ownership file line holds


def clean(text):
    """One field: no TAB or line end; no double quote, which the grid's CSV
    reader would take as field quoting."""
    text = re.sub(r"\s+", " ", text or "").strip()
    return text.replace('"', "'")


REGIONS = {
    "asia", "australia", "austria", "belgium", "brazil", "canada", "china", "denmark", "euro",
    "europe", "finland", "france", "germany", "greece", "hong kong", "italy", "japan", "korea",
    "netherlands", "norway", "portugal", "russia", "scandinavia", "spain", "sweden",
    "switzerland", "taiwan", "uk", "usa", "world",
}


def split_title(description):
    """'Title (USA, demo) (Disc 1)' -> ('Title (demo) (Disc 1)', 'USA'): the
    regions of the first group that names any leave the title."""
    for m in re.finditer(r" \(([^()]*)\)", description):
        parts = [p.strip() for p in m.group(1).split(",")]
        regions = [p for p in parts if p.casefold() in REGIONS]
        if not regions:
            continue
        rest = [p for p in parts if p.casefold() not in REGIONS]
        keep = f" ({', '.join(rest)})" if rest else ""
        title = description[: m.start()] + keep + description[m.end():]
        return title.strip(), ", ".join(regions)
    return description, ""


def games(path):
    for sw in ET.parse(path).getroot().iter("software"):
        name, country = split_title(clean(sw.findtext("description")))
        serial = next((i.get("value") for i in sw.iter("info") if i.get("name") == "serial"), "")
        gid = sw.get("name")
        if not gid or len(gid) > MAX_GID:
            sys.exit(f"{path}: short name {gid!r} is not 1 to {MAX_GID} characters")
        yield [name, country, clean(sw.findtext("year")), clean(sw.findtext("publisher")),
               clean(serial), gid]


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    src, out, display = sys.argv[1:4]
    description = sys.argv[4] if len(sys.argv) == 5 else ET.parse(src).getroot().get("description", "")
    if re.search(r'[\t\r\n/\\:*?"<>|]', display):
        sys.exit(f"display name {display!r} can't be a file name")
    rows = sorted(games(src), key=lambda r: (r[0].casefold(), r[1].casefold(), r[5]))
    if len({r[5] for r in rows}) != len(rows):
        sys.exit(f"{src}: short names are not unique")
    lines = [display + "\t" + clean(description), "\t".join(HEADERS)] + ["\t".join(r) for r in rows]
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    print(f"{out}: {len(rows)} games")


if __name__ == "__main__":
    main()
