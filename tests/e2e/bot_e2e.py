#!/usr/bin/python3
"""End-to-end tests of wexbot on the xmpp service: the bot, a Prosody of
their own, and slixmpp clients as the subjects and the moderator."""

import sys

from harness import Scene, check, run_case

BOT = "selkbot@lab.wex"


async def wrong_password(args):
    async with Scene(args) as scene:
        with open(scene.lab.root + "/passwords.txt", "w") as f:
            f.write("not-the-password\nLAB-KEY\n")
        bot = await scene.bot()
        await bot.expect(r"^wexbot connecting\.\.\.$")
        await bot.expect(r"^wexbot offline, qutting\.$")
        await bot.expect(r"^wexbot shutting down with hr=80040222 WEX_E_INVALID_PASSWORD$")
        status = await bot.wait()
        check(status == 0x22, f"exit status {status}")
        check(not any("not-the-password" in line for line in bot.lines),
              "the password must not appear on the console")


async def subscription(args):
    async with Scene(args) as scene:
        bot = await scene.bot()
        await bot.expect(r"^wexbot online and ready\.$")
        alice = await scene.peer("subject1")
        alice.send_presence_subscription(pto=BOT)
        await alice.presence("presence_subscribed")
        await alice.presence("presence_subscribe")
        # Now alice sees the bot online.
        alice.send_presence_subscription(pto=BOT, ptype="subscribed")
        available = await alice.presence("presence_available")
        check(available["from"].bare == BOT, f"presence from {available['from']}")


async def server_restart(args):
    async with Scene(args) as scene:
        bot = await scene.bot()
        await bot.expect(r"^wexbot online and ready\.$")
        scene.lab.stop()
        await bot.expect(r"^wexbot disconnected, reconnecting\.\.\.$")
        await bot.expect(r"^wexbot connecting\.\.\.$")
        scene.lab.resume()
        await bot.expect(r"^wexbot online and ready\.$", timeout=30)
        check(bot.proc.returncode is None, "the bot keeps running")


CASES = {f.__name__: f for f in (wrong_password, subscription, server_restart)}

if __name__ == "__main__":
    sys.exit(run_case(CASES, sys.argv[1:]))
