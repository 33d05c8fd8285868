"""How a pair's game ended, read from its journal's entries.

`completed`: the final report was made without the moderator stopping the
game first; `paid_now`: the moderator stopped it and the final report was
made at once (`p`); `stopped`: the game was stopped (`e`, or the session
stopped) and no report was made, so nobody was paid; `running`: the game
has not ended.

Online sessions end each subject on its own (subject_endings): a subject
offline too long is a dropout; with a stand-in playing on for it, it is
`replaced` and keeps the payout it had then; when the pair is paid at once
instead, it is `dropout` and its partner `paid_now`."""

ENDINGS = ("completed", "paid_now", "stopped", "running")
SUBJECT_ENDINGS = ENDINGS + ("dropout", "replaced")


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
    """{1: ending, 2: ending} of a journal's entries. A subject replaced by
    the stand-in stays `replaced` whatever the game did after; a dropout
    paid at once makes its subject `dropout` and the other `paid_now`, and
    ends the game (nothing after it counts); everyone else ends as the game
    did. A resumed bot that journals a subject's dropout again changes
    nothing."""
    game = how_ended(entries, session_stopped)
    endings = {1: game, 2: game}
    for entry in entries:
        subject = entry.get("subject")
        if entry.get("kind") != "dropout" or subject not in (1, 2) or \
                endings[subject] == "replaced":
            continue
        if entry.get("mode") == "pay":
            endings[subject] = "dropout"
            if endings[3 - subject] != "replaced":
                endings[3 - subject] = "paid_now"
            break
        endings[subject] = "replaced"
    return endings


def dropout_entry(entries, subject):
    """The subject's first `dropout` entry, or None."""
    return next((e for e in entries
                 if e.get("kind") == "dropout" and e.get("subject") == subject), None)
