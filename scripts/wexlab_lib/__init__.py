"""The parts of scripts/wexlab: the session file, the lab server and its
accounts, the supervisor, the robots, and the merged data with its report."""

import importlib.util
import os

# scripts/ of the source tree, or PREFIX/lib/wex once installed.
SCRIPTS = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))


def _load_lab_server():
    spec = importlib.util.spec_from_file_location(
        "lab_server", os.path.join(SCRIPTS, "lab-server.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# scripts/lab-server.py, the one place that parses a Service, writes
# Prosody's configuration and makes accounts.
lab_server = _load_lab_server()
