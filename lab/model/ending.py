"""How a pair's game ended, read from its journal's entries.

`completed`: the final report was made without the moderator stopping the
game first; `paid_now`: the moderator stopped it and the final report was
made at once (`p`); `stopped`: the game was stopped (`e`, or the session
stopped) and no report was made, so nobody was paid; `running`: the game
has not ended. Online sessions add `dropout` and `waited_out`.

Each subject's own outcome (`subject_endings`) is the pair's, except after
a dropout: with a stand-in (`"mode":"robot"`) the subject who dropped out
was `replaced` and the partner's game ends as the pair's does; when the
pair was paid at once (`"mode":"pay"`) the subject who dropped out has
`dropout` and the partner `paid_now`."""

ENDINGS = ("completed", "paid_now", "stopped", "running")
SUBJECT_ENDINGS = ENDINGS + ("replaced", "dropout")


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


def subject_endings(entries, session_stopped=False):
    """Each subject's outcome, {1: ..., 2: ...}, from a journal's entries."""
    pair = how_ended(entries, session_stopped)
    outcomes = {1: pair, 2: pair}
    for entry in entries:
        if entry.get("kind") != "dropout" or entry.get("subject") not in (1, 2):
            continue
        subject = entry["subject"]
        if entry.get("mode") == "pay":
            outcomes[subject] = "dropout"
            outcomes[3 - subject] = "paid_now"
            break
        outcomes[subject] = "replaced"
    return outcomes
