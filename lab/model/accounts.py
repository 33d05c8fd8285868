"""The lab's accounts: wexlab's own, their addresses and passwords."""

import secrets

NOTIFIER = "wexlab"  # the supervisor's own account, for notices to the moderator
DESK = "wexdesk"  # the desk's account: each bot takes it as a second moderator (DeskName)
PASSWORD_LETTERS = "abcdefghjkmnpqrstuvwxyz23456789"


def new_password():
    groups = ["".join(secrets.choice(PASSWORD_LETTERS) for _ in range(4)) for _ in range(3)]
    return "-".join(groups)


def password(lab, name):
    return lab.accounts[name].password


def jid(lab, name):
    return f"{name}@{lab.domain}"
