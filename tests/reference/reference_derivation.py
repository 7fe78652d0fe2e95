"""The columnar transform written plainly in Python: the reference that the property tests,
the soak and the Python benchmark check the module against, and the pure-Python
implementation the benchmark times it against. It shares no code with the module. Its C++
twin is reference_derivation.h beside it.

The rules: columns in order of first appearance; columns that are null or missing in every
row dropped; with two rows or more, a column is constant when every row's cell equals row
0's (numbers at the top of a cell by exact value, so 1 == 1.0 but 9007199254740993 !=
9007199254740992.0; everything else, nested numbers included, by kind and content, object
members in any order) and keeps row 0's value; every other column varies.

Values are those json.loads makes. Python keeps integers beyond 64 bits exact, where the
module reads them as doubles, so for such payloads the two agree only when the caller maps
the values first (as the property tests do)."""

import json
import math

NUMBER_TYPES = (int, float)


def same(a, b):
    """Kind and content: True is not 1, 1 is not 1.0; objects ignore member order."""
    if type(a) is not type(b):
        return False
    if type(a) is list:
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def same_cell(a, b):
    """Numbers by exact value (Python compares int with float exactly, so 2**53 + 1 !=
    2.0**53), everything else as `same`."""
    if type(a) in NUMBER_TYPES and type(b) in NUMBER_TYPES:
        return a == b
    return same(a, b)


def derive(rows):
    """The columnar document of `rows`, a list of dicts, as a dict."""
    order = {}
    for row in rows:
        order.update(row)  # a key keeps its place of first appearance
    columns = [c for c in order if any(row.get(c) is not None for row in rows)]
    constants = {}
    if len(rows) >= 2:
        for c in columns:
            first = rows[0].get(c)
            if first is not None and all(same_cell(row.get(c), first) for row in rows[1:]):
                constants[c] = first
    varying = [c for c in columns if c not in constants]
    return {"columns": varying,
            "rows": [[row.get(c) for c in varying] for row in rows],
            "constants": constants}


def compact(document):
    """The compact UTF-8 JSON text of `document`. json.dumps with ensure_ascii=False escapes
    exactly the bytes the module's writer does: the quote, the backslash and the control
    characters (\\b \\t \\n \\f \\r by letter, the others as \\u00xx). Doubles take
    Python's repr, which may differ from the module's text (1e-07 against 1e-7)."""
    return json.dumps(document, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def columnarize(payload):
    """bytes to bytes, as the module: json.loads, derive, compact."""
    rows = json.loads(payload)
    if type(rows) is not list:
        raise ValueError("expected a JSON array")
    for row in rows:
        if type(row) is not dict:
            raise ValueError("expected a JSON object row, got: %s" % compact(row).decode())
    return compact(derive(rows))


def identical(a, b):
    """Same kind, same value, same sign of zero, same member order: equal documents."""
    if type(a) is not type(b):
        return False
    if type(a) is float:
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if type(a) is list:
        return len(a) == len(b) and all(identical(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        return list(a) == list(b) and all(identical(a[k], b[k]) for k in a)
    return a == b
