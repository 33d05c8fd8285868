#!/usr/bin/python3
"""Unit tests of the bot's key table as wexlab reads it from
`wexbot --keys=json`: the built wexbot's own table, and JSON it refuses."""

import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import bot_keys  # noqa: E402
from fixtures import wexbot  # noqa: E402

ENTRY = {"name": "NRounds", "type": "integer", "min": 0, "max": 100000, "choices": None,
         "default": None, "required": True, "treatment": True, "meaning": "the rounds"}


def table(*entries):
    return json.dumps({"keys": list(entries)})


class BotKeysTest(unittest.TestCase):
    def test_the_built_wexbots_table(self):
        text = subprocess.run([wexbot(), "--keys=json"], capture_output=True, text=True,
                              check=True).stdout
        keys = bot_keys.parse_keys(text)
        self.assertEqual(keys.names()[0], "Service")
        self.assertIn("NRounds", keys)
        self.assertNotIn("Subjects", keys)
        by_name = {key.name: key for key in keys.keys}
        self.assertEqual(by_name["NRounds"], bot_keys.BotKey(
            name="NRounds", type="integer", min=0, max=100000, choices=(), default=None,
            required=True, treatment=True, meaning="the number of rounds"))
        self.assertEqual(by_name["TimeoutAnswer"].choices, ("last",))
        self.assertEqual(by_name["MaxPayout"].default, "25")
        self.assertIn("MarketNoise", keys.required_names())
        self.assertNotIn("CreditValue", keys.required_names())
        self.assertIn("CreditValue", keys.treatment_names())
        self.assertNotIn("Service", keys.treatment_names())
        # Each list in the table's order.
        self.assertEqual(list(keys.treatment_names()),
                         [name for name in keys.names() if by_name[name].treatment])

    def test_a_table_with_a_fault_is_refused_with_the_reason(self):
        cases = [
            ("not json", "not JSON"),
            ("[]", "no list of keys"),
            ('{"keys": {}}', "no list of keys"),
            (table(), "the list of keys is empty"),
            (table("NRounds"), "not an object"),
            (table(dict(ENTRY, name="")), "empty name"),
            (table({k: v for k, v in ENTRY.items() if k != "treatment"}),
             "key NRounds has no field 'treatment'"),
            (table(dict(ENTRY, required=1)), "key NRounds: 'required' is 1"),
            (table(dict(ENTRY, min=True)), "key NRounds: 'min' is true"),
            (table(dict(ENTRY, min="0")), "key NRounds: 'min' is \"0\""),
            (table(dict(ENTRY, default=10)), "key NRounds: 'default' is 10"),
            (table(dict(ENTRY, choices=["last", 5])), "a choice is no text"),
            (table(ENTRY, ENTRY), "key NRounds appears twice"),
        ]
        for text, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(ValueError) as caught:
                    bot_keys.parse_keys(text)
                self.assertIn(reason, str(caught.exception))

    def test_a_good_table_of_one_key(self):
        keys = bot_keys.parse_keys(table(dict(ENTRY, choices=["last"], min=0.5)))
        self.assertEqual((keys.names(), keys.required_names(), keys.treatment_names()),
                         (("NRounds",), ("NRounds",), ("NRounds",)))
        self.assertEqual((keys.keys[0].choices, keys.keys[0].min), (("last",), 0.5))


if __name__ == "__main__":
    unittest.main()
