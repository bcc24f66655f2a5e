#!/usr/bin/env python3
"""Reads velmora-ini archive exports back as a spreadsheet or a script would, and compares each
submission tagged in EXPECTED with what was posted.

    check_archive_export.py EXPECTED.json EXPORT.csv EXPORT.json EXPORT.ndjson

EXPECTED: [{"tag": T, "fields": [[name_hex, value_hex], ...], "uploads": [[name_hex, bytes_hex], ...]}]; every post carries tag=T. Exit 0
when every export holds every submission exactly, else 1 with what differs.
"""
import base64
import csv
import json
import sys

FORMULA = ("=", "+", "-", "@", "\t", "\r")


def field_bytes(field):
    if "value" in field:
        return field["value"].encode("utf-8")
    return base64.b64decode(field["base64"])


def check_json(expected, objects, what):
    by_tag = {}
    for o in objects:
        for f in o["fields"]:
            if f["name"] == "tag":
                by_tag[f.get("value")] = o
    problems = []
    for e in expected:
        o = by_tag.get(e["tag"])
        if o is None:
            problems.append("%s: no submission tagged %s" % (what, e["tag"]))
            continue
        got = [(f["name"].encode("utf-8"), field_bytes(f)) for f in o["fields"]]
        want = [(bytes.fromhex(n), bytes.fromhex(v)) for n, v in e["fields"]]
        files = [(u["name"].encode("utf-8"), base64.b64decode(u.get("base64", ""))) for u in o["uploads"]]
        if files != [(bytes.fromhex(n), bytes.fromhex(b)) for n, b in e["uploads"]]:
            problems.append("%s: %s uploads differ: %r" % (what, e["tag"], [(n, len(b)) for n, b in files]))
        if got != want:
            names = [n for n, _ in got] == [n for n, _ in want]
            problems.append("%s: %s differs: %d fields against %d posted, names %s" % (
                what, e["tag"], len(got), len(want), "alike" if names else "differ: %r" % [n for n, _ in got][:8]))
    return problems


def check_csv(expected, path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    by_tag = {r.get("tag"): r for r in rows}
    problems = []
    for e in expected:
        r = by_tag.get(e["tag"])
        if r is None:
            problems.append("csv: no row tagged %s" % e["tag"])
            continue
        for n, v in e["fields"]:
            name, value = bytes.fromhex(n), bytes.fromhex(v)
            try:
                name, value = name.decode("utf-8"), value.decode("utf-8")
            except UnicodeDecodeError:
                continue  # not text: a spreadsheet cannot hold it; the JSON export carries it exactly
            want = "'" + value if value.startswith(FORMULA) else value
            if r.get(name) != want:
                problems.append("csv: %s field %r is %r, posted %r" % (e["tag"], name, (r.get(name) or "")[:80], want[:80]))
    return problems


def main():
    expected = json.load(open(sys.argv[1]))
    problems = check_csv(expected, sys.argv[2])
    problems += check_json(expected, json.load(open(sys.argv[3], encoding="utf-8")), "json")
    ndjson = [json.loads(line) for line in open(sys.argv[4], encoding="utf-8") if line.strip()]
    problems += check_json(expected, ndjson, "ndjson")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
