#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fails when a CTest test of the build has no TIMEOUT of its own.

    every_test_has_a_timeout.py CTEST BUILD_DIR
"""
import json
import subprocess
import sys

ctest, build = sys.argv[1:3]
listing = subprocess.run([ctest, "--test-dir", build, "--show-only=json-v1"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, check=True)
tests = json.loads(listing.stdout)["tests"]
bare = [test["name"] for test in tests
        if not any(p["name"] == "TIMEOUT" and p["value"] > 0 for p in test.get("properties", []))]
print(f"{len(tests)} tests, {len(tests) - len(bare)} with a TIMEOUT")
# A listing that lost the GoogleTest cases would pass with nothing to check.
if len(tests) < 100 or bare:
    print("without a TIMEOUT:\n  " + "\n  ".join(bare), file=sys.stderr)
    sys.exit(1)
