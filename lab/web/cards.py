"""cards.html: one printable card per participant and page, with the
sign-in link and its QR code, the details for an XMPP client of one's own,
the certificate's fingerprints and three lines on how to play; and
logins.txt, the same details as text for XMPP clients (login_cards)."""

import html
import os

from ..model.accounts import jid, password
from ..model.errors import LabError
from ..model.files import write_private
from ..model.placement import address_of, is_remote, node_count, port_of
from ..model.seat_texts import N_, Translation
from . import seats

# The cards' texts are in the session's language, from the seat's
# catalogue (po/seat/), like the page they open.
PLAY = (N_("Read the instructions on the page and press Start to join the game "
           "(in a chat program: write anything to the bot)."),
        N_("Answers are whole numbers from 0 to 60."),
        N_("In a chat break, write done when you are finished."))
MODERATOR = (N_("Each pair's bot has its own chat; what you write goes to that bot."),
             N_("? asks a bot where its game stands."),
             N_("Keep this card: the link signs you in again after a reload."))
STYLE = """
body { font: 13pt/1.4 sans-serif; margin: 0; color: #000; }
.card { break-after: page; page-break-after: always; padding: 12mm 14mm; }
.card:last-child { break-after: auto; page-break-after: auto; }
h1 { font-size: 22pt; margin: 0 0 2mm; }
.role { font-size: 14pt; margin: 0 0 6mm; }
.qr svg { width: 55mm; height: 55mm; }
.link { font: 11pt monospace; overflow-wrap: anywhere; margin: 2mm 0 6mm; }
ol { font-size: 15pt; margin: 0 0 6mm; }
.own { font-size: 10.5pt; border-top: 1px solid #000; padding-top: 3mm; }
.own code { font-size: 10pt; white-space: nowrap; }
.own .fp { white-space: normal; overflow-wrap: anywhere; }
@page { size: A4; margin: 0; }
@media screen { .card { min-height: 296mm; border-bottom: 2px dashed #888; } }
"""


def qr_svg(text):
    """(SVG of text's QR code, modules per side), drawn by python3-qrcode."""
    try:
        import qrcode
        import qrcode.image.svg
    except ImportError:
        raise LabError("the cards' QR codes need python3-qrcode "
                       "(apt-get install python3-qrcode)")
    code = qrcode.QRCode(border=4, error_correction=qrcode.constants.ERROR_CORRECT_M,
                         image_factory=qrcode.image.svg.SvgPathImage)
    code.add_data(text)
    code.make(fit=True)
    return code.make_image().to_string().decode("ascii"), code.modules_count


def code(text, kind=None):
    attribute = f' class="{kind}"' if kind else ""
    return f"<code{attribute}>{html.escape(str(text))}</code>"


def own_client(lab, name, tr):
    """The details for a participant who uses an XMPP client of their own;
    each text is escaped before its values (HTML) go in."""
    e = html.escape
    fp = lab.fingerprints
    account = f"{name}@{lab.domain}"
    details = e(tr.t("instead of the link: address {account}, password {password}, "
                     "server {server} port {port}.")).format(
        account=code(account), password=code(lab.accounts[name].password),
        server=code(lab.address), port=code(port_of(lab, name)))
    certificate = tr.t("The lab certificate is the lab's own: when the browser or client "
                       "asks, check that it shows one of these fingerprints and accept it "
                       "permanently.")
    own = tr.t("With your own XMPP client")
    return (f'<div class="own"><b>{e(own)}</b> {details}'
            f'<br>{e(certificate)}<br>'
            f'SHA-256 {code(fp["sha256"], "fp")}<br>'
            f'SHA-1 {code(fp["sha1"], "fp")}'
            f'</div>')


def card(lab, seat, tr):
    e = html.escape
    if seat["role"] == "subject":
        role = tr.t("Participant, pair {pair}", pair=seat["pair"])
        lines = [tr.t(line) for line in PLAY]
    else:
        role, lines = tr.t("Moderator"), [tr.t(line) for line in MODERATOR]
    svg, _ = qr_svg(seat["link"])
    items = "".join(f"<li>{e(line)}</li>" for line in lines)
    # Texts for the catalogue are never inside an f-string, where xgettext
    # does not look.
    open_link = tr.t("Open this link in a browser, or scan the code:")
    return (f'<section class="card"><h1>{e(seat["name"])}</h1><p class="role">{e(role)}</p>'
            f'<p>{e(open_link)}</p>'
            f'<div class="qr">{svg}</div><p class="link">{e(seat["link"])}</p>'
            f'<ol>{items}</ol>{own_client(lab, seat["name"], tr)}</section>')


def render(lab, tr=Translation()):
    """The cards in tr's language."""
    body = "\n".join(card(lab, seat, tr) for seat in seats.rows(lab))
    return (f'<!DOCTYPE html>\n<html lang="{html.escape(tr.lang)}"><head><meta charset="utf-8">'
            f'<title>Seat cards</title><style>{STYLE}</style></head>\n<body>\n{body}\n'
            f'</body></html>\n')


def write_cards(lab, folder, tr=Translation()):
    """cards.html in the session folder; it holds passwords, so it is 0600."""
    write_private(os.path.join(folder, "cards.html"), render(lab, tr))


def login_cards(lab):
    """What each participant types into an XMPP client."""
    a, p = lab.address, lab.port
    fp = lab.fingerprints
    where = f"port {p}" if not lab.nodes or len(lab.nodes) == 1 else \
        "the port on each card"
    if any(is_remote(lab, i) for i in range(node_count(lab))):
        a, where = "and port", "as each card says"
    lines = [f"Server {a}, {where}, domain {lab.domain}. Its certificate is self-signed;",
             "accept it after comparing its fingerprint:",
             f"  SHA-256 {fp['sha256']}", f"  SHA-1   {fp['sha1']}",
             f"  (the certificate file: {lab.certificate})", ""]

    def card(name, title, write_to):
        lines.extend([f"{title}", f"  address   {jid(lab, name)}",
                      f"  password  {password(lab, name)}",
                      f"  server    {address_of(lab, name)}   port "
                      f"{port_of(lab, name)}",
                      f"  write to  {write_to}", ""])

    for pair in lab.pairs:
        for number in (1, 2):
            name = pair.subjects()[number - 1]
            card(name, f"{name}: subject {number} of pair {pair.index}",
                 jid(lab, pair.bot))
    bots = ", ".join(jid(lab, pair.bot) for pair in lab.pairs)
    card(lab.moderator, f"{lab.moderator}: the moderator", f"each pair's bot: {bots}")
    return "\n".join(lines)
