"""Reads a list report with the standard parsers and prints its entries as the tab-separated
listing does (kind, state, size, path), one a line; then one line per time it read:
"time<TAB>path<TAB>field<TAB>seconds since 1970". A report that does not parse, or an entry
that lacks a field the format must have, ends the script with an error.

usage: list_formats_check.py FORMAT REPORT
"""
import csv
import datetime
import json
import re
import sys
import xml.etree.ElementTree as ET

ISO = re.compile(r"^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})(\.\d{1,9})?Z$")
DFXML = "{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}"


def seconds(text):
    m = ISO.match(text)
    if not m:
        raise SystemExit("not an ISO 8601 UTC time: %r" % text)
    t = datetime.datetime.strptime(m.group(1), "%Y-%m-%dT%H:%M:%S").replace(tzinfo=datetime.timezone.utc)
    return int(t.timestamp())


def main():
    fmt, path = sys.argv[1], sys.argv[2]
    entries, times = [], []

    def add(kind, state, size, name, stamps):
        entries.append("%s\t%s\t%d\t%s" % (kind, state, int(size), name))
        for field, value in stamps.items():
            if value is not None:
                times.append("time\t%s\t%s\t%d" % (name, field, value))

    if fmt == "csv":
        with open(path, newline="", encoding="utf-8") as f:
            rows = csv.DictReader(f)
            need = {"type", "state", "size", "modified", "accessed", "changed", "created", "path"}
            if not need <= set(rows.fieldnames or []):
                raise SystemExit("header lacks fields: %r" % rows.fieldnames)
            for r in rows:
                stamps = {k: seconds(r[k]) if r[k] else None for k in ("modified", "accessed", "changed", "created")}
                add({"folder": "d", "file": "f"}[r["type"]], r["state"], r["size"], r["path"], stamps)
    elif fmt == "json":
        with open(path, encoding="utf-8") as f:
            for line in f:
                o = json.loads(line)
                stamps = {k: seconds(o[k]) if o[k] is not None else None
                          for k in ("modified", "accessed", "changed", "created")}
                add({"folder": "d", "file": "f"}[o["type"]], o["state"], o["size"], o["path"], stamps)
    elif fmt == "dfxml":
        root = ET.parse(path).getroot()
        if root.tag != DFXML + "dfxml":
            raise SystemExit("root element is %s" % root.tag)
        for fo in root.iter(DFXML + "fileobject"):
            alloc, unalloc = fo.find(DFXML + "alloc"), fo.find(DFXML + "unalloc")
            if (alloc is None) == (unalloc is None):
                raise SystemExit("a fileobject needs exactly one of alloc and unalloc")
            stamps = {}
            for element, field in (("mtime", "modified"), ("atime", "accessed"), ("ctime", "changed"),
                                   ("crtime", "created")):
                e = fo.find(DFXML + element)
                stamps[field] = seconds(e.text) if e is not None else None
            kind = {"d": "d", "r": "f"}[fo.find(DFXML + "name_type").text]
            add(kind, "live" if alloc is not None else "deleted", fo.find(DFXML + "filesize").text,
                fo.find(DFXML + "filename").text or "", stamps)
    elif fmt == "body":
        with open(path, encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\n").split("|")
                if len(fields) != 11:
                    raise SystemExit("a bodyfile line needs 11 fields: %r" % line)
                md5, name, inode, mode, uid, gid, size, atime, mtime, ctime, crtime = fields
                deleted = name.endswith(" (deleted)")
                if deleted:
                    name = name[: -len(" (deleted)")]
                if not name.startswith("/"):
                    raise SystemExit("a bodyfile name starts with '/': %r" % name)
                stamps = {k: int(v) or None for k, v in
                          (("modified", mtime), ("accessed", atime), ("changed", ctime), ("created", crtime))}
                add({"d": "d", "r": "f"}[mode[0]], "deleted" if deleted else "live", size, name[1:], stamps)
    else:
        raise SystemExit("unknown format " + fmt)
    sys.stdout.write("".join(line + "\n" for line in entries + times))


main()
