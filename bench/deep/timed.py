#!/usr/bin/env python3
"""Runs a command as a whole process and writes its wall time and peak memory
in the form `/usr/bin/time -v` uses, to the microsecond (time -v rounds to
10 ms, too coarse for a read of a few hundred MiB from the page cache).
Every tool of the deep bench, dd included, is timed this way: start-up and
exit count for all of them alike.
Usage: timed.py TIME_FILE [--out FILE] -- COMMAND [ARG ...]
  --out FILE: the command's standard output and error go there (else /dev/null).
Exits with the command's status.

       timed.py --turns N JOB [--- JOB ...]
  JOB: TIME_PREFIX [--out FILE] [--clear DIR] -- COMMAND [ARG ...]
Runs the jobs in turns (the first, the second, ..., the first again), N times
each, from this one process, and writes TIME_PREFIX.1.time ... .N.time.
--clear DIR: DIR is removed before each run of the job (a scan's data folder).
One timing process for all runs: started anew for each run, the timer
slowed a scan that keeps both cores busy by up to a quarter on a two-core
machine whose python3 is a version manager's, and dd not at all.
Exits 1 when a run failed."""
import os
import shutil
import subprocess
import sys
import time


def run(cmd, out, time_file):
    with open(out, "wb") as sink:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    minutes, seconds = divmod(wall, 60)
    with open(time_file, "w") as f:
        f.write(f"\tCommand being timed: \"{' '.join(cmd)}\"\n")
        f.write(f"\tUser time (seconds): {usage.ru_utime:.6f}\n")
        f.write(f"\tSystem time (seconds): {usage.ru_stime:.6f}\n")
        f.write(f"\tElapsed (wall clock) time (h:mm:ss or m:ss): {int(minutes)}:{seconds:09.6f}\n")
        # ru_maxrss is in KiB on Linux, as time -v prints it.
        f.write(f"\tMaximum resident set size (kbytes): {usage.ru_maxrss}\n")
        f.write(f"\tExit status: {code}\n")
    return code


def parse_job(args):
    """TIME [--out FILE] [--clear DIR] -- COMMAND ... -> (time, out, clear, cmd)."""
    if len(args) < 3 or "--" not in args:
        sys.exit(__doc__)
    split = args.index("--")
    head, cmd = args[:split], args[split + 1:]
    time_file, out, clear = head[0], os.devnull, None
    rest = head[1:]
    while rest:
        if len(rest) < 2 or rest[0] not in ("--out", "--clear"):
            sys.exit(__doc__)
        if rest[0] == "--out":
            out = rest[1]
        else:
            clear = rest[1]
        rest = rest[2:]
    if not cmd:
        sys.exit(__doc__)
    return time_file, out, clear, cmd


def main():
    args = sys.argv[1:]
    if args[:1] != ["--turns"]:
        time_file, out, clear, cmd = parse_job(args)
        if clear:
            sys.exit(__doc__)
        code = run(cmd, out, time_file)
        sys.exit(code if code >= 0 else 128 - code)
    if len(args) < 2 or not args[1].isdigit():
        sys.exit(__doc__)
    turns, jobs, job = int(args[1]), [], []
    for a in args[2:] + ["---"]:
        if a == "---":
            jobs.append(parse_job(job))
            job = []
        else:
            job.append(a)
    failed = False
    for i in range(1, turns + 1):
        for prefix, out, clear, cmd in jobs:
            if clear:
                shutil.rmtree(clear, ignore_errors=True)
            code = run(cmd, out, f"{prefix}.{i}.time")
            if code != 0:
                print(f"{cmd[0]} exit {code}", file=sys.stderr)
                failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
