#!/usr/bin/env python3
"""Size figures of the client's classes, from Universal Ctags.

Prints the data members of one class (all and public ones), the lines of its header, the
classes with the most members and the most lines of function definitions, and the longest
functions. Usage: scripts/classmetrics.py [--class Tlobby] [--top 5] [folders...]
"""
import argparse
import collections
import os
import re
import subprocess
import sys

CLIENT_FOLDERS = ["app", "lobby", "net", "platform", "ui", "update", "widgets"]


def tags(paths):
    out = subprocess.run(
        ["ctags", "-R", "-x", "--languages=C++", "--c++-kinds=+m-p",
         "--fields=+aeKS", "--_xformat=%K\t%N\t%s\t%a\t%n\t%e\t%F\t%P",
         "-o", "-"] + paths,
        check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        kind, name, scope, access, start, end, path, pattern = (line.split("\t") + [""] * 8)[:8]
        yield {
            "kind": kind, "name": name, "scope": scope, "access": access,
            "start": int(start) if start.isdigit() else 0,
            "end": int(end) if end.isdigit() else 0,
            "path": path, "pattern": pattern,
        }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--class", dest="cls", default="Tlobby")
    parser.add_argument("--header", default="lobby/lobby.h")
    parser.add_argument("--top", type=int, default=5)
    parser.add_argument("folders", nargs="*", default=CLIENT_FOLDERS)
    args = parser.parse_args()
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

    entries = list(tags(args.folders))
    members = [e for e in entries if e["kind"] == "member" and e["scope"] == args.cls
               and " static " not in " " + e["pattern"].replace("/^", " ") + " "
               and not re.search(r"\b" + re.escape(e["name"]) + r"\s*\(", e["pattern"])]
    public = [e for e in members if e["access"] == "public"]
    with open(args.header, encoding="utf-8") as header:
        header_lines = sum(1 for _ in header)

    print(f"{args.cls}: {len(members)} data members, {len(public)} public")
    if public:
        print("  public: " + ", ".join(sorted(e["name"] for e in public)))
    print(f"{args.header}: {header_lines} lines")

    classes = {e["name"] for e in entries if e["kind"] in ("class", "struct")}
    declared = collections.Counter()
    defined_lines = collections.Counter()
    for e in entries:
        if e["kind"] in ("member", "function") and e["scope"]:
            owner = e["scope"].split("::")[-1]
            if owner not in classes:
                continue
            if e["kind"] == "member":
                declared[owner] += 1
            elif e["end"] >= e["start"] > 0:
                defined_lines[owner] += e["end"] - e["start"] + 1
                declared[owner] += 1
    print(f"classes with the most data members and defined functions (top {args.top}):")
    for owner, count in declared.most_common(args.top):
        print(f"  {owner}: {count} ({defined_lines[owner]} lines of function definitions)")

    functions = sorted((e for e in entries if e["kind"] == "function" and e["end"] >= e["start"] > 0),
                       key=lambda e: e["end"] - e["start"], reverse=True)
    print(f"longest functions (top {args.top}):")
    for e in functions[:args.top]:
        owner = e["scope"] + "::" if e["scope"] else ""
        print(f"  {owner}{e['name']}: {e['end'] - e['start'] + 1} lines ({e['path']}:{e['start']})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
