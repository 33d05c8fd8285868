#!/usr/bin/python3
"""End-to-end fault tests of wexbot: a whole game against Prosody with the
bot's link running through a proxy that can freeze and cut it, the server
stopped for a minute, or a subject offline for a minute. Each case counts
at both ends: every message reaches its recipient exactly once and in
order, the transcript has a RECV line per game message the bot received
and a SEND line (and no ERR line) per message it sent, and the payouts are
those of an undisturbed game."""

import asyncio
import glob
import os
import re
import sys

from bot_e2e import BOT, BREAK, CLOSED, PROMPT
from harness import Scene, check, run_case
from link_proxy import LinkProxy

STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (\S+) +(RECV|SEND|INIT|ERR ) (.*)$")
PAYOUTS = ["alice total credits earned: 366.87, Total payout: $10.00",
           "bob total credits earned: 256.87, Total payout: $10.00"]
# The break's idle reminder: the worker's own, whenever chat rests a minute.
IDLE = ("Chat has been idle for some time. If you are ready to resume the game, type 'done' "
        "and hit enter.")
BONUS = "Rounds until next bonus: 0\nIt's time to pay out the bonuses!\n"
LAST = ("Round 2 Earnings: 109.09\nRounds until next bonus: 0\n"
        f"It's time to pay out the bonuses!\nRich get Richer: 50.00\n{CLOSED}")


class Party:
    """One participant across reconnections: what they sent the bot as game
    input (RECV lines expected), and every message they got from it."""

    def __init__(self, scene, role, name):
        self.scene, self.role, self.name = scene, role, name
        self.peer = None
        self.received = []     # (sender, body) of every message, across sign-ons
        self.game_input = []   # texts the bot logs as RECV

    @property
    def got(self):
        """Bodies from the bot, in arrival order."""
        return [body for sender, body in self.received if sender == BOT]

    async def online(self):
        # Recording starts before sign-on: messages stored while the party
        # was away arrive with it.
        self.peer = await self.scene.peer(self.role, received=self.received)
        return self

    async def offline(self):
        await self.peer.close()

    def say(self, text, game=True):
        self.peer.say(BOT, text)
        if game:
            self.game_input.append(text)

    async def expect(self, text, timeout=30):
        msg = await self.peer.message(timeout=timeout, sender=BOT)
        while msg["body"] == IDLE:  # counted all the same, in settle()
            msg = await self.peer.message(timeout=timeout, sender=BOT)
        check(msg["body"] == text, f"{self.name} expected {text!r}, got {msg['body']!r}")


async def start(scene):
    """The bot behind the proxy, and the three participants online."""
    proxy = LinkProxy(scene.lab.port)
    port = await proxy.start()
    with open(scene.lab.config) as f:
        config = f.read().replace(f"127.0.0.1:{scene.lab.port}", f"127.0.0.1:{port}")
    with open(scene.lab.config, "w") as f:
        f.write(config)
    bot = await scene.bot()
    await bot.expect(r"^wexbot online and ready\.$")
    parties = [Party(scene, role, name) for role, name in
               (("subject1", "alice"), ("subject2", "bob"), ("moderator", "moderator"))]
    for party in parties:
        await party.online()
    return proxy, bot, parties


async def join(alice, bob):
    alice.say("hello")
    await alice.expect("Waiting for the other player to join...")
    bob.say("hi")
    joined = ("Both players are here! Let's now begin out game!\nThis is round 1.\n"
              "How much do you think your partner will invest?")
    await alice.expect(joined)
    await bob.expect(joined)


EXPECT = "You expect your partner to invest: {}\nNow please tell me, how much would you like to invest?"


async def round_one(alice, bob, after_closing=None):
    alice.say("20")
    await alice.expect(EXPECT.format(20))
    alice.say("30")
    await alice.expect("You invest: 30")
    bob.say("30")
    await bob.expect(EXPECT.format(30))
    bob.say("40")
    if after_closing:
        await after_closing()
    await bob.expect(f"You invest: 40\nRound 1 Earnings: 97.78\n{BONUS}Rich get Richer: 0.00\n{BREAK}")
    await alice.expect(f"Round 1 Earnings: 107.78\n{BONUS}Rich get Richer: 100.00\n{BREAK}")


async def chat_break(alice, bob, moderator, during=None):
    alice.say("shall we both invest 60?", game=False)
    if during:
        await during()
    await bob.expect("(from alice) shall we both invest 60?")
    await moderator.expect("(from alice) shall we both invest 60?")
    # Sent after alice's line has arrived: two clients' messages have no
    # order between them.
    bob.say("yes", game=False)
    await alice.expect("(from bob) yes")
    await moderator.expect("(from bob) yes")
    alice.say("done", game=False)
    bob.say("done", game=False)
    await alice.expect(PROMPT)
    await bob.expect(PROMPT)


async def round_two(alice, bob, moderator, mid=None, before_close=None):
    alice.say("60")
    await alice.expect(EXPECT.format(60))
    if mid:
        await mid()
    else:
        alice.say("60")
        await alice.expect("You invest: 60")
        bob.say("60")
        await bob.expect(EXPECT.format(60))
    if before_close:
        await before_close()
    bob.say("60")
    await moderator.expect(PAYOUTS[0], timeout=60)
    await moderator.expect(PAYOUTS[1])
    stats = await moderator.peer.message(sender=BOT)
    check(stats["body"].startswith("team 1:\n"), f"statistics: {stats['body']!r}")
    await bob.expect("You invest: 60\n" + LAST)


def transcript_entries(scene):
    paths = glob.glob(os.path.join(scene.lab.root, "transcript_*.log"))
    check(len(paths) == 1, f"one transcript expected, found {paths}")
    entries = []
    with open(paths[0], encoding="utf-8") as f:
        for line in f.read().split("\n")[:-1]:
            match = STAMP.match(line)
            if match:
                entries.append(list(match.groups()))
            elif entries:
                entries[-1][2] += "\n" + line
    return entries


async def settle(scene, parties):
    """Waits until both ends have the same number of messages, then compares
    them."""
    # A SEND line is written once the server has taken the message, which
    # may be after the recipient got it.
    for _ in range(100):
        entries = transcript_entries(scene)
        sent = {p.name: [e[2] for e in entries if e[0] == p.name and e[1] == "SEND"] for p in parties}
        if all(len(p.got) == len(sent[p.name]) for p in parties):
            break
        await asyncio.sleep(0.2)
    check(not [e for e in entries if e[1] == "ERR "], f"ERR lines: {[e for e in entries if e[1] == 'ERR ']}")
    counts = []
    for p in parties:
        received = [e[2] for e in entries if e[0] == p.name and e[1] == "RECV"]
        check(p.got == sent[p.name], f"{p.name} got {p.got}\n but the bot sent {sent[p.name]}")
        check(received == p.game_input,
              f"the bot logged from {p.name} {received}\n but {p.name} sent {p.game_input}")
        counts.append(f"{p.name}: bot sent {len(sent[p.name])}, received {len(p.got)}; "
                      f"{p.name} sent {len(p.game_input)} game messages, logged {len(received)}")
    print("counts: " + "; ".join(counts))


async def play(args, ctx, faults):
    """The undisturbed game's script, with the faults run at their points."""
    async with Scene(args) as scene:
        proxy, bot, parties = await start(scene)
        ctx.update(scene=scene, proxy=proxy, bot=bot, parties=parties)
        alice, bob, moderator = parties
        try:
            await join(alice, bob)
            await round_one(alice, bob, faults.get("round_one_closing"))
            await chat_break(alice, bob, moderator, faults.get("break"))
            await round_two(alice, bob, moderator, faults.get("round_two_mid"),
                            faults.get("round_two_close"))
            if "alice_back" in faults:
                await faults["alice_back"]()
            await alice.expect(LAST, timeout=60)
            await settle(scene, parties)
            check(bot.proc.returncode is None, "the bot runs on")
        finally:
            await proxy.close()


async def server_stopped(args):
    """The server stops for 60 s right after the answer that closes round 1."""
    ctx = {}

    async def stop():
        await asyncio.sleep(0.3)
        ctx["scene"].lab.stop()
        await asyncio.sleep(60)
        ctx["scene"].lab.resume()
        await ctx["bot"].expect(r"^wexbot online and ready\.$", timeout=60)
        for party in ctx["parties"]:
            await party.online()

    await play(args, ctx, {"round_one_closing": stop})


async def link_frozen(args):
    """The link freezes for 30 s mid-round with messages in flight both ways:
    the bot's reply to alice's investment, and bob's answer."""
    ctx = {}

    async def freeze():
        alice, bob = ctx["parties"][0], ctx["parties"][1]
        alice.say("60")
        await asyncio.sleep(0.3)  # the bot has it and waits its second before replying
        ctx["proxy"].freeze()
        bob.say("60")
        await asyncio.sleep(30)
        ctx["proxy"].thaw()
        await alice.expect("You invest: 60", timeout=60)
        await bob.expect(EXPECT.format(60), timeout=60)
        await ctx["bot"].expect(r"^xmpp: lost the link to the server", timeout=5)

    await play(args, ctx, {"round_two_mid": freeze})


async def link_cut(args):
    """The link is cut during the chat break while lines are relayed."""
    ctx = {}

    async def cut():
        await asyncio.sleep(0.2)
        ctx["proxy"].cut()

    await play(args, ctx, {"break": cut})


async def subject_offline(args):
    """Alice is offline for a minute mid-round; the round closes meanwhile."""
    ctx = {}

    async def leave():
        await ctx["parties"][0].offline()

    async def back():
        await asyncio.sleep(60)
        await ctx["parties"][0].online()

    await play(args, ctx, {"round_two_close": leave, "alice_back": back})


CASES = {f.__name__: f for f in (server_stopped, link_frozen, link_cut, subject_offline)}

if __name__ == "__main__":
    sys.exit(run_case(CASES, sys.argv[1:]))
