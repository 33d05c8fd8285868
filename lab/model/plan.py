"""A new session's lab record from its session file: the server, the
pairs with their treatments, every account's name, the nodes and where
each account signs on, the web seats, the desk and the certificate's files."""

import os

from . import matching, online as onlinelib, placement, treatments
from .accounts import DESK, NOTIFIER
from .errors import LabError
from .record import Desk, Lab, Pair, Treatment, Web, new_session_id
from .service import parse_service

DEFAULT_WEB_PORT = 5280


def web_settings(values):
    """{"port", "tls"} of the session's web seats, or None for `Web off`."""
    web = values.get("Web", str(DEFAULT_WEB_PORT))
    if web == "off":
        return None
    return {"port": int(web), "tls": values.get("WebTls", "off") == "on"}


def session_files(values, session_path):
    """(certificate, key) named by the session file, as absolute paths
    (relative ones from the session file's folder), or None."""
    cert, key = values.get("Certificate"), values.get("CertificateKey")
    if not cert and not key:
        return None
    if not cert or not key:
        raise LabError("Certificate and CertificateKey go together: name both "
                       "files, or neither for wexlab's own certificate")
    base = os.path.dirname(os.path.abspath(session_path))
    return [os.path.join(base, cert), os.path.join(base, key)]


def service_parts(session):
    service = parse_service(session.values["Service"])
    return service["domain"], service["host"], service["port"], service["tls"] == "off"


def new_lab(session, bot_path):
    domain, host, port, plain = service_parts(session)
    server = session.values.get("Server", "prosody")
    count = int(session.values.get("ServerNodes", "1"))
    if server == "prosody" and count != 1:
        raise LabError("ServerNodes needs Server ejabberd: Prosody runs as one server")
    if server == "prosody" and ("Nodes" in session.values or "ClusterPort" in session.values):
        raise LabError("Nodes and ClusterPort need Server ejabberd: Prosody runs on one "
                       "machine")
    if server == "ejabberd" and plain:
        raise LabError("Server ejabberd requires TLS: leave tls=off out of the Service")
    pairs = []
    names_of = [t.name for t in session.treatments]
    if session.online:
        # The pool: pair k is seat{2k-1} and seat{2k}, formed in the room in
        # the order 1, 2, 3, ...; its treatment in rotation by index keeps
        # the pairs that form balanced however many do.
        subjects = session.subjects
        matched = [(subjects[i], subjects[i + 1]) for i in range(0, len(subjects), 2)]
        assigned = [names_of[i % len(names_of)] if names_of else None
                    for i in range(len(matched))]
    else:
        matched = matching.match(session.subjects, session.seed)
        assigned = treatments.assign_treatments(names_of, len(matched), session.seed)
    for index, (first, second) in enumerate(matched, start=1):
        pair = Pair(index, matching.pair_name(index, len(matched)), first, second)
        treatment = assigned[index - 1]
        if treatment is not None:
            pair.treatment = treatment
            pair.rounds = int(session.game_values(treatment)["NRounds"])
        pairs.append(pair)
    names = {pair.bot: pair.bot for pair in pairs}
    names.update({name: name for name in session.subjects})
    names[session.moderator] = session.moderator
    names[NOTIFIER] = NOTIFIER
    names[DESK] = DESK
    web = web_settings(session.values)
    lab = Lab(session=os.path.abspath(session.path), domain=domain, address=host, port=port,
              plain=plain, service=session.values["Service"], moderator=session.moderator,
              seed=session.seed, pairs=pairs, rounds=session.rounds,
              web=Web(**web) if web else None,
              certificate_files=session_files(session.values, session.path), names=names,
              bot_path=bot_path, log_file=session.values["LogFile"], desk_account=DESK,
              desk=Desk(**session.desk_settings()), server=server,
              treatments=[Treatment(t.name, dict(t.values)) for t in session.treatments],
              session_id=new_session_id(),
              online=onlinelib.online_settings(session.values) if session.online else None)
    if server == "ejabberd":
        placement.plan_nodes(lab, count)
        placement.plan_remote(lab, session.values)  # other machines' nodes, if any
    return lab
