#!/usr/bin/env python3
"""Reads a workbook with openpyxl and the CSV file of the same rows, and says where they differ.

The numbers must be number cells equal to the CSV's numbers, the dates date-time cells equal to
the CSV's local date and time (to the millisecond), the texts the same; the header row frozen.
Prints "same N" for N equal rows, otherwise one line per difference, and exits 1.
"""
import csv
import datetime
import sys

import openpyxl


def csv_moment(text):
    # "2026-12-07T23:59:59.875+01:00": the local date and time, the offset left aside
    if len(text) > 12:
        return datetime.datetime.strptime(text[:23], "%Y-%m-%dT%H:%M:%S.%f")
    t = datetime.datetime.strptime(text, "%H:%M:%S.%f")
    return datetime.time(t.hour, t.minute, t.second, t.microsecond)


def near(moment, expected):
    if isinstance(expected, datetime.datetime):
        return isinstance(moment, datetime.datetime) and abs((moment - expected).total_seconds()) < 0.0005
    return isinstance(moment, datetime.time) and moment.replace(microsecond=round(moment.microsecond, -3)) == expected


def main(xlsx_path, csv_path):
    book = openpyxl.load_workbook(xlsx_path)
    sheet = book.worksheets[0]
    faults = []
    if sheet.freeze_panes != "A2":
        faults.append("header not frozen: %r" % sheet.freeze_panes)
    cells = list(sheet.iter_rows(values_only=True))
    with open(csv_path, newline="", encoding="utf-8") as f:
        lines = list(csv.reader(f))
    header = [c for c in cells[0] if c is not None]
    if header != lines[0]:
        faults.append("headers differ: %r and %r" % (header, lines[0]))
    if len(cells) != len(lines):
        faults.append("%d rows and %d lines" % (len(cells), len(lines)))
    for n, (row, line) in enumerate(zip(cells[1:], lines[1:]), start=2):
        row = list(row) + [None] * (len(line) - len(row))
        no, moment, value, unit, acdc, auto, number, counts = row[:8]
        if not isinstance(no, (int, float)) or no != int(line[0]):
            faults.append("row %d: No %r, CSV %s" % (n, no, line[0]))
        if not near(moment, csv_moment(line[1])):
            faults.append("row %d: date and time %r (%s), CSV %s" % (n, moment, type(moment).__name__, line[1]))
        for name, cell, text in (("Value", value, line[2]), ("Unit", unit, line[3]), ("AC/DC", acdc, line[4]),
                                 ("AUTO/MANU", auto, line[5])):
            if (cell or "") != text:
                faults.append("row %d: %s %r, CSV %r" % (n, name, cell, text))
        for name, cell, text in (("Number", number, line[6]), ("Counts", counts, line[7])):
            if text == "":
                if cell is not None:
                    faults.append("row %d: %s %r, CSV empty" % (n, name, cell))
            elif not isinstance(cell, (int, float)) or isinstance(cell, bool) or float(cell) != float(text):
                faults.append("row %d: %s %r, CSV %s" % (n, name, cell, text))
        if len(line) > 8 and (row[8] or "") != line[8]:
            faults.append("row %d: Note %r, CSV %r" % (n, row[8], line[8]))
    if faults:
        print("\n".join(faults[:20]))
        return 1
    print("same %d" % (len(lines) - 1))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
