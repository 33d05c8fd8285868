"""The parts of scripts/wexlab: the session file, the lab server and its
accounts, the supervisor, the robots, and the merged data with its report."""
