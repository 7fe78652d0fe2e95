"""velmar-columnarize: columnarize a row-oriented JSON payload with the velmar_codec module.

Reads the payload from FILE (or standard input when FILE is omitted or "-"), writes the
columnar result bytes to standard output. On failure it prints the exception's type name
and message to standard error and exits with status 1 (2 for usage errors, including a
module that cannot be imported).

The module is found on the normal import path (PYTHONPATH), or in --build-dir: either the
folder holding the built module or a build tree whose src/module folder holds it.
"""

import argparse
import os
import sys


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="velmar-columnarize",
        description="Columnarize a row-oriented JSON payload (a JSON array of objects).")
    parser.add_argument("payload", nargs="?", default="-",
                        help="payload file; standard input when omitted or '-'")
    parser.add_argument("--build-dir",
                        help="folder with the built velmar_codec module, or a build tree")
    parser.add_argument("--min-rows", type=int, default=None,
                        help="passed on as min_rows (validated by the module, then ignored)")
    return parser.parse_args(argv)


def import_codec(build_dir):
    if build_dir:
        module_dir = os.path.join(build_dir, "src", "module")
        sys.path.insert(0, module_dir if os.path.isdir(module_dir) else build_dir)
    import velmar_codec
    return velmar_codec


def read_payload(path):
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as source:
        return source.read()


def report(error):
    print("%s: %s" % (type(error).__name__, error), file=sys.stderr)


def main(argv=None):
    args = parse_arguments(argv)
    try:
        codec = import_codec(args.build_dir)
    except ImportError as error:
        report(error)
        return 2
    try:
        payload = read_payload(args.payload)
        if args.min_rows is None:
            result = codec.columnarize(payload)
        else:
            result = codec.columnarize(payload, args.min_rows)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # PanicException derives from BaseException
        report(error)
        return 1
    sys.stdout.buffer.write(result)
    sys.stdout.buffer.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
