#!/usr/bin/python3
"""Checks that the README's examples wait for the windowless Lumenkeep.exe.

  readme_waits.py README.md

A command prompt or PowerShell returns at once from a program without a
console, so a command typed after `Lumenkeep.exe -OFF` may meet that run
unfinished: still holding the driver's power interface, or before the
setting changed. An example (an indented block) fails when a line runs
Lumenkeep directly, not through `start /wait`, `Start-Process -Wait` or the
viewer, and another command follows it in the same example.
"""
import re
import sys

PROGRAM = re.compile(r'\s*(?:&\s*)?("[^"]*"|\S+)')


def runs_without_waiting(command):
    program = PROGRAM.match(command).group(1).strip('"').split("\\")[-1].lower()
    line = command.lower()
    if program in ("lumenkeep", "lumenkeep.exe"):
        return True
    if program == "start":
        return "lumenkeep" in line and "/wait" not in line.split()
    if program == "start-process":
        return "lumenkeep" in line and "-wait" not in line.split()
    return False


def examples(lines):
    """Each indented block as [(line number, command)], blank lines within it kept out."""
    block, previous = [], ""
    for number, line in enumerate(lines, 1):
        if line.startswith("    ") and (block or not previous.strip()):
            block.append((number, line.strip()))
        elif line.strip() or not block:
            if block:
                yield block
            block = []
        previous = line
    if block:
        yield block


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = f.read().splitlines()
    faults = []
    for block in examples(lines):
        for i, (number, command) in enumerate(block[:-1]):
            if runs_without_waiting(command):
                after, then = block[i + 1]
                faults.append(f"line {number} `{command}` runs Lumenkeep without waiting, "
                              f"and line {after} `{then}` follows it at once")
    for fault in faults:
        print(f"Test failed: {fault}; expected start /wait, Start-Process -Wait or the viewer")
    print(f"README examples: expected 0 commands after an unwaited run, got {len(faults)}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
