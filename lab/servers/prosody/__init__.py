"""The lab server as one Prosody: its configuration (config.py), accounts
and process (control.py), the lab's policy module (mod_wex_lab_policy.lua,
beside them), and the one-pair lab server of scripts/lab-server.py
(one_pair.py)."""
