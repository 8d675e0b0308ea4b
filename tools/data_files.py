# SPDX-License-Identifier: GPL-3.0-or-later
"""The four data files' names, read from assets/DataFiles.h, where the game and the build take them
from. Run as a program, it prints them one a line (tools/check-program.sh)."""
import os
import re

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "assets", "DataFiles.h")


def data_files():
    with open(HEADER, encoding="utf-8") as f:
        names = re.findall(r'^inline constexpr std::string_view k\w+File = "([^"]+)";$', f.read(), re.M)
    if len(names) != 4:
        raise RuntimeError(f"{HEADER}: expected four data file names, found {names}")
    return tuple(names)


if __name__ == "__main__":
    print("\n".join(data_files()))
