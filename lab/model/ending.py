"""How a pair's game ended, read from its journal's entries.

`completed`: the final report was made without the moderator stopping the
game first; `paid_now`: the moderator stopped it and the final report was
made at once (`p`); `stopped`: the game was stopped (`e`, or the session
stopped) and no report was made, so nobody was paid; `running`: the game
has not ended. Online sessions add `dropout` and `waited_out`."""

ENDINGS = ("completed", "paid_now", "stopped", "running")


def how_ended(entries, session_stopped=False):
    """The ending of a journal's entries (dicts with `kind`). A game still
    running when its session stopped counts as stopped."""
    stopped = reported = False
    for entry in entries:
        kind = entry.get("kind")
        if kind == "stop" and not reported:
            stopped = True
        elif kind == "report":
            reported = True
    if reported:
        return "paid_now" if stopped else "completed"
    if stopped or session_stopped:
        return "stopped"
    return "running"
