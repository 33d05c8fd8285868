"""The lab server as ejabberd: the nodes' configuration (config.py), this
machine's nodes as one cluster (cluster.py), nodes of other machines
(remote.py, and serve.py on those machines), and the lab's policy module
(mod_wex_lab_policy.erl, beside them)."""
