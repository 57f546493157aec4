#!/usr/bin/python3
"""Turns the user part of README.md into the plain-text README.txt of the zip.

  readme-to-text.py README.md README.txt

The user part ends at the line holding END_MARK; what follows is for the
people who build Lumenkeep and is not shipped. Headings get an underline,
tables are aligned in columns, bold marks go, code loses its backticks
(and gets quotes when it has spaces), and a link keeps its text, with its
address when that is a web address. A link to a file
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
    # Code of more than one word in quotes, so that it stands apart from the
    # sentence around it; a single word, or code with quotes of its own, as
    # it is.
    text = re.sub(r"`([^`]*)`", lambda m: f'"{m.group(1)}"'
                  if " " in m.group(1) and '"' not in m.group(1) else m.group(1), text)
    return text.replace("**", "")


def table(rows):
    cells = [[inline(c.strip()) for c in row.strip().strip("|").split("|")] for row in rows
             if not re.fullmatch(r"\|[\s|:-]+\|", row.strip())]
    widths = [max(len(row[i]) for row in cells) for i in range(len(cells[0]))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() for row in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return lines


def convert(markdown):
    out, rows, code = [], [], False
    for line in markdown.splitlines():
        # An indented line after a blank line starts an example; one after
        # text continues a list item.
        code = line.startswith("    ") and (code or not out or not out[-1])
        if line.startswith(END_MARK):
            break
        if line.startswith("|"):
            rows.append(line)
            continue
        if rows:
            out += table(rows)
            rows = []
        heading = re.match(r"(#+) (.*)", line)
        if code or not line.strip():
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
