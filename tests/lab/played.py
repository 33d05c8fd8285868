"""A real session folder for the data tests: wexlab's own start (server,
accounts and desk faked) with three pairs in two treatments, each pair's
game played by the built wexbot on the simulated service: pair 1 to its
end, with a chat line beginning with "=" in its break; pair 2 paid early
by the moderator's `p`; pair 3 stopped by `e` in round 2 after one
answer. Then collected as `wexlab stop` collects."""

import contextlib
import io
import os
import re
import subprocess
import time
from unittest import mock

import fixtures
from wexlab.model import record
from wexlab.runtime import processes
from wexlab.servers import net
from wexlab.servers.prosody import control as prosody_control
from wexlab.web import lifecycle

TZ = "Europe/Berlin"
SESSION = fixtures.replaced("Subjects", "Subjects ann bob cy dee eve fay").replace(
    "NRounds 10", "NRounds 3").replace("ConversationInterval 5", "ConversationInterval 2") + \
    """Web off
Treatment low CreditValue 0.005
Treatment high CreditValue 0.02
Treatment high MinPayout 4
Treatments low high
"""
FORMULA = "=HYPERLINK(\"http://x\",\"click\")"


def _round(t, first, second, e1, e2, i1, i2):
    return [f"at {t} im {first} {e1}", f"at {t + 1} im {second} {e2}",
            f"at {t + 2} im {first} {i1}", f"at {t + 3} im {second} {i2}"]


def scenarios(pair):
    """The scenario of pair 1, 2 or 3, its subjects as the matching made them."""
    a, b = pair.subject1, pair.subject2
    lines = ["start 2026-12-08T11:00:00", f"at 2 im {a} hello", f"at 3 im {b} hi"]
    lines += _round(10, a, b, 30, 20, 40, 35)
    if pair.index == 1:
        lines += _round(20, a, b, 35, 40, 45, 50)
        # The break after the bonus round.
        lines += [f"at 30 im {a} {FORMULA}", f"at 31 im {b} fine, 50 again",
                  f"at 32 im {a} done", f"at 33 im {b} done"]
        lines += _round(100, a, b, 50, 50, 50, 50)
        lines.append("at 200 end")
    elif pair.index == 2:
        lines += ["at 20 im mod p", "at 30 end"]
    else:
        lines += [f"at 20 im {a} 44", "at 25 im mod e", "at 30 end"]
    return "\n".join(lines) + "\n"


def play(root):
    """Starts, plays and collects the session in root/session; returns
    (folder, lab, start's output)."""
    folder = os.path.join(root, "session")
    path = os.path.join(root, "lab.conf")
    with open(path, "w", encoding="utf-8") as f:
        f.write(SESSION)
    out = io.StringIO()
    with contextlib.ExitStack() as stack:
        for target, name, fake in (
                (prosody_control, "create_accounts", fixtures.fake_accounts),
                (prosody_control, "start_prosody", lambda folder, address, port: None),
                (net, "port_open", lambda address, port: False),
                (processes, "start_desk", lambda folder, lab: True),
                (processes, "start_supervisor", lambda folder, indexes: None)):
            stack.enter_context(mock.patch.object(target, name, fake))
        stack.enter_context(contextlib.redirect_stdout(out))
        lab = lifecycle.start_session(folder, path, fixtures.wexbot(), "none", quiet=True)
    for pair in lab.pairs:
        run_pair(folder, pair)
    with open(os.path.join(folder, "stopping"), "w") as f:
        f.write("wexlab stop\n")
    # The bots wrote local times of TZ; collect reads them in its own.
    old = os.environ.get("TZ")
    os.environ["TZ"] = TZ
    time.tzset()
    try:
        with contextlib.redirect_stdout(io.StringIO()):
            lifecycle.collect(folder, record.load(folder))
    finally:
        if old is None:
            del os.environ["TZ"]
        else:
            os.environ["TZ"] = old
        time.tzset()
    return folder, lab, out.getvalue()


def run_pair(folder, pair):
    directory = os.path.join(folder, pair.bot)
    conf = os.path.join(directory, "wexbot.conf")
    with open(conf, encoding="utf-8") as f:
        text = f.read()
    with open(conf, "w", encoding="utf-8") as f:
        f.write(re.sub(r"(?m)^Service .*$", "Service sim:game.scenario", text))
    with open(os.path.join(directory, "game.scenario"), "w", encoding="utf-8") as f:
        f.write(scenarios(pair))
    done = subprocess.run([fixtures.wexbot(), "wexbot.conf"], cwd=directory,
                          capture_output=True, timeout=60,
                          env=dict(os.environ, TZ=TZ, WEX_SETTINGS_DIR=directory))
    if done.returncode != 0:
        raise AssertionError(f"{pair.bot}'s wexbot failed: {done.stderr.decode()}")
