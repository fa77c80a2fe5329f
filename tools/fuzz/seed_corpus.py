#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus: one file per statement of the conformance files, of the program's
statement lists (base schema, index pass, upgrades) and of the copy catalogue.

usage: seed_corpus.py <repository root> <output folder>
"""
import hashlib
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
out = pathlib.Path(sys.argv[2])
out.mkdir(parents=True, exist_ok=True)
seeds = set()


def add(text):
    text = text.strip()
    if text:
        seeds.add(text)


# Conformance files: the statement lines of each block (up to "----" or a blank line).
for test in sorted((root / "tests" / "engine").rglob("*.test")):
    block, in_statement = [], False
    for line in test.read_text(encoding="utf-8").splitlines() + [""]:
        if not in_statement:
            if line.startswith(("statement", "query")):
                block, in_statement = [], True
            continue
        if line == "" or line == "----":
            add("\n".join(block))
            in_statement = line == "----"
            if line == "----":
                in_statement = False
            continue
        block.append("" if line == "\\" else line)

# Statement lists: <number> TAB <kind> TAB "<text>" with \r \n \t \" \\ escapes.
escapes = {"r": "\r", "n": "\n", "t": "\t", '"': '"', "\\": "\\"}
for name in ("index_pass.txt", "upgrade_statements.txt"):
    for line in (root / "src" / "schema" / "data" / name).read_text(encoding="utf-8").splitlines():
        m = re.match(r'^\d+\t[^\t]*\t"(.*)"$', line)
        if m:
            add(re.sub(r"\\(.)", lambda e: escapes.get(e.group(1), e.group(1)), m.group(1)))

# Base schema: "Table: col type [flag]; ..." becomes its CREATE TABLE.
for line in (root / "src" / "schema" / "data" / "base_schema.txt").read_text(encoding="utf-8").splitlines():
    m = re.match(r"^(\w+): (.*)$", line)
    if not m:
        continue
    columns = []
    for item in m.group(2).split("; "):
        parts = item.split(" ", 2)
        if len(parts) < 2:
            continue
        flag = parts[2] if len(parts) > 2 else ""
        if flag.startswith("="):
            extra = f" NOT NULL DEFAULT ({flag[1:]})"
        else:
            extra = {"NN": " NOT NULL", "identity": " NOT NULL IDENTITY(1,1)"}.get(flag, " NULL")
        columns.append(f"[{parts[0]}] {parts[1]}{extra}")
    add(f"CREATE TABLE [{m.group(1)}] ({', '.join(columns)})")

# Copy catalogue: <n> TAB <table> TAB <after> TAB <columns> ... becomes the copy statement.
for line in (root / "src" / "transfer" / "data" / "catalogue.txt").read_text(encoding="utf-8").splitlines():
    fields = line.split("\t")
    if len(fields) >= 4 and fields[0].isdigit():
        add(f"INSERT INTO [{fields[1]}] ({fields[3]}) SELECT {fields[3]} FROM VoPaDati.dbo.[{fields[1]}]")

for text in sorted(seeds):
    (out / hashlib.sha1(text.encode("utf-8")).hexdigest()).write_text(text, encoding="utf-8")
print(f"{len(seeds)} seeds in {out}")
