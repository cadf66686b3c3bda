#!/usr/bin/python3
"""How long mklnk takes, as a ratio to /bin/true, and how large it is.

Usage: bench/bench.py [--runs N] [--tool build/mklnk] [--win32 EXE] [--win64 EXE]

Every case runs N times, each run paired with a run of /bin/true given the
same arguments, the two interleaved so that whatever else the machine does
weighs on both alike.  The figure is the median of the pairs' ratios of
wall time.  The cases: a link with absolute and with relative paths, the
/showargs echo, the usage text, and targets 10, 100 and 1000 folders deep
(the last too long a path for a link, refused).
Then --edit --replace over 10,000 links in one run, against its floor:
writing 10,000 new files of the same size with one sync for all
(write_floor.c, built here with cc), each pair interleaved as above.
Then the sizes of the native and the two Windows executables.

Not a test: nothing here fails on a figure.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def spawn(argv, cwd):
    """Wall time of one run, in nanoseconds, output thrown away."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        old = os.getcwd()
        os.chdir(cwd)
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
        _, status = os.waitpid(pid, 0)
        elapsed = time.perf_counter_ns() - start
        os.chdir(old)
    finally:
        os.close(devnull)
    return elapsed, status


def win(path):
    return "Z:" + path.replace("/", "\\")


def make_deep(top, depth):
    """top/d/d/.../t.txt, `depth` folders; answers the target's path."""
    path = top
    os.mkdir(path)
    for _ in range(depth):
        path = os.path.join(path, "d")
        os.mkdir(path)
    target = os.path.join(path, "t.txt")
    open(target, "w").close()
    return target


def edit_bench(tool, count, runs):
    """--edit --replace over `count` links, against writing as many files."""
    work = tempfile.mkdtemp(prefix="mklnk-bench-edit-")
    try:
        floor = os.path.join(work, "write_floor")
        subprocess.run(["cc", "-O2", "-o", floor, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "write_floor.c")], check=True)
        links = os.path.join(work, "links")
        os.mkdir(links)
        shares = ["\\\\fileserver\\archive", "\\\\newserver\\archive"]
        status = subprocess.run([tool, win(links + "/one"), shares[0] + "\\reports\\q1.xlsx", "--target-type=file",
                                 "--description=quarterly report", "--arguments=/r"],
                                stdout=subprocess.DEVNULL).returncode
        if status != 0:
            sys.exit("bench: the link to copy could not be made")
        with open(os.path.join(links, "one.lnk"), "rb") as f:
            data = f.read()
        os.remove(os.path.join(links, "one.lnk"))
        for i in range(count):
            with open(os.path.join(links, "l%05d.lnk" % i), "wb") as f:
                f.write(data)
        os.sync()
        ratios, times = [], []
        for run in range(runs):
            out = os.path.join(work, "floor%d" % run)
            os.mkdir(out)
            base, _ = spawn([floor, out, str(count), str(len(data))], work)
            subprocess.run(["rm", "-rf", out])
            old, new = shares[run % 2], shares[1 - run % 2]
            took, status = spawn([tool, "--edit", "--recursive", win(links), "--replace=%s|%s" % (old, new)], work)
            if os.waitstatus_to_exitcode(status) != 0:
                sys.exit("bench: the edit failed")
            ratios.append(took / base)
            times.append(took)
        print()
        print("| case | mklnk / floor (median of %d pairs) | mklnk, median |" % runs)
        print("|---|---|---|")
        print("| --edit --replace, %d links of %d bytes, vs. writing as many files with one sync | %.2f | %.0f ms |"
              % (count, len(data), statistics.median(ratios), statistics.median(times) / 1e6))
    finally:
        subprocess.run(["rm", "-rf", work])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--tool", default="build/mklnk")
    parser.add_argument("--win32", default="build-win/mklnk.exe")
    parser.add_argument("--win64", default="build-win64/mklnk.exe")
    parser.add_argument("--links", type=int, default=10000)
    parser.add_argument("--edit-runs", type=int, default=5)
    opts = parser.parse_args()
    tool = os.path.abspath(opts.tool)
    true = shutil.which("true") or "/bin/true"

    work = tempfile.mkdtemp(prefix="mklnk-bench-")
    try:
        os.makedirs(os.path.join(work, "links"))
        os.makedirs(os.path.join(work, "data"))
        open(os.path.join(work, "data", "report.txt"), "w").close()
        cases = [
            # name, arguments, exit status
            ("link, absolute paths", [win(work + "/links/abs"), win(work + "/data/report.txt")], 0),
            ("link, relative paths", ["links\\rel", "data\\report.txt"], 0),
            ("echo (/showargs)", ["links\\x", "data\\report.txt", "/showargs"], 0),
            ("usage text", [], 0),
        ]
        for depth in (10, 100, 1000):
            target = make_deep(os.path.join(work, "deep%d" % depth), depth)
            # 1000 folders are too long a path for a link: refused.
            cases.append(("target %d folders deep%s" % (depth, ", refused" if depth > 100 else ""),
                          ["links\\deep%d" % depth, win(target)], 0 if depth <= 100 else 1))

        print("| case | mklnk / /bin/true (median of %d pairs) | mklnk, median |" % opts.runs)
        print("|---|---|---|")
        for name, args, expected in cases:
            ratios, times = [], []
            for _ in range(opts.runs):
                base, _ = spawn([true] + args, work)
                took, status = spawn([tool] + args, work)
                if os.waitstatus_to_exitcode(status) != expected:
                    sys.exit("bench: %s failed: %r" % (name, args))
                ratios.append(took / base)
                times.append(took)
            print("| %s | %.2f | %.0f us |" % (name, statistics.median(ratios), statistics.median(times) / 1000))
    finally:
        subprocess.run(["rm", "-rf", work])  # deeper than shutil.rmtree recurses

    edit_bench(tool, opts.links, opts.edit_runs)

    print()
    print("| executable | bytes |")
    print("|---|---|")
    for name, path in (("native mklnk", tool), ("mklnk.exe, 32-bit", opts.win32), ("mklnk.exe, 64-bit", opts.win64)):
        size = "%d" % os.path.getsize(path) if os.path.exists(path) else "not built"
        print("| %s | %s |" % (name, size))


if __name__ == "__main__":
    main()
