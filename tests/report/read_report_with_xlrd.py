"""Prints a batch report's rows as xlrd reads them, one line per row, cells joined by tabs.
Exits 3 when xlrd is missing. Run with Debian's /usr/bin/python3.

    read_report_with_xlrd.py REPORT.xls
"""
import sys

try:
    import xlrd
except ImportError:
    sys.exit(3)

book = xlrd.open_workbook(sys.argv[1])
sheet = book.sheet_by_index(0)
out = sys.stdout.buffer
for r in range(sheet.nrows):
    cells = []
    for c in range(sheet.ncols):
        cell = sheet.cell(r, c)
        cells.append(cell.value if cell.ctype == xlrd.XL_CELL_TEXT else "")
    out.write(("\t".join(cells) + "\n").encode("utf-8"))
