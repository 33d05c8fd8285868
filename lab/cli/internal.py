"""The internal commands: wexlab _supervise (the supervisor's process),
wexlab _desk (the desk's) and wexlab _room (an online session's room)."""


def supervise(args):
    from ..runtime import supervisor
    pairs = [] if args.pairs == "none" else [int(p) for p in args.pairs.split(",")]
    supervisor.supervise(args.dir, pairs)
    return 0


def desk(args):
    from ..web import desk
    desk.run(args.dir)
    return 0


def room(args):
    from ..web import room
    room.run(args.dir)
    return 0
