#!/usr/bin/env python3
"""The VELMORA.CONF key table of doc/configuration.md, turned into the man page's key list (--man)
or an example VELMORA.CONF with every key commented out at its default (--conf): one table for all
three.

    tools/conf-keys.py --man|--conf doc/configuration.md > OUT
"""
import re
import sys
import textwrap


HEADING = re.compile(r"^#{1,6} +(.*?)\s*$")


def rows(document):
    """(keys, values, default, effect) of each row of the table under the heading "VELMORA.CONF"
    (of any level), up to the next heading."""
    inside = False
    for line in open(document, encoding="utf-8"):
        heading = HEADING.match(line)
        if heading:
            inside = heading.group(1) == "VELMORA.CONF"
            continue
        if inside and line.startswith("| `"):
            cells = [c.strip() for c in line.strip().strip("|").split(" | ")]
            if len(cells) != 4:
                sys.exit("conf-keys: a row of the VELMORA.CONF table without four cells: " + line)
            keys = re.findall(r"`([a-z0-9_]+)`", cells[0])
            yield keys, cells[1], cells[2], cells[3]


def plain(text):
    return text.replace("`", "")


def roff(text):
    """Markdown cell text as roff: code in bold, backslashes escaped, no line starting a request."""
    text = text.replace("\\", "\\e")
    text = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fR", text)
    text = re.sub(r"`([^`]*)`", r"\\fB\1\\fR", text)
    text = text.replace("-", "\\-")
    return text


def man(table):
    out = []
    for keys, values, default, effect in table:
        # One tag line a key (.TQ adds a tag to the same paragraph), so each stands where man -k
        # and a reader's search expect it.
        for n, key in enumerate(keys):
            out.append(".TP" if n == 0 else ".TQ")
            out.append("\\fB" + key + "\\fR")
        out.append("Values: " + roff(values) + ".")
        out.append("Default: " + roff(default) + ".")
        out.append(".br")
        for sentence_line in textwrap.wrap(roff(effect), 100, break_on_hyphens=False):
            out.append(("\\&" + sentence_line) if sentence_line[0] in ".'" else sentence_line)
    return "\n".join(out) + "\n"


def defaults(keys, default):
    """The default of each key: "empty" is nothing; "(...)" after a value is a remark."""
    text = plain(default)
    if text.startswith("empty"):
        return [""] * len(keys)
    text = re.sub(r"\s*\(.*\)$", "", text)
    parts = [p.strip() for p in text.split(",")] if len(keys) > 1 else [text]
    return parts if len(parts) == len(keys) else [text] * len(keys)


def conf(table):
    out = ["# VELMORA.CONF: the options of one velmora site, one \"key = value\" a line.",
           "# Every key is shown at its default, commented out: remove the \"#\" to change one.",
           "# A file holding smtp_password must be readable by its owner alone (chmod 600).", ""]
    for keys, values, default, effect in table:
        out.append("# " + ", ".join(keys) + ": " + plain(values) + " (default: " + plain(default) + ")")
        out.extend(textwrap.wrap(plain(effect), 96, initial_indent="#   ", subsequent_indent="#   "))
        for key, value in zip(keys, defaults(keys, default)):
            out.append("#" + key + " = " + value if value else "#" + key + " =")
        out.append("")
    return "\n".join(out)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("--man", "--conf"):
        sys.exit(__doc__)
    table = list(rows(sys.argv[2]))
    if not table:
        sys.exit("conf-keys: no VELMORA.CONF table in " + sys.argv[2])
    sys.stdout.write(man(table) if sys.argv[1] == "--man" else conf(table))


main()
