#!/usr/bin/env pypy3
"""velmar-columnarize from a source tree, without installing it: the command itself is
python/velmar_codec_cli.py (installed by pip as velmar-columnarize). Same arguments:
    scripts/columnarize.py [--build-dir DIR] [--min-rows N] [FILE]"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))

from velmar_codec_cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
