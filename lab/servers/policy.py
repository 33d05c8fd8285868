"""Who may talk to whom: the policy file that the server's module reads
(allowed.txt), its log of refusals (refused.log), and the contacts each
account is given."""

import os

from ..model.accounts import DESK, NOTIFIER
from ..model.files import write_private

POLICY_FILE = "allowed.txt"  # pairs of accounts that may talk, in the server's folder
REFUSED_LOG = "refused.log"  # one line per refused stanza, in the server's folder
# One line per session the server closed because its account signed in
# again elsewhere (time, account, older resource, newer resource).
REPLACED_LOG = "replaced.log"


def write_policy(folder, pairs):
    """The accounts that may talk to each other, two names a line; the
    server's policy module reads it when it starts."""
    lines = ["# Accounts that may exchange messages on this server; others are refused."]
    lines += [f"{a} {b}" for a, b in pairs]
    write_private(os.path.join(folder, POLICY_FILE), "\n".join(lines) + "\n")


def default_policy(names):
    """One pair's lab: the bot with each subject and with the moderator."""
    return [(names["bot"], names[role]) for role in ("subject1", "subject2", "moderator")]


def contact_groups(lab):
    """Shared rosters as (group, [members]): each member sees the others.
    Each subject sees only its pair's bot, the moderator sees every bot, so
    nobody has to add contacts by hand and each bot sees its subjects'
    presence. The moderator, wexlab's and the desk's accounts see each
    other and every bot, and no bot sees another: bots never talk, and one
    group of them all would send each bot's presence to every other, a
    number of stanzas that grows with the square of the pairs."""
    staff = [lab.moderator, NOTIFIER, DESK]
    groups = []
    for pair in lab.pairs:
        for subject in (pair.subject1, pair.subject2):
            groups.append((f"{pair.bot}-{subject}", [pair.bot, subject]))
        groups.append((f"{pair.bot}-{lab.moderator}", [pair.bot] + staff))
    groups.append(("moderator", staff))
    return groups


def policy_pairs(lab):
    """The accounts that may talk: each subject with its own pair's bot, the
    moderator with every bot, and wexlab's own account with every bot and
    the moderator (its notices), and the desk's account with every bot. The
    server refuses everything else."""
    moderator = lab.moderator
    pairs = []
    for pair in lab.pairs:
        bot = pair.bot
        pairs += [(bot, pair.subject1), (bot, pair.subject2), (bot, moderator),
                  (bot, NOTIFIER), (bot, DESK)]
    pairs.append((moderator, NOTIFIER))
    return pairs


def one_session_accounts(lab):
    """The accounts that may hold one session at a time: the subjects, so a
    seat opened twice cannot answer twice. The moderator's account (wexlab's
    own resource beside the human's), the bots, wexlab's and the desk's keep
    theirs."""
    return [name for pair in lab.pairs for name in pair.subjects()]


def unarchived_accounts(lab):
    """The accounts whose own copies of messages the server need not
    archive: the bots, wexlab's and the desk's, which never read an archive
    (each bot keeps its transcript). The subjects' and the moderator's
    seats reload their conversations from their own archives, which keep
    every message, the bots' too."""
    return [pair.bot for pair in lab.pairs] + [NOTIFIER, DESK]


def read_replaced(folder, offset=0):
    """(lines as [time, account, older, newer], the offset after them) of
    replaced.log from offset; a torn last line waits for the next read."""
    path = os.path.join(folder, "server", REPLACED_LOG)
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            data = f.read()
    except OSError:
        return [], offset
    end = data.rfind(b"\n") + 1
    lines = data[:end].decode("utf-8", "replace").splitlines()
    return [line.split("\t") for line in lines if line.count("\t") == 3], offset + end


def refusals_note(folder):
    """A line on the stanzas the server refused so far, or None when none."""
    path = os.path.join(folder, "server", REFUSED_LOG)
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            count = sum(1 for line in f if line.strip())
    except OSError:
        return None
    if not count:
        return None
    return (f"The server refused {count} message(s) or request(s) between participants "
            f"outside their pairs; see {path}.")
