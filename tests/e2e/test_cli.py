"""End to end: usage text, echo and exit status, byte for byte."""
import ntpath
import os
import shutil
import subprocess
import sys
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
                     (["--", "--version", "x"], b"Error: x not found.\r\n", 1)]
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
            (["a", "b", "/APPID:"], b"Error: /APPID takes an application ID without spaces, as in Company.Product: "
                                   b'"".\r\n'),
            (["/appid:" + "x" * 129, "a", "b"], b"Error: /appid takes at most 128 characters; this one has 129.\r\n"),
        ]
        if not harness.TOOL.wine:
            rows += [(["--show=sideways", "a", "b"], b'Error: --show takes normal, max or min: "sideways".\r\n'),
                     (["a", "b", "--argument=-x"], b"Error: unknown option --argument=-x; mklnk --help lists them.\r\n"),
                     (["--bogus", "a", "b", "--arguments=x"], b"Error: unknown option --bogus; mklnk --help lists them.\r\n"),
                     (["--app-id=My App", "a", "b"], b"Error: --app-id takes an application ID without spaces, as in "
                                                     b'Company.Product: "My App".\r\n')]
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
