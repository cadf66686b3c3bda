"""End to end: usage text, echo and exit status, byte for byte."""
import json
import ntpath
import os
import pty
import select
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import TempDir, usage_bytes  # noqa: E402

USAGE = object()


def base_of(exe):
    # ntpath splits both forms: Linux paths and the Z:\ paths Wine is given.
    return ntpath.splitext(ntpath.basename(exe))[0]


class Usage(unittest.TestCase):
    def test_usage_asked_for(self):
        tool = harness.TOOL
        for args in ([], ["/?"], ["/help"]):
            with self.subTest(args=args):
                out, rc = tool.run(args)
                self.assertEqual(out, usage_bytes(base_of(tool.exe)))
                self.assertEqual(len(out), 255 + len(base_of(tool.exe)))
                self.assertEqual(rc, 0)

    def test_long_options(self):
        # Linux commands answer --help and --version; the Windows program
        # turns them away like any other argument string without a space.
        tool = harness.TOOL
        usage = usage_bytes(base_of(tool.exe))
        rows = [(["--help"], usage, 0), (["--version"], ("mklnk " + harness.VERSION + "\r\n").encode(), 0)]
        if tool.wine:
            rows = [(args, usage, 2) for args, _, _ in rows]
            rows += [(["--HELP"], usage, 2), (["--version", "x"], b"Error: x not found.\r\n", 1)]
        else:
            # Wherever they stand; a word after -- is a path.
            rows += [(["--HELP"], b"Error: unknown option --HELP; mklnk --help lists them.\r\n", 2),
                     (["a", "--version", "x"], ("mklnk " + harness.VERSION + "\r\n").encode(), 0),
                     (["--", "--version", "x"], b"Error: x not found.\r\n", 1),
                     # Nor is a slash option after --: "/DESC:x" is a path, and paths hold no "/".
                     (["a", "b", "--", "/DESC:x"], usage, 2)]
        for args, expected, status in rows:
            with self.subTest(args=args):
                out, rc = tool.run(args)
                if args == ["--help"] and not tool.wine:
                    # The usage text, then the options, each in both its forms.
                    self.assertTrue(out.startswith(usage + b"\r\nOptions") and out.endswith(b"\r\n"), out)
                    for name in (b"/ARGS:", b"/WORKDIR:", b"/DESC:", b"/ICON:", b"/SHOW:", b"/HOTKEY:", b"/ADMIN",
                                 b"--arguments=", b"--working-directory=", b"--description=", b"--icon=",
                                 b"--show=", b"--hotkey=", b"--run-as-admin", b"/APPID:", b"--app-id=", b"  --  "):
                        self.assertIn(name, out)
                    out = usage
                self.assertEqual((out, rc), (expected, status))

    def test_option_values_turned_away(self):
        # One line naming the option and what it takes; nothing made.
        rows = [
            (["/SHOW:sideways", "a", "b"], b'Error: /SHOW takes normal, max or min: "sideways".\r\n'),
            (["a", "b", "/HOTKEY:Ctrl+"], b"Error: /HOTKEY takes Ctrl, Alt or Shift and a key (A to Z, 0 to 9, F1 to "
                                         b'F24), joined by +, as in Ctrl+Alt+K: "Ctrl+".\r\n'),
            (["/ICON:x,abc", "a", "b"], b"Error: /ICON takes an icon file and, after a comma, the icon's index, as in "
                                        b'shell32.dll,3: "x,abc".\r\n'),
            (["/admin:1", "a", "b"], b"Error: /admin takes no value.\r\n"),
            (["/ARGS:a", "b", "c", "/Args:d"], b"Error: /Args is given twice.\r\n"),
            (["/TYPE:disk", "a", "b"], b'Error: /TYPE takes file or folder: "disk".\r\n'),
            # A path no Windows program can open: a device's name, a colon
            # or a bar anywhere but after a drive letter.
            (["a", "b", "/WORKDIR:nul"], b'Error: /WORKDIR holds the name "nul", which Windows does not take in a '
                                         b'path: "nul".\r\n'),
            (["/ICON:aux,1", "a", "b"], b'Error: /ICON holds the name "aux", which Windows does not take in a path: '
                                        b'"aux,1".\r\n'),
            (["a", "b", "/WORKDIR:a:b|c"], b'Error: /WORKDIR holds the name "b|c", which Windows does not take in a '
                                           b'path: "a:b|c".\r\n'),
            (["a", "b", "/APPID:"], b"Error: /APPID takes an application ID without spaces, as in Company.Product: "
                                   b'"".\r\n'),
            (["/appid:" + "x" * 129, "a", "b"], b"Error: /appid takes at most 128 characters; this one has 129.\r\n"),
            # A list, and a read, that the line cannot take: nothing read.
            (["/FROM:"], b'Error: /FROM takes a file of command lines, or - for standard input: "".\r\n'),
            (["/FROM:x", "a"], b'Error: a list of links is the whole command line; this one also holds "a".\r\n'),
            (["/READ"], b"Error: /READ (--read) takes the link files to read.\r\n"),
            (["/READ", "/ARGS:x", "a.lnk"], b"Error: the options that say what a link holds cannot go with /READ "
                                            b"(--read).\r\n"),
            (["/JSON", "/COMMAND", "a.lnk"], b"Error: --json and --command cannot be used together; /JSON and /COMMAND "
                                             b"neither.\r\n"),
        ]
        if not harness.TOOL.wine:
            rows += [(["--show=sideways", "a", "b"], b'Error: --show takes normal, max or min: "sideways".\r\n'),
                     (["a", "b", "--argument=-x"], b"Error: unknown option --argument=-x; mklnk --help lists them.\r\n"),
                     (["--bogus", "a", "b", "--arguments=x"], b"Error: unknown option --bogus; mklnk --help lists them.\r\n"),
                     # The shell's words keep their quotes, which no Windows
                     # path holds; bytes that are not UTF-8 are no text.
                     (['/WORKDIR:"C:\\My Dir"', "a", "b"], b'Error: /WORKDIR holds the name ""C:", which Windows does '
                                                            b'not take in a path: ""C:\\My Dir"".\r\n'),
                     (["a", "b", "--description=caf\udce9"], b"Error: --description holds bytes that are not UTF-8 "
                                                              b"text.\r\n"),
                     (["--app-id=My App", "a", "b"], b"Error: --app-id takes an application ID without spaces, as in "
                                                     b'Company.Product: "My App".\r\n'),
                     (["--from"], b"Error: --from takes a value, as in --from=VALUE.\r\n"),
                     (["--from=x", "--from=y"], b"Error: --from is given twice.\r\n"),
                     (["--read"], b"Error: /READ (--read) takes the link files to read.\r\n"),
                     (["--json", "--arguments=x", "a.lnk"], b"Error: the options that say what a link holds cannot go "
                                                             b"with /READ (--read).\r\n")]
        for args, expected in rows:
            with self.subTest(args=args), TempDir() as d:
                self.assertEqual(harness.TOOL.run(args, cwd=d), (expected, 2))
                self.assertEqual(os.listdir(d), [])

    def test_usage_for_arguments_turned_away(self):
        for args in (["/HELP"], ["/Help"], ["-?"], ["/?", "x"], ["/help", "me"], ["a"], ["a", "C:/x"],
                     ["a", "b", "/SHOWARGS"], ["/showargs", "a", "b"], ['"a"'], ["a\tb"],
                     # Options leave no two paths to split, or are none.
                     ["/ARGS:x"], ["/ADMIN", "a"], ["/ARGSX:1", "a", "b"], ["a", "b/ARGS:x"]):
            with self.subTest(args=args):
                out, rc = harness.TOOL.run(args)
                self.assertEqual(out, usage_bytes(base_of(harness.TOOL.exe)))
                self.assertEqual(rc, 2)

    def test_line_three_follows_the_file_name(self):
        tool = harness.TOOL
        ext = os.path.splitext(tool.exe)[1]
        with TempDir() as d:
            for name in ("Make-Link", "x", "mixed.Case.Name"):
                with self.subTest(name=name):
                    copy = os.path.join(d, name + ext)
                    shutil.copy(tool.exe, copy)
                    out, rc = tool.run([], exe=copy)
                    self.assertEqual(out, usage_bytes(name.rsplit(".", 1)[0] if ext == "" else name))
                    self.assertEqual(rc, 0)
            if not tool.wine:
                # The name the command was run by: a symbolic link's, and the
                # file's own only when the process was given no name.
                os.symlink(tool.exe, os.path.join(d, "foo"))
                for argv0, exe, base in (("foo", os.path.join(d, "foo"), "foo"), ("", tool.exe, base_of(tool.exe))):
                    with self.subTest(argv0=argv0):
                        p = subprocess.run([argv0], executable=exe, stdout=subprocess.PIPE, timeout=60)
                        self.assertEqual(p.stdout, usage_bytes(base))


class Echo(unittest.TestCase):
    ROWS = [
        (["a", "b", "/showargs"], b"Parameters: a b\r\n"),
        (['"a"', "b", "/showargs"], b"Parameters: a b\r\n"),
        (["a b", "c d", "/showargs"], b'Parameters: "a b" "c d"\r\n'),
        (["a", "c d", "/showargs"], b'Parameters: a "c d" /showargs\r\n'),
        (["a", '"cd"', "/showargs"], b'Parameters: a "cd" /showargs\r\n'),
        (["a", "/showargs"], b"Parameters: a \r\n"),
        (["a", "b", "/showargsX"], b"Parameters: a b\r\n"),
        (["My Links\\a", "x", "/showargs"], b'Parameters: "My Links\\a" x\r\n'),
        (["C:\\Links\\report.lnk", "C:\\Data\\report.txt", "/showargs"],
         b"Parameters: C:\\Links\\report.lnk C:\\Data\\report.txt\r\n"),
        (["caf\u00e9", "b", "/showargs"], "Parameters: caf\u00e9 b\r\n"),
        # A line that echoes without its options echoes exactly so; one that
        # would get the usage text shows the options it holds.
        (["a", "b", "/showargs", "/ARGS:x"], b"Parameters: a b\r\n"),
        (["/ARGS:x", "a", "b", "/showargs"], b"Parameters: a b\r\nArguments: x\r\n"),
        (["/SHOW:max", "/HOTKEY:alt+F4", "a", "b", "/showargs", "/admin"],
         b"Parameters: a b\r\nShow: maximized\r\nHot key: Alt+F4\r\nRun as administrator\r\n"),
        (["/type:Folder", "a", "b", "/showargs"], b"Parameters: a b\r\nTarget type: folder\r\n"),
        (["/APPID:Company.App.1", "a", "b", "/showargs"], b"Parameters: a b\r\nAppUserModelID: Company.App.1\r\n"),
    ]

    def test_echo(self):
        for args, expected in self.ROWS:
            with self.subTest(args=args):
                if isinstance(expected, str):
                    # Natively the ANSI code page is UTF-8; under Wine it is 1252.
                    expected = expected.encode("cp1252" if harness.TOOL.wine else "utf-8")
                out, rc = harness.TOOL.run(args)
                self.assertEqual(out, expected)
                self.assertEqual(rc, 0)

    def test_echo_creates_nothing(self):
        with TempDir() as d:
            open(os.path.join(d, "t.txt"), "w").close()
            out, rc = harness.TOOL.run(["l", "t.txt", "/showargs"], cwd=d)
            self.assertEqual(out, b"Parameters: l t.txt\r\n")
            self.assertEqual(sorted(os.listdir(d)), ["t.txt"])


def list_folder(d, name, lines):
    """A folder for the links, data\\r.txt to link to, and a list."""
    os.makedirs(os.path.join(d, "links"))
    os.makedirs(os.path.join(d, "data"))
    for path, data in (("data/r.txt", b"report"), (name, lines)):
        with open(os.path.join(d, path), "wb") as f:
            f.write(data)


class List(unittest.TestCase):
    """A list of command lines (/FROM:FILE): what each line prints alone, in
    order, a failure's lines after FILE:LINE:, and one exit status."""

    def test_a_list(self):
        usage = usage_bytes(base_of(harness.TOOL.exe))
        lines = [
            b"\xef\xbb\xbf# a comment, after a byte order mark",
            b"links\\a data\\r.txt",
            b"",
            b"links\\b data\\missing.txt",
            b"links\\c data\\r.txt /showargs",
            b'"a" "b',  # cannot be split: the usage text
            b"   # an indented comment",
            b"links\\a data\\r.txt /DESC:second",  # the same link again: the later wins
            b"/SHOW:sideways a b",
            b"/FROM:other.txt",
            b"/EDIT links\\a.lnk /ARGS:edited",  # edits the link the lines before made
            b" \t",
            b"links\\e data\\r.txt",  # and no line end
        ]
        printed = (b"shortcut created for links\\a <<===>> data\\r.txt\r\n"
                   b"list.txt:4: Error: data\\missing.txt not found.\r\n"
                   b"Parameters: links\\c data\\r.txt\r\n"
                   + b"".join(b"list.txt:6: " + line + b"\n" for line in usage.split(b"\n")[:-1])
                   + b"shortcut created for links\\a <<===>> data\\r.txt\r\n"
                   b'list.txt:9: Error: /SHOW takes normal, max or min: "sideways".\r\n'
                   b"list.txt:10: Error: a list cannot name another list (other.txt).\r\n"
                   b'changed "%s\\links\\a.lnk"\r\n'
                   b"shortcut created for links\\e <<===>> data\\r.txt\r\n")
        for ending in (b"\r\n", b"\n"):
            with self.subTest(ending=ending), TempDir() as d:
                list_folder(d, "list.txt", ending.join(lines))
                out, rc = harness.TOOL.run(["/FROM:list.txt"], cwd=d)
                self.assertEqual((out, rc), (printed % harness.win_path(d).encode(), 2))
                self.assertEqual(sorted(os.listdir(os.path.join(d, "links"))), ["a.lnk", "e.lnk"])
                with open(os.path.join(d, "links", "a.lnk"), "rb") as f:
                    link = f.read()
                    self.assertIn("second".encode("utf-16-le"), link)
                    self.assertIn("edited".encode("utf-16-le"), link)
                if not harness.TOOL.wine and ending == b"\n":
                    # Standard input, and the Linux spelling (once: its lines
                    # are its own); exit status 1 without a usage text.
                    p = subprocess.run([harness.TOOL.exe, "--from=-"], cwd=d, input=b"links\\f data\\r.txt\nx y\n",
                                       capture_output=True, timeout=60)
                    self.assertEqual((p.stdout, p.returncode),
                                     (b"shortcut created for links\\f <<===>> data\\r.txt\r\n"
                                      b"-:2: Error: y not found.\r\n", 1))
                    self.assertEqual(p.stderr, b"")
                    # A list that takes longer than a second, standard error
                    # a terminal: one progress line there, erased at the end.
                    master, slave = pty.openpty()
                    q = subprocess.Popen([harness.TOOL.exe, "--from=-"], cwd=d, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=slave)
                    os.close(slave)
                    q.stdin.write(b"links\\g data\\r.txt\n")
                    q.stdin.flush()
                    time.sleep(1.2)
                    q.communicate(b"links\\h data\\r.txt\n", timeout=60)
                    shown = b""
                    while select.select([master], [], [], 0)[0]:
                        try:
                            shown += os.read(master, 4096)
                        except OSError:
                            break
                    os.close(master)
                    self.assertRegex(shown, rb"^\rmklnk: 2 lines, [0-9]+ links a second\r {30,}\r$")

    def test_read_then_made_again(self):
        # What the read mode prints as command lines makes the same links
        # again from one list: every option, a folder, a target for another
        # machine, read back as the same lines.  (Their bytes differ where a
        # folder on the way changed its time meanwhile.)  The links are made
        # from a list too: its lines are Windows command lines on both builds.
        made = (b'links\\all data\\r.txt /ARGS:"-v ""x y""" /WORKDIR:data /DESC:"a ""quoted"" one" '
                b"/ICON:data\\r.txt,2 /SHOW:max /HOTKEY:Ctrl+Alt+K /ADMIN\n"
                b"links\\folder data\n"
                b"links\\away Q:\\Apps\\app.exe /TYPE:FILE /SHOW:min\n")
        with TempDir() as d:
            list_folder(d, "make.txt", made)
            out, rc = harness.TOOL.run(["/FROM:make.txt"], cwd=d)
            self.assertEqual((rc, out.count(b"shortcut created for ")), (0, 3), out)
            names = sorted(os.listdir(os.path.join(d, "links")))
            read = ["/READ", "/COMMAND"] + ["links\\" + name for name in names]
            lines, rc = harness.TOOL.run(read, cwd=d)
            self.assertEqual((rc, lines.count(b"\r\n")), (0, 3), lines)
            self.assertIn(b'/ARGS:"-v ""x y"""', lines)
            with open(os.path.join(d, "list.txt"), "wb") as f:
                f.write(lines)
            for name in names:
                os.unlink(os.path.join(d, "links", name))
            out, rc = harness.TOOL.run(["/FROM:list.txt"], cwd=d)
            self.assertEqual((rc, out.count(b"shortcut created for ")), (0, 3), out)
            self.assertEqual(harness.TOOL.run(read, cwd=d), (lines, 0))

    def test_lists_not_read(self):
        # The system's reason follows the name; the lines the list mode
        # cannot take are in Usage's table.
        for name in ("missing.txt", "."):
            with self.subTest(name=name), TempDir() as d:
                out, rc = harness.TOOL.run(["/FROM:" + name], cwd=d)
                expected = b'Error: cannot read the list "%s": ' % name.encode()
                self.assertTrue(out.startswith(expected) and out.endswith(b".\r\n") and out.count(b"\n") == 1, out)
                self.assertEqual(rc, 1)
SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lnk", "samples")
# The samples whose text is plain ASCII: the same bytes in every code page
# (the text of the others is in the console's code page; their JSON is
# ASCII too).
ASCII_TEXT = ["app-id.lnk", "console.lnk", "control-panel.lnk", "darwin.lnk", "environment.lnk", "hot-key.lnk",
              "known-folder.lnk", "local-file.lnk", "padded-arguments.lnk", "run-as-admin.lnk", "unknown-blocks.lnk"]


def liblnk():
    """python3-liblnk (its module is pylnk), or None where it is not installed."""
    try:
        import pylnk
        return pylnk
    except ImportError:
        return None


def quoted_option(word):
    """A word of a raw Windows command line as mklnk reads it: a path with
    a space in double quotes, an option's value with a space or a double
    quote in double quotes, each double quote in it doubled."""
    if word.startswith("/") and ":" in word:
        name, value = word.split(":", 1)
        if " " in value or '"' in value:
            return name + ':"' + value.replace('"', '""') + '"'
        return word
    return '"' + word + '"' if " " in word else word


class Read(unittest.TestCase):
    """mklnk /READ: the same bytes from both builds; errors per operand."""

    def test_samples_as_expected(self):
        # One expected file for both builds: the Windows build prints the
        # native one's bytes.
        names = sorted(n for n in os.listdir(SAMPLES) if n.endswith(".lnk"))
        text, rc1 = harness.TOOL.run(["/READ"] + ASCII_TEXT, cwd=SAMPLES)
        json_lines, rc2 = harness.TOOL.run(["/READ", "/JSON"] + names, cwd=SAMPLES)
        with open(os.path.join(SAMPLES, "expected.txt"), "rb") as f:
            self.assertEqual(text + b"\r\n" + json_lines, f.read())
        self.assertEqual((rc1, rc2), (0, 0))

    def test_operands_that_are_no_link(self):
        with TempDir() as d:
            os.mkdir(os.path.join(d, "folder"))
            with open(os.path.join(d, "empty.lnk"), "wb"):
                pass
            with open(os.path.join(d, "text.lnk"), "wb") as f:
                f.write(b"L\0\0\0 not a link, though it begins like one" * 3)
            shutil.copy(os.path.join(SAMPLES, "control-panel.lnk"), d)
            operands = ["missing.lnk", "folder", "empty.lnk", "text.lnk", "control-panel.lnk"]
            # Each operand has its line, in order; the good one is still read.
            out, rc = harness.TOOL.run(["/READ", "/JSON"] + operands, cwd=d)
            lines = out.split(b"\r\n")
            self.assertEqual(lines[:4], [b'{"file":"missing.lnk","error":"not found"}',
                                         b'{"file":"folder","error":"is a folder"}',
                                         b'{"file":"empty.lnk","error":"is not a shell link"}',
                                         b'{"file":"text.lnk","error":"is not a shell link"}'])
            self.assertTrue(lines[4].startswith(b'{"file":"control-panel.lnk","target":null,'), lines[4])
            self.assertEqual((lines[5:], rc), ([b""], 1))
            out, rc = harness.TOOL.run(["/READ", "missing.lnk", "control-panel.lnk"], cwd=d)
            self.assertEqual(out, b'Error: "missing.lnk" not found.\r\ncontrol-panel.lnk\r\n'
                                  b"  item list: All Control Panel Items > category 5 > System\r\n")
            self.assertEqual(rc, 1)
            if not harness.TOOL.wine:
                # After --read every word is a file, a slash one too.
                out, rc = harness.TOOL.run(["--read", "/JSON"], cwd=d)
                self.assertEqual((out, rc), (b'Error: "/JSON" not found.\r\n', 1))

    def test_agrees_with_liblnk(self):
        # liblnk reads the strings and flags; it misreads the header's icon
        # index, show command and hot key, which are compared with the bytes.
        # MKLNK_SAMPLES names a folder of more links to compare.
        lib = liblnk()
        if lib is None:
            self.skipTest("python3-liblnk is not installed")
        folders = [SAMPLES] + ([os.environ["MKLNK_SAMPLES"]] if os.environ.get("MKLNK_SAMPLES") else [])
        paths = [os.path.join(root, n) for folder in folders for root, _, files in os.walk(folder)
                 for n in sorted(files) if not n.endswith(("README", ".txt"))]
        agreed = 0
        for path in paths:
            out, _ = harness.TOOL.run(["/READ", "/JSON", os.path.basename(path)], cwd=os.path.dirname(path))
            mine = json.loads(out)
            with open(path, "rb") as f:
                data = f.read()
            f = lib.file()
            try:
                f.open(path)
            except IOError:
                # liblnk refuses a damaged file; mklnk reads what is there.
                self.assertTrue("error" in mine or mine["warnings"], path)
                continue
            if "error" in mine:
                self.fail("%s: liblnk reads it, mklnk says %s" % (path, mine["error"]))
            with self.subTest(path=path):
                for key, theirs in (("arguments", f.command_line_arguments), ("working_directory", f.working_directory),
                                    ("description", f.description), ("icon_location", f.icon_location),
                                    ("relative_path", f.relative_path),
                                    ("environment_target", f.environment_variables_location)):
                    if mine["warnings"] and theirs is None:
                        continue  # a damaged file: liblnk gives up on the field
                    # liblnk keeps a counted NUL; Windows ends the text there.
                    self.assertEqual(mine[key], theirs.split("\0")[0] if theirs else theirs, key)
                self.assertEqual(mine["link_flags"], f.data_flags)
                self.assertEqual(mine["file_attributes"], f.file_attribute_flags)
                if mine["link_info"] and mine["link_info"]["local_path"] and f.local_path:
                    # The five bytes Windows-1252 leaves undefined: liblnk
                    # gives U+FFFD, Windows (and mklnk) the C1 control.
                    undefined = {c: "\ufffd" for c in (0x81, 0x8D, 0x8F, 0x90, 0x9D)}
                    self.assertEqual(mine["link_info"]["local_path"].translate(undefined).lower(), f.local_path.lower())
                # From the header's bytes, where liblnk is wrong.
                self.assertEqual(mine["icon_index"], int.from_bytes(data[56:60], "little", signed=True))
                self.assertEqual(mine["show_command"], int.from_bytes(data[60:64], "little"))
                self.assertEqual(mine["hotkey"], int.from_bytes(data[64:66], "little"))
                agreed += 1
            f.close()
        self.assertGreaterEqual(agreed, 12)

    def test_command_line_makes_the_link_again(self):
        # A link made with every option, printed with /COMMAND and made again
        # from that line by the Windows build, reads back the same.
        windows = harness.windows_tool()
        if windows is None:
            self.skipTest("no Windows build to make links from a raw line")
        # What the line carries; the rest (the item list's details, times)
        # is the Shell's, which differs between the builds.
        carried = ("target", "target_type", "arguments", "working_directory", "description", "icon_location",
                   "icon_index", "show_command", "hotkey", "run_as_admin", "environment_target", "app_id")
        with TempDir() as d:
            open(os.path.join(d, "tool 1.exe"), "w").close()
            wd = os.path.join(d, "work dir")
            os.mkdir(wd)
            made = [
                ["a", "tool 1.exe", '/ARGS:-x "q" y', "/WORKDIR:" + harness.win_path(wd), "/DESC:a b, c",
                 "/ICON:%SystemRoot%\\system32\\shell32.dll,-3", "/SHOW:min", "/HOTKEY:Ctrl+Shift+F12", "/ADMIN",
                 "/APPID:Company.Tool.1"],
                ["b", "C:\\nowhere\\x y", "/TYPE:folder", "/SHOW:max", "/HOTKEY:Alt+7"],
                ["c", "%WINDIR%\\no-such-tool.exe", "/TYPE:file", "/ARGS:/k"],
            ]
            for args in made:
                if "%" in args[1] and not harness.TOOL.wine:
                    continue  # the Windows build hands it to the Shell, which stores it expanded
                with self.subTest(args=args):
                    name = args[0] + ".lnk"
                    # A Windows command line quotes an option's value, natively the shell's words do.
                    raw = " ".join(quoted_option(a) for a in args) if harness.TOOL.wine else None
                    out, rc = harness.TOOL.run(args, raw=raw, cwd=d)
                    self.assertEqual(rc, 0, out)
                    line, rc = harness.TOOL.run(["/COMMAND", name], cwd=d)
                    self.assertEqual(rc, 0, line)
                    first, _ = harness.TOOL.run(["/READ", "/JSON", name], cwd=d)
                    os.remove(os.path.join(d, name))
                    lines = line.decode("cp1252" if harness.TOOL.wine else "utf-8").rstrip("\r\n").split("\r\n")
                    line = lines.pop()
                    # The native build keeps no file or folder for a target
                    # of variables that is not here.
                    self.assertEqual([w for w in lines if "/TYPE:file is a guess" not in w], [])
                    out, rc = windows.run(raw=line, cwd=d)
                    self.assertEqual(rc, 0, (line, out))
                    again, _ = harness.TOOL.run(["/READ", "/JSON", name], cwd=d)
                    a, b = json.loads(first), json.loads(again)
                    if lines:  # the guess: the first said nothing
                        b["target_type"] = None
                    # An empty string stored (Wine's link object) or none (the native build).
                    self.assertEqual({k: a[k] or None for k in carried}, {k: b[k] or None for k in carried}, line)


class RawCommandLine(unittest.TestCase):
    """The program's own name is cut from the command line, with the blanks after it."""

    def setUp(self):
        if not harness.TOOL.wine:
            self.skipTest("exact command lines are a Windows matter")

    def test_cutting(self):
        exe = harness.win_path(harness.TOOL.exe)
        rows = [
            ('"' + exe + '"', "", usage_bytes(base_of(exe))),
            ('"' + exe + '"', "/?", usage_bytes(base_of(exe))),
            ('"' + exe + '"  \t ', "/help", usage_bytes(base_of(exe))),
            (exe, "a b /showargs", b"Parameters: a b\r\n"),
            (exe + "\t", "a  b /showargs", b"Parameters: a b\r\n"),
            ('"' + exe + '"x', "a b /showargs", b"Parameters: x a b\r\n"),
            ('"' + exe + '"', '"a b" "c d" /showargs', b'Parameters: "a b" "c d"\r\n'),
            ('"' + exe + '"', '"a b" "c d', usage_bytes(base_of(exe))),
            ('"' + exe + '"', "/? ", usage_bytes(base_of(exe))),
        ]
        for program, raw, expected in rows:
            with self.subTest(program=program, raw=raw):
                # The launcher joins program and raw with one space; a program
                # part that ends in blanks is given whole.
                if program.endswith((" ", "\t")):
                    out, _ = harness.TOOL.run(raw="", program=program + raw)
                else:
                    out, _ = harness.TOOL.run(raw=raw, program=program)
                self.assertEqual(out, expected)


if __name__ == "__main__":
    harness.main()
