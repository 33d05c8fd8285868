#!/usr/bin/python3
"""wexlab as the package installs it: PREFIX/bin/wexlab a link to
PREFIX/lib/wex/wexlab, beside its package lab/ and lab-server.py."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
# The installed launcher's code loads the package, as /usr/bin/wexlab does.
LOAD = ("import importlib.machinery, importlib.util, sys; sys.dont_write_bytecode = True\n"
        "loader = importlib.machinery.SourceFileLoader('launcher', sys.argv[1])\n"
        "launcher = importlib.util.module_from_spec(importlib.util.spec_from_loader("
        "'launcher', loader))\n"
        "loader.exec_module(launcher); launcher.load_wexlab()\n")


class InstalledLayoutTest(unittest.TestCase):
    """wexlab as the package installs it: PREFIX/bin/wexlab a link to
    PREFIX/lib/wex/wexlab, beside its package lab/, lab-server.py and wexbot."""

    def setUp(self):
        self.prefix = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.prefix)
        lib = os.path.join(self.prefix, "lib", "wex")
        os.makedirs(os.path.join(self.prefix, "bin"))
        shutil.copytree(os.path.join(ROOT, "lab"), os.path.join(lib, "lab"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        for launcher in ("wexlab", "lab-server.py"):
            shutil.copy(os.path.join(ROOT, "scripts", launcher), lib)
        os.symlink("../lib/wex/wexlab", os.path.join(self.prefix, "bin", "wexlab"))
        self.bot = os.path.join(self.prefix, "bin", "wexbot")
        with open(self.bot, "w") as f:
            f.write("#!/bin/sh\n")
        os.chmod(self.bot, 0o755)
        # Neither $WEXBOT nor a wexbot on the PATH may answer for the
        # installed one.
        self.env = {k: v for k, v in os.environ.items() if k != "WEXBOT"}
        self.env["PATH"] = "/nonexistent"

    def run_python(self, code, *args):
        return subprocess.run([sys.executable, "-c", code, *args], env=self.env,
                              capture_output=True, text=True, timeout=30)

    def test_the_link_runs_wexlab_with_its_package(self):
        done = subprocess.run([sys.executable, os.path.join(self.prefix, "bin", "wexlab"),
                               "rehearse", "--help"], env=self.env, capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("--pairs", done.stdout)

    def test_the_installed_lab_server_loads_the_package(self):
        done = subprocess.run([sys.executable, os.path.join(self.prefix, "lib", "wex",
                                                            "lab-server.py"), "start", "--help"],
                              env=self.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("--allow-plain", done.stdout)

    def test_installed_wexbot_and_lab_server_are_found_with_no_option(self):
        done = self.run_python(
            LOAD + "from wexlab.model import paths\n"
            "from wexlab.runtime import processes\n"
            "from wexlab.servers.ejabberd import cluster\n"
            "from wexlab.servers.prosody import config\n"
            "print(processes.find_bot(None)); print(paths.HOME); print(config.PLUGINS)\n"
            "print(cluster.SOURCE)",
            os.path.join(self.prefix, "lib", "wex", "wexlab"))
        self.assertEqual(done.returncode, 0, done.stderr)
        lib = os.path.join(self.prefix, "lib", "wex")
        servers = os.path.join(lib, "lab", "servers")
        self.assertEqual(done.stdout.split("\n")[:4],
                         [self.bot, lib, os.path.join(servers, "prosody"),
                          os.path.join(servers, "ejabberd", "mod_wex_lab_policy.erl")])

    def test_the_installed_catalogues_are_found_beside_lib(self):
        env = {k: v for k, v in self.env.items() if k != "WEX_PO_DIR"}
        done = subprocess.run(
            [sys.executable, "-c", LOAD + "from wexlab.model import paths\nprint(paths.po_dir())",
             os.path.join(self.prefix, "lib", "wex", "wexlab")],
            env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, os.path.join(self.prefix, "share", "wex", "po") + "\n")

    def test_without_an_installed_wexbot_the_fault_is_named(self):
        os.remove(self.bot)
        done = self.run_python(
            LOAD + "from wexlab.model import errors\n"
            "from wexlab.runtime import processes\n"
            "try:\n    processes.find_bot(None)\nexcept errors.LabError as e:\n    print(e)",
            os.path.join(self.prefix, "lib", "wex", "wexlab"))
        self.assertIn("wexbot not found", done.stdout)


if __name__ == "__main__":
    unittest.main()
