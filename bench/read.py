#!/usr/bin/python3
"""How fast mklnk reads links, beside cat reading the same files.

Usage: bench/read.py [--runs N] [--links 10000] [--tool build/mklnk] [--no-lnkinfo]

Copies the public sample links of tests/lnk/samples round and round into
a fresh folder until there are --links of them, then times, N times and
interleaved so that whatever else the machine does weighs on all alike:
  cat FILES...                      the floor: every byte read once, in one process
  mklnk --read --json FILES...      every link read, described and printed
and once, for scale, liblnk's lnkinfo run on each file in turn (one
process per link, as a script over a folder runs it; on the first
thousand, scaled to all).  The figures are
the medians of wall time, and mklnk's as a ratio to cat's.

Not a test: nothing here fails on a figure.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

from bench import timed

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "tests", "lnk", "samples")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--links", type=int, default=10000)
    parser.add_argument("--tool", default=os.path.join(HERE, "..", "build", "mklnk"))
    parser.add_argument("--no-lnkinfo", action="store_true")
    opts = parser.parse_args()
    tool = os.path.abspath(opts.tool)
    samples = sorted(n for n in os.listdir(SAMPLES) if n.endswith(".lnk"))
    folder = tempfile.mkdtemp(prefix="mklnk-read-bench-")
    try:
        names = []
        for i in range(opts.links):
            name = "%05d.lnk" % i
            shutil.copy(os.path.join(SAMPLES, samples[i % len(samples)]), os.path.join(folder, name))
            names.append(name)
        total = sum(os.path.getsize(os.path.join(folder, n)) for n in names)
        cat, mine = [], []
        timed(["cat"] + names, folder, ok=(0, 1))  # the files in the page cache first
        for _ in range(opts.runs):
            cat.append(timed(["cat"] + names, folder, ok=(0, 1)))
            mine.append(timed([tool, "--read", "--json"] + names, folder, ok=(0, 1)))
        rows = [("cat", statistics.median(cat)), ("mklnk --read --json", statistics.median(mine))]
        lnkinfo = shutil.which("lnkinfo")
        if lnkinfo and not opts.no_lnkinfo:
            # A process per link takes minutes for them all: the first
            # thousand, scaled to the whole.
            some = names[:1000]
            start = time.perf_counter()
            for n in some:
                subprocess.run([lnkinfo, n], cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            rows.append(("lnkinfo, once per file", (time.perf_counter() - start) * len(names) / len(some)))
        print("%d links (%d KB), median of %d runs:" % (opts.links, total // 1024, opts.runs))
        floor = rows[0][1]
        print("| %-24s | %9s | %8s | %12s |" % ("reader", "seconds", "x cat", "links/second"))
        print("|%s|%s|%s|%s|" % ("-" * 26, "-" * 11, "-" * 10, "-" * 14))
        for name, seconds in rows:
            print("| %-24s | %9.3f | %8.2f | %12.0f |" % (name, seconds, seconds / floor, opts.links / seconds))
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
