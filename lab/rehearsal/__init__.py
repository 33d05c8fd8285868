"""Sessions played by robots: robot subjects over XMPP (robots.py) and in a
browser (browser.py, seat_robots.py), a rehearsal played (play.py) and the
bench's figures (bench.py)."""
