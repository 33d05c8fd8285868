"""The supervisor: a process of its own that starts each pair's bot on
this machine, restarts a bot that stops without being told to (resuming its
game from its journal) and tells the moderator. It can be stopped and
started again (wexlab resume) without touching running bots: it adopts
them by their pid."""

import asyncio
import os
import signal
import time

from ..model import record, room_log
from ..model.accounts import NOTIFIER, jid
from ..model.files import read_json, write_json
from ..servers import policy
from . import bots, xmpp

POLL_SECONDS = 0.5
# room.log's size is looked at this often, so a pair's bot starts as soon
# as the room forms it (a stat each time; the file is read only when it grew).
ROOM_POLL_SECONDS = 0.05
# A bot that stops this often within the window is left stopped.
MAX_RESTARTS = 5
RESTART_WINDOW = 120.0


def log(text):
    print(time.strftime("%Y-%m-%d %H:%M:%S ") + text, flush=True)


def describe_exit(code):
    if code is None:
        return "stopped"
    if code < 0:
        try:
            return f"was killed by {signal.Signals(-code).name}"
        except ValueError:
            return f"was killed by signal {-code}"
    return f"exited with status {code}"


class Supervisor:
    def __init__(self, folder, lab, indexes):
        self.folder = folder
        self.lab = lab
        self.pairs = [p for p in lab.pairs if p.index in indexes]
        self.children = {}  # index -> Popen of the bots this process started
        self.pids = {}      # index -> pid of every bot it watches
        self.restarts = {p.index: [] for p in self.pairs}
        self.given_up = set()
        self.stop = asyncio.Event()
        self.notifier = None
        # How far server/replaced.log has been told: what was in it before
        # this supervisor started was told by the one before.
        self.replaced_offset = policy.read_replaced(folder)[1]
        # An online session's pairs form in the room: a pair's bot starts
        # once room.log has its pair, and a pair never formed never starts.
        self.formed = set() if lab.online else None
        self.room_offset = 0
        self.read_room()
        self.next_check = 0.0  # monotonic time of the next look at the bots

    def read_room(self):
        """The pairs room.log has formed since the last look (all, offline)."""
        if self.formed is None or room_log.size(self.folder) <= self.room_offset:
            return []
        entries, self.room_offset = room_log.read_from(self.folder, self.room_offset)
        new = [e["pair"] for e in entries if e.get("kind") == "pair" and
               isinstance(e.get("pair"), int) and e["pair"] not in self.formed]
        self.formed.update(new)
        return new

    def formed_pair(self, index):
        return self.formed is None or index in self.formed

    def stopping(self):
        return os.path.exists(os.path.join(self.folder, "stopping")) or self.stop.is_set()

    def save(self):
        write_json(os.path.join(self.folder, bots.RUN_FILE),
                   {"supervisor": os.getpid(),
                    "bots": {str(i): pid for i, pid in self.pids.items()},
                    "given_up": sorted(self.given_up)})

    def tell_moderator(self, text):
        log(text)
        if self.notifier is not None:
            self.notifier.tell(jid(self.lab, self.lab.moderator), f"wexlab: {text}")

    def launch(self, pair):
        """Starts a pair's bot, resuming its game when it has a journal."""
        journal = bots.journal(self.folder, pair, self.lab.log_file)
        config = "wexbot.conf"
        if journal is not None:
            config = bots.resume_config(self.folder, pair, journal)
        proc = bots.start(self.folder, pair, self.lab.bot_path, config)
        self.children[pair.index] = proc
        self.pids[pair.index] = proc.pid
        log(f"{pair.bot}: bot started (pid {proc.pid}, {config})")
        return journal

    def adopt_or_launch(self, previous):
        for pair in self.pairs:
            index = pair.index
            pid = previous.get(str(index))
            if pid and bots.alive(pid, bots.pair_dir(self.folder, pair)):
                self.pids[index] = pid
                log(f"{pair.bot}: bot running (pid {pid}), watching it")
            elif not self.formed_pair(index):
                continue
            elif not bots.game_ended(self.folder, pair, self.lab.log_file):
                journal = self.launch(pair)
                if journal is not None and pid:
                    self.tell_moderator(f"{pair.bot}'s bot was not running and has been "
                                        "restarted; it resumes the pair's game.")

    def launch_formed(self):
        """Starts the bots of the pairs the room formed since the last look."""
        new = self.read_room()
        started = False
        for pair in self.pairs:
            if pair.index in new and pair.index not in self.pids and \
                    not bots.game_ended(self.folder, pair, self.lab.log_file):
                log(f"{pair.bot}: paired in the room")
                self.launch(pair)
                started = True
        if started:
            self.save()

    def running(self, index):
        """Whether the pair's bot runs; a bot this process started is reaped."""
        proc = self.children.get(index)
        if proc is not None:
            return proc.poll() is None
        return bots.alive(self.pids[index], bots.pair_dir(self.folder, self.pair(index)))

    def pair(self, index):
        return next(p for p in self.pairs if p.index == index)

    def check(self):
        changed = False
        for index in list(self.pids):
            if self.running(index) or self.stopping():
                continue
            pair = self.pair(index)
            del self.pids[index]
            proc = self.children.pop(index, None)
            code = proc.returncode if proc is not None else None  # unknown for an adopted bot
            changed = True
            if bots.game_ended(self.folder, pair, self.lab.log_file):
                log(f"{pair.bot}: bot {describe_exit(code)} after its game ended")
                continue
            now = time.monotonic()
            recent = [t for t in self.restarts[index] if now - t < RESTART_WINDOW]
            if len(recent) >= MAX_RESTARTS:
                self.given_up.add(index)
                self.tell_moderator(f"{pair.bot}'s bot {describe_exit(code)} and keeps "
                                    f"stopping; it is no longer restarted (see "
                                    f"{pair.bot}/console.log).")
                continue
            self.restarts[index] = recent + [now]
            journal = self.launch(pair)
            resumed = "it resumes the pair's game" if journal else "it starts the game afresh"
            self.tell_moderator(f"{pair.bot}'s bot {describe_exit(code)} and has been "
                                f"restarted; {resumed}.")
        if changed:
            self.save()

    def check_replaced(self):
        """Tells the moderator once about each subject whose seat the
        server closed because it was opened again (server/replaced.log):
        the lines that came since the last look, one notice per subject."""
        lines, self.replaced_offset = policy.read_replaced(self.folder, self.replaced_offset)
        counts = {}
        for _, name, _, _ in lines:
            counts[name] = counts.get(name, 0) + 1
        for name, count in counts.items():
            pair = next((p for p in self.lab.pairs if name in p.subjects()), None)
            if pair is None:
                continue
            times = "" if count == 1 else f" ({count} sign-ins)"
            self.tell_moderator(f"{pair.bot}'s subject {name} opened the seat in another "
                                f"window{times}; the older window was closed.")

    def tick(self, now):
        """One turn of the loop: the pairs the room formed, each turn; the
        bots that stopped and the replaced seats, each POLL_SECONDS (a turn
        that wakes a hair early, as asyncio's timers may, still counts)."""
        if now >= self.next_check - ROOM_POLL_SECONDS / 2:
            self.check()
            self.check_replaced()
            self.next_check = now + POLL_SECONDS
        self.launch_formed()

    async def run(self, previous):
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, self.stop.set)
        try:
            self.notifier = xmpp.Notifier(self.lab, NOTIFIER)
            self.notifier.start()
        except Exception as e:  # the bots matter more than the notices
            log(f"no notices to the moderator: {e}")
            self.notifier = None
        self.adopt_or_launch(previous)
        self.save()
        wait = POLL_SECONDS if self.formed is None else ROOM_POLL_SECONDS
        while not self.stop.is_set():
            self.tick(time.monotonic())
            try:
                await asyncio.wait_for(self.stop.wait(), wait)
            except asyncio.TimeoutError:
                pass
        log("supervisor stopped; the bots run on")
        if self.notifier is not None:
            await self.notifier.close()


def supervise(folder, indexes):
    folder = os.path.abspath(folder)
    lab = record.load(folder)
    run_file = os.path.join(folder, bots.RUN_FILE)
    previous = read_json(run_file)["bots"] if os.path.exists(run_file) else {}
    log(f"supervisor of pairs {', '.join(map(str, indexes)) or 'none'} (pid {os.getpid()})")
    asyncio.run(Supervisor(folder, lab, indexes).run(previous))
