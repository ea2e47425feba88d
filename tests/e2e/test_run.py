"""The runner's own checks: a mismatch must be reported, never passed over. No Wine needed."""

import os
import tempfile
import unittest

import run

BOX = {"seq": 1, "kind": "box", "class": "#32770", "caption": "Install",
       "text": 'Cannot open "C:\\dist\\setup.inf" !', "icon": "error", "buttons": ["OK"], "owner": None,
       "controls": [{"id": 1, "class": "Button", "text": "OK", "visible": True}],
       "rule": 7, "unmatched": False, "actions": ["press OK"], "errors": [], "screenshots": []}
START = {"kind": "start", "installer": "C:\\dist\\setup.exe"}
END = {"kind": "end", "status": "exited", "exit": 0, "windows": 1, "failures": 0, "unused_rules": []}


def scenario_from(text):
    with tempfile.NamedTemporaryFile("w", suffix=".scn", delete=False, encoding="utf-8") as f:
        f.write(text)
    try:
        return run.Scenario(f.name)
    finally:
        os.unlink(f.name)


def problems_of(expect, records, prefix="/nonexistent"):
    scenario = scenario_from("@robot\non box : press OK\n@expect\n" + expect)
    return run.check_expectations(scenario, records, prefix, {}, "/nonexistent")


class WordsTest(unittest.TestCase):
    def test_backslashes_hashes_and_quotes(self):
        self.assertEqual(run.split_words(r"""box class=#32770 text='a "b" C:\d' x="e\"f\\" # comment"""),
                         ["box", "class=#32770", 'text=a "b" C:\\d', 'x=e"f\\'])

    def test_unterminated_quote_is_an_error(self):
        with self.assertRaises(ValueError):
            run.split_words("box text='open")


class WindowCheckTest(unittest.TestCase):
    def test_every_field_that_differs_is_named(self):
        problems = run.check_window(BOX, ["box", "caption=Installer", "icon=information", "buttons=OK,Cancel",
                                          "owner.class=Install", "control.1=Cancel", "text~missing"])
        self.assertEqual([p.split(":")[0] for p in problems],
                         ["caption", "icon", "buttons", "owner.class", "control.1", "text"])

    def test_matching_fields_pass(self):
        self.assertEqual(run.check_window(BOX, ["box", "caption=Install", 'text~"C:\\dist', "owner=none",
                                                "unmatched=false", "actions=press OK"]), [])

    def test_a_dialog_is_not_a_box(self):
        self.assertEqual(len(run.check_window(BOX, ["dialog", "caption=Install"])), 1)


class ExpectationsTest(unittest.TestCase):
    def test_a_passing_run(self):
        self.assertEqual(problems_of("box caption=Install\nexit 0\n", [START, BOX, END]), [])

    def test_missing_and_unexpected_windows(self):
        self.assertIn("only 1 appeared", " ".join(problems_of("box\nbox\n", [START, BOX, END])))
        self.assertIn("unexpected window", " ".join(problems_of("", [START, BOX, END])))

    def test_exit_code_timeout_and_unmatched_windows(self):
        self.assertTrue(problems_of("box\nexit 1\n", [START, BOX, END]))
        self.assertTrue(problems_of("box\n", [START, BOX, dict(END, status="timeout")]))
        self.assertTrue(problems_of("box\n", [START, dict(BOX, unmatched=True), END]))
        self.assertEqual(problems_of("box\nunmatched 1\n", [START, dict(BOX, unmatched=True), END]), [])
        self.assertTrue(problems_of("box\n", [START, dict(BOX, errors=["press Yes: no control Yes"]), END]))

    def test_a_transcript_without_end(self):
        self.assertTrue(problems_of("box\n", [START, BOX]))

    def test_unknown_expectation(self):
        self.assertTrue(problems_of("box\nfiles C:\\x absent\n", [START, BOX, END]))


class RegistryTest(unittest.TestCase):
    def test_values_as_wine_writes_them(self):
        with tempfile.TemporaryDirectory() as prefix:
            with open(os.path.join(prefix, "user.reg"), "w", encoding="utf-8") as f:
                f.write('WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n'
                        '[Software\\\\Quillet\\\\Back \\"slash\\"] 1733612345\n#time=1db48c7\n'
                        '@="default"\n"Name"="Caf\\x00e9 \\"au\\" lait\\\\"\n"Count"=dword:0000002a\n'
                        '"Path"=str(2):"%SystemRoot%\\\\x"\n"Blob"=hex:01,02,\\\n  03\n')
            values = run.registry_key(prefix, 'HKCU\\Software\\QUILLET\\Back "slash"')
            self.assertEqual(values[""][1], ("sz", "default"))
            self.assertEqual(values["name"][1], ("sz", 'Café "au" lait\\'))
            self.assertEqual(values["count"][1], ("dword", 42))
            self.assertEqual(values["path"][1], ("expand_sz", "%SystemRoot%\\x"))
            self.assertEqual(values["blob"][1], ("hex", b"\x01\x02\x03"))
            key = 'HKCU\\Software\\Quillet\\Back "slash"'
            self.assertEqual(run.check_reg(prefix, ["reg", key, "Count", "=", "dword:42"]), [])
            self.assertTrue(run.check_reg(prefix, ["reg", key, "Count", "=", "dword:43"]))
            self.assertTrue(run.check_reg(prefix, ["reg", key, "Name", "absent"]))
            self.assertTrue(run.check_reg(prefix, ["reg", key, "absent"]))
            self.assertEqual(run.check_reg(prefix, ["reg", "HKCU\\Software\\Other", "absent"]), [])


class FileCheckTest(unittest.TestCase):
    def test_content_and_time_of_a_copy(self):
        scenario = scenario_from("@robot\non box : press OK\n")
        with tempfile.TemporaryDirectory() as prefix:
            target = os.path.join(prefix, "drive_c", "Quillet")
            os.makedirs(target)
            with open(os.path.join(target, "readme.txt"), "wb") as f:
                f.write(b"Hello\r\n")
            moment = run.DEFAULT_MTIME_NS
            os.utime(os.path.join(target, "readme.txt"), ns=(moment, moment))
            dist = {"c:\\dist\\readme.txt": (b"Hello\r\n", moment)}
            check = lambda *words: run.check_file(scenario, prefix, dist, ["file", *words])  # noqa: E731
            self.assertEqual(check("C:\\QUILLET\\Readme.TXT", "same-as", "readme.txt"), [])
            self.assertEqual(check("C:\\Quillet\\readme.txt", "mtime-of", "readme.txt"), [])
            self.assertEqual(check("C:\\Quillet\\readme.txt", "lines", "Hello"), [])
            self.assertTrue(check("C:\\Quillet\\readme.txt", "lines", "Hello", ""))
            self.assertTrue(check("C:\\Quillet\\readme.txt", "absent"))
            self.assertTrue(check("C:\\Quillet\\other.txt", "exists"))
            # 100 ns later is another time for Windows.
            os.utime(os.path.join(target, "readme.txt"), ns=(moment + 100, moment + 100))
            self.assertTrue(check("C:\\Quillet\\readme.txt", "mtime-of", "readme.txt"))
            with open(os.path.join(target, "readme.txt"), "wb") as f:
                f.write(b"Hullo\r\n")
            self.assertTrue(check("C:\\Quillet\\readme.txt", "same-as", "readme.txt"))


class ScenarioFileTest(unittest.TestCase):
    def test_files_are_written_with_crlf_and_empty_blocks_are_empty_files(self):
        scenario = scenario_from("@setup\ndist C:\\Some dir\\\n@file setup.inf\n[Install]\nA=é\n\n\n"
                                 "@file empty.inf\n@file last.txt noeol\nx\n@robot\non box : press OK\n")
        self.assertEqual(scenario.files[0], ("C:\\Some dir\\setup.inf", "text", b"[Install]\r\nA=\xe9\r\n"))
        self.assertEqual(scenario.files[1][2], b"")
        self.assertEqual(scenario.files[2][2], b"x")
        self.assertEqual(scenario.installer_path, "C:\\Some dir\\setup.exe")

    def test_a_scenario_needs_robot_rules(self):
        with self.assertRaises(run.ScenarioError):
            scenario_from("@setup\nlanguage en\n")


if __name__ == "__main__":
    unittest.main()
