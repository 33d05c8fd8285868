"""Who plays whom: the pairs drawn from the seed, their names, matching.csv,
and the pairs that --only names."""

import random
import re

from .errors import SessionError


def pair_name(index, count):
    """pair01, pair02, ...; three digits from 100 pairs on."""
    return f"pair{index:0{max(2, len(str(count)))}d}"


def match(subjects, seed):
    """Pairs the subjects at random from the seed: a list of (subject1,
    subject2), pair 1 first. The same names in the same order and the same
    seed always give the same pairs."""
    order = list(subjects)
    random.Random(seed).shuffle(order)
    return [(order[i], order[i + 1]) for i in range(0, len(order), 2)]


def matching_csv(pairs, treatments=None):
    """pair,bot,subject1,subject2 and, in a session of treatments, treatment."""
    rows = ["pair,bot,subject1,subject2" + (",treatment" if treatments else "")]
    for index, (first, second) in enumerate(pairs, start=1):
        bot = pair_name(index, len(pairs))
        treatment = f",{treatments[index - 1]}" if treatments else ""
        rows.append(f"{index},{bot},{first},{second}{treatment}")
    return "\n".join(rows) + "\n"


def matching_text(lab):
    """matching.csv: who plays whom and, in a session of treatments, under which."""
    treatments = [p.treatment for p in lab.pairs] if lab.treatments else None
    return matching_csv([(p.subject1, p.subject2) for p in lab.pairs], treatments)


def parse_only(text, count):
    """The pairs named by --only: 'none', '3', '1-10', '1-5,8'; a sorted list."""
    if text is None:
        return list(range(1, count + 1))
    if text == "none":
        return []
    chosen = set()
    for part in text.split(","):
        found = re.fullmatch(r"(\d+)(?:-(\d+))?", part.strip())
        if not found:
            raise SessionError(f"--only takes pair numbers like 1-10 or 1-5,8 or none, "
                               f"not '{text}'")
        low = int(found.group(1))
        high = int(found.group(2) or low)
        if low < 1 or high > count or low > high:
            raise SessionError(f"--only {text}: the session has pairs 1 to {count}")
        chosen.update(range(low, high + 1))
    return sorted(chosen)
