"""The bot's key table, as `wexbot --keys=json` prints it: every key a
wexbot.conf may hold, its type and range, whether it is required and
whether a treatment may set it. wexlab takes the key names from here
instead of keeping its own list, so a key the bot gains or loses is known
to wexlab at once. Reading the JSON is pure; runtime/bot_check.py asks the
wexbot for it."""

import json
from dataclasses import dataclass
from typing import Optional, Tuple


@dataclass(frozen=True)
class BotKey:
    """One key of the table."""
    name: str
    type: str  # "integer", "number", "number list", "service", ...
    min: Optional[float]
    max: Optional[float]
    choices: Tuple[str, ...]  # the words the key takes besides numbers
    default: Optional[str]  # the value the bot reads when the key is absent
    required: bool
    treatment: bool  # a lab treatment may set it
    meaning: str


@dataclass(frozen=True)
class BotKeys:
    """The table, in the bot's order."""
    keys: Tuple[BotKey, ...]

    def __contains__(self, name):
        return any(key.name == name for key in self.keys)

    def names(self):
        return tuple(key.name for key in self.keys)

    def treatment_names(self):
        """The keys a treatment may set."""
        return tuple(key.name for key in self.keys if key.treatment)

    def required_names(self):
        return tuple(key.name for key in self.keys if key.required)


def _field(entry, field, kinds, name):
    if field not in entry:
        raise ValueError(f"key {name} has no field '{field}'")
    value = entry[field]
    # JSON's true and false are no numbers here, though Python's bool is an int.
    if not isinstance(value, kinds) or (isinstance(value, bool) and bool not in kinds):
        raise ValueError(f"key {name}: '{field}' is {json.dumps(value)}")
    return value


def _key(entry):
    if not isinstance(entry, dict):
        raise ValueError(f"an entry is {json.dumps(entry)}, not an object")
    name = _field(entry, "name", (str,), "?")
    if not name:
        raise ValueError("a key has an empty name")
    number = (int, float, type(None))
    choices = _field(entry, "choices", (list, type(None)), name) or []
    if not all(isinstance(choice, str) for choice in choices):
        raise ValueError(f"key {name}: a choice is no text")
    return BotKey(name=name, type=_field(entry, "type", (str,), name),
                  min=_field(entry, "min", number, name),
                  max=_field(entry, "max", number, name),
                  choices=tuple(choices),
                  default=_field(entry, "default", (str, type(None)), name),
                  required=_field(entry, "required", (bool,), name),
                  treatment=_field(entry, "treatment", (bool,), name),
                  meaning=_field(entry, "meaning", (str,), name))


def parse_keys(text):
    """The table from `wexbot --keys=json`'s output; ValueError says what
    is wrong with it."""
    try:
        data = json.loads(text)
    except ValueError as e:
        raise ValueError(f"not JSON: {e}")
    if not isinstance(data, dict) or not isinstance(data.get("keys"), list):
        raise ValueError("no list of keys")
    keys = tuple(_key(entry) for entry in data["keys"])
    names = [key.name for key in keys]
    for name in names:
        if names.count(name) > 1:
            raise ValueError(f"key {name} appears twice")
    if not keys:
        raise ValueError("the list of keys is empty")
    return BotKeys(keys)
