"""The lab's data and rules: the session file, the bot's key table as
wexlab reads it, the lab record (lab.json), matching, treatments,
placement of accounts on nodes, a pair's bot configuration, a pair's
state. Nothing here runs a server or a process; the only files touched
are the session folder's own."""
