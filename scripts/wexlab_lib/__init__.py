"""The parts of scripts/wexlab, one module each:
  session      the session file, the matching, each pair's wexbot.conf
  lab          the lab server, its accounts and lab.json (over lab-server.py)
  ejabberd     the lab server as ejabberd nodes of this machine
  nodes        ejabberd nodes of other machines (wexlab node add|serve)
  bots         the pairs' bots as processes
  supervisor   the process that restarts a stopped bot (wexlab _supervise)
  desk_state   a pair's state and the alerts from the bots' files (pure)
  status       that state for a session folder (wexlab status, the desk)
  desk         the live web page and its JSON (wexlab _desk; web/desk/)
  collect, report, report_summary   the merged data and report.html
  robots, xmpp the robot subjects of rehearse and bench; the XMPP clients
  commands     the subcommands"""

import importlib.util
import os

# scripts/ of the source tree, or PREFIX/lib/wex once installed.
SCRIPTS = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
# The pages (seat/, desk/) and the seat's library (node_modules/): web/ of
# the source tree beside scripts/, or PREFIX/lib/wex/web once installed.
WEB = (os.path.join(SCRIPTS, "web") if os.path.isdir(os.path.join(SCRIPTS, "web"))
       else os.path.join(os.path.dirname(SCRIPTS), "web"))


def _load_lab_server():
    spec = importlib.util.spec_from_file_location(
        "lab_server", os.path.join(SCRIPTS, "lab-server.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# scripts/lab-server.py, the one place that parses a Service, writes
# Prosody's configuration and makes accounts.
lab_server = _load_lab_server()
