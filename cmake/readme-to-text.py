#!/usr/bin/python3
"""Turns the user part of README.md into the plain-text README.txt of the zip.

  readme-to-text.py README.md README.txt

The user part ends at the line holding END_MARK; what follows is for the
people who build Lumenkeep and is not shipped. Headings get an underline,
tables are aligned in columns, backticks and bold marks go, and a link keeps
its text, with its address when that is a web address. A link to a file
(docs/..., scripts/...) would point outside the zip: it stops the build.
Lines end in CR LF, as Notepad and every Windows tool expect.
"""
import re
import sys

END_MARK = "<!-- README.txt ends here"
UNDERLINES = {1: "=", 2: "-", 3: "~"}
LINK = re.compile(r"\[([^\]]+)\]\(([^)]+)\)")


def link(match):
    text, target = match.group(1), match.group(2)
    if re.match(r"[a-z]+://", target):
        return text if text == target else f"{text} ({target})"
    sys.exit(f"readme-to-text: the user part links to {target}, which is not in the zip")


def inline(text):
    text = LINK.sub(link, text)
    return text.replace("`", "").replace("**", "")


def table(rows):
    cells = [[inline(c.strip()) for c in row.strip().strip("|").split("|")] for row in rows
             if not re.fullmatch(r"\|[\s|:-]+\|", row.strip())]
    widths = [max(len(row[i]) for row in cells) for i in range(len(cells[0]))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() for row in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return lines


def convert(markdown):
    out, rows = [], []
    for line in markdown.splitlines():
        if line.startswith(END_MARK):
            break
        if line.startswith("|"):
            rows.append(line)
            continue
        if rows:
            out += table(rows)
            rows = []
        heading = re.match(r"(#+) (.*)", line)
        if line.startswith("    ") or not line.strip():
            out.append(line.rstrip())  # an example: kept as written
        elif heading:
            title = inline(heading.group(2))
            out += [title, UNDERLINES[len(heading.group(1))] * len(title)]
        elif not line.startswith("<!--"):
            out.append(inline(line))
    else:
        sys.exit(f"readme-to-text: no line starting with '{END_MARK}' ends the user part")
    if rows:
        out += table(rows)
    while out and not out[-1]:
        out.pop()
    return out


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = convert(f.read())
    with open(sys.argv[2], "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
