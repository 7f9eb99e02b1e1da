#!/usr/bin/env python3
"""Sums the test results of several suites into one line "N passed, N failed".

Each suite folder holds ctest's JUnit file (one entry per test program) and,
per program, gtest's XML file with its cases. A program's cases count when its
XML exists; a program that failed without a failing case (a crash, a time-out)
counts as one more failure; a program without XML counts as one test.
"""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    root = ET.parse(path).getroot()
    total = int(root.get("tests", 0)) - int(root.get("disabled", 0))
    failed = int(root.get("failures", 0)) + int(root.get("errors", 0))
    skipped = sum(1 for c in root.iter("testcase") if c.find("skipped") is not None)
    return total - failed - skipped, failed


def main(folders):
    passed = failed = 0
    for folder in folders:
        junit = os.path.join(folder, "ctest.xml")
        if not os.path.exists(junit):
            print(f"{folder}: no results", file=sys.stderr)
            failed += 1
            continue
        for case in ET.parse(junit).getroot().iter("testcase"):
            name = case.get("name")
            ok = case.get("status") == "run" and case.find("failure") is None
            xml = None
            for candidate in (f"{name}.xml", f"win-{name}.xml"):
                p = os.path.join(folder, candidate)
                if os.path.exists(p):
                    xml = p
            if xml:
                try:
                    p, f = gtest_counts(xml)
                except ET.ParseError:
                    p, f = 0, 1
                if not ok and f == 0:
                    f = 1
                    print(f"{os.path.basename(folder)}/{name}: ended abnormally", file=sys.stderr)
                passed += p
                failed += f
            else:
                passed += ok
                failed += not ok
            if not ok:
                print(f"FAILED: {os.path.basename(folder)}/{name}", file=sys.stderr)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
