#!/usr/bin/env python3
"""Sorts ThreadSanitizer reports into those that involve this program's own code and those
that lie wholly inside Qt, whose Debian build the checker cannot see into (its locks are
futexes, so everything Qt hands between its own threads looks unsynchronised).

A report is ours when a frame of this program's sources (src/ or tests/) is the first frame
of either access below the checker's own runtime and the C++ library, unless it is a hand-over
through Qt's event queue: one side posted a call (QMetaObject::invokeMethod) whose captured
values the other side reads when Qt's event loop runs it. Prints ours in full, then a digest
of them; counts the rest, and exits 1 when any of ours is left. Usage: tsan-triage.py LOG"""
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
    # A digest of ours last, where a log cut to its tail still shows it: the checker's summary
    # and the first frame of each of the two accesses.
    for n, report in enumerate(ours, 1):
        summary = re.search(r"SUMMARY: ThreadSanitizer: (.*)", report)
        accesses = re.split(r"\n  (?=Previous |Location |Mutex |Thread T)", report)[:2]
        print(f"ours {n}: {summary.group(1) if summary else 'no summary'}")
        for access in accesses:
            head = next((line.strip() for line in access.splitlines()
                         if re.match(r"\s*(Previous |Atomic |Read |Write )", line)), "")
            print(f"    {head[:100]} at {first_frame(access)[:200]}")
    print(f"{len(reports)} reports: {len(ours)} in this program's code, {qt} inside Qt")
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main())
