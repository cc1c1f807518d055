"""Shared helpers for the end-to-end scenarios: find the programs, give each
run a private HOME, start servers and simulators in the background.

Every scenario runs inside the private network namespace (CTest starts it
through scripts/netns-run); require_private_namespace() refuses to go on
anywhere else."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

BIN_DIR = os.environ.get("WF_BIN_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin"))
SOURCE_DIR = os.environ.get("WF_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def binary(name):
    return os.path.join(BIN_DIR, name)


def require_private_namespace():
    """Network-capable programs may only run in the harness's namespace."""
    links = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True, check=True).stdout
    names = sorted(re.sub(r"@.*", "", line.split(": ")[1]) for line in links.splitlines() if ": " in line)
    if names not in (["lo"], ["lo", "wf0", "wf1"]):
        sys.exit("refusing to run outside the private network namespace (use scripts/netns-run)")


class Run:
    def __init__(self, completed):
        self.status = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr


class Scenario(unittest.TestCase):
    """A test case with its own HOME and scratch directory."""

    def setUp(self):
        require_private_namespace()
        self.scratch = tempfile.mkdtemp(prefix="wfe2e.")
        self.home = os.path.join(self.scratch, "home")
        os.makedirs(self.home)
        self.background = []

    def tearDown(self):
        for proc in self.background:
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def env(self, **extra):
        env = dict(os.environ)
        env["HOME"] = self.home
        env.update(extra)
        return env

    def run_program(self, name, *args, timeout=120, env=None):
        completed = subprocess.run([binary(name), *args], capture_output=True, text=True,
                                   timeout=timeout, env=env or self.env())
        return Run(completed)

    def updater(self, *args, **kwargs):
        return self.run_program("updater", *args, **kwargs)

    def start(self, name, *args, ready=None, timeout=20, env=None):
        """Starts a program in the background. With `ready`, a regular
        expression, waits for a line of its standard output that matches and
        returns (process, match)."""
        proc = subprocess.Popen([binary(name), *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, env=env or self.env())
        self.background.append(proc)
        if ready is None:
            return proc, None
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = proc.stdout.readline()
            if not line:
                break
            match = re.search(ready, line)
            if match:
                return proc, match
        self.fail(f"{name} did not become ready (wanted {ready!r})")


def main():
    require_private_namespace()
    unittest.main(verbosity=2)
