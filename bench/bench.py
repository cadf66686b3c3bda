#!/usr/bin/python3
"""How long mklnk takes, as a ratio to /bin/true, and how large it is.

Usage: bench/bench.py [--runs N] [--tool build/mklnk] [--win32 EXE] [--win64 EXE]

Every case runs N times, each run paired with a run of /bin/true given the
same arguments, the two interleaved so that whatever else the machine does
weighs on both alike.  The figure is the median of the pairs' ratios of
wall time.  The cases: a link with absolute and with relative paths, the
/showargs echo, the usage text, and targets 10, 100 and 1000 folders deep
(the last too long a path for a link, refused).
Then --edit --replace over 10,000 links in one run, against two floors
(floor.c, built here with cc): writing 10,000 new files of the same
size with one sync for all, and the least a durable replace of the same
10,000 files does (read, write beside, one sync, rename, one folder flush);
the three in turn.
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


def timed(argv, cwd, env=None, ok=(0,)):
    """Wall time of one run in seconds, its output thrown away; a status
    not in `ok` ends the benchmark."""
    start = time.perf_counter()
    p = subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    took = time.perf_counter() - start
    if p.returncode not in ok:
        sys.exit("%r failed (%d)" % (argv[:3], p.returncode))
    return took


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


def edit_bench(tool, count, runs, where):
    """--edit --replace over `count` links, against writing as many files
    and against replacing them with the least a durable replace does."""
    work = tempfile.mkdtemp(prefix="mklnk-bench-edit-", dir=where)
    try:
        floor = os.path.join(work, "floor")
        subprocess.run(["cc", "-O2", "-o", floor, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "floor.c")], check=True)
        shares = ["\\\\fileserver\\archive", "\\\\newserver\\archive"]
        status = subprocess.run([tool, win(work + "/one"), shares[0] + "\\reports\\q1.xlsx", "--target-type=file",
                                 "--description=quarterly report", "--arguments=/r"],
                                stdout=subprocess.DEVNULL).returncode
        if status != 0:
            sys.exit("bench: the link to copy could not be made")
        with open(os.path.join(work, "one.lnk"), "rb") as f:
            data = f.read()
        # Each run has folders of its own, filled before it starts: files
        # made and removed a moment before in the same place would weigh on
        # one side alone (ext4 passes over recently freed inodes).
        folders = []
        for run in range(runs):
            folders.append({k: os.path.join(work, "%s%d" % (k, run)) for k in ("links", "copy", "floor")})
            for k in ("links", "copy"):
                os.mkdir(folders[-1][k])
                for i in range(count):
                    with open(os.path.join(folders[-1][k], "l%05d.lnk" % i), "wb") as f:
                        f.write(data)
            os.mkdir(folders[-1]["floor"])
        os.sync()
        ratios, replaces, times = [], [], []
        for run, folder in enumerate(folders):
            # The three in turn, each first once in three runs.
            order = ["write", "replace", "edit"][run % 3:] + ["write", "replace", "edit"][:run % 3]
            took = {}
            for what in order:
                argv = {"write": [floor, "write", folder["floor"], str(count), str(len(data))],
                        "replace": [floor, "replace", folder["copy"]],
                        "edit": [tool, "--edit", "--recursive", win(folder["links"]),
                                 "--replace=%s|%s" % (shares[0], shares[1])]}[what]
                took[what], status = spawn(argv, work)
                if os.waitstatus_to_exitcode(status) != 0:
                    sys.exit("bench: %s failed" % what)
            ratios.append(took["edit"] / took["write"])
            replaces.append(took["edit"] / took["replace"])
            times.append((took["edit"], took["write"], took["replace"]))
        median = lambda i: statistics.median(t[i] for t in times) / 1e6
        print()
        print("| %d links of %d bytes (%d runs) | mklnk / writing as many files | mklnk / the least replace "
              "| mklnk | writing | the least replace |" % (count, len(data), runs))
        print("|---|---|---|---|---|---|")
        print("| --edit --replace | %.2f | %.2f | %.0f ms | %.0f ms | %.0f ms |"
              % (statistics.median(ratios), statistics.median(replaces), median(0), median(1), median(2)))
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
    parser.add_argument("--edit-in", default=None, help="the folder the edit benchmark works in (default: $TMPDIR)")
    parser.add_argument("--edit-only", action="store_true")
    opts = parser.parse_args()
    tool = os.path.abspath(opts.tool)
    true = shutil.which("true") or "/bin/true"

    if opts.edit_only:
        edit_bench(tool, opts.links, opts.edit_runs, opts.edit_in)
        return
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

    edit_bench(tool, opts.links, opts.edit_runs, opts.edit_in)

    print()
    print("| executable | bytes |")
    print("|---|---|")
    for name, path in (("native mklnk", tool), ("mklnk.exe, 32-bit", opts.win32), ("mklnk.exe, 64-bit", opts.win64)):
        size = "%d" % os.path.getsize(path) if os.path.exists(path) else "not built"
        print("| %s | %s |" % (name, size))


if __name__ == "__main__":
    main()
