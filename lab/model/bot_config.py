"""A pair's folder: its bot's wexbot.conf (the session's shared keys with
the treatment's over them, the pair's own names, the Service of its node)
and its password file."""

import os

from .accounts import DESK, password
from .files import make_private_dir, write_private
from .placement import address_of, port_of

# An online participant who closes the tab does not come back: after this
# many seconds offline the bot lets the partner play on (or pays), unless
# the session (or the pair's treatment) sets DropoutAfter itself.
ONLINE_DROPOUT_AFTER = "120"


def bot_config(session, bot, subject1, subject2, treatment=None):
    """The configuration of one pair's bot: the session's bot keys, with
    the treatment's over them, and the pair's own names; the password file
    sits beside it."""
    lines = [f"BotUsername {bot}", f"Subject1Name {subject1}", f"Subject2Name {subject2}",
             "PasswordFile passwords.txt", "BotPasswordIndex 0", "KeyIndex 1",
             f"DeskName {DESK}"]
    if treatment is not None:
        lines.append(f"# treatment {treatment}")
    lines += [f"{key} {value}" for key, value in session.bot_values(treatment)]
    if session.online and "DropoutAfter" not in session.game_values(treatment):
        lines.append(f"DropoutAfter {ONLINE_DROPOUT_AFTER}")
    return "\n".join(lines) + "\n"


def on_own_node(lab, bot, text):
    """The bot's configuration with its Service on the address and port of
    its node."""
    address, port = address_of(lab, bot), port_of(lab, bot)
    if (address, port) == (lab.address, lab.port):
        return text
    at = f"@{lab.address}:{lab.port}"
    return "\n".join(line.replace(at, f"@{address}:{port}", 1)
                     if line.startswith("Service ") else line for line in text.split("\n"))


def write_pair_folders(lab, session, folder):
    for pair in lab.pairs:
        pair_dir = os.path.join(folder, pair.bot)
        make_private_dir(pair_dir)
        text = bot_config(session, pair.bot, pair.subject1, pair.subject2,
                          pair.treatment)
        with open(os.path.join(pair_dir, "wexbot.conf"), "w", encoding="utf-8") as f:
            f.write(on_own_node(lab, pair.bot, text))
        write_private(os.path.join(pair_dir, "passwords.txt"),
                      f"{password(lab, pair.bot)}\nLAB-KEY-{pair.bot}\n")
