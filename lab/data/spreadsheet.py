"""session.xlsx: the session's data files as one workbook, a sheet each,
for those who open data in a spreadsheet. Numeric columns hold numbers;
every other cell is a text cell, so nothing a subject wrote (a chat line
beginning with `=`) is ever taken for a formula. The CSV files remain the
exact data."""

FILE = "session.xlsx"


def _number(text, integer):
    try:
        return int(text) if integer else float(text)
    except ValueError:
        return None


def write(path, sheets):
    """Writes the workbook; sheets: [(title, header, rows, {column: type})]
    with the codebook's types. False when openpyxl is not installed."""
    try:
        from openpyxl import Workbook
    except ImportError:
        return False
    book = Workbook()
    book.remove(book.active)
    for title, header, rows, types in sheets:
        sheet = book.create_sheet(title[:31])
        sheet.append(list(header))
        for r, row in enumerate(rows, start=2):
            for c, (name, text) in enumerate(zip(header, row), start=1):
                kind = types.get(name)
                value = None
                if kind in ("integer", "number") and text != "":
                    value = _number(text, kind == "integer")
                cell = sheet.cell(row=r, column=c)
                if value is not None:
                    cell.value = value
                elif text != "":
                    # Assigned, then marked text: openpyxl would otherwise
                    # take a value beginning with "=" for a formula.
                    cell.value = text
                    cell.data_type = "s"
        for c in range(1, len(header) + 1):
            sheet.cell(row=1, column=c).data_type = "s"
    book.save(path)
    return True
