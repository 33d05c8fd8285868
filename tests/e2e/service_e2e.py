#!/usr/bin/python3
"""End-to-end tests of the xmpp service through xmpp_driver, against a
Prosody of their own, with slixmpp clients as the other people."""

import asyncio
import os
import re
import signal
import sys

from harness import Scene, check, run_case

OK = "00000000"
USER_UNAVAILABLE = "80040271"
BOT = "selkbot@lab.wex"


async def incoming_messages(args):
    async with Scene(args) as scene:
        driver = await scene.driver()
        await driver.expect(r"^state 100 " + OK)
        await driver.expect(r"^state 500 " + OK)
        alice = await scene.peer("subject1")
        alice.say(BOT, "hello bot")
        first = await driver.expect(r"^im alice (\d+) hello bot$")
        # None of these is text for the bot.
        alice.say(BOT, "headline", kind="headline")
        alice.say(BOT, "group chat", kind="groupchat")
        typing = alice.make_message(mto=BOT, mtype="chat")
        typing["chat_state"] = "composing"
        typing.send()
        alice.say(BOT, "two\nlines & <tags>", kind="normal")
        second = await driver.expect(r"^im alice (\d+) (.*)$")
        check(second.group(2) == "two\\nlines & <tags>", f"unexpected IM: {second.group(0)}")
        check(first.group(1) == second.group(1), "one incoming IM session per peer")
        bob = await scene.peer("subject2")
        bob.say(BOT, "from bob")
        third = await driver.expect(r"^im bob (\d+) from bob$")
        check(third.group(1) != first.group(1), "each peer has its own IM session")


async def sends_and_verdicts(args):
    async with Scene(args) as scene:
        alice = await scene.peer("subject1")
        bob = await scene.peer("subject2")
        driver = await scene.driver()
        await driver.expect(r"^state 500 ")
        driver.send("send a alice I invest 20 & <more>")
        await driver.expect(r"^sent a " + OK)
        msg = await alice.message(sender=BOT)
        check(msg["body"] == "I invest 20 & <more>", f"alice got {msg['body']!r}")
        check(msg["type"] == "chat", "messages go out as chat")
        # An account the server does not have.
        driver.send("send b nobody are you there?")
        await driver.expect(r"^sent b " + USER_UNAVAILABLE)
        # Three at once, each from a thread of its own: each verdict is its own.
        for tag, peer in (("c1", "alice"), ("c2", "nobody"), ("c3", "bob")):
            driver.send(f"send {tag} {peer} concurrent {tag}")
        verdicts = {}
        for _ in range(3):
            m = await driver.expect(r"^sent (c\d) ([0-9A-F]{8})$")
            verdicts[m.group(1)] = m.group(2)
        check(verdicts == {"c1": OK, "c2": USER_UNAVAILABLE, "c3": OK}, f"verdicts {verdicts}")
        check((await alice.message(sender=BOT))["body"] == "concurrent c1", "alice's text")
        check((await bob.message(sender=BOT))["body"] == "concurrent c3", "bob's text")
        # A control character would make the server close the stream.
        driver.send("send d alice bell\x07!")
        await driver.expect(r"^sent d " + OK)
        check((await alice.message(sender=BOT))["body"] == "bell\ufffd!", "replaced character")
        driver.send("send e alice still online")
        await driver.expect(r"^sent e " + OK)


async def wrong_password(args):
    async with Scene(args) as scene:
        driver = await scene.driver(password="not-the-password")
        await driver.expect(r"^state 100 ")
        await driver.expect(r"^xmpp: the server refused the password for selkbot@lab.wex$")
        await driver.expect(r"^state 0 80040222$")
        await driver.expect(r"^ended 80040222$")
        check(await driver.wait() == 0, "driver exit status")


async def unreachable_server(args):
    async with Scene(args) as scene:
        scene.lab.stop()
        driver = await scene.driver()
        await driver.expect(r"^state 100 ")
        await driver.expect(r"^xmpp: could not sign on to 127.0.0.1:\d+: Connection refused$")
        await driver.expect(r"^state 0 80040231$")
        await driver.wait()
        # A server that takes the connection and then says nothing.
        silent = await asyncio.start_server(lambda r, w: None, "127.0.0.1", scene.lab.port)
        try:
            driver = await scene.driver("--handshake-timeout", "1000")
            await driver.expect(r"^xmpp: could not sign on to .*: no answer to the login$")
            await driver.expect(r"^state 0 80040231$")
            await driver.wait()
        finally:
            silent.close()


async def tls(args):
    async with Scene(args, plain=False) as scene:
        driver = await scene.driver()
        await driver.expect(r"^xmpp: trust=any: the server's certificate is not checked")
        await driver.expect(r"^state 500 ")
        alice = await scene.peer("subject1")
        driver.send("send a alice over TLS")
        await driver.expect(r"^sent a " + OK)
        check((await alice.message(sender=BOT))["body"] == "over TLS", "alice's text")
        driver.send("quit")
        await driver.wait()
        # The system's store does not know a self-signed certificate.
        strict = scene.lab.service.replace(";trust=any", "")
        driver = await scene.driver(service=strict)
        await driver.expect(r"^xmpp: the server's certificate is not trusted \(.*\); "
                            r"a lab server with its own certificate needs ;trust=any$")
        await driver.expect(r"^state 0 80040238$")
        await driver.wait()
        # Without TLS the server does not let the bot in.
        plain = scene.lab.service.replace(";trust=any", ";tls=off")
        driver = await scene.driver(service=plain)
        await driver.expect(r"^xmpp: could not sign on to .*: the server offers no login")
        await driver.expect(r"^state 0 80040231$")
        await driver.wait()


async def requests(args):
    async with Scene(args) as scene:
        driver = await scene.driver()
        await driver.expect(r"^state 500 ")
        alice = await scene.peer("subject1")
        await alice.subscribe(BOT)  # the bot agrees, and asks to see alice too
        await driver.expect(r"^request 1 alice accept$")
        # A group-chat invitation is another kind, and turned down.
        bob = await scene.peer("subject2")
        invite = bob.make_message(mto=BOT, mbody="join us")
        invite.append(_direct_invite())
        invite.send()
        await driver.expect(r"^request 2 bob reject$")
        # After all that the bot still takes plain messages.
        bob.say(BOT, "plain")
        await driver.expect(r"^im bob \d+ plain$")


def _direct_invite():
    from slixmpp.xmlstream import ElementBase

    class Invite(ElementBase):
        name = "x"
        namespace = "jabber:x:conference"
        interfaces = {"jid"}

    invite = Invite()
    invite["jid"] = "talk@muc.lab.wex"
    return invite


async def back_online_and_sent(driver, label, timeout):
    """Waits for the session to be back online and for the held send to
    return with S_OK. The driver prints the two from two threads, so they
    come in either order."""
    pending = {"state 500 ", f"sent {label} "}
    while pending:
        match = await driver.expect(r"^(state 500 |sent \S+ )", timeout=timeout)
        if match.group(1) not in pending:
            continue
        pending.discard(match.group(1))
        if match.group(1).startswith("sent"):
            check(match.string.endswith(OK), f"held send answered {match.string}")


async def reconnect(args):
    async with Scene(args) as scene:
        driver = await scene.driver("--reconnect-min", "300", "--send-timeout", "20000")
        await driver.expect(r"^state 500 ")
        scene.lab.stop()
        await driver.expect(r"^state 50 " + OK)
        await driver.expect(r"^state 100 ")
        await driver.expect(r"^state 50 ")  # the server is still away
        # A send while the stream is down waits for the reconnection.
        driver.send("send a alice sent during the outage")
        await asyncio.sleep(1)
        scene.lab.resume()
        await back_online_and_sent(driver, "a", timeout=20)
        alice = await scene.peer("subject1")
        check((await alice.message(sender=BOT))["body"] == "sent during the outage",
              "the message kept for alice")
        alice.say(BOT, "after")
        await driver.expect(r"^im alice \d+ after$")


async def frozen_server(args):
    async with Scene(args) as scene:
        driver = await scene.driver("--send-timeout", "2000", "--keepalive", "1000",
                                    "--handshake-timeout", "2000", "--reconnect-min", "200")
        await driver.expect(r"^state 500 ")
        with open(os.path.join(scene.lab.dir, "prosody.pid")) as f:
            pid = int(f.read().strip())
        os.kill(pid, signal.SIGSTOP)  # the connection stays open, nothing answers
        try:
            # The send is held: the dead stream is given up, the send waits.
            driver.send("send a alice into the void")
            await driver.expect(r"^xmpp: lost the link to the server \(the server stopped answering\)")
            await driver.expect(r"^state 50 ")
            await driver.expect(r"^state 100 ")
        finally:
            os.kill(pid, signal.SIGCONT)
        await back_online_and_sent(driver, "a", timeout=30)
        driver.send("send b alice back again")
        await driver.expect(r"^sent b " + OK)
        alice = await scene.peer("subject1")
        bodies = [(await alice.message(sender=BOT))["body"] for _ in range(2)]
        check(bodies == ["into the void", "back again"], f"alice got {bodies}")


async def bumped(args):
    async with Scene(args) as scene:
        driver = await scene.driver()
        await driver.expect(r"^state 500 ")
        from harness import Peer
        twin = Peer(BOT + "/wexbot", scene.lab.password("bot"), scene.lab.port, True)
        scene.peers.append(twin)
        await twin.online()
        await driver.expect(r"^xmpp: another login as selkbot@lab.wex replaced this one$")
        await driver.expect(r"^state 0 80040237$")
        await driver.wait()


def _raw_message(to, ident, text):
    """A chat message as it goes over the wire, with an id of our choice."""
    from xml.sax.saxutils import escape, quoteattr
    return (f"<message to={quoteattr(to)} id={quoteattr(ident)} type='chat'>"
            f"<body>{escape(text)}</body></message>")


def _body(tag, size):
    """A text of exactly size characters that starts with its tag."""
    head = f"{tag}:"
    return head + "x" * (size - len(head))


async def _expect_body(driver, tag, size, timeout=3):
    match = await driver.expect(rf"^im alice \d+ ({re.escape(tag)}:x*)$", timeout=timeout)
    check(len(match.group(1)) == size, f"{tag}: {len(match.group(1))} characters, not {size}")


async def tls_large_messages(args):
    """Over TLS, a stanza whose end OpenSSL has already read off the socket
    is handled at once, not when the next bytes arrive (the keepalive, a
    minute later). Whether the server writes a message's end together with
    what follows it varies, so each size is sent a few times."""
    async with Scene(args, plain=False) as scene:
        driver = await scene.driver()
        await driver.expect(r"^state 500 ")
        alice = await scene.peer("subject1")
        for turn in range(4):
            for size in (100, 1000, 4500, 6000, 15000, 20000):
                tag = f"s{turn}-{size}"
                alice.say(BOT, _body(tag, size))
                await _expect_body(driver, tag, size)
        # Several stanzas in one write, the last a long one: the server
        # passes them on together.
        for turn in range(3):
            batch = [(f"b{turn}-{i}", size) for i, size in enumerate((300, 5000, 800, 200, 9000))]
            alice.send_raw("".join(_raw_message(BOT, tag, _body(tag, size))
                                   for tag, size in batch))
            for tag, size in batch:
                await _expect_body(driver, tag, size)

async def reused_ids(args):
    """Ids are unique within one stream only: a client that signs on again
    and counts its ids from the start again is still heard."""
    async with Scene(args) as scene:
        from harness import Peer
        driver = await scene.driver()
        await driver.expect(r"^state 500 ")
        for text in ("5", "6"):
            # The same full address each time: only the stream is new.
            alice = Peer(scene.lab.jid("subject1") + "/lab", scene.lab.password("subject1"),
                         scene.lab.port, scene.lab.plain)
            scene.peers.append(alice)
            await alice.online()
            alice.send_raw(_raw_message(BOT, "x1", text))
            await driver.expect(rf"^im alice \d+ {text}$", timeout=5)
            await alice.close()


CASES = {f.__name__: f for f in (incoming_messages, sends_and_verdicts, wrong_password,
                                 unreachable_server, tls, requests, reconnect, frozen_server,
                                 bumped, tls_large_messages, reused_ids)}

if __name__ == "__main__":
    sys.exit(run_case(CASES, sys.argv[1:]))
