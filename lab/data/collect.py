"""Merges the pairs' data files into the session's: each pair's rows with a
leading pair column (and its treatment, when the session has treatments),
pair 1 first."""

import csv
import glob
import os

KINDS = ("rounds", "chat", "payouts")


def pair_files(pair_folder, log_file, kind):
    """A pair's data files of one kind, oldest first (a bot started afresh
    writes new ones; a resumed bot appends to its old ones)."""
    return sorted(glob.glob(os.path.join(pair_folder, f"{log_file}_*_{kind}.csv")))


def read_rows(path):
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f))
    return (rows[0], rows[1:]) if rows else (None, [])


def merge(folder, lab, kind):
    """Writes session_KIND.csv; returns (header, rows) as written. In a
    session of treatments each row's treatment follows its pair."""
    lead = ["pair", "treatment"] if lab.treatments else ["pair"]
    header, merged = None, []
    for pair in lab.pairs:
        for path in pair_files(os.path.join(folder, pair.bot), lab.log_file, kind):
            file_header, rows = read_rows(path)
            if file_header is None:
                continue
            if header is None:
                header = lead + file_header
            elif header[len(lead):] != file_header:
                raise ValueError(f"{path} has the columns {file_header}, "
                                 f"not {header[len(lead):]}")
            given = [str(pair.index)] + ([pair.treatment] if len(lead) > 1 else [])
            merged += [given + row for row in rows]
    header = header or lead
    with open(os.path.join(folder, f"session_{kind}.csv"), "w", encoding="utf-8",
              newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(merged)
    return header, merged


def collect(folder, lab):
    """The three merged files; returns {kind: list of dicts}."""
    tables = {}
    for kind in KINDS:
        header, rows = merge(folder, lab, kind)
        tables[kind] = [dict(zip(header, row)) for row in rows]
    return tables
