"""The session's data: the pairs' files merged (collect.py) and report.html
(report.py, report_summary.py), on one set of number helpers (numbers.py)."""
