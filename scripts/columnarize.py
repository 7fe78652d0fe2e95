#!/usr/bin/env pypy3
"""velmar-columnarize from a source tree, without installing it: the command itself is
python/velmar_codec_cli.py (installed by pip as velmar-columnarize). Its arguments, and one
for a source tree:
    scripts/columnarize.py [--build-dir DIR] [--min-rows N] [infile] [outfile]
--build-dir names the folder of the built module, or a build tree whose src/module holds
it; without it the module comes from the import path (PYTHONPATH)."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "python"))

import velmar_codec_cli  # noqa: E402


def main():
    parser = velmar_codec_cli.build_parser(prog=os.path.basename(sys.argv[0]))
    parser.add_argument("--build-dir",
                        help="folder with the built velmar_codec module, or a build tree")
    args = parser.parse_args()
    if args.build_dir is not None:
        if not os.path.isdir(args.build_dir):
            parser.error("argument --build-dir: no folder '%s'" % args.build_dir)
        module_dir = os.path.join(args.build_dir, "src", "module")
        sys.path.insert(0, module_dir if os.path.isdir(module_dir) else args.build_dir)
    return velmar_codec_cli.run(parser, args)


if __name__ == "__main__":
    sys.exit(main())
