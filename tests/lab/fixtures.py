"""What several of wexlab's unit tests share: session files, the real
wexbot and its key table, and a session's start with the server, its
accounts and the desk left out."""

import contextlib
import io
import os
import shutil
import stat
import tempfile
import unittest
from unittest import mock

import wexlab_loader

wexlab_loader.load()
from wexlab.model import session_file  # noqa: E402
from wexlab.runtime import bot_check, processes  # noqa: E402
from wexlab.servers import net  # noqa: E402
from wexlab.servers.prosody import control as prosody_control  # noqa: E402
from wexlab.web import lifecycle  # noqa: E402


GOOD = """# a lab session
Service xmpp:lab.wex@10.0.0.5:5222;trust=any
ModeratorName mod
LogFile lab
NRounds 10
ConversationInterval 5
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60

Subjects ann bob cy dee
Seed 42
"""


def wexbot():
    """The built wexbot that CTest names in $WEXBOT; the test is skipped
    without one."""
    path = os.environ.get("WEXBOT")
    if not path or not os.access(path, os.X_OK):
        raise unittest.SkipTest("no wexbot: set WEXBOT to the built one")
    return path


def bot_keys():
    """The built wexbot's key table."""
    return bot_check.key_table(wexbot())


def parse(text, path="session"):
    """A session file's text read with the built wexbot's key table."""
    return session_file.parse_session(text, path, bot_keys())


def checked(text, path="lab.conf"):
    """A session file's text read and checked by the built wexbot, as
    wexlab start reads it."""
    session = parse(text, path)
    bot_check.check_session(session, wexbot())
    return session


def replaced(key, line):
    """GOOD with the line of key replaced (None removes it)."""
    lines = [line if l.startswith(key + " ") else l for l in GOOD.split("\n")]
    return "\n".join(l for l in lines if l is not None)


TREATED = GOOD + """Treatment low CreditValue 0.005
Treatment high CreditValue 0.02
Treatment high MaxPayout 40
Treatment high NRounds 12
Treatments high low
"""


def config_values(text):
    """A bot configuration's keys as the bot reads them: the first entry counts."""
    values = {}
    for line in text.splitlines():
        key, _, value = line.partition(" ")
        values.setdefault(key, value)
    return values


def fake_accounts(names, domain, cfg):
    """Stands in for prosodyctl: every account gets a known password."""
    return {role: {"name": name, "jid": f"{name}@{domain}", "password": f"pw-{name}"}
            for role, name in names.items()}


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def shared_file(path, text):
    """A file that anybody may read, as an editor or a copy leaves it."""
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, 0o644)


class FakeServerTest(unittest.TestCase):
    """The server's setup with its accounts and server start left out."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="wexlab-modes-")
        self.old_umask = os.umask(0o022)
        # No Prosody: the accounts are made up and the server never starts.
        for target, name, fake in ((prosody_control, "create_accounts", fake_accounts),
                                   (prosody_control, "start_prosody",
                                    lambda folder, address, port: None),
                                   (net, "port_open", lambda address, port: False)):
            patcher = mock.patch.object(target, name, fake)
            patcher.start()
            self.addCleanup(patcher.stop)
        # No desk either: its process would wait for a server that never runs.
        patcher = mock.patch.object(processes, "start_desk", lambda folder, lab: True)
        patcher.start()
        self.addCleanup(patcher.stop)

    def tearDown(self):
        os.umask(self.old_umask)
        shutil.rmtree(self.root)

    def start(self, text):
        """start_session of a session file of this text, without bots."""
        folder = os.path.join(self.root, "session")
        path = os.path.join(self.root, "lab.conf")
        shared_file(path, text)
        with mock.patch.object(processes, "start_supervisor", lambda folder, indexes: None), \
                contextlib.redirect_stdout(io.StringIO()):
            return folder, lifecycle.start_session(folder, path, wexbot(), "none",
                                                   quiet=True)
