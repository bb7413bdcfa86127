#!/usr/bin/env python3
"""Sorts ThreadSanitizer reports into those that involve this program's own code and those
that lie wholly inside Qt, whose Debian build the checker cannot see into (its locks are
futexes, so everything Qt hands between its own threads looks unsynchronised).

A report is ours when a frame of this program's sources (src/ or tests/) is the first frame
of either access below the checker's own runtime and the C++ library, unless it is a hand-over
through Qt's event queue: one side posted a call (QMetaObject::invokeMethod) whose captured
values the other side reads when Qt's event loop runs it. Prints ours in full,
counts the rest, and exits 1 when any of ours is left. Usage: tsan-triage.py LOG"""
import re
import sys

RUNTIME = re.compile(r"libtsan|tsan_|/usr/include/c\+\+|libstdc\+\+|libc\.so|sanitizer_common")
OURS = re.compile(r"(\.\./)+(src|tests)/|corvello::")
QT_QUEUE = re.compile(r"qobjectdefs_impl\.h|QtPrivate::")


def first_frame(stack):
    for frame in re.findall(r"^\s+#\d+ (.*)$", stack, re.M):
        if not RUNTIME.search(frame):
            return frame
    return ""


def main():
    text = open(sys.argv[1], errors="replace").read()
    reports = [b for b in text.split("==================") if "WARNING: ThreadSanitizer" in b]
    ours, qt = [], 0
    for report in reports:
        accesses = re.split(r"\n  (?=Previous |Location |Mutex |Thread T)", report)[:2]
        frames = [first_frame(a) for a in accesses]
        # The posting side shows in the other access, or in where the block was allocated when
        # the checker could not restore that access's stack.
        rest = report[len(accesses[0]):]
        handover = ("qobjectdefs_impl.h" in accesses[0] and "invokeMethod" in rest) or (
            "invokeMethod" in accesses[0] and "qobjectdefs_impl.h" in rest)
        if not handover and any(OURS.search(f) and not QT_QUEUE.search(f) for f in frames):
            ours.append(report)
        else:
            qt += 1
    for report in ours:
        print("=" * 18 + report)
    print(f"{len(reports)} reports: {len(ours)} in this program's code, {qt} inside Qt")
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main())
