"""Loads lab/ as the package wexlab, the way scripts/wexlab does: the tests
import its modules as wexlab.model.record and so on."""

import importlib.machinery
import importlib.util
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAUNCHER = os.path.join(ROOT, "scripts", "wexlab")


def load():
    """The package wexlab, loaded once by the launcher's own code."""
    sys.dont_write_bytecode = True
    if "wexlab" in sys.modules:
        return sys.modules["wexlab"]
    loader = importlib.machinery.SourceFileLoader("wexlab_launcher", LAUNCHER)
    launcher = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name,
                                                                               loader))
    loader.exec_module(launcher)
    return launcher.load_wexlab()
