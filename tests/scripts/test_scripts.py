#!/usr/bin/env python3
"""The scripts and README steps as a new user meets them: scripts/setup.sh
with stand-ins for the package and locale tools, scripts/run.sh without a
display, and the order and paths of the documented commands."""
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


class Scripts(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.bin, self.logs = Path(self.tmp.name) / "bin", Path(self.tmp.name) / "logs"
        self.bin.mkdir()
        self.logs.mkdir()

    def fake(self, name, body):
        path = self.bin / name
        path.write_text("#!/bin/sh\n" + body + "\n")
        path.chmod(0o755)

    def run_script(self, script, **env):
        env = {**os.environ, "PATH": f"{self.bin}:{os.environ['PATH']}", "TMPDIR": str(self.logs), **env}
        env = {k: v for k, v in env.items() if v is not None}
        return subprocess.run(["bash", str(ROOT / "scripts" / script)], env=env, capture_output=True, text=True,
                              timeout=60)

    def setup_with(self, installed, has_locale, install_fails=False, locked_runs=0):
        state = "install ok installed" if installed else "unknown ok not-installed"
        self.fake("dpkg-query", f"printf '{state}'")
        self.fake("locale", "printf 'C\\nPOSIX\\n" + ("de_DE.utf8\\n" if has_locale else "") + "'")
        self.locale_gen = Path(self.tmp.name) / "locale.gen"
        self.locale_gen.write_text("# en_US.UTF-8 UTF-8\n" + ("de_DE.UTF-8 UTF-8\n" if has_locale else "# de_DE.UTF-8 UTF-8\n"))
        self.fake("locale-gen", "echo locale-gen $*")
        failing = 'case "$*" in *" install "*) echo "E: Unable to locate package"; exit 100;; esac' if install_fails else ""
        # Another package operation holds the lock for the first runs.
        counter = Path(self.tmp.name) / "apt-runs"
        locked = (f'n=$(($(cat {counter} 2>/dev/null || echo 0) + 1)); echo $n > {counter}\n'
                  f'[ $n -le {locked_runs} ] && {{ echo "E: Could not get lock /var/lib/apt/lists/lock"; exit 100; }}')
        self.fake("apt-get", f'{locked}\nseq 1 1500 | sed "s/^/apt-get $* line /"\n{failing}\nexit 0')
        r = self.run_script("setup.sh", JOR_LOCALE_GEN=str(self.locale_gen), JOR_APT_RETRY_SECONDS="0")
        return r, [p.read_text() for p in self.logs.iterdir()]

    def test_setup_is_silent_when_nothing_is_missing(self):
        r, logs = self.setup_with(installed=True, has_locale=True)
        self.assertEqual((r.returncode, r.stdout, r.stderr, logs), (0, "", "", []))

    def test_setup_prints_one_line_per_stage_and_keeps_the_rest_in_its_log(self):
        r, logs = self.setup_with(installed=False, has_locale=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertLessEqual(len(r.stdout.splitlines()), 5, r.stdout)
        self.assertEqual(len(logs), 1)
        self.assertIn(str(next(self.logs.iterdir())), r.stdout)
        for line in ("apt-get -o DPkg::Lock::Timeout=600 update line 1500", "install -y", "locale-gen"):
            self.assertIn(line, logs[0])
        self.assertNotIn("line 1", r.stdout + r.stderr)
        # Listed, so that a later regeneration of the locales keeps it.
        self.assertIn("\nde_DE.UTF-8 UTF-8\n", self.locale_gen.read_text())
        self.assertNotIn("# de_DE.UTF-8", self.locale_gen.read_text())

    def test_setup_waits_for_another_package_operation(self):
        r, logs = self.setup_with(installed=False, has_locale=True, locked_runs=3)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("apt-get -o DPkg::Lock::Timeout=600 install", logs[0])

    def test_failed_setup_prints_the_whole_log(self):
        r, logs = self.setup_with(installed=False, has_locale=True, install_fails=True)
        self.assertNotEqual(r.returncode, 0)
        for line in ("update line 1", "install -y", "E: Unable to locate package"):
            self.assertIn(line, r.stderr)

    def test_wine_run_starts_again_only_what_wine_could_not_start(self):
        calls = Path(self.tmp.name) / "wine-calls"
        for first, retried, status in (
                ("Application could not be started, or no application associated with the specified file.\n"
                 "ShellExecuteEx failed: Internal error.", True, 0),
                ("[  FAILED  ] Case.Name", False, 1)):
            calls.write_text("")
            # Fails once as given, then passes.
            self.fake("wine", f'echo x >> {calls}; if [ $(wc -l < {calls}) -eq 1 ]; then printf "%s\\n" "{first}"; '
                              'exit 1; fi; echo "[  PASSED  ] 1 test."')
            r = subprocess.run(["bash", str(ROOT / "tests" / "wine-run.sh"), "test.exe"], capture_output=True, text=True,
                               env={**os.environ, "PATH": f"{self.bin}:{os.environ['PATH']}"}, timeout=60)
            self.assertEqual((r.returncode, len(calls.read_text().split())), (status, 2 if retried else 1), r.stderr)
            self.assertEqual("starting it again" in r.stderr, retried)

    def test_run_without_a_display_says_so_before_anything_starts(self):
        self.fake("dpkg-query", f"touch '{self.logs}/setup-ran'")
        r = self.run_script("run.sh", DISPLAY=None, WAYLAND_DISPLAY=None, QT_QPA_PLATFORM=None)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("needs a graphical session", r.stderr)
        self.assertIn("xvfb-run -a scripts/run.sh", r.stderr)
        self.assertEqual(list(self.logs.iterdir()), [], "set-up or build ran first")

    def test_readme_sets_up_before_the_sample_disc_and_bench_paths_are_relative(self):
        readme = (ROOT / "README.md").read_text()
        block = re.search(r"## Trying a sample disc\s+```sh\n(.*?)```", readme, re.S).group(1)
        self.assertTrue(block.startswith("scripts/setup.sh"), block)
        bench = (ROOT / "bench" / "README.md").read_text()
        commands = [l.strip() for l in bench.splitlines() if l.startswith("    ")]
        self.assertTrue(commands)
        for command in commands:
            # The system's own folders are on every machine; a checkout's path is not.
            self.assertNotRegex(command, r"(^|\s)/(?!tmp\b|dev/shm\b)", "a path of one machine")


if __name__ == "__main__":
    unittest.main()
