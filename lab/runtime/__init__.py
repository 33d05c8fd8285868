"""What runs during a session on this machine: the pairs' bots (bots.py),
the supervisor that restarts them (supervisor.py), wexlab's XMPP clients
(xmpp.py), the session's processes and their files (processes.py), the
state read from the session's files (status.py), and the session file
checked by the wexbot that will play it (bot_check.py)."""
