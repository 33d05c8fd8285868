"""Where wexlab's parts lie. The package (lab/) sits in HOME: the source
tree's root, or PREFIX/lib/wex once installed. Both hold the pages in
HOME/web; the launcher is HOME/scripts/wexlab in the source tree and
HOME/wexlab installed."""

import os

PACKAGE = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
HOME = os.path.dirname(PACKAGE)
# The pages (seat/, desk/) and the seat's library (node_modules/).
WEB = os.path.join(HOME, "web")


def po_dir():
    """The message catalogues (wexbot/ for the bots, seat/ for the page):
    $WEX_PO_DIR, else the source tree's po/, else the installed
    PREFIX/share/wex/po."""
    given = os.environ.get("WEX_PO_DIR")
    if given:
        return given
    source = os.path.join(HOME, "po")
    if os.path.isdir(source):
        return source
    return os.path.join(os.path.dirname(os.path.dirname(HOME)), "share", "wex", "po")


def launcher():
    """The wexlab program that runs this package (for its own processes:
    the supervisor, the desk)."""
    installed = os.path.join(HOME, "wexlab")
    return installed if os.path.isfile(installed) else os.path.join(HOME, "scripts", "wexlab")


def seat_po_dir():
    """The seat page's catalogues, CODE.po, and its default instructions."""
    return os.path.join(po_dir(), "seat")
