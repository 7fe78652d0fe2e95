"""velmar-columnarize: columnarize a row-oriented JSON payload with the velmar_codec module.

    velmar-columnarize [--min-rows N] [infile] [outfile]

Used like `python -m json.tool`: reads infile (standard input when omitted or "-") and
writes the columnar JSON and a newline to outfile (standard output when omitted or "-").
outfile is opened only once the result is there, so it may be infile, and a failure leaves
it as it was. Exit status: 0 when done; 1 when the module refuses the payload or the result
cannot be written ("velmar-columnarize: error: <message>"); 2 for a usage error, a file
that cannot be opened or a min_rows that the module refuses (argparse's usage line, then
"velmar-columnarize: error: <message>").
"""

import argparse
import os
import sys


def build_parser(prog="velmar-columnarize"):
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Columnarize a row-oriented JSON payload (a JSON array of objects).")
    # A string default goes through the type as well: "-" opens standard input.
    parser.add_argument("infile", nargs="?", type=argparse.FileType("rb"), default="-",
                        help="the payload; standard input when omitted or '-'")
    parser.add_argument("outfile", nargs="?", default="-",
                        help="where the result goes; standard output when omitted or '-'")
    parser.add_argument("--min-rows", type=int, default=None,
                        help="passed on as min_rows (validated by the module, then ignored)")
    return parser


def run(parser, args):
    """The command's work on parsed arguments; a source-tree runner adds options first."""
    try:
        import velmar_codec
    except ImportError as error:
        parser.error(str(error))
    with args.infile as infile:
        payload = infile.read()
    options = {} if args.min_rows is None else {"min_rows": args.min_rows}
    try:
        result = velmar_codec.columnarize(payload, **options)
    except OverflowError as error:  # the payload is bytes: only min_rows can overflow
        parser.error("argument --min-rows: %s" % error)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # PanicException derives from BaseException
        fail(parser, error)
    try:
        write_result(args.outfile, result + b"\n")
    except BrokenPipeError:
        # The reader left (`| head`): end quietly, as json.tool does, and keep the exit-time
        # flush of standard output from failing again.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as error:
        fail(parser, error)
    return 0


def write_result(path, text):
    if path == "-":
        sys.stdout.buffer.write(text)
        sys.stdout.buffer.flush()
        return
    with open(path, "wb") as out:
        out.write(text)


def fail(parser, error):
    parser.exit(1, "%s: error: %s\n" % (parser.prog, str(error) or type(error).__name__))


def main(argv=None):
    parser = build_parser()
    return run(parser, parser.parse_args(argv))


if __name__ == "__main__":
    sys.exit(main())
