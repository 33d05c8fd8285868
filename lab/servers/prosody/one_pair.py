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
scripts/lab-server.py runs main here.

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
import shutil
import sys

from ...model.errors import LabError
from ...model.files import make_private_dir, write_private
from ...model.service import config_value, leading_int, parse_service
from ..command import run
from ..policy import REFUSED_LOG, default_policy, write_policy
from . import control
from .config import prosody_config

ROLES = [("bot", "BotUsername"), ("subject1", "Subject1Name"),
         ("subject2", "Subject2Name"), ("moderator", "ModeratorName")]
ROLE_TITLES = {"subject1": "Subject 1", "subject2": "Subject 2", "moderator": "Moderator"}


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
    if control.running_pid(folder) is not None:
        raise LabError(f"a lab server is already running from {folder}; stop it first")
    make_private_dir(folder)
    shutil.rmtree(os.path.join(folder, "data"), ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"), mode=0o700)
    fingerprint = make_certificate(lab, folder)
    cfg = os.path.join(folder, "prosody.cfg.lua")
    write_private(cfg, prosody_config(lab["domain"], lab["address"], lab["port"], folder,
                                      args.allow_plain))
    write_policy(folder, default_policy(lab["names"]))
    lab["accounts"] = control.create_accounts(lab["names"], lab["domain"], cfg)
    write_password_file(lab)
    write_private(os.path.join(folder, "accounts.json"), json.dumps(lab, indent=2) + "\n")
    control.start_prosody(folder, lab["address"], lab["port"])
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
    if control.running_pid(folder) is not None:
        raise LabError(f"the lab server of {folder} is running already")
    control.start_prosody(folder, lab["address"], lab["port"])
    print(f"Lab server running again on {lab['address']}:{lab['port']}, same accounts.")


def command_stop(args):
    folder = os.path.abspath(args.dir)
    if control.stop_prosody(folder):
        print(f"Lab server of {folder} stopped.")
    else:
        print(f"No lab server is running from {folder}.")


def main(argv=None):
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
    args = parser.parse_args(argv)
    try:
        {"start": command_start, "stop": command_stop, "resume": command_resume}[args.command](args)
    except LabError as e:
        print(f"lab-server: {e}", file=sys.stderr)
        return 1
    return 0
