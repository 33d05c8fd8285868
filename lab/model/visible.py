"""Text a participant wrote, shown on the desk and in report.html as the
bot writes it in the transcript (messaging/visible_text.cc, VisibleLine):
one line, every character visible, so a right-to-left override cannot make
"gnp.exe" read "exe.png" and a line feed cannot pose as another line. The
data files (CSV) keep the text exact."""

ESCAPES = {"\n": "\\n", "\r": "\\r", "\t": "\\t", "\\": "\\\\"}


def invisible(code):
    """The controls and the format characters that reorder or break a line
    without being seen."""
    return (code < 0x20 or code == 0x7F or 0x80 <= code <= 0x9F or code in (0x200E, 0x200F)
            or 0x202A <= code <= 0x202E or 0x2066 <= code <= 0x2069
            or code in (0x2028, 0x2029))


def visible_line(text):
    """The text on one line: line feed, carriage return, tab and backslash
    as \\n, \\r, \\t, \\\\; the other invisible characters as \\u{XXXX}."""
    out = []
    for char in text:
        if char in ESCAPES:
            out.append(ESCAPES[char])
        elif invisible(ord(char)):
            out.append(f"\\u{{{ord(char):04X}}}")
        else:
            out.append(char)
    return "".join(out)
