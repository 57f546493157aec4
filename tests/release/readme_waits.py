#!/usr/bin/python3
"""Checks that the README's examples wait for the windowless Lumenkeep.exe.

  readme_waits.py README.md

A command prompt or PowerShell returns at once from a program without a
console, so the next command may meet the run unfinished (the driver's power
interface still held, the setting not yet written). An example, an indented
block, fails when a line runs Lumenkeep directly, not through `start /wait`,
`Start-Process -Wait` or the viewer, and another command follows it.
"""
import re
import sys


def runs_without_waiting(command):
    program = re.match(r'(?:&\s*)?("[^"]*"|\S+)', command).group(1)
    program = program.strip('"').split("\\")[-1].lower()
    words = command.lower().split()
    waits = {"start": "/wait", "start-process": "-wait"}
    if program in waits:
        return "lumenkeep" in command.lower() and waits[program] not in words
    return program in ("lumenkeep", "lumenkeep.exe")


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = list(enumerate(f.read().splitlines(), 1))
    faults, unwaited, previous = 0, None, ""
    for number, line in lines:
        if line.startswith("    ") and (unwaited is not None or not previous.strip()):
            if unwaited:
                faults += 1
                print(f"Test failed: line {unwaited[0]} `{unwaited[1]}` runs Lumenkeep without "
                      f"waiting and line {number} `{line.strip()}` follows it at once; expected "
                      "start /wait, Start-Process -Wait or the viewer")
            unwaited = (number, line.strip()) if runs_without_waiting(line.strip()) else False
        elif line.strip():
            unwaited = None  # text ends the example
        previous = line
    print(f"README examples: expected 0 commands after an unwaited run, got {faults}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
