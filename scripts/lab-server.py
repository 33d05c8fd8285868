#!/usr/bin/python3
"""Runs a Prosody XMPP server for one lab session of wexbot.

  lab-server.py start CONFIG [--address ADDR] [--port PORT] [--dir DIR] [--allow-plain]
  lab-server.py stop [--dir DIR]
  lab-server.py resume [--dir DIR]

start reads the bot's configuration file CONFIG, makes the server's folder
DIR (default ./wex-lab) with a self-signed certificate, creates the four
accounts of the configuration (bot, subject 1, subject 2, moderator) with
fresh passwords, writes the bot's password into its password file, starts
Prosody on ADDR:PORT (default: the HOST:PORT of the configuration's Service,
else 127.0.0.1:5222) and prints what each participant types into their XMPP
client. stop stops the server; resume starts it again with the same accounts.
DIR/accounts.json holds the accounts for programs (the end-to-end tests).

The server lets accounts exchange messages only as DIR/allowed.txt says:
here the bot with each subject and with the moderator (wexlab writes its
own pairs). Everything else is refused with an error the sender sees, and
each refusal is a line of DIR/refused.log. The lab's folders are for their
owner alone, and every file holding a password or key is 0600.
"""

import argparse
import json
import os
import re
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import time

ROLES = [("bot", "BotUsername"), ("subject1", "Subject1Name"),
         ("subject2", "Subject2Name"), ("moderator", "ModeratorName")]
ROLE_TITLES = {"subject1": "Subject 1", "subject2": "Subject 2", "moderator": "Moderator"}
PASSWORD_LETTERS = "abcdefghjkmnpqrstuvwxyz23456789"
# The Prosody module that keeps participants to their own conversations.
PLUGINS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "prosody")
POLICY_FILE = "allowed.txt"  # pairs of accounts that may talk, in the server's folder
REFUSED_LOG = "refused.log"  # one line per refused stanza, in the server's folder


class LabError(Exception):
    """A problem the user can fix; its text says how."""


def config_value(text, key):
    """The value of the first `Key value` line for key, as the bot reads it."""
    for line in text.replace("\r", "\n").split("\n"):
        if line == key:
            return ""
        if line.startswith(key) and line[len(key)] in " \t":
            return line[len(key):].lstrip(" \t")
    return None


def leading_int(text):
    """The number at the start of text, or 0, like the C library's atoi."""
    match = re.match(r"\s*([+-]?\d+)", text or "")
    return int(match.group(1)) if match else 0


def parse_service(value):
    """Splits `xmpp:DOMAIN[@HOST[:PORT]][;options]` into a dict."""
    if not value or not value.startswith("xmpp:"):
        raise LabError("the configuration's Service must be an xmpp: service, e.g. "
                       "Service xmpp:lab.wex@127.0.0.1:5222;trust=any")
    parts = value[5:].strip().split(";")
    domain, _, hostport = parts[0].partition("@")
    host, port = hostport, None
    if ":" in hostport and not hostport.endswith("]"):
        host, _, port = hostport.rpartition(":")
    options = dict(p.lower().partition("=")[::2] for p in parts[1:])
    return {"domain": domain.lower(), "host": host.strip("[]") or None,
            "port": int(port) if port and port.isdigit() else None,
            "tls": options.get("tls", "required"), "trust": options.get("trust", "system")}


def check_name(role, key, name):
    if name is None or name == "":
        raise LabError(f"{key} is missing from the configuration")
    if not re.fullmatch(r"[a-z0-9._-]{1,13}", name):
        raise LabError(f"{key} '{name}' cannot be an XMPP account name: use 1 to 13 lower-case "
                       "letters, digits, '.', '_' or '-' (servers keep addresses in lower case, "
                       "so the bot would not recognise a name with capitals)")
    return name


def read_config(path, args):
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise LabError(f"cannot read the configuration {path}: {e.strerror}")
    service = parse_service(config_value(text, "Service"))
    names = {role: check_name(role, key, config_value(text, key)) for role, key in ROLES}
    if len(set(names.values())) != 4:
        raise LabError("the four screen names of the configuration must differ")
    address = args.address or service["host"] or "127.0.0.1"
    port = args.port or service["port"] or 5222
    wanted = f"xmpp:{service['domain']}@{address}:{port}" + (
        ";tls=off" if args.allow_plain and service["tls"] == "off" else ";trust=any")
    if service["host"] != address or (service["port"] or 5222) != port:
        raise LabError(f"the bot must connect to this server: write the line\n"
                       f"  Service {wanted}\ninto {path}")
    if service["tls"] == "off" and not args.allow_plain:
        raise LabError("the Service says tls=off but the lab server requires TLS: use "
                       "';trust=any' instead, or start the server with --allow-plain")
    if service["tls"] != "off" and service["trust"] != "any":
        raise LabError(f"the lab server's certificate is self-signed, so the bot must accept "
                       f"it: write the line\n  Service {wanted}\ninto {path}")
    password_file = config_value(text, "PasswordFile")
    if not password_file:
        raise LabError("PasswordFile is missing from the configuration")
    password_index = leading_int(config_value(text, "BotPasswordIndex"))
    key_index = leading_int(config_value(text, "KeyIndex"))
    if password_index < 0 or key_index < 0 or password_index == key_index:
        raise LabError("BotPasswordIndex and KeyIndex must be two different line numbers "
                       "(0 is the first line)")
    return {"domain": service["domain"], "address": address, "port": port, "names": names,
            "password_file": os.path.abspath(password_file),
            "password_index": password_index, "key_index": key_index}


def new_password():
    groups = ["".join(secrets.choice(PASSWORD_LETTERS) for _ in range(4)) for _ in range(3)]
    return "-".join(groups)


def write_private(path, text):
    """Writes text into path readable by its owner alone; a file that was
    there already loses every other access before the text goes in."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        os.fchmod(fd, 0o600)
        f.write(text)


def make_private_dir(path):
    """Makes path, or takes an existing one, for its owner alone."""
    os.makedirs(path, mode=0o700, exist_ok=True)
    os.chmod(path, 0o700)


def write_policy(folder, pairs):
    """The accounts that may talk to each other, two names a line; the
    server's policy module reads it when it starts."""
    lines = ["# Accounts that may exchange messages on this server; others are refused."]
    lines += [f"{a} {b}" for a, b in pairs]
    write_private(os.path.join(folder, POLICY_FILE), "\n".join(lines) + "\n")


def default_policy(names):
    """One pair's lab: the bot with each subject and with the moderator."""
    return [(names["bot"], names[role]) for role in ("subject1", "subject2", "moderator")]


def write_password_file(lab):
    """Puts the bot's password on its line; keeps the other lines, and gives
    the key line a text when it has none."""
    lines = []
    if os.path.exists(lab["password_file"]):
        with open(lab["password_file"], encoding="utf-8") as f:
            lines = f.read().replace("\r\n", "\n").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
    needed = max(lab["password_index"], lab["key_index"]) + 1
    lines += [""] * (needed - len(lines))
    lines[lab["password_index"]] = lab["accounts"]["bot"]["password"]
    if not lines[lab["key_index"]]:
        lines[lab["key_index"]] = "LAB-KEY"
    write_private(lab["password_file"], "\n".join(lines) + "\n")


def prosody_config(lab, folder, allow_plain, modules=(), extra=()):
    """Prosody's configuration; modules are loaded besides the usual ones and
    extra are more global lines (wexlab's web seats)."""
    d = folder
    more = "".join(f' "{m}";' for m in modules)
    lines = [
        "-- Written by lab-server.py for one lab session of wexbot.",
        f'pidfile = "{d}/prosody.pid"',
        f'data_path = "{d}/data"',
        f'certificates = "{d}/certs"',
        f'log = {{ info = "{d}/prosody.log"; error = "{d}/prosody.err" }}',
        f'interfaces = {{ "{lab["address"]}" }}',
        f'c2s_interfaces = {{ "{lab["address"]}" }}',
        f'c2s_ports = {{ {lab["port"]} }}',
        "c2s_direct_tls_ports = { }",
        "s2s_ports = { }",
        "http_ports = { }",
        "https_ports = { }",
        f"c2s_require_encryption = {'false' if allow_plain else 'true'}",
        "allow_registration = false",
        'authentication = "internal_hashed"',
        f'plugin_paths = {{ "{PLUGINS}" }}',
        'modules_enabled = { "roster"; "saslauth"; "tls"; "disco"; "ping"; "offline";',
        '                    "carbons"; "smacks"; "blocklist"; "private"; "wex_lab_policy";'
        f'{more} }}',
        'modules_disabled = { "s2s" }',
        f'wex_lab_policy_file = "{d}/{POLICY_FILE}"',
        f'wex_lab_refused_log = "{d}/{REFUSED_LOG}"',
    ]
    # Prosody warns of an option set twice: extra lines replace the defaults.
    replaced = {line.split("=")[0].strip() for line in extra}
    lines = [line for line in lines if line.split(" = ")[0] not in replaced] + list(extra)
    if os.geteuid() == 0:
        lines.append("run_as_root = true")
    lines += [
        f'VirtualHost "{lab["domain"]}"',
        f'  ssl = {{ key = "{d}/certs/{lab["domain"]}.key"; '
        f'certificate = "{d}/certs/{lab["domain"]}.crt" }}',
    ]
    return "\n".join(lines) + "\n"


def make_certificate(lab, folder):
    certs = os.path.join(folder, "certs")
    make_private_dir(certs)
    key = os.path.join(certs, lab["domain"] + ".key")
    crt = os.path.join(certs, lab["domain"] + ".crt")
    write_private(key, "")  # openssl keeps the mode of a file that exists
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "365",
         "-keyout", key, "-out", crt, "-subj", "/CN=" + lab["domain"],
         "-addext", "subjectAltName=DNS:" + lab["domain"]])
    prints = {}
    for digest in ("sha1", "sha256"):
        out = run(["openssl", "x509", "-noout", "-fingerprint", f"-{digest}", "-in", crt])
        prints[digest] = out.strip().split("=", 1)[-1]
    return {"path": crt, **prints}


def run(command, stdin_text=None):
    try:
        done = subprocess.run(command, input=stdin_text, capture_output=True, text=True,
                              timeout=60)
    except FileNotFoundError:
        raise LabError(f"{command[0]} is not installed (apt-get install prosody openssl)")
    if done.returncode != 0:
        raise LabError(f"{' '.join(command[:3])} failed: {(done.stderr or done.stdout).strip()}")
    return done.stdout


def create_accounts(lab, cfg):
    for role, name in lab["names"].items():
        password = new_password()
        jid = f"{name}@{lab['domain']}"
        # The password goes through standard input, not the command line.
        run(["prosodyctl", "--config", cfg, "adduser", jid], f"{password}\n{password}\n")
        lab["accounts"][role] = {"name": name, "jid": jid, "password": password}


def running_pid(folder):
    """The pid of the folder's Prosody while it runs (an exited process that
    nobody has reaped yet does not count)."""
    try:
        with open(os.path.join(folder, "prosody.pid")) as f:
            pid = int(f.read().strip())
        os.kill(pid, 0)
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[-1].split()[0] == "Z":
                return None
        return pid
    except (OSError, ValueError, IndexError):
        return None


def port_open(address, port):
    try:
        with socket.create_connection((address, port), timeout=1):
            return True
    except OSError:
        return False


def start_prosody(folder, lab):
    if port_open(lab["address"], lab["port"]):
        raise LabError(f"something already listens on {lab['address']}:{lab['port']} "
                       "(another XMPP server?); choose another --port")
    cfg = os.path.join(folder, "prosody.cfg.lua")
    run(["prosody", "--config", cfg, "-D"])
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if port_open(lab["address"], lab["port"]):
            return
        time.sleep(0.1)
    stop_prosody(folder)
    raise LabError(f"Prosody did not start; see {folder}/prosody.err and prosody.log")


def stop_prosody(folder):
    pid = running_pid(folder)
    if pid is None:
        return False
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and running_pid(folder) == pid:
        time.sleep(0.1)
    if running_pid(folder) == pid:
        os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(folder, "prosody.pid"))
    except OSError:
        pass
    return True


def print_instructions(lab, config_path, folder, fingerprint, allow_plain):
    a = lab["accounts"]
    print(f"Lab server running: Prosody for {lab['domain']} on {lab['address']}:{lab['port']}"
          f" (folder {folder})")
    print(f"The bot signs on as {a['bot']['jid']}; its password is now line "
          f"{lab['password_index'] + 1} of {lab['password_file']}.")
    print()
    print("Each participant adds an account to an XMPP client (Gajim, Pidgin, Profanity,")
    print("Conversations, ...) with these details; the server and port go into the")
    print("account's advanced connection settings:")
    for role in ("subject1", "subject2", "moderator"):
        print(f"  {ROLE_TITLES[role]:<10} address {a[role]['jid']:<28} password "
              f"{a[role]['password']}   server {lab['address']}   port {lab['port']}")
    print("The server's certificate is self-signed; accept it when the client asks after "
          "checking its fingerprint\n(Profanity shows SHA-1, most others SHA-256), or give "
          "the client the certificate file\n(Poezio):")
    print(f"  SHA-1    {fingerprint['sha1']}")
    print(f"  SHA-256  {fingerprint['sha256']}")
    print(f"  file     {fingerprint['path']}")
    if allow_plain:
        print("Clients may also connect without encryption (--allow-plain).")
    print(f"Then each adds {a['bot']['jid']} as a contact and writes to it once the bot "
          "is running;\nthe bot accepts and asks back to see them: accept its request.")
    print(f"The server refuses messages between any other two accounts and notes each "
          f"refusal in\n{os.path.join(folder, REFUSED_LOG)}.")
    print()
    print(f"Start the bot:    wexbot {config_path}   (Ctrl+C stops it in order)")
    print(f"Stop the server:  {sys.argv[0]} stop --dir {folder}")


def command_start(args):
    lab = read_config(args.config, args)
    folder = os.path.abspath(args.dir)
    if running_pid(folder) is not None:
        raise LabError(f"a lab server is already running from {folder}; stop it first")
    make_private_dir(folder)
    shutil.rmtree(os.path.join(folder, "data"), ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"), mode=0o700)
    fingerprint = make_certificate(lab, folder)
    cfg = os.path.join(folder, "prosody.cfg.lua")
    write_private(cfg, prosody_config(lab, folder, args.allow_plain))
    write_policy(folder, default_policy(lab["names"]))
    lab["accounts"] = {}
    create_accounts(lab, cfg)
    write_password_file(lab)
    write_private(os.path.join(folder, "accounts.json"), json.dumps(lab, indent=2) + "\n")
    start_prosody(folder, lab)
    print_instructions(lab, args.config, folder, fingerprint, args.allow_plain)


def load_lab(folder):
    try:
        with open(os.path.join(folder, "accounts.json"), encoding="utf-8") as f:
            return json.load(f)
    except OSError:
        raise LabError(f"no lab server was set up in {folder} (run start first)")


def command_resume(args):
    folder = os.path.abspath(args.dir)
    lab = load_lab(folder)
    if running_pid(folder) is not None:
        raise LabError(f"the lab server of {folder} is running already")
    start_prosody(folder, lab)
    print(f"Lab server running again on {lab['address']}:{lab['port']}, same accounts.")


def command_stop(args):
    folder = os.path.abspath(args.dir)
    if stop_prosody(folder):
        print(f"Lab server of {folder} stopped.")
    else:
        print(f"No lab server is running from {folder}.")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    start = sub.add_parser("start", help="set up accounts and start the server")
    start.add_argument("config", help="the bot's configuration file")
    start.add_argument("--address", help="address to listen on (default: from Service, "
                       "else 127.0.0.1)")
    start.add_argument("--port", type=int, help="port (default: from Service, else 5222)")
    start.add_argument("--allow-plain", action="store_true",
                       help="let clients connect without TLS")
    for name, text in (("stop", "stop the server"), ("resume", "start it again")):
        sub.add_parser(name, help=text)
    for p in sub.choices.values():
        p.add_argument("--dir", default="wex-lab", help="the server's folder (default wex-lab)")
    args = parser.parse_args()
    try:
        {"start": command_start, "stop": command_stop, "resume": command_resume}[args.command](args)
    except LabError as e:
        print(f"lab-server: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
