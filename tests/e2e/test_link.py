"""End to end: links made from the command line, read back by independent parsers.

Every link is read back with lnkinfo, pylnk and pyfwsi.  The native build
writes the link itself, so its bytes are also held to the form Windows
writes.  mklnk.exe under Wine has Wine's Shell make it; there the link is
also loaded with the system's own link object (readlnk.exe), which must
find the same target, working directory and item list.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import lnkcheck  # noqa: E402
from harness import TempDir, snapshot, win_path  # noqa: E402


def encode(text):
    return text.encode("cp1252" if harness.TOOL.wine else "utf-8")


class LinkTest(unittest.TestCase):
    def setUp(self):
        self.tmp = TempDir()
        self.d = self.tmp.__enter__()
        os.makedirs(self.p("links"))
        os.makedirs(self.p("data"))
        with open(self.p("data/report.txt"), "w") as f:
            f.write("report\n")

    def tearDown(self):
        self.tmp.__exit__(None, None, None)

    def p(self, rel):
        return os.path.join(self.d, rel)

    def w(self, rel=""):
        return win_path(self.p(rel)).rstrip("\\") if rel else win_path(self.d)

    def make(self, args, link_file, target, workdir, items, printed=None, cwd=None, env=None, volume="Z:\\"):
        """Runs one creation and reads the link back; answers what lnkcheck read."""
        out, rc = harness.TOOL.run(args, cwd=cwd or self.d, env=env)
        self.assertEqual(out, encode(printed) if printed is not None else out)
        self.assertEqual(rc, 0, out)
        self.assertTrue(os.path.isfile(self.p(link_file)), os.listdir(os.path.dirname(self.p(link_file))))
        info = lnkcheck.read_link(self.p(link_file), ours=not harness.TOOL.wine)
        self.assertEqual(info["errors"], [])
        self.assertEqual(info["lnkinfo_status"], 0)
        self.assertEqual(info["local_base_path"], target)
        self.assertEqual(info["working_directory"], workdir)
        # Wine's link object stores the empty strings it is given; our
        # writer stores none, as the Shell does.
        absent = "" if harness.TOOL.wine else None
        self.assertEqual(info["command_line_arguments"], absent)
        self.assertEqual(info["description"], absent)
        kinds = [(i["kind"], i["name"]) for i in info["items"]]
        self.assertEqual(kinds[0], ("root", "20d04fe0-3aea-1069-a2d8-08002b30309d"))
        self.assertEqual(kinds[1], ("volume", volume))
        self.assertEqual(kinds[2:], items)
        if harness.TOOL.wine:
            loaded = harness.TOOL.load_link(self.p(link_file))
            self.assertEqual(loaded, {"path": target, "workdir": workdir, "arguments": "", "description": "",
                                      "idlist": target})
        return info

    def folders(self, unix):
        """("folder", name) for every folder of an absolute path."""
        return [("folder", part) for part in unix.strip("/").split("/")]

    def test_file_target_relative_paths(self):
        info = self.make(["links\\doc", "data\\report.txt"], "links/doc.lnk",
                         self.w("data/report.txt"), self.w("data") + "\\",
                         self.folders(self.p("data")) + [("file", "report.txt")],
                         "shortcut created for links\\doc <<===>> data\\report.txt\r\n")
        if not harness.TOOL.wine:  # what our own writer adds
            self.assertEqual(info["relative_path"], "..\\data\\report.txt")
            self.assertEqual(info["file_size"], 7)

    def test_file_target_full_paths(self):
        self.make([self.w("links\\doc").replace("/", "\\"), self.w("data\\report.txt")], "links/doc.lnk",
                  self.w("data/report.txt"), self.w("data") + "\\",
                  self.folders(self.p("data")) + [("file", "report.txt")])

    def test_folder_target_named_after_it(self):
        # The link names a folder: the link file is named after the target.
        self.make(["links\\", "data"], "links/data.lnk", self.w("data"), self.w(),
                  self.folders(self.p("data")), "shortcut created for links\\ <<===>> data\r\n")

    def test_folder_target_and_folder_link(self):
        # Both names empty: the link file is ".lnk".
        self.make(["links\\", self.w("data")], "links/.lnk", self.w("data"), self.w("data"),
                  self.folders(self.p("data")))

    def test_quoted_names_with_spaces(self):
        os.makedirs(self.p("My Links"))
        os.makedirs(self.p("Program Files"))
        open(self.p("Program Files/x.exe"), "w").close()
        self.make(["My Links\\a.lnk", "Program Files\\x.exe"], "My Links/a.lnk.lnk",
                  self.w("Program Files/x.exe"), self.w("Program Files") + "\\",
                  self.folders(self.p("Program Files")) + [("file", "x.exe")],
                  'shortcut created for "My Links\\a.lnk" <<===>> "Program Files\\x.exe"\r\n')

    def test_windows_1252_names(self):
        # Names the ANSI code page of both builds holds (Windows-1252 under
        # Wine, UTF-8 natively); names beyond it are the hostile tests' matter.
        name = "caf\u00e9 cr\u00e8me.txt"
        open(self.p("data/" + name), "w").close()
        self.make(["links\\\u00e9t\u00e9", "data\\" + name], "links/\u00e9t\u00e9.lnk",
                  self.w("data/" + name), self.w("data") + "\\",
                  self.folders(self.p("data")) + [("file", name)],
                  'shortcut created for links\\\u00e9t\u00e9 <<===>> "data\\%s"\r\n' % name)

    def test_targets_resolved_as_a_whole(self):
        # The stored target is the whole target made full, whatever spelling
        # found it; the working directory follows from it.
        data, top = self.w("data"), self.w()
        report = self.w("data/report.txt")
        in_data = self.folders(self.p("data"))
        rows = [
            # args, current directory, link file, target, working directory,
            # items, relative path (native)
            (["..\\links\\dr", "Z:report.txt"], "data", "links/dr.lnk", report, data + "\\",
             in_data + [("file", "report.txt")], "..\\data\\report.txt"),
            (["..\\links\\dot", "."], "data", "links/dot.lnk", data, data, in_data, "..\\data"),
            (["links\\up", "data\\.."], "", "links/up.lnk", top, top, self.folders(self.d), ".."),
            (["links\\two", "data\\\\report.txt"], "", "links/two.lnk", report, data + "\\",
             in_data + [("file", "report.txt")], "..\\data\\report.txt"),
            (["links\\long", "\\\\?\\" + report], "", "links/long.lnk", report, data + "\\",
             in_data + [("file", "report.txt")], "..\\data\\report.txt"),
        ]
        for args, cwd, link, target, workdir, items, relative in rows:
            with self.subTest(args=args):
                info = self.make(args, link, target, workdir, items, cwd=self.p(cwd))
                if not harness.TOOL.wine:
                    self.assertEqual(info["relative_path"], relative)

    def test_names_in_another_letter_case(self):
        # Wine's name lookup in a Wine prefix: a name that is not on disk as
        # written finds the entry that differs only in letter case (of two,
        # the first in byte order), and the link stores the target's names
        # as they are on disk.  (Under Wine, Wine does the looking up.)
        if harness.TOOL.wine:
            self.skipTest("Wine looks names up itself")
        prefix = self.p("prefix")
        c = os.path.join(prefix, "drive_c")
        for folder in ("windows", "users/Public/Desktop", "Data", "DATA", "dosdevices"):
            os.makedirs(os.path.join(c if folder != "dosdevices" else prefix, folder))
        os.symlink("../drive_c", os.path.join(prefix, "dosdevices", "c:"))
        alpha = "\u03b1\u03bb\u03c6\u03b1.txt"  # Greek, lower case
        for name in ("windows/notepad.exe", "Data/x.txt", "DATA/x.txt", "windows/" + alpha):
            open(os.path.join(c, name), "w").close()
        env = dict(os.environ, WINEPREFIX=prefix)
        desktop = "prefix/drive_c/users/Public/Desktop/"
        rows = [
            # args, link file, stored target, working directory, items
            (["C:\\Users\\Public\\Desktop\\Notepad", "C:\\Windows\\notepad.exe"], "Notepad.lnk",
             "C:\\windows\\notepad.exe", "C:\\Windows\\", [("folder", "windows"), ("file", "notepad.exe")]),
            (["C:\\USERS\\public\\DESKTOP\\", "C:\\data\\X.TXT"], "X.TXT.lnk", "C:\\DATA\\x.txt",
             "C:\\data\\", [("folder", "DATA"), ("file", "x.txt")]),
            (["C:\\Users\\Public\\Desktop\\greek", "C:\\WINDOWS\\" + alpha.upper()], "greek.lnk",
             "C:\\windows\\" + alpha, "C:\\WINDOWS\\", [("folder", "windows"), ("file", alpha)]),
        ]
        for args, link, target, workdir, items in rows:
            with self.subTest(args=args):
                self.make(args, desktop + link, target, workdir, items, env=env, volume="C:\\")
        # A name that matches nothing in any case is still not found.
        out, rc = harness.TOOL.run(["C:\\Users\\x", "C:\\Windows\\nope.exe"], cwd=self.d, env=env)
        self.assertEqual((out, rc), (b"Error: C:\\Windows\\nope.exe not found.\r\n", 1))

    def test_older_read_only_link_replaced(self):
        with open(self.p("links/doc.lnk"), "w") as f:
            f.write("old")
        os.chmod(self.p("links/doc.lnk"), 0o444)
        self.make(["links\\doc", "data\\report.txt"], "links/doc.lnk", self.w("data/report.txt"),
                  self.w("data") + "\\", self.folders(self.p("data")) + [("file", "report.txt")])
        self.assertEqual(sorted(os.listdir(self.p("links"))), ["doc.lnk"])


class OlderEntries(unittest.TestCase):
    """What stands under the link's name is replaced as itself, in one step,
    or, when several names would do, refused; nothing else is ever touched:
    not the file a symbolic link there leads to, nor a name that differs in
    more than letter case as Windows folds it."""

    def test_older_entries(self):
        def precious(d):
            os.makedirs(os.path.join(d, "elsewhere"))
            with open(os.path.join(d, "elsewhere/precious.txt"), "w") as f:
                f.write("precious\n")
            os.chmod(os.path.join(d, "elsewhere/precious.txt"), 0o444)

        def symlink_to_file(d):
            precious(d)
            os.symlink("../elsewhere/precious.txt", os.path.join(d, "links/doc.lnk"))

        def dangling(d):
            os.symlink("../elsewhere/new.txt", os.path.join(d, "links/doc.lnk"))

        def names(*names):
            def setup(d):
                for name in names:
                    with open(os.path.join(d, "links", name), "w") as f:
                        f.write("older " + name)
            return setup

        def several(d, found):
            return ('Error: cannot tell which file to replace: %s in "%s" all match "doc.lnk"; rename or '
                    "remove all but one.\r\n" % (found, win_path(os.path.join(d, "links"))))

        rows = [
            # setup; args; the entry that holds the new link (None: refused); the line when refused
            (symlink_to_file, ["links\\doc", "data\\report.txt"], "doc.lnk", None),
            (dangling, ["links\\doc", "data\\report.txt"], "doc.lnk", None),
            (names("Doc.lnk"), ["links\\doc", "data\\report.txt"], "Doc.lnk", None),
            (names("Doc.lnk", "DOC.lnk"), ["links\\doc", "data\\report.txt"], None,
             lambda d: several(d, '"DOC.lnk" and "Doc.lnk"')),
            # The target one of them: neither is a guess to replace.
            (names("Doc.lnk", "DOC.lnk"), ["links\\doc", "links\\DOC.lnk"], None,
             lambda d: several(d, '"DOC.lnk" and "Doc.lnk"')),
            (names("d\u0131c.lnk"), ["links\\DIC", "data\\report.txt"], "DIC.lnk", None),
        ]
        for setup, args, replaced, refusal in rows:
            with self.subTest(setup=setup.__name__, args=args), TempDir() as d:
                os.makedirs(os.path.join(d, "links"))
                os.makedirs(os.path.join(d, "data"))
                with open(os.path.join(d, "data/report.txt"), "w") as f:
                    f.write("report\n")
                setup(d)
                before = snapshot(d)
                out, rc = harness.TOOL.run(args, cwd=d)
                after = snapshot(d)
                if refusal:
                    self.assertEqual((out, rc), (encode(refusal(d)), 1))
                    self.assertEqual(after, before)
                    continue
                self.assertEqual(rc, 0, out)
                key = ("links/" + replaced).encode()
                self.assertEqual(after[key][0], "file")
                self.assertEqual({k: v for k, v in after.items() if k not in (key, b"links/doc.lnk")},
                                 {k: v for k, v in before.items() if k not in (key, b"links/doc.lnk")})
                info = lnkcheck.read_link(os.path.join(d, "links", replaced), ours=not harness.TOOL.wine)
                self.assertEqual(info["errors"], [])
                self.assertEqual(info["local_base_path"], win_path(os.path.join(d, "data/report.txt")))


class Failures(unittest.TestCase):
    """Runs that make no link: one error line, exit status 1, nothing changed."""

    def test_failures(self):
        def itself(d, name="doc.lnk"):
            return 'Error: the link file "%s" is the target itself.\r\n' % (win_path(d) + "\\data\\" + name)

        rows = [
            # args, the line printed or its start (a function of the folder)
            (["links\\doc", "missing.txt"], "Error: missing.txt not found.\r\n"),
            (["links\\doc", ""], "Error:  not found.\r\n"),
            (["a", "c d"], 'Error: "c d" not found.\r\n'),
            (["nowhere\\doc", "data\\report.txt"], "Error: Object variable not set: the link folder"),
            (["links\\in-the-way", "data\\report.txt"], "Error: cannot create the link file"),
            # The link file is the target, however the two are spelt: a file
            # that is not a link would be lost.
            (["data\\doc", "data\\doc.lnk"], itself),
            (["data\\doc", "links\\..\\.\\data\\\\doc.lnk"], itself),
            (["alias\\doc", "data\\doc.lnk"], lambda d: itself(d).replace("\\data\\", "\\alias\\")),
            # Names in another letter case are the same file to Windows, and
            # to Wine's name lookup natively; the link file is spelt as on disk.
            (["data\\DOC", "data\\doc.lnk"], itself),
        ]
        for args, start in rows:
            with self.subTest(args=args), TempDir() as d:
                os.makedirs(os.path.join(d, "links/in-the-way.lnk"))
                os.makedirs(os.path.join(d, "data"))
                open(os.path.join(d, "data/report.txt"), "w").close()
                with open(os.path.join(d, "data/doc.lnk"), "w") as f:
                    f.write("notes, not a link\n")
                os.symlink("data", os.path.join(d, "alias"))
                if callable(start):
                    start = start(d)
                before = snapshot(d)
                out, rc = harness.TOOL.run(args, cwd=d)
                if start.endswith("\r\n"):
                    self.assertEqual(out, start.encode())
                else:
                    self.assertTrue(out.startswith(start.encode()), out)
                self.assertTrue(out.endswith(b"\r\n"))
                self.assertEqual(rc, 1)
                self.assertEqual(snapshot(d), before)


if __name__ == "__main__":
    harness.main()
