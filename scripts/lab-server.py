#!/usr/bin/python3
"""Runs a Prosody XMPP server for one lab session of wexbot (the command is
in lab/servers/prosody/one_pair.py):

  lab-server.py start CONFIG [--address ADDR] [--port PORT] [--dir DIR] [--allow-plain]
  lab-server.py stop [--dir DIR]
  lab-server.py resume [--dir DIR]

The package is loaded by the wexlab launcher beside this file."""

import importlib.machinery
import importlib.util
import os
import sys

sys.dont_write_bytecode = True

if __name__ == "__main__":
    path = os.path.join(os.path.dirname(os.path.realpath(__file__)), "wexlab")
    loader = importlib.machinery.SourceFileLoader("wexlab_launcher", path)
    launcher = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name,
                                                                               loader))
    loader.exec_module(launcher)
    launcher.load_wexlab()
    from wexlab.servers.prosody import one_pair
    sys.exit(one_pair.main())
