#!/usr/bin/env python3
"""Measures whole processes for the read benchmark and prints its tables.

  measure.py run RESULTS LABEL [--runs N] [--records] [--timeout S [--total BYTES]]
                 [--before SHELL] [--log FILE] -- CMD...
      One untimed run first (it warms the page cache and, with --records, counts the lines CMD
      prints: a listing's records), then N timed runs with standard output to /dev/null. Appends
      one JSON line to RESULTS: the median and the fastest wall time, the peak resident memory
      (the largest ru_maxrss of the timed runs, as `/usr/bin/time -f %M` reports it) and what the
      process read (rchar, syscr and read_bytes of /proc/PID/io, taken after it exits and before
      it is reaped). --runs 0 times the first run instead. --before runs a shell command before
      every run, untimed (to clear an output folder). With --timeout, a run still going after
      S seconds is killed and reported with what it had read by then; no further runs are made,
      and the report tells how long reading --total bytes would take at that pace.
  measure.py strace RESULTS LABEL -- CMD...
      Runs CMD once under `strace -f -c` and records its system calls: all of them, and the
      reads (read, pread64, readv, preadv, preadv2).
  measure.py report RESULTS [--compare "A B TIME_GOAL MEM_GOAL"]... [--scale "L1 L2 ..."]...
      Prints every measurement, then the ratios A / B (wall time, peak memory) with the goal each
      must meet ("-" for none), then for each --scale group (the same command on volumes of
      growing size) the memory per record between the sizes and the time per record.
"""
import argparse
import json
import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time

READ_CALLS = ("read", "pread64", "readv", "preadv", "preadv2")


def proc_io(pid):
    fields = {}
    try:
        with open(f"/proc/{pid}/io") as f:
            for line in f:
                key, value = line.split(":")
                fields[key] = int(value)
    except OSError:
        pass
    return fields


def run_once(cmd, timeout=None, count=False, log=None):
    """Runs CMD; returns wall seconds, its status, rusage, /proc io, lines printed, timed out."""
    out_r = None
    if count:
        out_r, out_w = os.pipe()
    else:
        out_w = os.open(os.devnull, os.O_WRONLY)
    err = os.open(log or os.devnull, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    t0 = time.perf_counter()
    pid = os.posix_spawnp(cmd[0], cmd, os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, out_w, 1), (os.POSIX_SPAWN_DUP2, err, 2)])
    os.close(out_w)
    os.close(err)
    pidfd = os.pidfd_open(pid)
    poller = select.poll()
    poller.register(pidfd, select.POLLIN)
    if out_r is not None:
        poller.register(out_r, select.POLLIN)
    lines, exited, timed_out = 0, False, False
    deadline = None if timeout is None else t0 + timeout
    while not exited:
        wait_ms = None if deadline is None else max(0, int((deadline - time.perf_counter()) * 1000))
        events = poller.poll(wait_ms)
        if not events:
            timed_out = True
            break
        for fd, _ in events:
            if fd == pidfd:
                exited = True
            elif fd == out_r:
                chunk = os.read(out_r, 1 << 20)
                if chunk:
                    lines += chunk.count(b"\n")
                else:
                    poller.unregister(out_r)
    t1 = time.perf_counter()
    if timed_out:
        io = proc_io(pid)
        os.kill(pid, signal.SIGKILL)
    else:
        # The child has ended but is not reaped yet, so its /proc entry still holds its counts.
        os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
        io = proc_io(pid)
    _, status, usage = os.wait4(pid, 0)
    os.close(pidfd)
    if out_r is not None:
        while chunk := os.read(out_r, 1 << 20):
            lines += chunk.count(b"\n")
        os.close(out_r)
    code = os.waitstatus_to_exitcode(status)
    return {"seconds": t1 - t0, "status": code, "rss_kib": usage.ru_maxrss,
            "cpu": usage.ru_utime + usage.ru_stime, "io": io, "lines": lines, "timed_out": timed_out}


def cmd_run(a):
    def before():
        if a.before:
            subprocess.run(a.before, shell=True, check=True)

    before()
    first = run_once(a.cmd, a.timeout, count=True, log=a.log)
    # With --runs 0 (a scan too long to repeat), or when the first run was cut, it is the one.
    runs = [first] if first["timed_out"] or a.runs == 0 else []
    if not runs:
        for _ in range(a.runs):
            before()
            runs.append(run_once(a.cmd, a.timeout, log=a.log))
            if runs[-1]["timed_out"]:
                break
    times = [r["seconds"] for r in runs]
    last = runs[-1]
    record = {
        "label": a.label, "cmd": " ".join(a.cmd), "runs": len(runs), "median": statistics.median(times),
        "min": min(times), "rss_kib": max(r["rss_kib"] for r in runs), "cpu": statistics.median(r["cpu"] for r in runs),
        "status": last["status"], "timed_out": last["timed_out"], "records": first["lines"] if a.records else None,
        "total": a.total,
        "rchar": last["io"].get("rchar"), "syscr": last["io"].get("syscr"), "read_bytes": last["io"].get("read_bytes"),
    }
    with open(a.results, "a") as f:
        f.write(json.dumps(record) + "\n")
    shown = f"{record['median']:.3f} s" + (" (timed out)" if record["timed_out"] else "")
    print(f"  {a.label:<24} {shown:<20} {record['rss_kib'] / 1024:8.1f} MiB  status {record['status']}", file=sys.stderr)


def cmd_strace(a):
    with tempfile.NamedTemporaryFile(prefix="corvello-strace.", suffix=".txt") as summary:
        r = run_once(["strace", "-f", "-c", "-qq", "-o", summary.name, "--"] + a.cmd, count=True, log=a.log)
        calls = {}
        for line in open(summary.name):
            parts = line.split()
            # "% time  seconds  usecs/call  calls  [errors]  syscall"
            if len(parts) >= 5 and parts[0][0].isdigit() and parts[-1] != "total":
                calls[parts[-1]] = int(parts[3])
    record = {"label": a.label, "strace": {"reads": sum(calls.get(c, 0) for c in READ_CALLS),
                                           "all": sum(calls.values()), "top": sorted(calls.items(), key=lambda kv: -kv[1])[:4]},
              "strace_records": r["lines"]}
    with open(a.results, "a") as f:
        f.write(json.dumps(record) + "\n")


def load(path):
    rows = {}
    order = []
    for line in open(path):
        rec = json.loads(line)
        if rec["label"] not in rows:
            rows[rec["label"]] = {}
            order.append(rec["label"])
        rows[rec["label"]].update(rec)
    return rows, order


def mib(n):
    return "-" if n is None else f"{n / 1048576:.1f}"


def human_bytes(n):
    if n is None:
        return "-"
    for unit in ("B", "KiB", "MiB", "GiB", "TiB"):
        if abs(n) < 1024 or unit == "TiB":
            return f"{n:.0f} {unit}" if unit == "B" else f"{n:.1f} {unit}"
        n /= 1024


def cmd_report(a):
    rows, order = load(a.results)
    print(f"{'measurement':<22} {'median s':>9} {'min s':>8} {'runs':>4} {'peak MiB':>9} {'read':>10} "
          f"{'records':>9} {'reads/rec':>9} {'calls/rec':>9}  exit  command")
    for label in order:
        r = rows[label]
        if "median" not in r:
            continue
        median = f">{r['median']:.1f}" if r["timed_out"] else f"{r['median']:.3f}"
        reads_per = calls_per = "-"
        if "strace" in r and r.get("strace_records"):
            reads_per = f"{r['strace']['reads'] / r['strace_records']:.3f}"
            calls_per = f"{r['strace']['all'] / r['strace_records']:.3f}"
        records = "-" if r["records"] is None else r["records"]
        print(f"{label:<22} {median:>9} {r['min']:>8.3f} {r['runs']:>4} {r['rss_kib'] / 1024:>9.1f} "
              f"{human_bytes(r['rchar']):>10} {records:>9} {reads_per:>9} {calls_per:>9}  {r['status']:>4}  {r['cmd']}")

    cut = [label for label in order if rows[label].get("timed_out")]
    if cut:
        print(f"\n{'cut after the time limit':<28} {'read':>10} {'seconds':>8} {'MiB/s':>8}  all of it at that pace")
        for label in cut:
            r = rows[label]
            pace = (r["rchar"] or 0) / r["median"]
            whole = f"{r['total'] / pace:.0f} s for {human_bytes(r['total'])}" if r.get("total") and pace else "-"
            print(f"{label:<28} {human_bytes(r['rchar']):>10} {r['median']:>8.1f} {pace / 1048576:>8.1f}  {whole}")

    straced = [label for label in order if "strace" in rows[label]]
    if straced:
        print(f"\n{'system calls (strace -f -c)':<28} {'records':>9} {'reads':>10} {'all calls':>10}  most frequent")
        for label in straced:
            r = rows[label]
            top = ", ".join(f"{name} {n}" for name, n in r["strace"]["top"])
            print(f"{label:<28} {r['strace_records']:>9} {r['strace']['reads']:>10} {r['strace']['all']:>10}  {top}")

    if a.compare:
        print(f"\n{'ratio':<42} {'time':>7} {'goal':>6} {'memory':>7} {'goal':>6}")
        for pair in a.compare:
            first, second, time_goal, mem_goal = pair.split()
            if first not in rows or second not in rows or "median" not in rows[first] or "median" not in rows[second]:
                continue
            x, y = rows[first], rows[second]
            t = x["median"] / y["median"]
            m = x["rss_kib"] / y["rss_kib"]

            def verdict(value, goal, bound):
                if goal == "-":
                    return f"{'-':>6}"
                ok = value <= float(goal) and not bound
                return f"{'≤' + goal:>6}{'' if ok else ' MISSED'}"

            timed_out = x["timed_out"] or y["timed_out"]
            shown_t = (">" if x["timed_out"] else "<" if y["timed_out"] else "") + f"{t:.2f}"
            print(f"{first + ' / ' + second:<42} {shown_t:>7} {verdict(t, time_goal, timed_out)} {m:>7.2f} "
                  f"{verdict(m, mem_goal, False)}")

    for group in a.scale or []:
        labels = [label for label in group.split() if label in rows and "median" in rows[label]]
        if len(labels) < 2:
            continue
        print(f"\n{'scaling':<22} {'records':>9} {'peak MiB':>9} {'bytes/record (step)':>20} {'µs/record':>10}")
        prev = None
        for label in labels:
            r = rows[label]
            step = "-"
            if prev and r["records"] != prev["records"]:
                step = f"{(r['rss_kib'] - prev['rss_kib']) * 1024 / (r['records'] - prev['records']):.0f}"
            print(f"{label:<22} {r['records']:>9} {r['rss_kib'] / 1024:>9.1f} {step:>20} "
                  f"{r['median'] * 1e6 / max(1, r['records']):>10.2f}")
            prev = r
        lo, hi = rows[labels[0]], rows[labels[-1]]
        print(f"{'(smallest to largest)':<22} {'':>9} {'':>9} "
              f"{(hi['rss_kib'] - lo['rss_kib']) * 1024 / max(1, hi['records'] - lo['records']):>20.0f}")


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="what", required=True)
    r = sub.add_parser("run")
    r.add_argument("results")
    r.add_argument("label")
    r.add_argument("--runs", type=int, default=5)
    r.add_argument("--records", action="store_true")
    r.add_argument("--timeout", type=float)
    r.add_argument("--total", type=int)
    r.add_argument("--before")
    r.add_argument("--log")
    r.add_argument("cmd", nargs="+")
    s = sub.add_parser("strace")
    s.add_argument("results")
    s.add_argument("label")
    s.add_argument("--log")
    s.add_argument("cmd", nargs="+")
    t = sub.add_parser("report")
    t.add_argument("results")
    t.add_argument("--compare", action="append")
    t.add_argument("--scale", action="append")
    a = p.parse_args()
    {"run": cmd_run, "strace": cmd_strace, "report": cmd_report}[a.what](a)


if __name__ == "__main__":
    main()
