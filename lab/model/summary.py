"""The session at a glance and its alerts, from every pair's state
(pair_state.py): pure functions, for the desk and `wexlab status`."""

import zlib


def session_line(pairs, started, now):
    """Pairs finished, rounds closed of all, seconds since the start."""
    return {"pairs": len(pairs),
            "finished": sum(1 for p in pairs if p["phase"] in ("reported", "ended")),
            "rounds_closed": sum(p["rounds_closed"] for p in pairs),
            "rounds_all": sum(p["nrounds"] for p in pairs),
            "elapsed_s": None if started is None else max(0, int(now - started))}


def stopped_text(p):
    """What a pair's game stopped without payouts means for its subjects."""
    names = " and ".join(s["name"] for s in p["subjects"])
    return (f"pair {p['pair']} ({p['bot']}) was stopped without payouts: nobody in it "
            f"({names}) will be paid")


def alerts(pairs, now, offline_after, stall_after, server_up=True):
    """The alerts of this moment, each {id, t, pair, text}; an alert's id
    stays the same while its cause lasts, so a dismissal holds."""
    found = []
    if not server_up:
        found.append({"id": "server", "t": now, "pair": None,
                      "text": "the lab server is unreachable: wexlab resume starts it again"})
    for p in pairs:
        done = p["phase"] in ("reported", "ended")
        for s in p["subjects"]:
            if (not done and s["online"] is False and s["since"] is not None
                    and now - s["since"] > offline_after):
                found.append({"id": f"offline:{p['pair']}:{s['name']}:{s['since']}",
                              "t": s["since"], "pair": p["pair"],
                              "text": f"{s['name']} (pair {p['pair']}) offline for "
                                      f"{int(now - s['since'])} s"})
            if s["owes"] and s["owes_since"] is not None and now - s["owes_since"] > stall_after:
                found.append({"id": f"stall:{p['pair']}:{s['name']}:{p['round']}",
                              "t": s["owes_since"], "pair": p["pair"],
                              "text": f"{s['name']} (pair {p['pair']}) has owed the "
                                      f"{s['owes'][0]} for {int(now - s['owes_since'])} s"})
        for t in p["restart_times"]:
            found.append({"id": f"restart:{p['pair']}:{t}", "t": t, "pair": p["pair"],
                          "text": f"{p['bot']}'s bot was restarted"})
        if p["given_up"]:
            found.append({"id": f"given_up:{p['pair']}", "t": now, "pair": p["pair"],
                          "text": f"{p['bot']}'s bot keeps stopping and is no longer "
                                  "restarted"})
        for e in p.get("reopened", ()):
            found.append({"id": f"seat:{p['pair']}:{e['t']}:{zlib.crc32(e['text'].encode())}",
                          "t": e["t"], "pair": p["pair"], "text": e["text"]})
        if p.get("ended") == "stopped":
            found.append({"id": f"stopped:{p['pair']}", "t": p.get("stopped_at") or now,
                          "pair": p["pair"],
                          "text": stopped_text(p)})
        for e in p["errors"]:
            found.append({"id": f"err:{p['pair']}:{e['t']}:{zlib.crc32(e['text'].encode())}",
                          "t": e["t"], "pair": p["pair"],
                          "text": f"{p['bot']}: {e['text']}"})
    return found
