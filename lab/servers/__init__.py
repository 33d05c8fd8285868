"""The lab server: Prosody (prosody/) or ejabberd nodes (ejabberd/), their
configuration, accounts, policy and certificate, started and stopped
through one interface (server.py)."""
