"""What runs during a session on this machine: the pairs' bots (bots.py),
the supervisor that restarts them (supervisor.py), wexlab's XMPP clients
(xmpp.py), the session's processes and their files (processes.py), and the
state read from the session's files (status.py)."""
