"""The command line: main.py parses it and runs one module per command
(start, resume, status, desk, seats, say, stop, collect, node, rehearse,
bench, and the internal _supervise and _desk)."""
