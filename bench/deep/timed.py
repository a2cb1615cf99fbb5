#!/usr/bin/env python3
"""Runs a command as a whole process and writes its wall time and peak memory
in the form `/usr/bin/time -v` uses, to the microsecond (time -v rounds to
10 ms, too coarse for a read of a few hundred MiB from the page cache).
Every tool of the deep bench, dd included, is timed this way: start-up and
exit count for all of them alike.
Usage: timed.py TIME_FILE [--out FILE] -- COMMAND [ARG ...]
  --out FILE: the command's standard output and error go there (else /dev/null).
Exits with the command's status."""
import os
import subprocess
import sys
import time


def main():
    args = sys.argv[1:]
    if len(args) < 3 or "--" not in args:
        sys.exit(__doc__)
    split = args.index("--")
    head, cmd = args[:split], args[split + 1:]
    time_file, out = head[0], os.devnull
    if len(head) == 3 and head[1] == "--out":
        out = head[2]
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
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
