"""Runs mklnk the way a user would, natively or as mklnk.exe under Wine.

Both builds are handed the same raw argument string: natively as argv (the
tool joins argv[1..] back into one string), under Wine as an exact command
line given to CreateProcessW by a small launcher.
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

DESCRIPTION = None  # the version resource's, handed over by ctest (--description)
VERSION = None  # "1.00.0002", handed over by ctest (--version-string)
SYSCALL_BUDGET = None  # system calls a link run may make (--syscall-budget), where counted
CRASH_POINTS = False  # stop or fail runs at each system call (--crash-points), where strace sees the tool's own


def usage_bytes(base):
    text = (DESCRIPTION + ".\r\n\r\n" + base.upper() + ' "Shorcut link" "Target file"\r\n\r\n'
            "Shorcut link\tSpecifies the path and name of the link to create.\r\n"
            "Target file\tSpecifies the folder or the path and file of the document or program to link.\r\n")
    return text.encode("cp1252")


def join_args(args):
    """The raw argument string the tool builds from argv."""
    out = []
    for a in args:
        quote = a == "" or (" " in a and '"' not in a)
        out.append('"' + a + '"' if quote else a)
    return " ".join(out)


def win_path(unix_path):
    """The Windows form of a Linux path on both builds: drive Z: is /."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def units(text):
    """A text's length in UTF-16 units, as Windows counts a path."""
    return len(text.encode("utf-16-le")) // 2


def folder_of_length(top, length, fill="p"):
    """Makes folders below `top` until the Windows path of the last one has
    exactly `length` UTF-16 units; answers its Linux path.  The names are
    made of `fill` (a character outside the Basic Multilingual Plane takes
    two units; a "p" makes up an odd one)."""
    folder = top
    while True:
        rest = length - units(win_path(folder)) - 1  # units left for the next name
        if rest <= 0:
            raise ValueError("%s is already too long for %d units" % (folder, length))
        size = rest if rest <= 60 else 50
        folder = os.path.join(folder, fill * (size // units(fill)) + "p" * (size % units(fill)))
        os.makedirs(folder, exist_ok=True)
        if size == rest:
            return folder


def file_of_length(top, length, name, fill="p", content=b""):
    """A file `name` whose Windows path has exactly `length` UTF-16 units,
    made below `top` (in `top` when `length` is None); answers its Linux
    path."""
    if length is None:
        os.makedirs(top, exist_ok=True)
    path = os.path.join(folder_of_length(top, length - 1 - units(name), fill) if length else top, name)
    with open(path, "wb") as f:
        f.write(content)
    return path


class Tool:
    def __init__(self, exe, launcher=None, wine_run=None, reader=None, marker=None):
        self.exe = os.path.abspath(exe)
        self.launcher = launcher and os.path.abspath(launcher)
        self.wine_run = wine_run and os.path.abspath(wine_run)
        self.reader = reader and os.path.abspath(reader)
        self.marker = marker and os.path.abspath(marker)
        # Why the links are not read by Wine ("" when they are, None until
        # found out): the native build borrows readlnk.exe and marker.exe
        # from a Windows build.
        self.no_wine = None if not self.wine else ""

    @property
    def wine(self):
        return self.launcher is not None

    def run(self, args=None, raw=None, cwd=None, exe=None, program=None, stdout=subprocess.PIPE, env=None):
        """Runs the tool; answers (stdout bytes, exit status).

        args: argv after the program name; raw: the exact raw argument string
        (Wine only, or when it is what args would give); program: the
        program-name part of a Windows command line.
        """
        exe = os.path.abspath(exe or self.exe)
        if not self.wine:
            if args is None:
                raise ValueError("native runs take argv")
            p = subprocess.run([exe] + list(args), cwd=cwd, stdout=stdout, stderr=subprocess.PIPE,
                               env=env, timeout=60)
            return p.stdout, p.returncode
        if raw is None:
            raw = join_args(args)
        if program is None:
            program = '"' + win_path(exe) + '"'
        line = program + (" " + raw if raw != "" else "")
        cmd = [self.wine_run, self.launcher, win_path(exe), line.encode("utf-16-le").hex()]
        p = subprocess.run(cmd, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, env=env, timeout=120)
        return p.stdout, p.returncode

    def load_link(self, unix_path):
        """What the system's own link object (Wine's, through readlnk.exe)
        reads from a link: a dict of path, workdir, arguments, description
        and idlist (the item list's parsing name), or of error."""
        cmd = [self.wine_run, self.reader, win_path(unix_path)]
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        fields = dict(line.split("\t", 1) for line in p.stdout.decode("utf-8").splitlines())
        if p.returncode != 0:
            fields.setdefault("error", "readlnk exited with %d" % p.returncode)
        return fields

    def wine_reads(self):
        """Whether Wine's loader reads the links here; natively found out on
        the first call, which says why not once."""
        if self.no_wine is not None:
            return not self.no_wine
        self.no_wine = ""
        if not (self.reader and self.wine_run and self.marker):
            self.no_wine = "no Windows build's readlnk.exe and marker.exe were named (--reader, --marker)"
        elif not (os.path.isfile(self.reader) and os.path.isfile(self.marker)):
            self.no_wine = ("%s or %s is missing: build the Windows build there (see HACKING.md), or name "
                            "another with -DMKLNK_WINE_TOOLS=DIR" % (self.reader, self.marker))
        else:
            try:
                p = subprocess.run([self.wine_run, self.reader], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   timeout=300)
                if not p.stdout.startswith(b"usage: readlnk.exe"):
                    self.no_wine = "Wine cannot run %s here: %s" % (
                        self.reader, (p.stderr.decode(errors="replace").strip().splitlines() or ["?"])[0])
            except (OSError, subprocess.TimeoutExpired) as error:
                self.no_wine = "Wine cannot run %s here: %s" % (self.reader, error)
        if self.no_wine:
            sys.stderr.write("NOTE: the links made are not read by Wine: %s\n" % self.no_wine)
        return not self.no_wine

    def open_link(self, unix_path, marker, locale, wait=15):
        """Opens a link with Wine's `start`, as a double-click would, in the
        given locale; the target (marker.exe) writes the file `marker`.
        Answers marker.exe's lines (its own path, the directory it ran in and
        its arguments), or None when it did not run within `wait` seconds.  `start`
        can return before the program has run, so the file is waited for."""
        env = dict(os.environ, MKLNK_WINE_LOCALE=locale, MKLNK_MARKER=win_path(marker), MKLNK_WINE_BITS=str(self.bits))
        subprocess.run([self.wine_run, "start", "/wait", win_path(unix_path)], env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=120)
        deadline = time.monotonic() + wait
        while not os.path.exists(marker) and time.monotonic() < deadline:
            time.sleep(0.1)
        if not os.path.exists(marker):
            return None
        with open(marker, encoding="utf-8") as f:
            return f.read().splitlines()

    @property
    def bits(self):
        """Which of Wine's loaders the tests open links with: the Windows
        build's own (its prefix is the one mklnk.exe sees), else the 64-bit
        one, which runs everywhere."""
        if self.wine:
            with open(self.exe, "rb") as f:
                head = f.read(4096)
            at = int.from_bytes(head[60:64], "little")
            return 32 if head[at + 4:at + 6] == b"\x4c\x01" else 64
        return 64

    def wine_prefix(self):
        """The prefix `wine-run` opens links in: where a test puts a target
        for a link to find."""
        return (os.environ.get("MKLNK_WINEPREFIX%d" % self.bits) or os.environ.get("MKLNK_WINEPREFIX") or
                os.path.join(os.environ.get("HOME") or "/tmp", ".cache", "mklnk-wine%d" % self.bits))

    def assert_loads(self, test, unix_path, target, workdir, path=None):
        """Natively, where Wine runs: Wine's loader reads the link made at
        `unix_path` and finds the target in its item list, and as its path
        `path` (default: the target), which it takes from the LinkInfo or,
        where there is none, from the relative path."""
        if self.wine or not self.wine_reads():
            return
        expected = {"path": path or target, "workdir": workdir or "", "arguments": "", "description": "",
                    "idlist": target}
        loaded = self.load_link(unix_path)
        test.assertEqual({key: loaded.get(key) for key in expected}, expected, unix_path)


TOOL = None


def windows_tool():
    """The Windows build as a Tool, to run with an exact command line: the
    one under test, or natively the one whose test programs are borrowed
    (mklnk.exe above them); None when there is none."""
    if TOOL.wine:
        return TOOL
    if not TOOL.reader or not TOOL.wine_run:
        return None
    tests = os.path.dirname(TOOL.reader)
    exe, launcher = os.path.join(os.path.dirname(tests), "mklnk.exe"), os.path.join(tests, "launch.exe")
    if not (os.path.exists(exe) and os.path.exists(launcher)):
        return None
    return Tool(exe, launcher, TOOL.wine_run, TOOL.reader, TOOL.marker)


def main():
    global TOOL, DESCRIPTION, VERSION, SYSCALL_BUDGET, CRASH_POINTS
    parser = argparse.ArgumentParser()
    parser.add_argument("--description", required=True)
    parser.add_argument("--version-string", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--launcher")
    parser.add_argument("--wine-run")
    parser.add_argument("--reader")
    parser.add_argument("--marker")
    parser.add_argument("--syscall-budget", type=int)
    parser.add_argument("--crash-points", action="store_true")
    opts, rest = parser.parse_known_args()
    TOOL = Tool(opts.exe, opts.launcher, opts.wine_run, opts.reader, opts.marker)
    DESCRIPTION = opts.description
    VERSION = opts.version_string
    SYSCALL_BUDGET = opts.syscall_budget
    CRASH_POINTS = opts.crash_points
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=1)


class TempDir:
    """A fresh folder, removed afterwards; read-only entries included."""

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix="mklnk-e2e-")
        return self.path

    def __exit__(self, *exc):
        for root, dirs, files in os.walk(self.path):
            for d in dirs:
                try:
                    os.chmod(os.path.join(root, d), 0o755, follow_symlinks=False)
                except (NotImplementedError, OSError):
                    pass
        os.chmod(self.path, 0o755)
        shutil.rmtree(self.path, ignore_errors=True)


def snapshot(top):
    """Every entry under `top` with its kind, bytes and mode, walked through
    directory descriptors so that trees deeper than PATH_MAX are seen whole."""
    out = {}

    def walk(dir_fd, rel):
        for name in sorted(os.listdir(dir_fd)):
            key = rel + os.fsencode(name)
            st = os.stat(name, dir_fd=dir_fd, follow_symlinks=False)
            if stat.S_ISLNK(st.st_mode):
                out[key] = ("link", os.readlink(name, dir_fd=dir_fd))
            elif stat.S_ISDIR(st.st_mode):
                out[key] = ("dir", st.st_mode & 0o7777)
                sub = os.open(name, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW, dir_fd=dir_fd)
                try:
                    walk(sub, key + b"/")
                finally:
                    os.close(sub)
            else:
                fd = os.open(name, os.O_RDONLY | os.O_NOFOLLOW, dir_fd=dir_fd)
                with os.fdopen(fd, "rb") as f:
                    out[key] = ("file", f.read(), st.st_mode & 0o7777)

    top_fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    try:
        walk(top_fd, b"")
    finally:
        os.close(top_fd)
    return out
