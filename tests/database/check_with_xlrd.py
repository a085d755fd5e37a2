"""Reads workbooks written by our writer with independent readers (xlrd, olefile, and for the
list of non-BMP texts LibreOffice's and Gnumeric's converters) and checks that they hold the
cells our writer meant. Run with Debian's /usr/bin/python3.

    check_with_xlrd.py PATH/TO/kp_write_sample WORK_FOLDER
"""
import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile

import olefile
import xlrd


def check_container(path):
    # Strict: any defect olefile notices in the container is an error.
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    try:
        assert ole.listdir() == [["Workbook"]], ole.listdir()
        assert not ole.parsing_issues, ole.parsing_issues
        data = ole.openstream("Workbook").read()
        assert len(data) == ole.get_size("Workbook")
    finally:
        ole.close()


def check_cells(path, expected):
    book = xlrd.open_workbook(path)
    assert book.nsheets == len(expected["sheets"]), (book.nsheets, len(expected["sheets"]))
    for index, sheet_expected in enumerate(expected["sheets"]):
        sheet = book.sheet_by_index(index)
        assert sheet.name == sheet_expected["name"], (sheet.name, sheet_expected["name"])
        wanted = {(r, c): (t, v) for r, c, t, v in sheet_expected["cells"]}
        seen = {}
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                seen[(r, c)] = cell
        assert set(seen) == set(wanted), (path, sorted(set(seen) ^ set(wanted))[:10])
        for key, (kind, value) in wanted.items():
            cell = seen[key]
            if kind == "string":
                assert cell.ctype == xlrd.XL_CELL_TEXT and cell.value == value, (path, key, cell, value)
            else:
                assert cell.ctype == xlrd.XL_CELL_NUMBER and cell.value == value, (path, key, cell, value)


def csv_rows(expected):
    rows = {}
    for r, c, kind, value in expected["sheets"][0]["cells"]:
        text = value if kind == "string" else ("%d" % value if value == int(value) else repr(value))
        rows.setdefault(r, {})[c] = text
    return [[row.get(c, "") for c in range(max(row) + 1)] for _, row in sorted(rows.items())]


def check_with_converters(path, expected):
    """The first sheet as LibreOffice's and Gnumeric's command-line converters read it."""
    with tempfile.TemporaryDirectory() as work:
        converters = {
            "soffice": ["soffice", "--headless", "-env:UserInstallation=file://" + work + "/profile",
                        "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", work, path],
            "ssconvert": ["ssconvert", "--export-type=Gnumeric_stf:stf_csv", path, work + "/ssconvert.csv"],
        }
        for name, command in converters.items():
            if not shutil.which(command[0]):
                print("skipped", name, "(not installed; scripts/install-deps.sh installs it)")
                continue
            subprocess.run(command, check=True, timeout=900, capture_output=True,
                           env=dict(os.environ, HOME=work))
            out = work + ("/ssconvert.csv" if name == "ssconvert" else
                          "/" + os.path.basename(path)[:-4] + ".csv")
            with open(out, encoding="utf-8", newline="") as f:
                seen = [row for row in csv.reader(f)]
            wanted = csv_rows(expected)
            assert len(seen) == len(wanted), (name, len(seen), len(wanted))
            for index, (a, b) in enumerate(zip(seen, wanted)):
                assert a[:len(b)] == b, (name, index, a, b)
            print("ok", name, os.path.basename(path))


def main():
    writer, folder = sys.argv[1], sys.argv[2]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run([writer, folder], check=True)
    names = sorted(n[:-4] for n in os.listdir(folder) if n.endswith(".xls"))
    assert names, "the writer wrote nothing"
    for name in names:
        path = os.path.join(folder, name + ".xls")
        with open(os.path.join(folder, name + ".json"), encoding="utf-8") as f:
            expected = json.load(f)
        check_container(path)
        check_cells(path, expected)
        print("ok", name)
        if name == "non-bmp-devices":
            check_with_converters(path, expected)


if __name__ == "__main__":
    main()
