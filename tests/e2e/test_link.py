"""End to end: links made from the command line, read back by independent parsers.

Every link is read back with lnkinfo, pylnk and pyfwsi.  The native build
writes the link itself, so its bytes are also held to the form Windows
writes.  mklnk.exe under Wine has Wine's Shell make it; there the link is
also loaded with the system's own link object (readlnk.exe), which must
find the same target, working directory and item list.
"""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import lnkcheck  # noqa: E402
from harness import TempDir, snapshot, win_path  # noqa: E402


def encode(text):
    return text.encode("cp1252" if harness.TOOL.wine else "utf-8")


def sandbox(d):
    """links/ and data/report.txt in the folder d."""
    os.makedirs(os.path.join(d, "links"))
    os.makedirs(os.path.join(d, "data"))
    with open(os.path.join(d, "data/report.txt"), "w") as f:
        f.write("report\n")


class Folder(unittest.TestCase):
    """Each test in a sandbox of its own, self.d."""

    def setUp(self):
        self.tmp = TempDir()
        self.d = self.tmp.__enter__()
        sandbox(self.d)

    def tearDown(self):
        self.tmp.__exit__(None, None, None)

    def p(self, rel):
        return os.path.join(self.d, rel)

    def w(self, rel=""):
        return win_path(self.p(rel)).rstrip("\\") if rel else win_path(self.d)


class LinkTest(Folder):
    def make(self, args, link_file, target, workdir, items, printed=None, cwd=None, env=None, volume="Z:\\",
             wine_path=None):
        """Runs one creation and reads the link back; answers what lnkcheck read."""
        out, rc = harness.TOOL.run(args, cwd=cwd or self.d, env=env)
        self.assertEqual(out, encode(printed) if printed is not None else out)
        self.assertEqual(rc, 0, out)
        self.assertTrue(os.path.isfile(self.p(link_file)), os.listdir(os.path.dirname(self.p(link_file))))
        info = lnkcheck.read_link(self.p(link_file), ours=not harness.TOOL.wine)
        self.assertEqual(info["errors"], [])
        self.assertEqual(info["lnkinfo_status"], 0)
        # No LinkInfo for a path that is not ASCII: readers take the item
        # list, whose names are Unicode.
        ascii = harness.TOOL.wine or target.isascii()
        self.assertEqual(info["local_base_path"], target if ascii else None)
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
            expected = {"path": target, "workdir": workdir, "arguments": "", "description": "", "idlist": target}
            loaded = harness.TOOL.load_link(self.p(link_file))
            self.assertEqual({key: loaded.get(key) for key in expected}, expected)
        harness.TOOL.assert_loads(self, self.p(link_file), target, workdir, wine_path)
        return info

    def folders(self, unix):
        """("folder", name) for every folder of an absolute path."""
        return [("folder", part) for part in unix.strip("/").split("/")]

    def test_targets_and_link_names(self):
        # The stored target is the whole target made full, whatever spelling
        # found it; the working directory follows from it.  A link named by
        # its folder alone is named after the target's last name, or a
        # drive's letter (never ".lnk", which each such link would replace);
        # a link without a backslash is a name in the current folder, beside
        # a folder of that name; ".\data" is that folder.  Names of the ANSI
        # code page of both builds (Windows-1252 under Wine, UTF-8 natively;
        # names beyond it are the hostile tests' matter) and a target of 259
        # UTF-16 units, which Windows' MAX_PATH buffers hold with the NUL
        # (260 is refused, below).  An older read-only link is replaced.
        os.makedirs(self.p("My Links"))
        os.makedirs(self.p("Program Files"))
        open(self.p("Program Files/x.exe"), "w").close()
        cafe = "caf\u00e9 cr\u00e8me.txt"
        open(self.p("data/" + cafe), "w").close()
        long = harness.file_of_length(self.p("long"), 259, "x.exe")
        with open(self.p("links/ro.lnk"), "w") as f:
            f.write("old")
        os.chmod(self.p("links/ro.lnk"), 0o444)
        data, top = self.w("data"), self.w()
        report = self.w("data/report.txt")
        in_data = self.folders(self.p("data"))
        to_report = in_data + [("file", "report.txt")]
        rows = [
            # args, current directory, link file, target, working directory,
            # items, relative path (native), what is printed
            (["links\\doc", "data\\report.txt"], "", "links/doc.lnk", report, data + "\\", to_report,
             "..\\data\\report.txt", "shortcut created for links\\doc <<===>> data\\report.txt\r\n"),
            ([self.w("links\\full").replace("/", "\\"), self.w("data\\report.txt")], "", "links/full.lnk", report,
             data + "\\", to_report, None, None),
            (["..\\links\\dr", "Z:report.txt"], "data", "links/dr.lnk", report, data + "\\", to_report,
             "..\\data\\report.txt", None),
            (["..\\links\\dot", "."], "data", "links/dot.lnk", data, data, in_data, "..\\data", None),
            (["links\\up", "data\\.."], "", "links/up.lnk", top, top, self.folders(self.d), "..", None),
            (["links\\two", "data\\\\report.txt"], "", "links/two.lnk", report, data + "\\", to_report,
             "..\\data\\report.txt", None),
            (["links\\long", "\\\\?\\" + report], "", "links/long.lnk", report, data + "\\", to_report,
             "..\\data\\report.txt", None),
            (["links\\low", "z" + report[1:]], "", "links/low.lnk", report, data + "\\",  # drive in upper case
             to_report, "..\\data\\report.txt", None),
            (["links\\", "data"], "", "links/data.lnk", data, top, in_data, None,
             "shortcut created for links\\ <<===>> data\r\n"),
            (["links\\", data], "", "links/data.lnk", data, data, in_data, None, None),
            (["..\\links\\", "."], "data", "links/data.lnk", data, data, in_data, None, None),
            (["links\\", "data\\.."], "", "links/%s.lnk" % os.path.basename(self.d), top, top, self.folders(self.d),
             None, None),
            (["links\\", "Z:\\"], "", "links/Z.lnk", "Z:\\", "Z:\\", [], None, None),
            (["data", "data\\report.txt"], "", "data.lnk", report, data + "\\", to_report, None, None),
            ([".\\data", "data\\report.txt"], "", "data/report.txt.lnk", report, data + "\\", to_report, None, None),
            (["My Links\\a.lnk", "Program Files\\x.exe"], "", "My Links/a.lnk.lnk", self.w("Program Files/x.exe"),
             self.w("Program Files") + "\\", self.folders(self.p("Program Files")) + [("file", "x.exe")], None,
             'shortcut created for "My Links\\a.lnk" <<===>> "Program Files\\x.exe"\r\n'),
            (["links\\\u00e9t\u00e9", "data\\" + cafe], "", "links/\u00e9t\u00e9.lnk", self.w("data/" + cafe),
             data + "\\", in_data + [("file", cafe)], None,
             'shortcut created for links\\\u00e9t\u00e9 <<===>> "data\\%s"\r\n' % cafe),
            (["links\\x", win_path(long)], "", "links/x.lnk", win_path(long), win_path(os.path.dirname(long)) + "\\",
             self.folders(os.path.dirname(long)) + [("file", "x.exe")], None, None),
            (["links\\ro", "data\\report.txt"], "", "links/ro.lnk", report, data + "\\", to_report, None, None),
        ]
        for args, cwd, link, target, workdir, items, relative, printed in rows:
            with self.subTest(args=args):
                info = self.make(args, link, target, workdir, items, printed, cwd=self.p(cwd))
                if not harness.TOOL.wine:  # what our own writer adds
                    if relative is not None:
                        self.assertEqual(info["relative_path"], relative)
                    if target == report:
                        self.assertEqual(info["file_size"], 7)
        # Each link replaced its older one in one step: no other file.
        self.assertEqual(sorted(os.listdir(self.p("links"))),
                         sorted({row[2][len("links/"):] for row in rows if row[2].startswith("links/")}))

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
            # args, link file, stored target, working directory, items, the
            # path Wine's loader reads when it is not the stored one
            (["C:\\Users\\Public\\Desktop\\Notepad", "C:\\Windows\\notepad.exe"], "Notepad.lnk",
             "C:\\windows\\notepad.exe", "C:\\Windows\\", [("folder", "windows"), ("file", "notepad.exe")], None),
            (["C:\\USERS\\public\\DESKTOP\\", "C:\\data\\X.TXT"], "X.TXT.lnk", "C:\\DATA\\x.txt",
             "C:\\data\\", [("folder", "DATA"), ("file", "x.txt")], None),
            (["C:\\Users\\Public\\Desktop\\greek", "C:\\WINDOWS\\" + alpha.upper()], "greek.lnk",
             "C:\\windows\\" + alpha, "C:\\WINDOWS\\", [("folder", "windows"), ("file", alpha)],
             win_path(os.path.join(c, "windows", alpha))),
        ]
        for args, link, target, workdir, items, wine_path in rows:
            with self.subTest(args=args):
                self.make(args, desktop + link, target, workdir, items, env=env, volume="C:\\", wine_path=wine_path)
        # A name that matches nothing in any case is still not found.
        out, rc = harness.TOOL.run(["C:\\Users\\x", "C:\\Windows\\nope.exe"], cwd=self.d, env=env)
        self.assertEqual((out, rc), (b"Error: C:\\Windows\\nope.exe not found.\r\n", 1))

APP_MODEL = "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3"  # System.AppUserModel.*


class Properties(unittest.TestCase):
    """Every property a link can hold, from the options: stored where the
    format keeps it (read back by pylnk, the header's bytes and, where Wine
    runs, Wine's own link object), and used when Wine opens the link."""

    def test_every_option(self):
        with TempDir() as d:
            for folder in ("links", "data", "work dir"):
                os.makedirs(os.path.join(d, folder))
            program = os.path.join(d, "data", "prog.exe")
            if harness.TOOL.marker and os.path.isfile(harness.TOOL.marker):
                shutil.copy(harness.TOOL.marker, program)
            else:
                open(program, "w").close()
            arguments = '/k "a b" c'
            # The Windows form, and the words a Linux shell hands over.
            raw = ('/ARGS:"/k ""a b"" c" links\\all data\\prog.exe /WORKDIR:"work dir" /DESC:"my link" '
                   "/ICON:C:\\Windows\\System32\\shell32.dll,3 /show:MAX /HOTKEY:ctrl+alt+k /ADMIN "
                   "/APPID:Skype.Desktop.Application")
            words = ["--arguments=" + arguments, "links\\all", "data\\prog.exe", "/WORKDIR:work dir",
                     "--description=my link", "/ICON:C:\\Windows\\System32\\shell32.dll,3", "/show:MAX",
                     "--hotkey=ctrl+alt+k", "/ADMIN", "--app-id=Skype.Desktop.Application"]
            out, rc = harness.TOOL.run(words, raw=raw if harness.TOOL.wine else None, cwd=d)
            self.assertEqual((out, rc), (b"shortcut created for links\\all <<===>> data\\prog.exe\r\n", 0))
            link = os.path.join(d, "links", "all.lnk")
            info = lnkcheck.read_link(link, ours=not harness.TOOL.wine)
            self.assertEqual(info["errors"], [])
            workdir, icon = win_path(os.path.join(d, "work dir")), "C:\\Windows\\System32\\shell32.dll"
            read = {k: info[k] for k in ("local_base_path", "working_directory", "command_line_arguments",
                                          "description", "icon_location", "icon_index", "show_command", "hot_key")}
            self.assertEqual(read, {"local_base_path": win_path(program), "working_directory": workdir,
                                    "command_line_arguments": arguments, "description": "my link",
                                    "icon_location": icon, "icon_index": 3, "show_command": 3, "hot_key": 0x64B})
            self.assertEqual(info["data_flags"] & 0x2040, 0x2040)  # HasIconLocation, RunAsUser
            # The AppUserModelID, in the block both builds write: byte for
            # byte that of a link Windows 10 made with the same ID ("Skype
            # (3).lnk" of EricZimmerman/Lnk's public test files, MIT licence).
            self.assertEqual(info["property_store"], [(APP_MODEL, [(5, 0x1F, "Skype.Desktop.Application")])])
            block = bytes.fromhex(
                "6d000000090000a0610000003153505355284c9f799f394ba8d0e1d42de1d5f34500000005000000001f0000001a000000"
                "53006b007900700065002e004400650073006b0074006f0070002e004100700070006c00690063006100740069006f006e00"
                "00000000000000000000")
            with open(link, "rb") as f:
                self.assertEqual(f.read().count(block), 1)
            if not harness.TOOL.wine_reads():
                return
            # Wine's link object keeps neither the show command nor the flag
            # (GetShowCmd answers 1, GetFlags what it works out itself).
            loaded = harness.TOOL.load_link(link)
            self.assertEqual({k: loaded.get(k) for k in ("path", "workdir", "arguments", "description", "icon",
                                                         "hotkey")},
                             {"path": win_path(program), "workdir": workdir, "arguments": arguments,
                              "description": "my link", "icon": icon + ",3", "hotkey": str(0x64B)})
            ran = harness.TOOL.open_link(link, os.path.join(d, "ran"), "C.UTF-8")
            self.assertEqual(ran, [win_path(program), workdir, arguments])


class ForAnotherMachine(Folder):
    """Links for targets that are not on this machine (/TYPE): stored as
    Windows stores them, read back by pylnk, lnkinfo and Wine's own link
    object, and opened by Wine's `start` once the target is there."""

    def make(self, args, printed, env=None):
        out, rc = harness.TOOL.run(args, cwd=self.d, env=env)
        self.assertEqual((out, rc), (encode(printed), 0))
        info = lnkcheck.read_link(os.path.join(self.d, "links", args[0].split("\\")[-1] + ".lnk"),
                                  ours=not harness.TOOL.wine)
        self.assertEqual(info["errors"], [])
        return info

    def test_targets_on_a_drive_not_here(self):
        # Unique names in Wine's prefix, where the target goes once the link is made.
        unique = os.path.basename(self.d)
        rows = [
            # target, /TYPE, items after the drive, working directory
            ("C:\\Program Files\\%s\\app.exe" % unique, "FILE",
             [("folder", "Program Files"), ("folder", unique), ("file", "app.exe")],
             "C:\\Program Files\\%s\\" % unique),
            ("C:\\Data \u00e9t\u00e9 %s\\Reports" % unique, "folder",
             [("folder", "Data \u00e9t\u00e9 " + unique), ("folder", "Reports")], "C:\\Data \u00e9t\u00e9 %s\\Reports" % unique),
        ]
        for target, kind, items, workdir in rows:
            with self.subTest(target=target):
                name = "app" if kind == "FILE" else "reports"
                info = self.make(["links\\" + name, target, "/TYPE:" + kind],
                                 'shortcut created for links\\%s <<===>> "%s"\r\n' % (name, target))
                self.assertEqual([(i["kind"], i["name"]) for i in info["items"]][1:],
                                 [("volume", "C:\\")] + items)
                self.assertEqual(info["working_directory"], workdir)
                if not harness.TOOL.wine:
                    # As Windows stores a path it cannot look at.
                    self.assertEqual([info[k] for k in ("local_base_path", "relative_path", "file_size",
                                                        "creation_time", "file_attribute_flags")],
                                     [None, None, 0, 0, 0])
                    self.assertEqual({i["file_size"] for i in info["items"][2:]}, {0})
                if not harness.TOOL.wine_reads():
                    continue
                loaded = harness.TOOL.load_link(os.path.join(self.d, "links", name + ".lnk"))
                self.assertEqual((loaded["idlist"], loaded["workdir"]), (target, workdir))
                if kind != "FILE":
                    continue
                # The target there: Wine's start finds it from the item list.
                there = os.path.join(harness.TOOL.wine_prefix(), "drive_c", "Program Files", unique)
                os.makedirs(there)
                self.addCleanup(shutil.rmtree, there)
                shutil.copy(harness.TOOL.marker, os.path.join(there, "app.exe"))
                ran = harness.TOOL.open_link(os.path.join(self.d, "links", "app.lnk"), os.path.join(self.d, "ran"),
                                             "C.UTF-8")
                self.assertEqual(ran, [target, workdir.rstrip("\\"), ""])

    def test_unknown_variable_stored_as_typed(self):
        # A variable this machine does not have: the path as typed, for the
        # machine that has it, on both builds (mklnk.exe's link object took
        # it for a relative path and stored it made full).
        info = self.make(["links\\mine", "%NOSUCH%\\app.exe", "/TYPE:FILE"],
                         "shortcut created for links\\mine <<===>> %NOSUCH%\\app.exe\r\n")
        self.assertEqual([info[k] for k in ("local_base_path", "environment_variables_location", "working_directory")],
                         [None, "%NOSUCH%\\app.exe", "%NOSUCH%\\"])
        self.assertEqual((info["items"], info["data_flags"] & 0x02000303), ([], 0x02000300))

    def test_shares_and_variables(self):
        # How the Linux writer stores them, field by field: a network link as
        # Windows writes one, a path of variables with what it leads to here
        # or without.  (Wine takes no path from the first kind.)
        if harness.TOOL.wine:
            self.skipTest("mklnk.exe hands these to the Shell, whose forms they are")
        prefix = os.path.join(self.d, "prefix")
        os.makedirs(os.path.join(prefix, "drive_c", "windows"))
        os.makedirs(os.path.join(prefix, "dosdevices", "unc", "fileserver", "public"))
        os.symlink("../drive_c", os.path.join(prefix, "dosdevices", "c:"))
        open(os.path.join(prefix, "drive_c", "windows", "notepad.exe"), "w").close()
        with open(os.path.join(prefix, "dosdevices", "unc", "fileserver", "public", "here.txt"), "w") as f:
            f.write("here\n")
        env = dict(os.environ, WINEPREFIX=prefix, USER="ann")
        rows = [
            # args; local path, network path, variables, relative path, working directory, items
            (["links\\share", "\\\\fileserver\\public\\report.xlsx", "/TYPE:FILE"],
             None, "\\\\FILESERVER\\PUBLIC\\report.xlsx", "\\\\fileserver\\public\\report.xlsx", None,
             "\\\\fileserver\\public\\", None),
            (["links\\reached", "\\\\fileserver\\public\\here.txt"],
             None, "\\\\FILESERVER\\PUBLIC\\here.txt", "\\\\fileserver\\public\\here.txt", None,
             "\\\\fileserver\\public\\", None),
            # The share's root, a folder; a server and a share in another
            # letter case, matched as Windows matches them.
            (["links\\root", "\\\\fileserver\\public"],
             None, "\\\\FILESERVER\\PUBLIC", "\\\\fileserver\\public\\", None, "\\\\fileserver\\public", None),
            (["links\\upper", "\\\\FILESERVER\\Public\\here.txt"],
             None, "\\\\FILESERVER\\PUBLIC\\here.txt", "\\\\FILESERVER\\Public\\here.txt", None,
             "\\\\FILESERVER\\Public\\", None),
            (["links\\notepad", "%windir%\\notepad.exe"],
             "C:\\windows\\notepad.exe", None, "%windir%\\notepad.exe", None, "%windir%\\",
             [("folder", "windows"), ("file", "notepad.exe")]),
            (["links\\gone", "%windir%\\gone.exe", "/TYPE:FILE"],
             None, None, "%windir%\\gone.exe", None, "%windir%\\", None),
        ]
        for args, local, network, variables, relative, workdir, items in rows:
            with self.subTest(args=args):
                shown = ['"%s"' % a if " " in a else a for a in args[:2]]
                info = self.make(args, "shortcut created for %s <<===>> %s\r\n" % tuple(shown), env=env)
                self.assertEqual([info[k] for k in ("local_base_path", "network_path", "environment_variables_location",
                                                    "working_directory")], [local, network, variables, workdir])
                if items:
                    self.assertEqual([(i["kind"], i["name"]) for i in info["items"]][2:], items)
        # An icon path of variables: as they lead here, in its own block as
        # typed; as typed where they lead nowhere.
        for icon, location, block in (("%SystemRoot%\\System32\\shell32.dll", b"C:\\windows\\System32\\shell32.dll", True),
                                      ("%MYICONS%\\a.ico", b"%MYICONS%\\a.ico", False)):
            with self.subTest(icon=icon):
                self.make(["links\\icon", "\\\\fileserver\\public\\here.txt", "/ICON:%s,3" % icon],
                          "shortcut created for links\\icon <<===>> \\\\fileserver\\public\\here.txt\r\n", env=env)
                with open(os.path.join(self.d, "links", "icon.lnk"), "rb") as f:
                    raw = f.read()
                self.assertIn(location.decode().encode("utf-16-le"), raw)
                self.assertEqual(b"\x07\x00\x00\xa0" in raw, block)  # the icon's environment block
        # A path of variables that leads nowhere here: Windows 7's form, the
        # variables alone, and the way to where they lead when that is known.
        with open(os.path.join(self.d, "links", "gone.lnk"), "rb") as f:
            flags = int.from_bytes(f.read()[20:24], "little")
        self.assertEqual(flags & 0x02000303, 0x02000300)  # PreferEnvironmentPath, HasExpString, ForceNoLinkInfo

    def test_wine_opens_a_path_of_variables(self):
        # Made in Wine's own prefix, where %windir% is C:\windows: the Linux
        # build's link holds the path as it leads there too, and mklnk.exe's
        # is made by Wine's link object, which is given that path.
        if not harness.TOOL.wine_reads():
            self.skipTest(harness.TOOL.no_wine)
        name = os.path.basename(self.d) + ".exe"
        program = os.path.join(harness.TOOL.wine_prefix(), "drive_c", "windows", name)
        shutil.copy(harness.TOOL.marker, program)
        self.addCleanup(os.unlink, program)
        self.make(["links\\var", "%windir%\\" + name],
                  "shortcut created for links\\var <<===>> %windir%\\" + name + "\r\n",
                  env=dict(os.environ, WINEPREFIX=harness.TOOL.wine_prefix()))
        ran = harness.TOOL.open_link(os.path.join(self.d, "links", "var.lnk"), os.path.join(self.d, "ran"), "C.UTF-8")
        self.assertEqual(ran, ["C:\\windows\\" + name, "C:\\windows", ""])


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
                sandbox(d)
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
    """Runs that make no link: one error line, exit status 1 (2 for a path
    that cannot be what /TYPE says), nothing changed."""

    def test_failures(self):
        def itself(d, name="doc.lnk"):
            return 'Error: the link file "%s" is the target itself.\r\n' % (win_path(d) + "\\data\\" + name)

        rows = [
            # args, the line printed or its start (a function of the folder)
            (["links\\doc", "missing.txt"], "Error: missing.txt not found.\r\n"),
            # A target that is here must be what /TYPE says it is.
            (["links\\doc", "data\\report.txt", "/TYPE:FOLDER"], "Error: data\\report.txt is a file, not a folder.\r\n"),
            (["links\\doc", "data", "/TYPE:FILE"], "Error: data is a folder, not a file.\r\n"),
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
            # Windows and Wine open a device for a name such as NUL or
            # aux.txt: a link so named could not be opened.
            (["links\\NUL", "data\\report.txt"], 'Error: the link name "NUL.lnk" is not a valid file name.\r\n'),
            (["links\\", "data\\aux.txt"], 'Error: the link name "aux.txt.lnk" is not a valid file name.\r\n'),
            # Windows opens no file by a name with a backslash after it.
            (["links\\doc", "data\\report.txt\\"], "Error: data\\report.txt\\ not found.\r\n"),
            # Paths that cannot be what /TYPE says: exit status 2.
            (["links\\doc", "data\\report.txt\\", "/TYPE:FILE"], "Error: the target data\\report.txt\\ ends in a "
             "backslash, which makes it a folder's path, but /TYPE says file.\r\n", 2),
            (["links\\doc", "Q:\\", "/TYPE:FILE"], "Error: the target Q:\\ ends in a backslash, which makes it a folder's "
             "path, but /TYPE says file.\r\n", 2),
            (["links\\doc", "\\\\server\\", "/TYPE:FOLDER"], 'Error: the target "\\\\server\\" names no share: a network '
             "path is \\\\server\\share\\...\r\n", 2),
            (["links\\doc", "\\\\.\\C:\\nothere\\x.exe", "/TYPE:FILE"], 'Error: the target "\\\\.\\C:\\nothere\\x.exe" '
             "is a device's path, not a file's or a folder's.\r\n", 2),
            (["links\\doc", "\\\\ser:ver\\sh|are\\x.txt", "/TYPE:FILE"], 'Error: the target "\\\\ser:ver\\sh|are\\x.txt" '
             'names the server "ser:ver", which Windows does not take.\r\n', 2),
            # Each path fits as typed and as its variables expand (%windir%
            # is C:\windows here and under Wine).
            (["links\\doc", "%windir%\\" + "v" * 249, "/TYPE:FOLDER"], 'Error: the target "C:\\windows\\' + "v" * 249 +
             '" is too long for a link: 260 characters (259 at most).\r\n'),
        ]

        def too_long(what, path):
            return 'Error: %s "%s" is too long for a link: 260 characters (259 at most).\r\n' % (what, path)

        def target_260(d):
            target = win_path(harness.file_of_length(os.path.join(d, "long"), 260, "t.txt"))
            return ["links\\long", target], too_long("the target", target)

        def link_file_260(d):
            links = win_path(harness.folder_of_length(os.path.join(d, "long"), 260 - len("\\doc.lnk")))
            return [links + "\\doc", "data\\report.txt"], too_long("the link file", links + "\\doc.lnk")

        def working_directory_260(d):
            # "." is its own working directory, counted with a closing
            # backslash; mklnk.exe's single-byte calls find no path that long.
            folder = win_path(harness.folder_of_length(os.path.join(d, "long"), 259))
            line = too_long("the working directory", folder + "\\")
            return ["links\\dot", folder + "\\."], "Error: %s\\. not found.\r\n" % folder if harness.TOOL.wine else line

        def working_directory_option_259(d):
            # One limit, the writer's, for the path as it counts: with its
            # closing backslash, 260.
            folder = win_path(os.path.join(d, "w" * (259 - len(win_path(d)) - 1)))
            return ["links\\doc", "data\\report.txt", "/WORKDIR:" + folder], too_long("the working directory",
                                                                                     folder + "\\")

        # Paths of 260 UTF-16 units: the arguments and the line are made in the folder.
        rows += [(target_260, None), (link_file_260, None), (working_directory_260, None),
                 (working_directory_option_259, None)]
        if harness.TOOL.wine:
            # mklnk.exe's single-byte calls cannot make "\u03a9dir" full; it was stored relative.
            rows += [(["links\\doc", "data\\report.txt", "/WORKDIR:\u03a9dir"], 'Error: cannot resolve "Odir" against the '
                      "current folder: it holds characters the system's code page does not.\r\n")]
        for args, start, *status in rows:
            with self.subTest(args=getattr(args, "__name__", args)), TempDir() as d:
                sandbox(d)
                os.makedirs(os.path.join(d, "links/in-the-way.lnk"))
                open(os.path.join(d, "data/aux.txt"), "w").close()
                with open(os.path.join(d, "data/doc.lnk"), "w") as f:
                    f.write("notes, not a link\n")
                os.symlink("data", os.path.join(d, "alias"))
                if callable(args):
                    args, start = args(d)
                if callable(start):
                    start = start(d)
                before = snapshot(d)
                out, rc = harness.TOOL.run(args, cwd=d)
                if start.endswith("\r\n"):
                    self.assertEqual(out, start.encode())
                else:
                    self.assertTrue(out.startswith(start.encode()), out)
                self.assertTrue(out.endswith(b"\r\n"))
                self.assertEqual(rc, status[0] if status else 1)
                self.assertEqual(snapshot(d), before)


class Edit(Folder):
    """Links changed in place (/EDIT, the form both builds take): only what
    is given changes; a share retargeted with /REPLACE leaves no byte of the
    old one but in the description; /DRYRUN changes nothing; /RECURSIVE
    follows no symbolic link; a retargeted link opens its new target."""

    OLD = "\\\\192.168.138.2\\storage"

    def setUp(self):
        super().setUp()
        os.makedirs(self.p("links/sub"))

    def run_tool(self, args, printed, status=0, raw=None):
        out, rc = harness.TOOL.run(args, raw=raw if harness.TOOL.wine else None, cwd=self.d)
        self.assertEqual((out.decode("utf-8", "replace"), rc), (printed, status))

    def test_share_replaced(self):
        # The share in two letter cases, as Windows-made links hold it.
        for n, share in enumerate((self.OLD, self.OLD.upper())):
            target = share + "\\Downloads\\folder1\\file1.txt"
            link = self.p("links/net%d.lnk" % n)
            out, rc = harness.TOOL.run(["links\\net%d" % n, target, "/TYPE:file", "/WORKDIR:" + share + "\\Downloads",
                                        "/DESC:copy-of-" + self.OLD], cwd=self.d)
            self.assertEqual(rc, 0, out)
            os.chmod(link, 0o640)
            # As the making build stored it (Wine's link object keeps the
            # share's letter case).
            stored = lnkcheck.read_link(link, ours=False)["network_path"] or target
            before = snapshot(self.d)
            stat = os.stat(link)
            w = win_path(link)
            warning = 'warning: the description of "%s" holds "%s"; text, not a path, it stays as it is.\r\n' % (
                w, self.OLD)
            new_share = "\\\\fileserver\\archive"
            self.run_tool(["/EDIT", w, "/REPLACE:%s|%s" % (self.OLD, new_share), "/DRYRUN"],
                          warning + 'would change "%s":\r\n'
                          '  working directory: "%s\\Downloads" -> "%s\\Downloads"\r\n'
                          '  target: "%s" -> "\\\\FILESERVER\\ARCHIVE\\Downloads\\folder1\\file1.txt"\r\n'
                          % (w, share, new_share, stored))
            self.assertEqual(snapshot(self.d), before)
            self.assertEqual(os.stat(link).st_mtime_ns, stat.st_mtime_ns)
            self.run_tool(["/EDIT", w, "/REPLACE:%s|%s" % (self.OLD, new_share)], warning + 'changed "%s"\r\n' % w)
            info = lnkcheck.read_link(link, ours=False)
            self.assertEqual(info["errors"], [])
            moved = "\\\\FILESERVER\\ARCHIVE\\Downloads\\folder1\\file1.txt"
            self.assertEqual(info["network_path"], moved)
            self.assertEqual(info["working_directory"], new_share + "\\Downloads")
            self.assertEqual(info["description"], "copy-of-" + self.OLD)
            with open(link, "rb") as f:
                data = f.read().lower()
            old = self.OLD.lower()
            self.assertEqual(data.count(old.encode()) + data.count(old.encode("utf-16-le")), 1)  # the description
            if not harness.TOOL.wine:  # Linux's mode; the Windows build keeps attributes
                self.assertEqual(os.stat(link).st_mode & 0o777, 0o640)
            # Nothing left of the old share: the same again changes nothing.
            self.run_tool(["/EDIT", w, "/REPLACE:%s|%s" % (self.OLD, new_share)], warning)

    def test_recursive_and_failures(self):
        harness.TOOL.run(["links\\a", "links"], cwd=self.d)
        shutil.copy(self.p("links/a.lnk"), self.p("links/sub/b.LNK"))
        outside = self.p("outside")
        os.makedirs(outside)
        shutil.copy(self.p("links/a.lnk"), os.path.join(outside, "c.lnk"))
        os.symlink(outside, self.p("links/sub/out"))
        with open(self.p("links/sub/not.lnk"), "wb") as f:
            f.write(b"no link\n")
        kept = snapshot(outside)
        w = win_path(self.p("links"))
        self.run_tool(["/EDIT", w, "/ARGS:-v", "/RECURSIVE"],
                      'Error: cannot edit "%s\\sub\\not.lnk": it is not a shell link.\r\n'
                      'changed "%s\\a.lnk"\r\nchanged "%s\\sub\\b.LNK"\r\n' % (w, w, w), 1)
        self.assertEqual(snapshot(outside), kept)
        self.assertEqual(lnkcheck.read_link(self.p("links/sub/b.LNK"), ours=False)["command_line_arguments"], "-v")
        for args, printed, status, *raw in [
                (["/EDIT", w, "/ARGS:-v"], 'Error: cannot edit "%s": it is a folder; --recursive edits the links '
                                           'below it.\r\n' % w, 1),
                (["/EDIT", w + "\\a.lnk"], 'Error: nothing to change in "%s\\a.lnk"; the options say what to '
                                           'change.\r\n' % w, 2),
                (["/EDIT", w + "\\none.lnk", "/DESC:x"], 'Error: cannot edit "%s\\none.lnk": not found.\r\n' % w, 1),
                (["/EDIT", w + "\\a.lnk", "/TYPE:file"],
                 "Error: /TYPE tells what a new target is: it goes with /TARGET.\r\n" if harness.TOOL.wine else
                 "Error: --target-type tells what a new target is: it goes with --target.\r\n", 2),
                (["/EDIT", w + "\\a.lnk", "/REPLACE:C:\\x|y"], 'Error: /REPLACE takes full paths, a drive\'s (C:\\...) '
                                                            'or a share\'s (\\\\server\\share...): "C:\\x|y".\r\n', 2),
                # A Windows command line quotes the value, natively the shell's words do.
                (["/EDIT", w + "\\a.lnk", "/APPID:a b"], 'Error: /APPID takes an application ID without spaces, as in '
                                                         'Company.Product: "a b".\r\n', 2,
                 '/EDIT %s\\a.lnk /APPID:"a b"' % w),
                (["/EDIT", w + "\\a.lnk", "/ARGS:-v"], "", 0)]:
            with self.subTest(args=args):
                before = snapshot(self.d)
                self.run_tool(args, printed, status, *raw)
                self.assertEqual(snapshot(self.d), before)

    def test_app_id(self):
        # Set, replaced, removed: the file is then byte for byte what it was.
        harness.TOOL.run(["links\\a", "data"], cwd=self.d)
        link = self.p("links/a.lnk")
        w = win_path(link)
        with open(link, "rb") as f:
            made = f.read()
        self.run_tool(["/EDIT", w, "/APPID:Company.App.1", "/DRYRUN"],
                      'would change "%s":\r\n  app id: (none) -> "Company.App.1"\r\n' % w)
        for value, printed, app_id in (("Company.App.1", 'changed "%s"\r\n' % w, "Company.App.1"),
                                       ("Company.App.2", 'changed "%s"\r\n' % w, "Company.App.2"),
                                       ("Company.App.2", "", "Company.App.2"),
                                       ("", 'changed "%s"\r\n' % w, None)):
            with self.subTest(value=value):
                self.run_tool(["/EDIT", w, "/APPID:" + value], printed)
                info = lnkcheck.read_link(link, ours=False)
                self.assertEqual((info["errors"], info["app_id"]), ([], app_id))
        with open(link, "rb") as f:
            self.assertEqual(f.read(), made)

    def test_new_target_opened_by_wine(self):
        if harness.TOOL.wine or not harness.TOOL.wine_reads():
            self.skipTest("the Linux build's links, opened with Wine's start")
        os.makedirs(self.p("old"))
        os.makedirs(self.p("tools"))
        with open(self.p("old/gone.exe"), "wb"):
            pass
        shutil.copy(harness.TOOL.marker, self.p("tools/marker.exe"))
        harness.TOOL.run(["links\\x", "old\\gone.exe", "/ARGS:one two"], cwd=self.d)
        link = self.p("links/x.lnk")
        self.run_tool(["/EDIT", win_path(link), "/TARGET:tools\\marker.exe"], 'changed "%s"\r\n' % win_path(link))
        ran = harness.TOOL.open_link(link, self.p("ran"), "C.UTF-8")
        self.assertEqual(ran, [win_path(self.p("tools/marker.exe")), win_path(self.p("tools")), "one two"])


class OpenedByWine(unittest.TestCase):
    """Links made on Linux, opened with Wine's `start` as a double-click
    opens them, in locales of three code pages (Wine decodes single-byte
    text in the code page of its locale).  The target, marker.exe, must run
    in the link's working directory."""

    LOCALES = ("C.UTF-8", "ru_RU.UTF-8", "ja_JP.UTF-8")

    def setUp(self):
        if harness.TOOL.wine:
            self.skipTest("the Linux build's links; mklnk.exe's are read by Wine's own link object")
        if not harness.TOOL.wine_reads():
            self.skipTest(harness.TOOL.no_wine)
        listed = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, universal_newlines=True).stdout.split()
        missing = [name for name in self.LOCALES if name.replace("UTF-8", "utf8") not in listed]
        if missing:
            message = "locales %s are not installed (bash scripts/setup.sh makes them)" % ", ".join(missing)
            self.fail(message) if os.environ.get("CI") else self.skipTest(message)

    def test_targets_in_every_script(self):
        # The target's folder and name, or its whole path's length in UTF-16
        # units, the character its folders are named with and its name (one
        # of 260 is refused: Failures).
        rows = [
            ("caf\u00e9", "outil-\u00e9.exe"),
            ("\u043f\u0430\u043f\u043a\u0430", "\u043f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u0430.exe"),
            ("\u30d5\u30a9\u30eb\u30c0", "\u30d7\u30ed\u30b0\u30e9\u30e0.exe"),
            ("e\U0001F600", "\U0001F389.exe"),
            (259, "p", "x.exe"), (259, "\u0444", "\u043f.exe"), (259, "\U0001F600", "\U0001F389.exe"),
        ]
        with open(harness.TOOL.marker, "rb") as f:
            program = f.read()
        for row in rows:
            with self.subTest(row=row), TempDir() as d:
                os.makedirs(os.path.join(d, "links"))
                if isinstance(row[0], int):
                    target = harness.file_of_length(os.path.join(d, "t"), row[0], row[2], row[1], program)
                else:
                    target = harness.file_of_length(os.path.join(d, row[0]), None, row[1], content=program)
                out, rc = harness.TOOL.run(["links\\x", win_path(target)], cwd=d)
                self.assertEqual(rc, 0, out)
                for name in self.LOCALES:
                    with self.subTest(locale=name):
                        ran = harness.TOOL.open_link(os.path.join(d, "links", "x.lnk"), os.path.join(d, name), name)
                        self.assertEqual(ran, [win_path(target), win_path(os.path.dirname(target)), ""])


if __name__ == "__main__":
    harness.main()
