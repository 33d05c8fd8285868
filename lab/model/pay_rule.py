"""The pay rule's reach: the least and the most a subject can be paid in a
game played to its last round, from the game's bounds, so that `start`
can warn when a treatment's rule pays everyone the same whatever they do.

A round's earnings are (60 - own investment) + (both investments) /
divisor, with investments from 0 to 60 and the divisor MarketBase +
MarketNoiseScale * noise - MarketNoiseScale / 2, the noise list used in
turn; every ConversationInterval-th round adds a bonus of 0 to 100. The
earnings are linear in the two investments, so each round's least and
most are at the corners; their sums bound the total credits."""

from dataclasses import dataclass
from typing import List, Optional

ENDOWMENT = 60
MAX_INVESTMENT = 60
MAX_BONUS = 100.0


@dataclass
class PayRule:
    credit_value: float
    min_payout: float
    max_payout: float

    def payout(self, credits):
        """Dollars for total credits, held between the limits."""
        p = credits * self.credit_value
        if not min(p, self.max_payout) > self.min_payout:
            return self.min_payout
        return min(p, self.max_payout)


def leading_number(text):
    """The real number a bot reads from text (as C's atof: the longest
    leading number, 0 when there is none)."""
    text = text.strip()
    for end in range(len(text), 0, -1):
        try:
            return float(text[:end])
        except ValueError:
            continue
    return 0.0


def noise_list(text):
    return [leading_number(piece) for piece in (text or "").split(",")]


def divisors(values, rounds):
    """Each round's market divisor."""
    base = leading_number(values.get("MarketBase", "0"))
    scale = leading_number(values.get("MarketNoiseScale", "0"))
    noise = noise_list(values.get("MarketNoise", ""))
    half = 0 if scale == 0 else scale * 0.5
    return [scale * noise[(r - 1) % len(noise)] - half + base for r in range(1, rounds + 1)]


def round_bounds(divisor):
    """(least, most) earnings of one round for one subject."""
    corners = [(ENDOWMENT - own) + (own + other) / divisor
               for own in (0, MAX_INVESTMENT) for other in (0, MAX_INVESTMENT)]
    return min(corners), max(corners)


@dataclass
class Reach:
    least_credits: float
    most_credits: float
    least_payout: float
    most_payout: float


def pay_rule(values, defaults):
    """The rule of a game's key values (text), its absent keys taking the
    bot's defaults."""
    def amount(key):
        return leading_number(values.get(key, defaults.get(key) or "0"))
    return PayRule(amount("CreditValue"), amount("MinPayout"), amount("MaxPayout"))


def reach(values, defaults):
    """The Reach of a game of these key values, or None when its market
    cannot be judged (a divisor of 0)."""
    rounds = max(0, int(leading_number(values.get("NRounds", "0"))))
    interval = max(1, int(leading_number(values.get("ConversationInterval", "1"))))
    least = most = 0.0
    for divisor in divisors(values, rounds):
        if divisor == 0:
            return None
        low, high = round_bounds(divisor)
        least, most = least + low, most + high
    most += MAX_BONUS * (rounds // interval)
    rule = pay_rule(values, defaults)
    ends = sorted((rule.payout(least), rule.payout(most)))
    return Reach(least, most, ends[0], ends[1])


def warning(name, values, defaults) -> Optional[str]:
    """One line when the game's pay rule pays every subject MinPayout (or
    every one MaxPayout) however they play; None otherwise. name says
    which game ("treatment low", "the session")."""
    found = reach(values, defaults)
    if found is None:
        return None
    rule = pay_rule(values, defaults)
    credits = f"{found.least_credits:.0f} to {found.most_credits:.0f} credits"
    keys = (f"CreditValue {rule.credit_value:g}, MinPayout {rule.min_payout:g}, "
            f"MaxPayout {rule.max_payout:g}")
    if found.most_payout <= rule.min_payout:
        return (f"wexlab: warning: {name} pays every subject the minimum "
                f"${rule.min_payout:.2f} whatever they do ({credits}; {keys}): raise "
                "CreditValue or lower MinPayout")
    if found.least_payout >= rule.max_payout:
        return (f"wexlab: warning: {name} pays every subject the maximum "
                f"${rule.max_payout:.2f} whatever they do ({credits}; {keys}): lower "
                "CreditValue or raise MaxPayout")
    return None


def session_warnings(session) -> List[str]:
    """The warning of each treatment (or of the session's values when it
    has none) whose pay rule pays everyone the same."""
    defaults = {key.name: key.default for key in session.keys.keys}
    games = [(f"treatment {t.name}", t.name) for t in session.treatments] or \
        [("the session", None)]
    found = [warning(name, session.game_values(treatment), defaults)
             for name, treatment in games]
    return [line for line in found if line]
