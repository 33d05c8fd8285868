"""wexlab: a lab session of many pairs of wexbot in one command.

  wexlab start SESSION.conf [--only PAIRS] [--bot PATH]
  wexlab resume | status [--watch] | seats | desk | close | stop | collect [--bundle]
  wexlab say PAIR|all TEXT...
  wexlab node add HOST[:PORT] | node serve KIT [--dir DIR]
  wexlab proxy-config [FOLDER] [--out FILE]
  wexlab rehearse [--session FILE] [--pairs N] [--rounds R] [--seed S] [--dir DIR]
                  [--kill-pair P] [--kill-node K] [--browser] [--server prosody|ejabberd] [--nodes N]
  wexlab rehearse --arrivals N [--over SECONDS] [--dropouts K] [--late L] [--proxy on|off]
  wexlab bench --pairs N [--rounds R] [--seed S] [--dir DIR] [--server ...] [--nodes N]
               [--stagger MS] [--via websocket|xmpp]

Every command but rehearse and bench works in the current folder, the
session folder. start runs the lab server, makes the accounts, matches the
subjects into pairs, starts one supervised wexbot per pair and prints each
participant's login card. stop stops the bots (SIGTERM), collects the data
and stops the server. rehearse and bench play a whole session with robots.
node add joins another machine's ejabberd node to the session's cluster;
node serve, run on that machine with the kit wexlab wrote, is that node.
"""

import argparse
import sys

from ..model.errors import LabError, SessionError
from ..model.files import restrict_umask
from . import bench, close, collect, desk, internal, node, proxy_config, rehearse, resume, say
from . import seats, start
from . import status, stop


def make_parser():
    """The command line's parser; wexlab(1) names each command and option of it."""
    parser = argparse.ArgumentParser(prog="wexlab", description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    start_args = sub.add_parser("start", help="start a session from its session file")
    start_args.add_argument("session", help="the session file")
    start_args.add_argument("--only", help="start only these pairs' bots, e.g. 1-10 or 1-5,8 or "
                            "none (on a second machine: against the server of the copied "
                            "session folder)")
    start_args.add_argument("--bot", help="the wexbot program (default: $WEXBOT, the build's "
                            "out/release/bot/wexbot, the installed one, or wexbot on the PATH)")
    sub.add_parser("resume", help="start the server and supervisor again; stopped bots resume")
    status_args = sub.add_parser("status", help="one line per pair: where its game stands, "
                                 "read from the session's files (nothing is sent)")
    status_args.add_argument("--watch", action="store_true", help="keep the table up to date")
    sub.add_parser("desk", help="print the address of the desk, the session's live web page")
    sub.add_parser("seats", help="each participant's name, role, pair and sign-in link")
    say_args = sub.add_parser("say", help="send a text as the moderator to one pair's bot or all")
    say_args.add_argument("pair", help="a pair number, its bot's name, or all")
    say_args.add_argument("text", nargs="+")
    sub.add_parser("close", help="an online session's room admits no one more; whoever "
                   "waits leaves with the show-up fee")
    sub.add_parser("stop", help="stop every bot, collect, stop the server")
    proxy_args = sub.add_parser("proxy-config", help="the nginx site of an online session, for "
                                "an nginx of your own")
    proxy_args.add_argument("folder", nargs="?", help="the session folder (default: here)")
    proxy_args.add_argument("--out", help="write the site into this file (default: print it)")
    collect_args = sub.add_parser("collect", help="merge the pairs' data files, write the "
                                  "codebook, session.xlsx and report.html")
    collect_args.add_argument("--bundle", action="store_true",
                              help="also write SESSION.zip, the replication bundle")
    node_args = sub.add_parser("node", help="ejabberd nodes of other machines in the session's "
                               "cluster")
    node_sub = node_args.add_subparsers(dest="node_command", required=True)
    add_args = node_sub.add_parser("add", help="join another machine's node to the running "
                                   "session's cluster (or wait again for one of its Nodes)")
    add_args.add_argument("host", help="HOST or HOST:PORT (its client port; default the "
                          "Service's)")
    serve_args = node_sub.add_parser("serve", help="on the other machine: run the node of a "
                                     "kit until the session stops it")
    serve_args.add_argument("kit", help="the node's kit file, copied from the session folder's "
                            "nodes/")
    serve_args.add_argument("--dir", help="the node's folder (default: wexnode-SESSION-nodeK "
                            "here)")
    for name, text in (("rehearse", "play a whole session with robots"),
                       ("bench", "as rehearse, measuring latency, memory and CPU")):
        play = sub.add_parser(name, help=text)
        play.add_argument("--pairs", type=int, required=name == "bench",
                          help="pairs of robots (default 3, or the session file's subjects)")
        play.add_argument("--rounds", type=int,
                          help="NRounds (default 4, or the session file's)")
        play.add_argument("--seed", type=int, help="Seed (default 1, or the session file's)")
        play.add_argument("--dir", help="the session folder (default: a new one here)")
        play.add_argument("--bot", help="the wexbot program")
        play.add_argument("--server", choices=("prosody", "ejabberd"),
                          help="the lab server (default prosody, or the session file's)")
        play.add_argument("--nodes", type=int, help="ejabberd nodes on this machine, joined "
                          "into one cluster; the pairs span two nodes (default 1)")
        if name == "bench":
            play.add_argument("--via", choices=("websocket", "xmpp"), default="websocket",
                              help="how the robot subjects reach the server: websocket (the "
                              "default), as the web seats do, over TLS (WebTls on); xmpp, "
                              "plain XMPP over TCP with STARTTLS")
            play.add_argument("--profile", action="store_true", help="Prosody only: sample "
                              "where the server's Lua code spends its time, into "
                              "server-profile.txt in the run's folder (the sampling slows "
                              "the server: not for the latency figures)")
            play.add_argument("--stagger", type=float, default=50, help="milliseconds between "
                              "one pair's start and the next, as subjects sign on one after "
                              "another (default 50; 0 starts every pair at once, the worst "
                              "case: each step of every pair in the same millisecond)")
        if name == "rehearse":
            play.add_argument("--session", help="a session file to rehearse: its game keys, "
                              "treatments, subjects and seed, on a server of this machine")
            play.add_argument("--kill-pair", type=int, help="SIGKILL this pair's bot as its "
                              "first round closes, to rehearse a crash and the resume")
            play.add_argument("--kill-node", type=int, help="SIGKILL this ejabberd node as "
                              "the first round closes and start it again")
            play.add_argument("--browser", action="store_true", help="pair 1's subjects play "
                              "through the web page in headless Chromium")
            play.add_argument("--arrivals", type=int, help="an online session instead: this "
                              "many robots arrive through the room's study link")
            play.add_argument("--over", type=float, default=30, help="with --arrivals: the "
                              "seconds over which they arrive, at seeded random times "
                              "(default 30)")
            play.add_argument("--dropouts", type=int, default=0, help="with --arrivals: this "
                              "many subjects leave mid-game and stay away")
            play.add_argument("--late", type=int, default=0, help="with --arrivals: this many "
                              "arrive after the cap (MaxPairs) is reached")
            play.add_argument("--wait-timeout", type=int, default=15, help="with --arrivals: "
                              "WaitTimeout (default 15)")
            play.add_argument("--proxy", choices=("on", "off"), default="on", help="with "
                              "--arrivals: Proxy (default on: nginx in front, one origin)")
    # The usage names every command but the internal ones, added last.
    sub.metavar = "{" + ",".join(sub.choices) + "}"
    # Internal: the supervisor's and the desk's processes.
    supervise_args = sub.add_parser("_supervise")
    supervise_args.add_argument("--dir", required=True)
    supervise_args.add_argument("--pairs", required=True)
    sub.add_parser("_desk").add_argument("--dir", required=True)
    sub.add_parser("_room").add_argument("--dir", required=True)
    return parser


def parse_args(argv):
    return make_parser().parse_args(argv)


def main(argv):
    args = parse_args(argv)
    restrict_umask()  # before any file of the session is made
    commands = {"start": start, "resume": resume, "status": status, "desk": desk,
                "seats": seats, "say": say, "close": close, "stop": stop, "collect": collect,
                "node": node, "proxy-config": proxy_config,
                "rehearse": rehearse, "bench": bench}
    try:
        if args.command == "_supervise":
            return internal.supervise(args)
        if args.command == "_desk":
            return internal.desk(args)
        if args.command == "_room":
            return internal.room(args)
        return commands[args.command].run(args) or 0
    except (LabError, SessionError, ConnectionError) as e:
        print(f"wexlab: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
