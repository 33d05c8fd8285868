"""What people open: the desk (desk.py, the pages in the root web/desk),
the seats' links and seats.csv (seats.py), the printable cards and login
cards (cards.py); and a session's start and stop (lifecycle.py)."""
