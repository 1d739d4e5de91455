#!/usr/bin/env python3
"""Runs a display test in the sanitizer build; leaks fail it only when ours.

Display tests drive GTK, WebKit and Mesa. At exit these still hold blocks
that they allocated from frames without frame pointers, from JIT code or from
a module already unloaded, and LeakSanitizer reports a stack of malloc and
unknown frames that no suppression can name, now and then. Such a report says
nothing about our code, yet it failed the run.

So the test and every process it starts (the program, in the program's tests)
write their sanitizer reports to files here instead of ending with an error
for a leak. The test fails when it fails on its own, when a report holds an
AddressSanitizer or UndefinedBehaviorSanitizer error, or when a leak's stack
has a frame of our code.

usage: lsan-ours.py SOURCE_DIR TEST [ARGS...]
"""

import glob
import os
import re
import subprocess
import sys
import tempfile

ERRORS = re.compile(r"ERROR: AddressSanitizer|runtime error:|UndefinedBehaviorSanitizer")
LEAK_START = re.compile(r"^(Direct|Indirect) leak of ")


def our_leaks(text, marks):
    """The leak blocks of a report with a frame that names one of `marks`."""
    found = []
    block = []
    for line in text.splitlines() + [""]:
        if LEAK_START.match(line) or not line.strip():
            if block and any(mark in frame for frame in block[1:] for mark in marks):
                found.append("\n".join(block))
            block = [line] if line.strip() else []
        elif block:
            block.append(line)
    return found


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    source = os.path.realpath(sys.argv[1])
    # A frame of ours names our namespace, or a file of our sources (by an
    # absolute path; a build through ccache may record relative ones).
    marks = ["larkspin::", os.path.join(source, "src") + "/", os.path.join(source, "tests") + "/"]
    with tempfile.TemporaryDirectory(prefix="larkspin-sanitizer-") as folder:
        env = dict(os.environ)
        options = [env.get("LSAN_OPTIONS", ""), "exitcode=0", f"log_path={folder}/report"]
        env["LSAN_OPTIONS"] = ":".join(option for option in options if option)
        status = subprocess.call(sys.argv[2:], env=env)
        failed = status != 0
        if failed:
            print(f"lsan-ours: the test ended with status {status}", file=sys.stderr)
        for path in sorted(glob.glob(f"{folder}/report*")):
            with open(path, errors="replace") as report:
                text = report.read()
            if ERRORS.search(text):
                print(text, file=sys.stderr)
                failed = True
                continue
            leaks = our_leaks(text, marks)
            if leaks:
                print(f"lsan-ours: leaks with frames in our code ({os.path.basename(path)}):", file=sys.stderr)
                print("\n\n".join(leaks), file=sys.stderr)
                failed = True
            elif "LeakSanitizer" in text:
                count = len(re.findall(r"^(?:Direct|Indirect) leak of ", text, re.M))
                print(f"lsan-ours: {count} leak(s) outside our code ignored ({os.path.basename(path)})",
                      file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
