"""The two kinds of fault wexlab reports to the user."""


class LabError(Exception):
    """A problem the user can fix; its text says how."""


class SessionError(Exception):
    """A fault of the session file; the text names the line and the reason."""


def file_fault(path, number, reason):
    """The SessionError of line number (0: of the whole file)."""
    return SessionError(f"{path}:{number}: {reason}" if number else f"{path}: {reason}")


def line_fault(path, number, line, reason):
    """The SessionError of a line, quoting it."""
    return file_fault(path, number, f"'{line.strip()}': {reason}")
