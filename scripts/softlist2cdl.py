#!/usr/bin/env python3
"""Turns a software list (the XML lists of Debian's mame-data package, CC0-1.0)
into a TIRMO game database (.cdl).

Usage: softlist2cdl.py LIST.xml OUT.cdl "Display Name" ["description"] [--country C]
(the description defaults to the list's own)

The database is TAB-separated text with CR LF line ends: the display name and
a description, then the headers, then one line per disc. The title without its
region is the game name, the region the country, the list's short name the GID.
Lists of a system sold in one country only name no region in their titles:
--country gives it. A list that names no serial at all gets no Serial column.
"""
import argparse
import re
import sys
import xml.etree.ElementTree as ET

HEADERS = ["Game Name", "Country", "Year", "Publisher", "Serial", "GID"]
MAX_GID = 23  # what an ownership file line holds
MAX_NAME = 259  # what the catalogue reads of a first line


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
# Short forms some lists use, spelled out so that a list sorted by country
# keeps each country's games together.
SHORT_REGIONS = {"bra": "Brazil", "fra": "France", "ita": "Italy", "jpn": "Japan", "spa": "Spain"}


def region(part):
    """The region a title's group part names, or None."""
    key = part.casefold()
    return SHORT_REGIONS.get(key) or (part if key in REGIONS else None)


def split_title(description):
    """'Title (USA, demo) (Disc 1)' -> ('Title (demo) (Disc 1)', 'USA'): the
    regions of the first group that names any leave the title."""
    for m in re.finditer(r" \(([^()]*)\)", description):
        parts = [p.strip() for p in m.group(1).split(",")]
        regions = [r for r in map(region, parts) if r]
        if not regions:
            continue
        rest = [p for p in parts if not region(p)]
        keep = f" ({', '.join(rest)})" if rest else ""
        title = description[: m.start()] + keep + description[m.end():]
        return title.strip(), ", ".join(regions)
    return description, ""


def games(path, default_country):
    for sw in ET.parse(path).getroot().iter("software"):
        name, country = split_title(clean(sw.findtext("description")))
        country = country or default_country
        serial = next((i.get("value") for i in sw.iter("info") if i.get("name") == "serial"), "")
        gid = sw.get("name") or ""
        # A GID is a line of the ownership file and a field of the grid's reader.
        if not re.fullmatch(r'[!#-~]{1,%d}' % MAX_GID, gid):
            sys.exit(f"{path}: short name {gid!r} is not 1 to {MAX_GID} printable characters without spaces or quotes")
        yield [name, country, clean(sw.findtext("year")), clean(sw.findtext("publisher")),
               clean(serial), gid]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("src", metavar="LIST.xml")
    parser.add_argument("out", metavar="OUT.cdl")
    parser.add_argument("display", metavar="DISPLAY_NAME")
    parser.add_argument("description", nargs="?", help="defaults to the list's own")
    parser.add_argument("--country", default="", help="of the games whose titles name no region")
    args = parser.parse_args()
    src, display = args.src, args.display
    description = args.description or ET.parse(src).getroot().get("description", "")
    if re.search(r'[\t\r\n/\\:*?"<>|]', display) or not 0 < len(display) <= MAX_NAME:
        sys.exit(f"display name {display!r} can't be a file name of 1 to {MAX_NAME} characters")
    rows = sorted(games(src, clean(args.country)), key=lambda r: (r[0].casefold(), r[1].casefold(), r[5]))
    if len({r[5] for r in rows}) != len(rows):
        sys.exit(f"{src}: short names are not unique")
    headers = HEADERS
    serial = HEADERS.index("Serial")
    if not any(r[serial] for r in rows):
        headers = HEADERS[:serial] + HEADERS[serial + 1:]
        rows = [r[:serial] + r[serial + 1:] for r in rows]
    lines = [display + "\t" + clean(description), "\t".join(headers)] + ["\t".join(r) for r in rows]
    with open(args.out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    print(f"{args.out}: {len(rows)} games")


if __name__ == "__main__":
    main()
