"""The runner's own checks: a mismatch must be reported, never passed over. No Wine needed."""

import os
import tempfile
import unittest

import kills
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


class AsBeforeTest(unittest.TestCase):
    """What a run changed in the watched keys and folders is named, a value's type included."""

    def write_registry(self, prefix, text):
        with open(os.path.join(prefix, "system.reg"), "w", encoding="utf-8") as f:
            f.write("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n" + text)
        run._REGISTRY_FILES.clear()

    def test_keys_and_values_with_their_types(self):
        words = ["as-before", "reg", "HKCR\\txtfile", "HKCR\\.log"]
        with tempfile.TemporaryDirectory() as prefix:
            open(os.path.join(prefix, "user.reg"), "w").close()
            self.write_registry(prefix, '[Software\\\\Classes\\\\txtfile\\\\shell\\\\open\\\\command] 1\n'
                                        '@=str(2):"\\"%SystemDrive%\\\\e.exe\\" \\"%1\\""\n')
            before = run.snapshot(prefix, words)
            # Wine's file leaves out keys that hold only keys: txtfile and txtfile\shell are there all the same.
            self.assertEqual(len(before), 5)
            self.write_registry(prefix, '[Software\\\\Classes\\\\txtfile\\\\shell\\\\open\\\\command] 1\n'
                                        '@="\\"%SystemDrive%\\\\e.exe\\" \\"%1\\""\n'
                                        '[Software\\\\Classes\\\\.log] 1\n@="txtfile"\n')
            problems = run.snapshot_differences(before, run.snapshot(prefix, words))
            self.assertEqual(len(problems), 3, problems)
            self.assertIn("is sz", " ".join(problems))
            self.assertIn("HKCR\\.log was added", " ".join(problems))

    def test_files_by_size_and_time_but_the_excepted_ones(self):
        with tempfile.TemporaryDirectory() as prefix:
            folder = os.path.join(prefix, "drive_c", "Quillet")
            os.makedirs(os.path.join(folder, "help"))
            for name in ("a.txt", "mine.txt"):
                with open(os.path.join(folder, name), "w") as f:
                    f.write("a")
            words = ["as-before", "files", "C:\\Quillet", "except", "C:\\QUILLET\\mine.txt"]
            before = run.snapshot(prefix, words)
            self.assertEqual(run.snapshot_differences(before, run.snapshot(prefix, words)), [])
            os.remove(os.path.join(folder, "mine.txt"))
            os.rmdir(os.path.join(folder, "help"))
            os.utime(os.path.join(folder, "a.txt"), ns=(1, 1))
            problems = run.snapshot_differences(before, run.snapshot(prefix, words))
            self.assertEqual([p.split(" ")[0] for p in problems], ["C:\\Quillet\\a.txt", "C:\\Quillet\\help"])
            self.assertIn("gone (was folder)", problems[1])

    def test_exit_codes_of_the_programs_a_caller_started(self):
        unquil = {"kind": "process", "image": "C:\\windows\\Unquil.exe", "exit": 1602}
        self.assertEqual(problems_of("box\nexit unquil.exe 1602\n", [START, BOX, unquil, END]), [])
        self.assertTrue(problems_of("box\nexit Unquil.exe 0\n", [START, BOX, unquil, END]))
        self.assertTrue(problems_of("box\nexit Unquil.exe 1602\n", [START, BOX, END]))
        self.assertTrue(problems_of("box\nexit Unquil.exe 1602\n", [START, BOX, dict(unquil, exit=None), END]))


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


class HoldsTest(unittest.TestCase):
    def test_a_folder_holds_exactly_the_files_named(self):
        scenario = scenario_from("@robot\non box : press OK\n")
        with tempfile.TemporaryDirectory() as prefix:
            folder = os.path.join(prefix, "drive_c", "Quillet")
            os.makedirs(os.path.join(folder, "help"))
            for name in ("Quillet.exe", os.path.join("help", "Quillet.hlp")):
                open(os.path.join(folder, name), "wb").close()

            def check(*names):
                return run.check_file(scenario, prefix, {}, ["file", "C:\\Quillet", "holds"] + list(names))
            self.assertEqual(check("help\\QUILLET.HLP", "quillet.exe"), [])
            # A file left over, a file missing.
            self.assertTrue(check("Quillet.exe"))
            self.assertTrue(check("Quillet.exe", "help\\Quillet.hlp", "readme.txt"))


class KillStateTest(unittest.TestCase):
    def test_only_a_whole_version_with_its_own_time_counts(self):
        entry = kills.ENTRIES[0]
        old, new = (entry.old, kills.OLD_MTIME_NS), (entry.new, kills.NEW_MTIME_NS)
        self.assertEqual(kills.destination_state(*old, entry), "old")
        self.assertEqual(kills.destination_state(*new, entry), "new")
        # The new file's first chunks over the old file's tail; the new bytes with the old time; none.
        torn = entry.new[:8192] + entry.old[8192:]
        for data, mtime_ns in ((torn, kills.OLD_MTIME_NS), (entry.new, kills.OLD_MTIME_NS), (None, None)):
            self.assertEqual(kills.destination_state(data, mtime_ns, entry), "torn")


class PlaceholderTest(unittest.TestCase):
    def test_kilobytes_are_rounded_up_and_unknown_names_fail(self):
        sizes = {"a": 1024, "b": 1, "c": 0}.get
        expand = lambda text: run.expand_placeholders(text, "/nonexistent", {"windows": "C:\\windows"},  # noqa: E731
                                                      sizes)
        self.assertEqual(expand("{kb:a}|{kb:a+b}|{kb:c}"), "1|2|0")
        self.assertEqual(expand("{windows}\\Unquil.exe /x"), "C:\\windows\\Unquil.exe /x")
        with self.assertRaises(run.ScenarioError):
            expand("{appworkspace}")
        with self.assertRaises(run.ScenarioError):
            expand("{size:a}")

    def test_a_line_that_cannot_be_filled_fails(self):
        start = dict(START, windows="C:\\windows")
        self.assertEqual(problems_of("box\nfile {windows}\\x absent\n", [start, BOX, END]), [])
        self.assertTrue(problems_of("box text={appworkspace}\n", [start, BOX, END]))


class IgnoredWindowTest(unittest.TestCase):
    def test_ignored_windows_take_no_place_but_still_need_a_rule(self):
        copy = dict(BOX, seq=2, kind="dialog", caption="Copy", controls=[{"id": 261, "class": "Button",
                                                                            "text": "Cancel", "visible": True}])
        records = [START, copy, BOX, END]
        self.assertTrue(problems_of("box caption=Install\n", records))
        self.assertEqual(problems_of("ignore dialog control.261=Cancel\nbox caption=Install\n", records), [])
        self.assertTrue(problems_of("ignore dialog control.261=Cancel\nbox caption=Install\n",
                                    [START, dict(copy, unmatched=True), BOX, END]))

    def test_items_are_controls_in_template_order(self):
        record = dict(BOX, controls=[{"id": 65535, "text": "Install"}, {"id": 65535, "text": "Overall progress"}])
        self.assertEqual(run.check_window(record, ["box", "item.2=Overall progress"]), [])
        self.assertTrue(run.check_window(record, ["box", "item.3=Overall progress"]))


class BitmapCheckTest(unittest.TestCase):
    def screenshot(self, folder, width, height, pixel):
        """A screenshot file as the robot writes one, from a pixel function."""
        stride = (width * 3 + 3) & ~3
        rows = []
        for y in reversed(range(height)):
            row = b"".join(bytes(reversed(pixel(x, y))) for x in range(width))
            rows.append(row + bytes(stride - len(row)))
        data = b"".join(rows)
        header = b"BM" + (54 + len(data)).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
        info = (40).to_bytes(4, "little") + width.to_bytes(4, "little") + height.to_bytes(4, "little") \
            + (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(24)
        with open(os.path.join(folder, "shot.bmp"), "wb") as f:
            f.write(header + info + data)

    def test_a_tile_repeated_from_the_corner_and_cut_at_the_edges(self):
        tile = run.coded_bitmap(4, 3)
        source = {"tile.bmp": (tile, 0)}.get
        records = [{"kind": "window", "seq": 1, "rect": [0, 0, 20, 20], "client_origin": [2, 5],
                    "screenshots": ["shot.bmp"]},
                   {"kind": "dialog", "seq": 2, "rect": [5, 8, 3, 2], "screenshots": []}]
        with tempfile.TemporaryDirectory() as folder:
            self.screenshot(folder, 10, 7, lambda x, y: run.tile_color(x % 4, y % 3))
            self.assertEqual(run.check_bitmap(folder, ["bitmap", "shot.bmp", "tiled=tile.bmp"], records, source), [])
            # Shifted by one column: wrong everywhere, also at the right edge.
            self.screenshot(folder, 10, 7, lambda x, y: run.tile_color((x + 1) % 4, y % 3))
            self.assertTrue(run.check_bitmap(folder, ["bitmap", "shot.bmp", "tiled=tile.bmp"], records, source))
            # A foreign pixel only where the dialog lay (client 3..5, 3..4) is no fault; next to it, it is.
            for x, faulty in ((5, False), (6, True)):
                self.screenshot(folder, 10, 7, lambda px, py: (1, 2, 3) if (px, py) == (x, 4) else
                                run.tile_color(px % 4, py % 3))
                problems = run.check_bitmap(folder, ["bitmap", "shot.bmp", "tiled=tile.bmp"], records, source)
                self.assertEqual(bool(problems), faulty, problems)
            self.screenshot(folder, 10, 7, lambda x, y: (0x80, 0x80, 0x80))
            self.assertEqual(run.check_bitmap(folder, ["bitmap", "shot.bmp", "plain=#808080"], records), [])
            self.assertTrue(run.check_bitmap(folder, ["bitmap", "shot.bmp", "plain=#808081"], records))

    def test_the_coded_tile_reads_back(self):
        width, height, rows = run.read_bitmap_rows(run.coded_bitmap(5, 3))
        self.assertEqual((width, height), (5, 3))
        self.assertEqual(rows[2][4 * 3:4 * 3 + 3], bytes(reversed(run.tile_color(4, 2))))


class ConformanceTest(unittest.TestCase):
    def test_only_a_clean_summary_and_exit_pass(self):
        self.assertEqual(run.conformance_problems("conformance: 0 failure(s)\n", 0), [])
        failed = run.conformance_problems('conformance failure (line 9): x: got 1, expected 2\n'
                                          '  "a" != "b"\nconformance: 1 failure(s)\n', 1)
        self.assertEqual(failed, ["conformance.exe: 1 failure(s), exit status 1",
                                  "conformance failure (line 9): x: got 1, expected 2", '  "a" != "b"'])
        self.assertTrue(run.conformance_problems("conformance: 0 failure(s)\n", None))
        self.assertTrue(run.conformance_problems("wine: could not load conformance.exe\n", 53))


class ScenarioFileTest(unittest.TestCase):
    def test_files_are_written_with_crlf_and_empty_blocks_are_empty_files(self):
        scenario = scenario_from("@setup\ndist C:\\Some dir\\\n@file setup.inf\n[Install]\nA=é\n\n\n"
                                 "@file empty.inf\n@file last.txt noeol\nx\n@robot\non box : press OK\n")
        self.assertEqual(scenario.files[0], ("C:\\Some dir\\setup.inf", "text", b"[Install]\r\nA=\xe9\r\n"))
        self.assertEqual(scenario.files[1][2], b"")
        self.assertEqual(scenario.files[2][2], b"x")
        self.assertEqual(scenario.installer_path, "C:\\Some dir\\setup.exe")

    def test_registry_lines_keep_their_default_values(self):
        scenario = scenario_from('@registry\n[HKEY_CLASSES_ROOT\\.txt]\n@="oldtextfile"\n"Programs"=-\n'
                                 "@bitmap tile.bmp 4 3\n@robot\non box : press OK\n")
        self.assertEqual(scenario.registry, ['[HKEY_CLASSES_ROOT\\.txt]', '@="oldtextfile"', '"Programs"=-'])
        self.assertEqual(scenario.files, [("C:\\dist\\tile.bmp", "bitmap", (4, 3))])
        with self.assertRaises(run.ScenarioError):
            scenario_from("@registery\n@robot\non box : press OK\n")

    def test_a_scenario_needs_robot_rules(self):
        with self.assertRaises(run.ScenarioError):
            scenario_from("@setup\nlanguage en\n")


class ArchitectureTest(unittest.TestCase):
    """The two legs' prefixes never mix: a 32-bit run never gets a 64-bit prefix, nor the reverse."""

    def test_a_template_of_the_other_architecture_is_not_taken(self):
        with tempfile.TemporaryDirectory() as template:
            for name in ("user.reg", "userdef.reg", "drive_c/windows/system32/kernel32.dll",
                         "drive_c/windows/system32/user32.dll", "dosdevices/c:", run.TEMPLATE_STAMP):
                os.makedirs(os.path.dirname(os.path.join(template, name)), exist_ok=True)
                with open(os.path.join(template, name), "w") as f:
                    f.write("stamp")
            with open(os.path.join(template, "system.reg"), "w") as f:
                f.write("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\Machine\n\n#arch=win64\n")
            self.assertTrue(run.template_ok(template, "stamp", "win64"))
            self.assertFalse(run.template_ok(template, "stamp", "win32"))
            self.assertFalse(run.template_ok(template, "stamp"))

    def test_every_prefix_names_its_architecture(self):
        # Where wine64 is installed, a prefix made without WINEARCH is a 64-bit one.
        self.assertEqual(run.Wine("/work", ":9").env("/p", "/h")["WINEARCH"], "win32")
        self.assertEqual(run.Wine("/work", ":9", "win64").env("/p", "/h")["WINEARCH"], "win64")


if __name__ == "__main__":
    unittest.main()
