"""``python -m tavrin_ovra``: the command line of ``tavrin_ovra.cli``."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main(prog="python -m tavrin_ovra"))
