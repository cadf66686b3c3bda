#!/usr/bin/python3
"""Many links from one list (mklnk --from), side by side with the batch floor
and with one run per link.

Usage: bench/lists.py [--tool build/mklnk] [--rounds 3] [--single 10000]
                      [--win build-win64/mklnk.exe] [--wine-run tests/tools/wine-run]

The floor is bench/floor.c (make), built here with cc: it looks at the target,
writes as many new files of a link's size, has them on disk with one sync of
the file system, renames them into place and flushes the folder once: what
a durable batch costs at the least.  For 1,000 and 10,000 links, each round
runs the floor and the list in folders of its own, one after the other, and the
table gives the medians; 10,000 single runs are timed once.  With --win, the
Windows build under Wine: one list of 40 lines against 40 runs.  Every link
is a new one in a folder that fills up, so that a cost that grows with the
folder shows as a time per link that grows with the count.

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

PYLNK3 = 1840  # links a second, pylnk3 in its own process, without any sync


def fresh(work, name):
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)
    return folder


def write_list(path, folder, count, target):
    with open(path, "w") as f:
        for i in range(count):
            f.write("%s\\l%05d %s\n" % (folder, i, target))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", default="build/mklnk")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--single", type=int, default=10000, help="single runs to time (0: none)")
    parser.add_argument("--win", default=None, help="a Windows build, run under Wine")
    parser.add_argument("--wine-run", default="tests/tools/wine-run")
    opts = parser.parse_args()
    tool = os.path.abspath(opts.tool)
    here = os.path.dirname(os.path.abspath(__file__))

    work = tempfile.mkdtemp(prefix="mklnk-lists-")
    rows = []
    try:
        floor = os.path.join(work, "floor")
        subprocess.run(["cc", "-O2", "-o", floor, os.path.join(here, "floor.c")], check=True)
        os.mkdir(os.path.join(work, "data"))
        with open(os.path.join(work, "data", "r.txt"), "wb") as f:
            f.write(b"report\n")
        fresh(work, "one")
        timed([tool, "one\\l", "data\\r.txt"], work)
        size = os.path.getsize(os.path.join(work, "one", "l.lnk"))

        per_link = {}
        for count in (1000, 10000):
            floors, lists = [], []
            # Every round in folders of its own, made before it starts:
            # files removed a moment before in the same place would weigh on
            # one side alone (ext4 passes over recently freed inodes).
            for r in range(opts.rounds):
                write_list(os.path.join(work, "list%d-%d.txt" % (count, r)), "links%d-%d" % (count, r), count,
                           "data\\r.txt")
                for name in ("floored", "links"):
                    fresh(work, "%s%d-%d" % (name, count, r))
            os.sync()
            for r in range(opts.rounds):
                floors.append(timed([floor, "make", os.path.join(work, "data", "r.txt"),
                                     os.path.join(work, "floored%d-%d" % (count, r)), str(count), str(size)], work))
                lists.append(timed([tool, "--from=list%d-%d.txt" % (count, r)], work))
            f, m = statistics.median(floors), statistics.median(lists)
            per_link[count] = m / count
            rows.append(("the floor (C: one syncfs, renames, one folder flush)", count, f, ""))
            rows.append(("mklnk --from, one list", count, m, "%.2f x the floor" % (m / f)))

        if opts.single:
            fresh(work, "single")
            start = time.perf_counter()
            for i in range(opts.single):
                subprocess.run([tool, "single\\l%05d" % i, "data\\r.txt"], cwd=work, stdout=subprocess.DEVNULL,
                               check=True)
            s = time.perf_counter() - start
            ratio = (s / opts.single) / per_link[10000]
            rows.append(("mklnk, one run per link", opts.single, s, "the list is %.1f x faster" % ratio))

        if opts.win:
            exe, wine_run = os.path.abspath(opts.win), os.path.abspath(opts.wine_run)
            write_list(os.path.join(work, "list40.txt"), "wine", 40, "data\\r.txt")
            fresh(work, "wine")
            timed([wine_run, exe, "/?"], work)  # the prefix and the server, warm
            start = time.perf_counter()
            for i in range(40):
                timed([wine_run, exe, "wine\\l%05d" % i, "data\\r.txt"], work)
            runs = time.perf_counter() - start
            fresh(work, "wine")
            one = timed([wine_run, exe, "/FROM:list40.txt"], work)
            rows.append(("mklnk.exe under Wine, one run per link", 40, runs, ""))
            rows.append(("mklnk.exe under Wine, one list", 40, one, "%.1f x faster than the runs" % (runs / one)))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("| what | links | seconds | links a second | |")
    print("|---|---:|---:|---:|---|")
    for what, count, seconds, note in rows:
        print("| %s | %d | %.2f | %.0f | %s |" % (what, count, seconds, count / seconds, note))
    print("| pylnk3, in its own process, no sync | | | about %d | for scale |" % PYLNK3)
    if len(per_link) == 2:
        print()
        print("Time per link from the list: %.0f us at 1,000 links, %.0f us at 10,000 in one folder." %
              (per_link[1000] * 1e6, per_link[10000] * 1e6))


if __name__ == "__main__":
    main()
