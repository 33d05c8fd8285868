"""The session folder: the lab server and its accounts, the pairs' folders,
the login cards, and the record of it all in lab.json.

The server is Prosody, set up and started through scripts/lab-server.py
(the one place that writes Prosody's configuration and makes accounts), or
with `Server ejabberd` one ejabberd node or a cluster of them (ejabberd.py).
Either refuses what policy_pairs does not allow."""

import json
import os
import shutil

from . import certificate as certificatelib, ejabberd, lab_server, nodes, seats
from . import session as sessionlib

NOTIFIER = "wexlab"  # the supervisor's own account, for notices to the moderator
DESK = "wexdesk"  # the desk's account: each bot takes it as a second moderator (DeskName)
LabError = lab_server.LabError


def read_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def write_json(path, data, private=False):
    """Replaces path atomically (a temporary file, then rename)."""
    temporary = path + ".tmp"
    text = json.dumps(data, indent=1) + "\n"
    if private:
        lab_server.write_private(temporary, text)
    else:
        with open(temporary, "w", encoding="utf-8") as f:
            f.write(text)
    os.replace(temporary, path)


def load(folder):
    path = os.path.join(folder, "lab.json")
    if not os.path.exists(path):
        raise LabError(f"no lab session in {folder} (run wexlab start SESSION.conf there)")
    return read_json(path)


def service_parts(session):
    service = lab_server.parse_service(session.values["Service"])
    return service["domain"], service["host"], service["port"], service["tls"] == "off"


def contact_groups(lab):
    """Shared rosters as (group, [members]): each member sees the others.
    Each subject sees only its pair's bot, the moderator sees every bot, so
    nobody has to add contacts by hand and each bot sees its subjects'
    presence."""
    groups = []
    for pair in lab["pairs"]:
        for subject in (pair["subject1"], pair["subject2"]):
            groups.append((f"{pair['bot']}-{subject}", [pair["bot"], subject]))
    groups.append(("moderator", [lab["moderator"]] + [p["bot"] for p in lab["pairs"]] +
                   [NOTIFIER, DESK]))
    return groups


def groups_file(lab):
    """Prosody's shared rosters (mod_groups)."""
    d = lab["domain"]
    lines = []
    for group, members in contact_groups(lab):
        lines.append(f"[{group}]")
        lines += [f"{name}@{d}={name}" for name in members]
    return "\n".join(lines) + "\n"


def policy_pairs(lab):
    """The accounts that may talk: each subject with its own pair's bot, the
    moderator with every bot, and wexlab's own account with every bot and
    the moderator (its notices), and the desk's account with every bot. The
    server refuses everything else."""
    moderator = lab["moderator"]
    pairs = []
    for pair in lab["pairs"]:
        bot = pair["bot"]
        pairs += [(bot, pair["subject1"]), (bot, pair["subject2"]), (bot, moderator),
                  (bot, NOTIFIER), (bot, DESK)]
    pairs.append((moderator, NOTIFIER))
    return pairs


def is_ejabberd(lab):
    return lab.get("server") == "ejabberd"


def set_up_ejabberd(lab, folder):
    """The nodes' folders, the policy and every account's password; the
    accounts are made as the cluster starts (start_server)."""
    server = os.path.join(folder, "server")
    lab_server.make_private_dir(server)
    certificate = certificatelib.install(lab, server)
    lab["certificate"] = certificate["path"]
    lab["fingerprints"] = {digest: certificate[digest] for digest in ("sha256", "sha1")}
    key = certificate["path"][:-len(".crt")] + ".key"
    ejabberd.set_up(lab, folder, certificate["path"], key)
    lab_server.write_policy(server, policy_pairs(lab))
    nodes.write_kits(lab, folder)  # each carries the policy for its node
    lab["accounts"] = {}
    for role, name in lab["names"].items():
        lab["accounts"][role] = {"name": name, "jid": f"{name}@{lab['domain']}",
                                 "password": lab_server.new_password()}
    if lab.get("web"):
        seats.install_page(lab, server)
    return lab


def set_up_server(lab, folder, plain):
    """A fresh Prosody folder with the certificate, the shared rosters and
    every account of the session; returns the lab with the passwords."""
    if is_ejabberd(lab):
        return set_up_ejabberd(lab, folder)
    server = os.path.join(folder, "server")
    lab_server.make_private_dir(server)
    shutil.rmtree(os.path.join(server, "data"), ignore_errors=True)
    os.makedirs(os.path.join(server, "data"), mode=0o700)
    certificate = certificatelib.install(lab, server)
    lab["certificate"] = certificate["path"]
    lab["fingerprints"] = {digest: certificate[digest] for digest in ("sha256", "sha1")}
    roster = os.path.join(server, "groups.txt")
    lab_server.write_private(roster, groups_file(lab))
    lab_server.write_policy(server, policy_pairs(lab))
    modules, web_lines = seats.prosody_settings(lab, server)
    config = lab_server.prosody_config(lab, server, plain, modules, web_lines)
    config += f'  modules_enabled = {{ "groups" }}\n  groups_file = "{roster}"\n'
    cfg = os.path.join(server, "prosody.cfg.lua")
    lab_server.write_private(cfg, config)
    lab["accounts"] = {}
    lab_server.create_accounts(lab, cfg)
    if lab.get("web"):
        seats.install_page(lab, server)
    return lab


def start_server(lab, folder):
    """Starts the server unless it runs; returns whether it started."""
    if is_ejabberd(lab):
        marker = os.path.join(folder, "server", "accounts-made")
        started = ejabberd.start(lab, folder, fresh=not os.path.exists(marker),
                                 groups=contact_groups(lab))
        with open(marker, "w") as f:
            f.write("the cluster holds every account\n")
        return started
    server = os.path.join(folder, "server")
    if lab_server.running_pid(server) is None:
        lab_server.start_prosody(server, lab)
        return True
    return False


def stop_server(folder):
    lab = read_json(os.path.join(folder, "lab.json")) if os.path.exists(
        os.path.join(folder, "lab.json")) else {}
    if is_ejabberd(lab):
        return ejabberd.stop(lab, folder)
    return lab_server.stop_prosody(os.path.join(folder, "server"))


def refusals_note(folder):
    """A line on the stanzas the server refused so far, or None when none."""
    path = os.path.join(folder, "server", lab_server.REFUSED_LOG)
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            count = sum(1 for line in f if line.strip())
    except OSError:
        return None
    if not count:
        return None
    return (f"The server refused {count} message(s) or request(s) between participants "
            f"outside their pairs; see {path}.")


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
    matched = sessionlib.match(session.subjects, session.seed)
    assigned = sessionlib.assign_treatments([t.name for t in session.treatments], len(matched),
                                            session.seed)
    for index, (first, second) in enumerate(matched, start=1):
        pair = {"index": index, "bot": sessionlib.pair_name(index, len(matched)),
                "subject1": first, "subject2": second}
        treatment = assigned[index - 1]
        if treatment is not None:
            pair["treatment"] = treatment
            pair["rounds"] = int(session.game_values(treatment)["NRounds"])
        pairs.append(pair)
    names = {pair["bot"]: pair["bot"] for pair in pairs}
    names.update({name: name for name in session.subjects})
    names[session.moderator] = session.moderator
    names[NOTIFIER] = NOTIFIER
    names[DESK] = DESK
    lab = {"session": os.path.abspath(session.path), "domain": domain, "address": host,
           "port": port, "plain": plain, "service": session.values["Service"],
           "moderator": session.moderator, "seed": session.seed, "pairs": pairs,
           "rounds": session.rounds, "web": seats.settings(session.values),
           "certificate_files": certificatelib.session_files(session.values, session.path),
           "names": names, "bot_path": bot_path, "log_file": session.values["LogFile"],
           "desk_account": DESK, "desk": session.desk_settings(), "server": server}
    if server == "ejabberd":
        ejabberd.plan_nodes(lab, count)
        nodes.plan(lab, session.values)  # other machines' nodes, if any
    if session.treatments:
        lab["treatments"] = [{"name": t.name, "values": t.values} for t in session.treatments]
    return lab


def matching_text(lab):
    """matching.csv: who plays whom and, in a session of treatments, under which."""
    treatments = [p["treatment"] for p in lab["pairs"]] if lab.get("treatments") else None
    return sessionlib.matching_csv([(p["subject1"], p["subject2"]) for p in lab["pairs"]],
                                   treatments)


def pair_rounds(lab, pair):
    """The rounds a pair plays: its treatment's NRounds or the session's."""
    return pair.get("rounds", lab["rounds"])


def password(lab, name):
    return lab["accounts"][name]["password"]


def jid(lab, name):
    return f"{name}@{lab['domain']}"


def on_own_node(lab, bot, text):
    """The bot's configuration with its Service on the address and port of
    its node."""
    address, port = ejabberd.address_of(lab, bot), ejabberd.port_of(lab, bot)
    if (address, port) == (lab["address"], lab["port"]):
        return text
    at = f"@{lab['address']}:{lab['port']}"
    return "\n".join(line.replace(at, f"@{address}:{port}", 1)
                     if line.startswith("Service ") else line for line in text.split("\n"))


def write_pair_folders(lab, session, folder):
    for pair in lab["pairs"]:
        pair_dir = os.path.join(folder, pair["bot"])
        lab_server.make_private_dir(pair_dir)
        text = sessionlib.bot_config(session, pair["bot"], pair["subject1"], pair["subject2"],
                                     pair.get("treatment"))
        with open(os.path.join(pair_dir, "wexbot.conf"), "w", encoding="utf-8") as f:
            f.write(on_own_node(lab, pair["bot"], text))
        lab_server.write_private(os.path.join(pair_dir, "passwords.txt"),
                                 f"{password(lab, pair['bot'])}\nLAB-KEY-{pair['bot']}\n")


def login_cards(lab):
    """What each participant types into an XMPP client."""
    a, p = lab["address"], lab["port"]
    fp = lab["fingerprints"]
    where = f"port {p}" if not lab.get("nodes") or len(lab["nodes"]) == 1 else \
        "the port on each card"
    if any(ejabberd.is_remote(lab, i) for i in range(ejabberd.node_count(lab))):
        a, where = "and port", "as each card says"
    lines = [f"Server {a}, {where}, domain {lab['domain']}. Its certificate is self-signed;",
             "accept it after comparing its fingerprint:",
             f"  SHA-256 {fp['sha256']}", f"  SHA-1   {fp['sha1']}",
             f"  (the certificate file: {lab['certificate']})", ""]

    def card(name, title, write_to):
        lines.extend([f"{title}", f"  address   {jid(lab, name)}",
                      f"  password  {password(lab, name)}",
                      f"  server    {ejabberd.address_of(lab, name)}   port "
                      f"{ejabberd.port_of(lab, name)}",
                      f"  write to  {write_to}", ""])

    for pair in lab["pairs"]:
        for number in (1, 2):
            name = pair[f"subject{number}"]
            card(name, f"{name}: subject {number} of pair {pair['index']}",
                 jid(lab, pair["bot"]))
    bots = ", ".join(jid(lab, pair["bot"]) for pair in lab["pairs"])
    card(lab["moderator"], f"{lab['moderator']}: the moderator", f"each pair's bot: {bots}")
    return "\n".join(lines)
