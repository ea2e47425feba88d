"""scripts/install-deps.sh against stand-in apt-get, dpkg and dpkg-query on PATH: nothing is
installed for real. The stand-ins keep the machine's state in a folder: which packages are missing,
how apt-get answers, and every apt-get call."""

import os
import pathlib
import subprocess
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "install-deps.sh"

STANDINS = {
    # Installed unless named in missing.
    "dpkg-query": """#!/bin/sh
for last; do :; done
grep -qxF "$last" "$STATE/missing" 2>/dev/null || printf 'install ok installed'
""",
    "dpkg": """#!/bin/sh
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
""",
    "id": "#!/bin/sh\necho 0\n",
    # update answers with update_rc; install answers with install_rc (a plain install) or
    # install_t_rc (one with -t), and on success takes the named packages off missing.
    "apt-get": """#!/bin/sh
echo "$*" >> "$STATE/calls"
case "$*" in
  update*) exit $(cat "$STATE/update_rc") ;;
esac
case " $* " in
  *" -t "*) rc=$(cat "$STATE/install_t_rc") ;;
  *) rc=$(cat "$STATE/install_rc") ;;
esac
[ "$rc" = 0 ] || { echo "E: Unable to correct problems, you have held broken packages."; exit "$rc"; }
for p; do case "$p" in -*) ;; *) grep -vxF "$p" "$STATE/missing" > "$STATE/m"; mv "$STATE/m" "$STATE/missing" ;; esac; done
""",
}


class InstallDepsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.state = pathlib.Path(self.dir.name)
        bin_dir = self.state / "bin"
        bin_dir.mkdir()
        for name, text in STANDINS.items():
            (bin_dir / name).write_text(text)
            (bin_dir / name).chmod(0o755)
        # A code name the script cannot have written in: it must read it from os-release.
        (self.state / "os-release").write_text('NAME="Debian"\nVERSION_CODENAME=frobnitz\n')
        self.env = dict(os.environ, STATE=str(self.state), PATH=f"{bin_dir}:{os.environ['PATH']}",
                        INSTALL_DEPS_OS_RELEASE=str(self.state / "os-release"))

    def tearDown(self):
        self.dir.cleanup()

    def run_script(self, missing, update_rc=0, install_rc=0, install_t_rc=0):
        (self.state / "missing").write_text("".join(p + "\n" for p in missing))
        for name, rc in (("update_rc", update_rc), ("install_rc", install_rc), ("install_t_rc", install_t_rc)):
            (self.state / name).write_text(str(rc))
        done = subprocess.run(["bash", str(SCRIPT)], env=self.env, capture_output=True, text=True, timeout=60)
        calls_file = self.state / "calls"
        calls = calls_file.read_text().splitlines() if calls_file.exists() else []
        return done.returncode, done.stdout + done.stderr, calls

    def test_nothing_missing_calls_no_apt(self):
        rc, _, calls = self.run_script([])
        self.assertEqual((rc, calls), (0, []))

    def test_a_failing_update_is_passed_over(self):
        rc, out, calls = self.run_script(["xvfb"], update_rc=100)
        self.assertEqual(rc, 0, out)
        self.assertIn("could not be downloaded", out)
        self.assertEqual([c.split()[0] for c in calls], ["update", "install"])

    def test_an_install_that_does_not_resolve_is_tried_with_the_release_suite(self):
        rc, out, calls = self.run_script(["wine32:i386", "fonts-wine"], update_rc=100, install_rc=100)
        self.assertEqual(rc, 0, out)
        installs = [c.split() for c in calls if c.startswith("install")]
        self.assertEqual(len(installs), 2, calls)
        self.assertNotIn("-t", installs[0])
        self.assertIn("-t frobnitz", " ".join(installs[1]))
        for words in installs:
            self.assertIn("--no-remove", words)  # the retry must not remove what is installed
            self.assertNotIn("--allow-downgrades", words)
            self.assertTrue({"wine32:i386", "fonts-wine"} <= set(words))

    def test_both_installs_failing_names_the_packages_and_fails(self):
        rc, out, calls = self.run_script(["wine32:i386", "xvfb"], install_rc=100, install_t_rc=100)
        self.assertNotEqual(rc, 0)
        self.assertIn("could not install wine32:i386 xvfb", out)
        self.assertIn("mirror", out)
        self.assertEqual(len([c for c in calls if c.startswith("install")]), 2)

    def test_an_install_that_says_success_but_leaves_a_package_out_fails(self):
        # apt-get exits 0 yet the package is still not installed (held back): still a failure.
        (self.state / "bin" / "apt-get").write_text('#!/bin/sh\necho "$*" >> "$STATE/calls"\n')
        rc, out, _ = self.run_script(["osslsigncode"])
        self.assertNotEqual(rc, 0)
        self.assertIn("could not install osslsigncode", out)


if __name__ == "__main__":
    unittest.main()
