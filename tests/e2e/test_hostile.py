"""End to end: hostile command lines, faults while saving, non-ASCII names.

Every run is checked the same way: the exact bytes printed, the exit status,
and the sandbox folder tree before and after.  A run may add or replace the
one link file it names and change nothing else: no temporary file, no
parked older link, nothing outside the link's folder.  A link that was
written is read back with independent parsers.

These run natively; under Wine only the code page row runs (Wine's Shell
cannot finish a link, and the rest is about Linux file systems).
"""
import errno
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import lnkcheck  # noqa: E402
from harness import TempDir, snapshot, usage_bytes, win_path  # noqa: E402

UTF8_ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def make_deep(top, rel, depth, name_len=200):
    """Makes top/rel/d..d/d..d/.../t.txt, `depth` folders of `name_len`
    characters, through descriptors (the whole path may pass PATH_MAX).
    Answers the relative Windows path of t.txt."""
    comp = "d" * name_len
    os.makedirs(os.path.join(top, rel))
    fd = os.open(os.path.join(top, rel), os.O_RDONLY | os.O_DIRECTORY)
    try:
        for _ in range(depth):
            os.mkdir(comp, dir_fd=fd)
            sub = os.open(comp, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = sub
        os.close(os.open("t.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd))
    finally:
        os.close(fd)
    return "\\".join([rel] + [comp] * depth + ["t.txt"])


def touch(path, content=b""):
    with open(path, "wb") as f:
        f.write(content)


def run(args, cwd, prefix=(), stdout=subprocess.PIPE, preexec_fn=None, env=UTF8_ENV, exe=None):
    """The native tool with argv exactly as given (str or bytes)."""
    p = subprocess.run(list(prefix) + [exe or harness.TOOL.exe] + list(args), cwd=cwd, stdout=stdout,
                       stderr=subprocess.PIPE, env=env, preexec_fn=preexec_fn, timeout=60)
    return p.stdout, p.returncode


class Sandbox(unittest.TestCase):
    """A sandbox folder (the current directory of every run) holding
    links/, data/r.txt and a file beside them."""

    def setUp(self):
        if harness.TOOL.wine:
            self.skipTest("Linux file systems: native build only")
        self.tmp = TempDir()
        self.d = self.tmp.__enter__()
        # Traversable by the unprivileged user some runs are made as.
        os.chmod(self.d, 0o755)
        self.populate()

    def populate(self):
        os.makedirs(self.p("links"))
        os.makedirs(self.p("data"))
        touch(self.p("data/r.txt"), b"report\n")
        touch(self.p("beside.txt"), b"beside\n")

    def tearDown(self):
        self.tmp.__exit__(None, None, None)

    def fresh(self):
        """The sandbox as it was at the start, at the same place, for the
        next row of a table."""
        # Only the link folder is ever made read-only; rmtree works through
        # descriptors, deep trees included.
        for name in os.listdir(self.d):
            path = os.path.join(self.d, name)
            if os.path.isdir(path) and not os.path.islink(path):
                os.chmod(path, 0o755)
                shutil.rmtree(path)
            else:
                os.unlink(path)
        self.populate()

    def p(self, rel):
        return os.path.join(self.d, rel)

    def w(self, rel):
        return win_path(self.p(rel))

    def check_run(self, args, printed, status, link=None, prefix=(), stdout=subprocess.PIPE,
                  preexec_fn=None, exe=None, target=None):
        """One run: `printed` is the whole output (bytes), or a (start, end)
        pair; `link` the link file (relative path) the run must leave
        complete, all else in the sandbox unchanged; with no `link` the
        sandbox must be unchanged.  Wine's loader must read `target` (by
        default the LinkInfo's path) from a link made."""
        before = snapshot(self.d)
        out, rc = run(args, self.d, prefix=prefix, stdout=stdout, preexec_fn=preexec_fn, exe=exe)
        if isinstance(printed, tuple):
            self.assertTrue(out.startswith(printed[0]), out[:300])
            self.assertTrue(out.endswith(printed[1]), out[-300:])
            self.assertEqual(out.count(b"\r\n"), 1, out[:300])
        elif printed is not None:
            self.assertEqual(out, printed)
        self.assertEqual(rc, status, out[:300])
        after = snapshot(self.d)
        if link is None:
            self.assertEqual(after, before)
            return None
        key = link.encode() if isinstance(link, str) else link
        self.assertEqual(after.get(key, ("missing",))[0], "file", sorted(after))
        rest_before = {k: v for k, v in before.items() if k != key}
        rest_after = {k: v for k, v in after.items() if k != key}
        self.assertEqual(rest_after, rest_before)
        path = os.path.join(os.fsencode(self.d), key).decode("utf-8", "surrogateescape")
        info = lnkcheck.read_link(path)
        self.assertEqual(info["errors"], [])
        self.assertEqual(info["lnkinfo_status"], 0)
        # Wine's loader, unless the link's own folder has a name Windows
        # does not take (no Windows program reaches the link where it is).
        if not re.search(r'[*?<>|":]', os.path.dirname(key.decode("utf-8", "replace"))):
            target = target or info["local_base_path"]
            harness.TOOL.assert_loads(self, path, target, target.rsplit("\\", 1)[0] + "\\")
        return info


class HostileInputs(Sandbox):
    def test_hostile_inputs(self):
        d = self.d
        chunks = [c * 65536 for c in "abcdefghijklmnop"]  # 1 MiB and 15 spaces
        joined = " ".join(chunks).encode()
        q = '"' * 100000
        links = self.w("links").encode()
        usage = usage_bytes(os.path.splitext(os.path.basename(harness.TOOL.exe))[0])

        def decoy_replacement(_):
            # Files that only a wrong decoding of the bytes would find.
            touch(self.p("data/r\ufffd.txt"), b"decoy\n")
            touch(self.p("links/l\ufffd.lnk"), b"not a link\n")
            touch(os.fsencode(self.p("data")) + b"/r\xfe.txt", b"the real one\n")

        def deep(length):
            def setup(row):
                depth = (length - len(self.p("deep"))) // 201 + 1
                row["target"] = make_deep(d, "deep", depth)
            return setup

        def too_long(what, path, length=None):
            return ('Error: %s "%s" is too long for a link: %d characters (259 at most).\r\n' %
                    (what, path, length or len(path))).encode()

        def loop(_):
            os.symlink("loop2", self.p("data/loop1"))
            os.symlink("loop1", self.p("data/loop2"))
            os.symlink("self.lnk", self.p("links/self.lnk"))

        def names(_):
            for name in ("c\x01\x7f.txt", "n\nl.txt", "a<b>|c:d.txt", "NUL", "NULL", "aux.txt", "r?.txt"):
                touch(self.p("data/" + name), b"x")

        def starred_folder(_):
            os.makedirs(self.p("w*d"))
            touch(self.p("w*d/x.lnk"), b"older link")

        def no_windows_name(name):
            # An existing target Windows could not open: refused, not "not found".
            full = self.w("data/" + name).encode()
            return (b'Error: the target "' + full + b'" holds the name "' + name.encode() +
                    b"\", which Windows does not take; a link to it cannot work.\r\n")

        n255 = "n" * 255
        cjk86 = "\u4e2d" * 86  # three bytes each in UTF-8
        # args; what is printed (bytes, or (start, end)); status; the link
        # file made, if any; a setup step.  "{target}" in an argument is the
        # path the setup step made.
        rows = [
            # A raw argument string of over 1 MiB.
            ("1 MiB target", ["links\\big"] + chunks, b"Error: " + joined + b" not found.\r\n", 1, None, None),
            ("1 MiB echo", ["a"] + chunks + ["/showargs"], b"Parameters: a " + joined + b"\r\n", 0, None, None),
            ("100,000-character link name", ["links\\" + "n" * 100000, "data\\r.txt"],
             (b'Error: the link file "' + links + b"\\nnn",
              too_long("the link file", "", len(links) + 100005)[-55:]), 1, None, None),
            # 100,000 double quotes: no space, or an empty quoted pair each.
            ("quotes alone", [q], usage, 2, None, None),
            ("quotes then x", [q, "x"], b"Error:  not found.\r\n", 1, None, None),
            ("link then quotes", ["links\\q", q], b"Error:  not found.\r\n", 1, None, None),
            ("quotes and showargs", [q, "x", "/showargs"], b"Parameters:  \r\n", 0, None, None),
            # Bytes that are no UTF-8 name nothing: neither the file that
            # holds them nor one holding U+FFFD.
            ("invalid UTF-8 target", [b"links\\i", b"data\\r\xfe.txt"], b"Error: data\\r?.txt not found.\r\n", 1,
             None, decoy_replacement),
            ("invalid UTF-8 link name", [b"links\\l\xff", b"data\\r.txt"],
             b'Error: cannot create the link file "' + links + b'\\l?.lnk".\r\n', 1, None, decoy_replacement),
            ("invalid UTF-8 link folder", [b"links\xc3\\l", b"data\\r.txt"],
             b'Error: Object variable not set: the link folder "links?\\" was not found.\r\n', 1, None, None),
            ("invalid UTF-8 echoed", [b"\xe2\x82", b"\xf0\x9f\x98\x80\xed\xa0\x80", b"/showargs"],
             b"Parameters: ?? \xf0\x9f\x98\x80???\r\n", 0, None, None),
            # Line breaks and other control characters.
            ("CR LF in the link name", ["links\\l\r\nx", "data\\r.txt"],
             b'Error: the link name "l\r\nx.lnk" is not a valid file name.\r\n', 1, None, None),
            ("control characters in the link name", ["links\\l\x01\x1b\x7f", "data\\r.txt"],
             b'Error: the link name "l\x01\x1b\x7f.lnk" is not a valid file name.\r\n', 1, None, None),
            ("LF in the target name", ["links\\nl", "data\\n\nl.txt"], no_windows_name("n\nl.txt"), 1, None,
             names),
            ("control characters in the target name", ["links\\c", "data\\c\x01\x7f.txt"],
             no_windows_name("c\x01\x7f.txt"), 1, None, names),
            ("missing target with CR LF", ["links\\c", "data\\x\r\ny"],
             b"Error: data\\x\r\ny not found.\r\n", 1, None, None),
            ("tab-only separator", ["links\\t\tdata\\r.txt"], usage, 2, None, None),
            # Windows and Wine open a device for these names, whatever follows.
            ("NUL as link", ["links\\NUL", "data\\r.txt"],
             b'Error: the link name "NUL.lnk" is not a valid file name.\r\n', 1, None, None),
            ("con as link", ["links\\con", "data\\r.txt"],
             b'Error: the link name "con.lnk" is not a valid file name.\r\n', 1, None, None),
            ("aux.txt as target, the link named after it", ["links\\", "data\\aux.txt"],
             b'Error: the link name "aux.txt.lnk" is not a valid file name.\r\n', 1, None, names),
            ("aux.txt as target", ["links\\a", "data\\aux.txt"], no_windows_name("aux.txt"), 1, None, names),
            ("NUL as target", ["links\\n", "data\\NUL"], no_windows_name("NUL"), 1, None, names),
            ("NULL as target", ["links\\n", "data\\NULL"],
             b"shortcut created for links\\n <<===>> data\\NULL\r\n", 0, "links/n.lnk", names),
            ("missing CON", ["links\\n", "CON"], b"Error: CON not found.\r\n", 1, None, None),
            # Characters Windows refuses in names.
            ("< in link", ["links\\a<b", "data\\r.txt"],
             b'Error: the link name "a<b.lnk" is not a valid file name.\r\n', 1, None, None),
            ("> in link", ["links\\a>b", "data\\r.txt"],
             b'Error: the link name "a>b.lnk" is not a valid file name.\r\n', 1, None, None),
            (": in link", ["links\\a:b", "data\\r.txt"],
             b'Error: the link name "a:b.lnk" is not a valid file name.\r\n', 1, None, None),
            ("| in link", ["links\\a|b", "data\\r.txt"],
             b'Error: the link name "a|b.lnk" is not a valid file name.\r\n', 1, None, None),
            ("? in link", ["links\\a?b", "data\\r.txt"],
             b'Error: the link name "a?b.lnk" is not a valid file name.\r\n', 1, None, None),
            ("* in link", ["links\\*", "data\\r.txt"],
             b'Error: the link name "*.lnk" is not a valid file name.\r\n', 1, None, None),
            ('" in link', ['links\\a"b', "data\\r.txt"],
             b'Error: the link name "a"b.lnk" is not a valid file name.\r\n', 1, None, None),
            ("? in target", ["links\\w", "data\\r.t?t"], b"Error: data\\r.t?t not found.\r\n", 1, None, None),
            ("* in target", ["links\\w", "data\\*"], b"Error: data\\* not found.\r\n", 1, None, None),
            ("<>|: in an existing target", ["links\\p", "data\\a<b>|c:d.txt"], no_windows_name("a<b>|c:d.txt"), 1,
             None, names),
            ("? in an existing target", ["links\\q", "data\\r?.txt"], no_windows_name("r?.txt"), 1, None, names),
            # In a link folder they are Linux characters like any other, and
            # the older link there is kept until the new one is saved.
            ("older link in a folder named w*d", ["w*d\\x", "data\\r.txt"],
             b"shortcut created for w*d\\x <<===>> data\\r.txt\r\n", 0, "w*d/x.lnk", starred_folder),
            # Long paths: a link holds paths of up to 259 UTF-16 units.
            ("target of 5,000 characters", ["links\\deep", "{target}"],
             lambda rel: too_long("the target", self.w(rel.replace("\\", "/"))), 1, None, deep(5000)),
            ("target of 3,800 characters", ["links\\deep", "{target}"],
             lambda rel: too_long("the target", self.w(rel.replace("\\", "/"))), 1, None, deep(3800)),
            ("link name of 255 characters", ["links\\" + n255, "data\\r.txt"],
             too_long("the link file", self.w("links") + "\\" + n255 + ".lnk"), 1, None, None),
            # A name of more bytes than Linux takes, in a path a link holds.
            ("link name of 262 bytes", ["links\\" + cjk86, "data\\r.txt"],
             ('Error: cannot create the link file "%s\\%s.lnk": File name too long.\r\n' % (
                 self.w("links"), cjk86)).encode(), 1, None, None),
            ("link name of 253 bytes", ["links\\" + cjk86[:83], "data\\r.txt"],
             ("shortcut created for links\\%s <<===>> data\\r.txt\r\n" % cjk86[:83]).encode(), 0,
             "links/" + cjk86[:83] + ".lnk", None),
            # Things in the way.
            ("link folder is a file", ["data\\r.txt\\l", "data\\r.txt"],
             b'Error: Object variable not set: the link folder "data\\r.txt\\" was not found.\r\n', 1, None, None),
            ("target is a symbolic link loop", ["links\\lp", "data\\loop1"], b"Error: data\\loop1 not found.\r\n",
             1, None, loop),
            ("link folder is a symbolic link loop", ["data\\loop1\\l", "data\\r.txt"],
             b'Error: Object variable not set: the link folder "data\\loop1\\" was not found.\r\n', 1, None, loop),
            # A symbolic link in the link file's place is replaced, never
            # written through.
            ("link file is a symbolic link loop", ["links\\self", "data\\r.txt"],
             b"shortcut created for links\\self <<===>> data\\r.txt\r\n", 0, "links/self.lnk", loop),
        ]
        for name, args, printed, status, link, setup in rows:
            with self.subTest(name):
                self.fresh()
                row = {}
                if setup:
                    setup(row)
                if "target" in row:
                    args = [a.replace("{target}", row["target"]) for a in args]
                    target = row["target"].encode()
                    if callable(printed):
                        printed = printed(row["target"])
                    elif status == 0:
                        printed = b"shortcut created for links\\deep <<===>> " + target + b"\r\n"
                    else:
                        printed = b"Error: " + target + b" not found.\r\n"
                info = self.check_run(args, printed, status, link)
                if info and "target" in row:
                    self.assertEqual(info["local_base_path"], self.w(row["target"].replace("\\", "/")))


class Faults(Sandbox):
    """Afterwards the link folder holds the new, complete link or exactly
    what it held before."""

    def complete_link(self, rel="links/doc.lnk"):
        info = lnkcheck.read_link(self.p(rel))
        self.assertEqual(info["errors"], [])
        self.assertEqual(info["local_base_path"], self.w("data/r.txt"))
        harness.TOOL.assert_loads(self, self.p(rel), self.w("data/r.txt"), self.w("data") + "\\")
        return info

    def test_standard_output_unusable(self):
        def close_stdout():
            os.close(1)

        def pipe_without_reader():
            r, w = os.pipe()
            os.close(r)
            os.dup2(w, 1)
            os.close(w)

        rows = [
            ("closed", {"preexec_fn": close_stdout}),
            ("full", {"stdout": "/dev/full"}),
            ("pipe without reader", {"preexec_fn": pipe_without_reader}),
        ]
        for name, how in rows:
            for older in (False, True):
                with self.subTest(name, older=older):
                    self.fresh()
                    if older:
                        touch(self.p("links/doc.lnk"), b"old")
                    kwargs = dict(how)
                    full = None
                    if kwargs.get("stdout") == "/dev/full":
                        full = open("/dev/full", "wb")
                        kwargs["stdout"] = full
                    try:
                        out, rc = run(["links\\doc", "data\\r.txt"], self.d, **kwargs)
                    finally:
                        if full:
                            full.close()
                    self.assertEqual(rc, 0)
                    self.assertEqual(sorted(os.listdir(self.p("links"))), ["doc.lnk"])
                    self.complete_link()

    def test_read_only_link_folder(self):
        # Root writes into a read-only folder anyway: run the tool as nobody,
        # from a copy that nobody can reach wherever the build lives.
        exe = None
        prefix = ()
        if os.geteuid() == 0:
            prefix = NOBODY
            exe = os.path.join(tempfile.mkdtemp(prefix="mklnk-exe-"), os.path.basename(harness.TOOL.exe))
            os.chmod(os.path.dirname(exe), 0o755)
            shutil.copy(harness.TOOL.exe, exe)
            self.addCleanup(shutil.rmtree, os.path.dirname(exe))
            probe = subprocess.run(prefix + [exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.assertEqual(probe.returncode, 0, "the tool must run as nobody (uid 65534)")
        links = self.w("links").encode()
        rows = [
            # The system's reason, in its words.
            (None, b'Error: cannot create the link file "' + links + b'\\doc.lnk": Permission denied.\r\n'),
            (b"old", b'Error: cannot create the link file "' + links + b'\\doc.lnk": Permission denied.\r\n'),
        ]
        for older, printed in rows:
            with self.subTest(older=older):
                self.fresh()
                if older:
                    touch(self.p("links/doc.lnk"), older)
                os.chmod(self.p("links"), 0o555)
                self.check_run(["links\\doc", "data\\r.txt"], printed, 1, prefix=prefix, exe=exe)

    def test_no_space_left_while_saving(self):
        mnt = tempfile.mkdtemp(prefix="mklnk-full-")
        try:
            p = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs", mnt],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if p.returncode != 0:
                if os.environ.get("CI"):
                    self.fail("cannot mount a tmpfs: %s" % p.stdout.decode(errors="replace"))
                self.skipTest("cannot mount a tmpfs here (%s); the writer's clean-up on a failed save is "
                              "covered by the unit tests" % p.stdout.decode(errors="replace").strip())
            try:
                self.fill_and_save(mnt)
            finally:
                subprocess.run(["umount", mnt])
        finally:
            os.rmdir(mnt)

    def fill_and_save(self, mnt):
        links = os.path.join(mnt, "links")
        os.makedirs(links)
        touch(os.path.join(mnt, "r.txt"), b"report\n")
        touch(os.path.join(links, "old.lnk"), b"older link")
        # Fill every page: an empty file can still be made (it takes only
        # an inode), but not one byte can be written.
        with open(os.path.join(mnt, "fill"), "wb", buffering=0) as f:
            try:
                while True:
                    f.write(b"x" * 4096)
            except OSError as e:
                self.assertEqual(e.errno, errno.ENOSPC)
            try:
                while True:
                    f.write(b"x")
            except OSError as e:
                self.assertEqual(e.errno, errno.ENOSPC)
        for name in ("old", "new"):
            with self.subTest(name):
                before = snapshot(mnt)
                out, rc = run(["links\\" + name, "r.txt"], mnt)
                shown = (win_path(links) + "\\" + name + ".lnk").encode()
                self.assertEqual(out, b'Error: cannot write the link file "' + shown +
                                 b'": No space left on device.\r\n')
                self.assertEqual(rc, 1)
                self.assertEqual(snapshot(mnt), before)

    def test_older_link_replaced(self):
        def read_only(_):
            touch(self.p("links/doc.lnk"), b"old")
            os.chmod(self.p("links/doc.lnk"), 0o444)

        def hidden(_):
            touch(self.p("links/.doc.lnk"), b"old")
            os.chmod(self.p("links/.doc.lnk"), 0o444)

        def symlink_to_file(_):
            touch(self.p("other.txt"), b"precious\n")
            os.chmod(self.p("other.txt"), 0o444)
            os.symlink("../other.txt", self.p("links/doc.lnk"))

        def dangling_symlink(_):
            os.symlink("../nowhere", self.p("links/doc.lnk"))

        def hard_link_to_read_only(_):
            touch(self.p("other.txt"), b"precious\n")
            os.chmod(self.p("other.txt"), 0o444)
            os.link(self.p("other.txt"), self.p("links/doc.lnk"))

        def folder_symlink(_):
            os.symlink("../data", self.p("links/doc.lnk"))

        links = self.w("links").encode()
        refused = b'Error: cannot create the link file "' + links + b'\\doc.lnk": a folder of that name is in the way.\r\n'
        rows = [
            # setup; link argument; link file; printed (None: created)
            (read_only, "links\\doc", "links/doc.lnk", None),
            (hidden, "links\\.doc", "links/.doc.lnk", None),
            # A symbolic link is replaced as itself, never written through.
            (symlink_to_file, "links\\doc", "links/doc.lnk", None),
            (dangling_symlink, "links\\doc", "links/doc.lnk", None),
            # The file's other name keeps it, read-only as it was.
            (hard_link_to_read_only, "links\\doc", "links/doc.lnk", None),
            # One that leads to a folder is a folder in the way: refused, and
            # it stays.
            (folder_symlink, "links\\doc", None, refused),
        ]
        for setup, arg, link, refusal in rows:
            with self.subTest(setup.__name__):
                self.fresh()
                setup(None)
                if refusal:
                    self.check_run([arg, "data\\r.txt"], refusal, 1)
                    continue
                printed = b"shortcut created for " + arg.encode() + b" <<===>> data\\r.txt\r\n"
                self.check_run([arg, "data\\r.txt"], printed, 0, link)
                self.assertFalse(os.path.islink(self.p(link)))
                self.complete_link(link)
                if setup in (symlink_to_file, hard_link_to_read_only):
                    with open(self.p("other.txt"), "rb") as f:
                        self.assertEqual(f.read(), b"precious\n")
                    self.assertEqual(os.stat(self.p("other.txt")).st_mode & 0o777, 0o444)


class FailingCalls(Sandbox):
    """A system call that fails where the run needs it (strace makes it
    fail) is one error line with the system's reason, exit status 1, and
    the folder as it was; never a link stored without what it needed."""

    def test_failing_calls(self):
        if not harness.CRASH_POINTS:
            self.skipTest("counted on the build without sanitizers")
        links = self.w("links").encode()

        def older_in_another_case():
            touch(self.p("links/Doc.lnk"), b"older link")

        rows = [
            # setup; the call, its error, and which of its calls fails (a
            # text the traced line holds; None: all of them); what is printed
            (older_in_another_case, "openat", "EDQUOT", b".mklnk-",
             b'Error: cannot create the link file "' + links + b'\\Doc.lnk": Disk quota exceeded.\r\n'),
            (None, "openat", "ENOSPC", b".mklnk-",
             b'Error: cannot create the link file "' + links + b'\\doc.lnk": No space left on device.\r\n'),
            (None, "getcwd", "EACCES", None, b"Error: cannot read the current folder: Permission denied.\r\n"),
            # Every look at the target from the first one on ("+").
            (None, "statx", "EIO", b"r.txt+", b"Error: cannot look at data\\r.txt: Input/output error.\r\n"),
            (None, "fsync", "EIO", None,
             b'Error: cannot write the link file "' + links + b'\\doc.lnk": Input/output error.\r\n'),
            (older_in_another_case, "renameat", "EXDEV", None,
             b'Error: cannot replace the existing file "' + links + b'\\Doc.lnk": Invalid cross-device link.\r\n'),
        ]
        args = ["links\\doc", "data\\r.txt"]
        for setup, call, error, line_holds, printed in rows:
            with self.subTest(call=call, error=error):
                self.fresh()
                if setup:
                    setup()
                when = ""
                calls = trace(args, self.d)
                if call == "statx" and call not in [name for name, _ in calls]:
                    call = "newfstatat"  # the build without statx
                if line_holds is not None:
                    text = line_holds.decode().rstrip("+")
                    index = next(i for i, (name, line) in enumerate(calls) if name == call and text in line)
                    when = ":when=%d%s" % (occurrence(calls, index)[1], "+" if line_holds.endswith(b"+") else "")
                prefix = ["strace", "-o", "/dev/null", "-e", "inject=%s:error=%s%s" % (call, error, when)]
                self.check_run(args, printed, 1, prefix=prefix)

    def test_current_folder_not_utf8(self):
        # Its name as text would be "a\ufffd", some other folder's; relative
        # paths are refused, full ones need no current folder.
        for folder in (b"a\xff", "a\ufffd".encode()):
            os.makedirs(os.path.join(os.fsencode(self.d), folder, b"links"))
            os.makedirs(os.path.join(os.fsencode(self.d), folder, b"data"))
            touch(os.path.join(os.fsencode(self.d), folder, b"data", b"r.txt"), b"report")
        touch(os.path.join(os.fsencode(self.d), "a\ufffd".encode(), b"links", b"doc.lnk"), b"the sibling's link")
        cwd = os.path.join(os.fsencode(self.d), b"a\xff")
        before = snapshot(self.d)
        out, rc = run(["links\\doc", "data\\r.txt"], cwd)
        self.assertEqual(out, b"Error: cannot read the current folder: Invalid or incomplete multibyte or wide "
                              b"character.\r\n")
        self.assertEqual(rc, 1)
        self.assertEqual(snapshot(self.d), before)
        full = [self.w("links") + "\\x", self.w("data/r.txt")]
        out, rc = run(full, cwd)
        self.assertEqual((out, rc), (("shortcut created for %s <<===>> %s\r\n" % tuple(full)).encode(), 0))


def trace(args, cwd, env=UTF8_ENV):
    """The system calls of one run, in order: [(name, text of the line)]."""
    log = tempfile.mktemp(prefix="mklnk-trace-")
    try:
        subprocess.run(["strace", "-o", log, "-s", "256", harness.TOOL.exe] + args, cwd=cwd, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        with open(log, encoding="utf-8", errors="replace") as f:
            calls = [(m.group(1), line) for line in f if (m := re.match(r"(\w+)\(", line))]
    finally:
        if os.path.exists(log):
            os.unlink(log)
    return calls


def injected(args, cwd, name, n, what, env=UTF8_ENV):
    """One run with `what` ("signal=KILL", "error=EIO") injected at the n-th
    call of `name`; answers (stdout, status)."""
    p = subprocess.run(["strace", "-o", "/dev/null", "-e", "inject=%s:%s:when=%d" % (name, what, n),
                        harness.TOOL.exe] + args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=60)
    return p.stdout, p.returncode


def occurrence(calls, index):
    """The call at `index` as strace counts it: its name and which call of that name it is."""
    name = calls[index][0]
    return name, sum(1 for other, _ in calls[:index + 1] if other == name)


TEMPORARY = re.compile(rb"^\.mklnk-\d+(-\d+)?\.lnk$")


def whole_link(data):
    """Whether the bytes are one whole shell link: every size field of the
    format leads exactly to the end of the file (a link cut short, or with
    bytes after it, is not).  Faster than the parsers, for many runs."""
    try:
        if data[:20] != bytes.fromhex("4c0000000114020000000000c000000000000046"):
            return False
        at = lnkcheck.blocks_at(data)
        while True:
            size = struct.unpack_from("<I", data, at)[0]
            if size < 4:
                return at + 4 == len(data)
            at += size
    except struct.error:
        return False


class CrashPoints(Sandbox):
    """A run stopped, or failed, at each of its system calls in turn (strace
    injects the signal or the error): the link's name holds the older link
    byte for byte or a complete new one, and nothing else is left in the
    folder but, after SIGKILL alone, the run's one hidden temporary file.
    A failure once the new link has its name (the folder's flush) leaves
    the new link, reported as not known to be on disk."""

    def refill(self, links):
        """links/ holding these files alone ({name: bytes})."""
        for name in os.listdir(self.p("links")):
            os.unlink(os.path.join(self.p("links"), name))
        for name, data in links.items():
            touch(self.p("links/" + name), data)

    def stopped_runs(self, args, links, signals, failing, errors):
        """The calls of one run of `args`, then each run stopped by every
        signal at every call after the first, and failed with every error
        at each call named in `failing`, links/ refilled with `links` before
        each: yields (calls, index, name, n, what, before, out, status, after)."""
        self.refill(links)
        calls = trace(args, self.d)
        points = [(i, "signal=" + sig) for i in range(1, len(calls)) for sig in signals]
        points += [(i, "error=" + err) for i, (name, _) in enumerate(calls) if name in failing for err in errors]
        for at, what in points:
            name, n = occurrence(calls, at)
            self.refill(links)
            before = snapshot(self.d)
            out, rc = injected(args, self.d, name, n, what)
            yield calls, at, name, n, what, before, out, rc, snapshot(self.d)

    def assert_left(self, before, after, links, what, most):
        """Nothing changed outside links/, nothing in it but `links` and,
        after SIGKILL alone, at most `most` temporary files."""
        left = sorted(k for k in after if k.startswith(b"links/") and k[len(b"links/"):].decode() not in links)
        stray = [k for k in left if TEMPORARY.match(k[len(b"links/"):])]
        self.assertEqual(left, stray if what == "signal=KILL" else [])
        self.assertLessEqual(len(stray), most)
        outside = [{k: v for k, v in snap.items() if not k.startswith(b"links/")} for snap in (before, after)]
        self.assertEqual(outside[1], outside[0])

    def test_every_system_call(self):
        if not harness.CRASH_POINTS:
            self.skipTest("the crash points are counted on the build without sanitizers")
        tally = {}  # (run, what) -> [tried, failed]
        args = ["links\\doc", "data\\r.txt"]
        # Only the link's folder is put back: the target's folders keep
        # their times.
        for older in (b"the older link\n", None):
            links = {"doc.lnk": older} if older else {}
            for calls, at, name, n, what, before, out, rc, after in self.stopped_runs(
                    args, links, ("KILL", "INT", "TERM", "HUP"),
                    ("write", "fsync", "close", "rename", "renameat", "renameat2", "openat"), ("ENOSPC", "EIO")):
                if at == 1 and what == "signal=KILL":
                    self.assertTrue({"rename", "renameat"} & {name for name, _ in calls})
                renamed = max(i for i, (name, _) in enumerate(calls) if name in ("rename", "renameat", "renameat2"))
                counts = tally.setdefault(("replacing" if older else "first", what), [0, 0])
                counts[0] += 1
                with self.subTest(older=bool(older), call=name, n=n, what=what):
                    try:
                        self.assert_left(before, after, ["doc.lnk"], what, 1)
                        link = after.get(b"links/doc.lnk")
                        if link is not None and link[1] != older and whole_link(link[1]):
                            self.assertIn(rc, (0, -2, -15, -1, -9) if what.startswith("signal")
                                          else (0, 1) if at > renamed else (0,), out)
                        else:
                            self.assertEqual(link, before.get(b"links/doc.lnk"))
                            self.assertNotEqual(rc, 0, out)
                        if rc == 1:
                            self.assertTrue(out.startswith(b"Error: ") and out.endswith(b"\r\n"), out)
                            self.assertEqual(out.count(b"\r\n"), 1, out)
                    except AssertionError:
                        counts[1] += 1
                        raise
        sys.stderr.write("crash points: %d tried, %d failed\n" % (sum(t for t, _ in tally.values()),
                                                                   sum(f for _, f in tally.values())))
        for (kind, what), (tried, failed) in sorted(tally.items()):
            sys.stderr.write("  %-9s %-13s %3d tried, %3d failed\n" % (kind, what, tried, failed))

    def test_a_list(self):
        """A list that replaces older links and makes a new one, the same
        link twice: stopped or failed at each of its calls, every name holds
        its older link or a whole new one, a link reported made is whole,
        and only a kill leaves temporary files, of one group at most."""
        if not harness.CRASH_POINTS:
            self.skipTest("the crash points are counted on the build without sanitizers")
        names = ["a", "b", "c"]
        touch(self.p("list.txt"), b"links\\a data\\r.txt\nlinks\\b data\\r.txt\n"
                                  b"links\\c data\\r.txt\nlinks\\a data\\r.txt /DESC:again\n")
        older = {"%s.lnk" % name: b"the older link %s\n" % name.encode() for name in names[:2]}
        for calls, at, name, n, what, before, out, rc, after in self.stopped_runs(
                ["--from=list.txt"], older, ("KILL", "TERM"),
                ("write", "fsync", "syncfs", "close", "renameat", "openat"), ("ENOSPC",)):
            if at == 1 and what == "signal=KILL":
                # One flush of the file system for the group where the
                # system has it (Linux), else one a file (the portable build).
                called = [name for name, _ in calls]
                self.assertTrue("syncfs" in called or called.count("fsync") >= 3, called)
            with self.subTest(call=name, n=n, what=what):
                made = {m.decode() for m in re.findall(rb"shortcut created for links\\(\w) ", out)}
                self.assert_left(before, after, ["a.lnk", "b.lnk", "c.lnk"], what, 3)
                for name in names:
                    key = ("links/%s.lnk" % name).encode()
                    link = after.get(key)
                    if link == before.get(key):
                        self.assertNotIn(name, made, out)
                    else:
                        self.assertTrue(whole_link(link[1]), key)
                    if rc == 0 and not calls[at][1].startswith("write(1,"):
                        self.assertIn(name, made, out)
                for line in out.splitlines():
                    self.assertTrue(line.startswith((b"shortcut created for ", b"list.txt:", b"Error: ")), out)

    def test_every_system_call_of_an_edit(self):
        """An edit of two links, stopped or failed at each call: each link
        is its old bytes or its new ones, whole, and nothing else is left
        but, after SIGKILL alone, the group's hidden temporary files."""
        if not harness.CRASH_POINTS:
            self.skipTest("the crash points are counted on the build without sanitizers")
        args = ["--edit", self.w("links"), "--recursive", "--arguments=-v", "--show=max"]
        links = []
        for line in (["links\\a", "data\\r.txt"], ["links\\b", "data\\r.txt"], args):
            out, rc = run(line, self.d)
            self.assertEqual(rc, 0, out)
            if line[0] != "links\\a":
                links.append({name: snapshot(self.p("links"))[name.encode()][1] for name in ("a.lnk", "b.lnk")})
        old, new = links
        for calls, at, name, n, what, before, out, rc, after in self.stopped_runs(
                args, old, ("KILL", "TERM"),
                ("read", "write", "fsync", "syncfs", "close", "renameat", "openat", "fchmodat"), ("ENOSPC", "EIO")):
            with self.subTest(call=name, n=n, what=what):
                self.assert_left(before, after, ["a.lnk", "b.lnk"], what, 2)
                states = {name: after[b"links/" + name.encode()][1] for name in old}
                for name, data in states.items():
                    self.assertIn(data, (old[name], new[name]))
                if rc == 0:
                    self.assertEqual(states, new, out)


class Unicode(Sandbox):
    """Non-ASCII names reach the link intact, in a UTF-8 locale."""

    def test_round_trip(self):
        rows = [
            # link name, target name
            ("\u00e9t\u00e9", "caf\u00e9 cr\u00e8me.txt"),
            ("\u00c5ngstr\u00f6m \u0152uvre", "na\u00efve.txt"),
            ("\u65e5\u672c\u8a9e", "\u6587\u66f8 \u4e2d\u6587.txt"),
            ("\u0420\u0443\u0441\u0441\u043a\u0438\u0439", "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt"),
            ("smile \U0001F600", "\U0001F600 face.txt"),
            ("\U0001F600", "\U0001F389\u00e9\u4e2d.txt"),
        ]
        for link_name, target_name in rows:
            with self.subTest(link=link_name):
                self.fresh()
                touch(self.p("data/" + target_name), b"x")
                args = ["links\\" + link_name, "data\\" + target_name]
                shown = ['"%s"' % a if " " in a else a for a in args]
                printed = ("shortcut created for %s <<===>> %s\r\n" % tuple(shown)).encode()
                want = self.w("data/" + target_name)
                info = self.check_run(args, printed, 0, "links/" + link_name + ".lnk", target=want)
                # No LinkInfo: its single-byte path would read differently
                # in every code page.
                self.assertIsNone(info["local_base_path"])
                names = [i["name"] for i in info["items"]]
                self.assertTrue(lnkcheck.same_name(target_name, names[-1]), names)
                with open(self.p("links/" + link_name + ".lnk"), "rb") as f:
                    raw = f.read()
                # The exact UTF-16 of the name, surrogate pairs included.
                self.assertIn(target_name.encode("utf-16-le"), raw)


class Lean(Sandbox):
    """What a run costs, in counts that do not depend on the machine's load:
    system calls (strace) and instructions (callgrind).  The budget of calls
    is handed over by ctest for the build that links the runtimes in."""

    def calls(self, args):
        log = os.path.join(self.d, "..", os.path.basename(self.d) + ".strace")
        try:
            p = subprocess.run(["strace", "-f", "-c", "-o", log, harness.TOOL.exe] + args, cwd=self.d,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
            self.assertEqual(p.returncode, 0, p.stdout)
            with open(log) as f:
                # The last line: "100.00 seconds usecs/call calls [errors] total".
                return int(f.read().splitlines()[-1].split()[3])
        finally:
            if os.path.exists(log):
                os.unlink(log)

    def test_system_calls(self):
        if harness.SYSCALL_BUDGET is None:
            self.skipTest("a budget of system calls is set only for the build with the runtimes linked in")
        absolute = self.calls([self.w("links") + "\\a", self.w("data/r.txt")])
        replacing = self.calls([self.w("links") + "\\a", self.w("data/r.txt")])  # a.lnk is there now
        relative = self.calls(["links\\r", "data\\r.txt"])
        self.assertLessEqual(absolute, harness.SYSCALL_BUDGET)
        self.assertLessEqual(replacing, harness.SYSCALL_BUDGET)
        # A relative path costs the current directory, not a look at every
        # drive letter.
        self.assertLessEqual(relative, absolute + 10)

    def test_deep_targets_cost_in_proportion(self):
        if harness.SYSCALL_BUDGET is None:
            self.skipTest("counted on the build with the runtimes linked in")

        def instructions(depth, made=True):
            target = make_deep(self.d, "deep%d" % depth, depth, name_len=1)
            out = os.path.join(self.d, "..", os.path.basename(self.d) + ".callgrind")
            try:
                p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                                    harness.TOOL.exe, "links\\deep%d" % depth, target], cwd=self.d,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
                self.assertEqual(p.returncode, 0 if made else 1, p.stdout)
                return int(re.search(rb"Collected : (\d+)", p.stderr).group(1))
            finally:
                if os.path.exists(out):
                    os.unlink(out)
                subprocess.run(["rm", "-rf", self.p("deep%d" % depth)])  # deeper than os.walk goes

        # A link's target is 259 UTF-16 units at most, 100 folders of one
        # letter here: ninety folders more than ten may cost at most twelve
        # times what nine more than one cost.  No step may look at the whole
        # path again for every folder on it.
        one, ten, hundred = instructions(1), instructions(10), instructions(100)
        self.assertLessEqual(hundred - ten, 12 * (ten - one))
        # A target 1000 folders deep is refused as too long for a link, after
        # the existence tests have looked at it: they too cost in proportion.
        self.assertLessEqual(instructions(1000, made=False), 12 * hundred)


class WineCodePage(unittest.TestCase):
    """Under Wine the ANSI code page is 1252: a name it cannot hold must not
    come through as '?', which the directory search takes as a wildcard."""

    def test_name_outside_the_code_page(self):
        if not harness.TOOL.wine:
            self.skipTest("the code page row is Wine's")
        with TempDir() as d:
            os.makedirs(os.path.join(d, "links"))
            os.makedirs(os.path.join(d, "data"))
            touch(os.path.join(d, "data", "\u65e5\u672c.txt"), b"x")
            touch(os.path.join(d, "data", "ab.txt"), b"decoy")  # what "??.txt" would match
            before = snapshot(d)
            out, rc = harness.TOOL.run(["links\\cjk", "data\\\u65e5\u672c.txt"], cwd=d)
            self.assertEqual(out, b"Error: data\\??.txt not found.\r\n")
            self.assertEqual(rc, 1)
            self.assertEqual(snapshot(d), before)


if __name__ == "__main__":
    harness.main()
