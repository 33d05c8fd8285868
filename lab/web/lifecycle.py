"""A session's life on this machine: start (the lab server with its
accounts, the pairs' folders, matching.csv, the login cards, seats.csv and
cards.html, the supervisor and the desk) and stop (the bots, the data
collected into session_*.csv and report.html, the desk, the server). In
web/ because a session's start ends with its desk and seats; rehearsals
and the commands use it."""

import os

from ..data import bundle as bundlelib, collect as collectlib, report, report_summary
from ..model import matching, online as onlinelib, pay_rule, placement, plan, record
from ..model import seat_texts
from ..model.bot_config import write_pair_folders
from ..model.errors import LabError
from ..model.files import make_private_dir, write_json, write_private
from ..runtime import bot_check, bots, processes, proxy_process
from ..runtime.processes import say_line
from ..servers import net, policy, proxy, server as serverlib, web_page
from . import cards as cardslib, seats


def start_session(folder, session_path, bot_path, only, quiet=False):
    # The session file is checked by the wexbot that will play it, before
    # anything starts.
    bot = processes.find_bot(bot_path)
    session = bot_check.read_session(session_path, bot)
    indexes = matching.parse_only(only, session.pair_count())
    folder = os.path.abspath(folder)
    if record.exists(folder):
        if only is None:
            raise LabError(f"a session was started in {folder} already: wexlab resume "
                           "continues it; a new session needs a new folder")
        if processes.supervisor_pid(folder) is not None:
            raise LabError("a supervisor runs in this folder already")
        make_private_dir(folder)
        lab = record.load(folder)  # pairs' bots on a machine beside the server
        lab.bot_path = bot
        record.save(folder, lab)
        write_json(os.path.join(folder, "local.json"), {"pairs": indexes, "server": False})
        if os.path.exists(os.path.join(folder, bots.RUN_FILE)):
            os.remove(os.path.join(folder, bots.RUN_FILE))
    else:
        # A pay rule that pays everyone the same makes a treatment's pay
        # meaningless; the session may still be meant so, so it goes on.
        for line in pay_rule.session_warnings(session):
            say_line(line)
        lab = plan.new_lab(session, bot)
        # The seat's texts and instructions are read before anything starts,
        # so that an unreadable instructions file stops the start at once.
        texts = seat_texts.seat_texts(session, lab) if lab.web else None
        if net.port_open(lab.address, lab.port):
            raise LabError(f"something already listens on {lab.address}:{lab.port}"
                           " (another lab server?); choose another port in the Service")
        if lab.web and net.port_open(lab.address, lab.web.port):
            raise LabError(f"something already listens on {lab.address}:"
                           f"{lab.web.port}; choose another Web port or Web off")
        if runs_proxy(lab):
            check_proxy(lab)
        make_private_dir(folder)  # it holds every password
        server = serverlib.for_lab(lab, folder)
        server.set_up(lab.plain)
        if texts:
            web_page.install_texts(server.dir, texts)
        record.save(folder, lab)
        with open(os.path.join(folder, "matching.csv"), "w", encoding="utf-8") as f:
            f.write(matching.matching_text(lab))
        write_pair_folders(lab, session, folder)
        server.start()
        write_json(os.path.join(folder, "local.json"), {"pairs": indexes, "server": True})
        cards = cardslib.login_cards(lab)
        write_private(os.path.join(folder, "logins.txt"), cards + "\n")
        seats.write_seats(lab, folder)
        if lab.web:
            cardslib.write_cards(lab, folder, seat_texts.Translation(texts.lang, texts.texts))
        if lab.online:
            write_room_texts(folder, session, texts)
        if not quiet and not lab.online:  # online, the pool's cards are no one's
            say_line(cards)
        say_line(f"Lab server running on {lab.address}:{lab.port}; the login cards are "
                 f"in {folder}/logins.txt; the matching in matching.csv.")
        if lab.web and not lab.online:
            where = " (and each ejabberd node on the next ports)" if \
                placement.node_count(lab) > 1 else ""
            say_line(f"Seats in a browser: {placement.origin(lab)}/{where} with each "
                     f"participant's link in seats.csv (wexlab seats) and printable cards in "
                     f"{folder}/cards.html.")
        server.wait_other_machines(say_line)  # before any bot
    processes.start_supervisor(folder, indexes)
    if processes.local(folder)["server"]:
        processes.start_desk(folder, lab)
        if runs_proxy(lab):
            start_proxy(folder, lab)
        if lab.online and processes.start_room(folder, lab):
            say_line(f"The study link: {onlinelib.study_link(lab)} (the room on 127.0.0.1:"
                     f"{lab.online.room_port}; wexlab close stops admitting).")
    if indexes and lab.online:
        # An online session's bots start as their pairs form in the room.
        indexes = []
    if indexes:
        ready = processes.wait_online(folder, lab, indexes)
        say_line(f"{len(indexes)} bots started" + ("" if ready else " (see above)") +
                 "; wexlab status shows where each pair stands.")
    return lab


def stop_session(folder, quiet=False):
    """Stops the supervisor and every bot of this machine (SIGTERM), then
    collects, then stops the server if it runs here."""
    lab = record.load(folder)
    with open(os.path.join(folder, "stopping"), "w") as f:
        f.write("wexlab stop\n")
    supervisor = processes.supervisor_pid(folder)
    if supervisor is not None:
        bots.terminate([supervisor], 10)
    running = processes.running_bots(folder, lab)
    killed = bots.terminate(list(running.values()), 20)
    if not quiet:
        say_line(f"{len(running)} bots stopped" +
                 (f" ({len(killed)} did not stop in time and were killed)" if killed else ""))
    try:
        collect(folder, lab, quiet)
    except (OSError, ValueError) as e:
        say_line(f"wexlab: the data could not be merged ({e}); wexlab collect tries again")
    processes.stop_desk(folder)
    processes.stop_room(folder)
    if proxy_process.stop(folder) and not quiet:
        say_line("The proxy (nginx) stopped.")
    server = serverlib.for_lab(lab, folder)
    if processes.local(folder)["server"]:
        for line in server.stop_other_machines():
            say_line(line)
    if processes.local(folder)["server"] and server.stop():
        if not quiet:
            say_line("Lab server stopped.")
    note = policy.refusals_note(folder)
    if note and not quiet:
        say_line(note)


def runs_proxy(lab):
    """Proxy on: wexlab runs the session's nginx itself."""
    return bool(lab.online and lab.online.proxy)


def check_proxy(lab):
    """Refuses before anything starts when the proxy could not: no nginx,
    or its port taken."""
    if proxy_process.find_nginx() is None:
        raise LabError("Proxy on needs nginx, which is not installed (apt-get install nginx); "
                       "or write Proxy off and serve the site of wexlab proxy-config from "
                       "your own web server")
    if net.port_open("127.0.0.1", lab.online.proxy_port):
        raise LabError(f"something already listens on port {lab.online.proxy_port}; choose "
                       "another ProxyPort")
    proxy.check_site(proxy.site_for(lab))
    if not proxy_process.may_listen(lab.online.proxy_port):
        raise LabError(f"ProxyPort {lab.online.proxy_port} is below the ports a user may open "
                       "(only root may); choose a port of 1024 or more, run wexlab as root, or "
                       "see docs/online.md")


def start_proxy(folder, lab):
    """The session's nginx: the public origin of the study link."""
    try:
        listen = proxy.listen_address(lab.online.public_host)
        proxy_process.start(folder, proxy.site_for(lab, listen))
    except LabError as e:
        raise LabError(f"{e}; the lab server runs: wexlab stop stops it") from e
    origin = proxy.public_origin(lab.online.public_host, lab.online.proxy_port)
    say_line(f"The proxy (nginx) serves {origin} on port {lab.online.proxy_port}; its logs are "
             f"in {proxy_process.folder_of(folder)}.")


def write_room_texts(folder, session, texts):
    """The waiting room's instructions (the session's own values, no
    treatment's) and the page's language, for the room server."""
    template = seat_texts.instructions_template(session, seat_texts.seat_po_dir(), texts.lang)
    point = texts.texts.get(seat_texts.DECIMAL_POINT, seat_texts.DECIMAL_POINT)
    fields = seat_texts.pair_fields(session, None, point, texts.texts)
    with open(os.path.join(folder, onlinelib.INSTRUCTIONS_FILE), "w", encoding="utf-8") as f:
        f.write(seat_texts.fill(template, fields))
    write_json(os.path.join(folder, onlinelib.PAGE_FILE), {"lang": texts.lang})


def collect(folder, lab, quiet=False, bundle=False):
    warnings = []
    tables = collectlib.collect(folder, lab, warnings)
    lab = collectlib.played_lab(folder, lab)
    with open(os.path.join(folder, "report.html"), "w", encoding="utf-8") as f:
        f.write(report.render(lab, tables, lab.rounds,
                              report_summary.render_top(folder, lab, tables),
                              report_summary.render_bottom(lab, tables)))
    if not quiet:
        say_line(f"Collected {len(tables['rounds'])} round rows, {len(tables['decisions'])} "
                 f"answers, {len(tables['chat'])} chat lines and {len(tables['payouts'])} "
                 f"payout rows into session_*.csv, described in codebook.md and "
                 f"datapackage.json; the report is {folder}/report.html")
        if "participants" in tables:
            say_line(f"{len(tables['participants'])} participants into "
                     "session_participants.csv; bonuses into session_bonus.csv")
    for line in warnings:  # money owed that the bonus file leaves out
        say_line(f"wexlab: {line}")
    if bundle:
        path, _ = bundlelib.write(folder, lab, collectlib.session_id(folder, lab))
        if not quiet:
            say_line(f"The replication bundle is {path}")
    return tables
