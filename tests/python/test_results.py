"""What columnarize returns and raises for payloads: result bytes for accepted payloads,
and exactly RuntimeError(message) for the transform's failures."""

import pytest


# The derivation's rules have their table in tests/columnar/derive_test.cpp and the
# transform's messages theirs in tests/columnar/transform_test.cpp; these rows check what
# the boundary adds: bytes in and exactly the transform's bytes out, whitespace, raw
# UTF-8 and escapes, and number texts passing through unchanged.
@pytest.mark.parametrize("payload, result", [
    (b'[{"a":1,"b":2,"c":null},{"a":1.0,"b":3}]',
     b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}'),
    (b" \t\r\n[ ] \n", b'{"columns":[],"rows":[],"constants":{}}'),
    (b'[{"k\\u00e9\\n":"\\u2028\\/\\u0000"}]',
     b'{"columns":["k\xc3\xa9\\n"],"rows":[["\xe2\x80\xa8/\\u0000"]],"constants":{}}'),
    (b'[{"d":1e2,"m":-0,"x":0.0000095,"y":1e16,"u":18446744073709551615,'
     b'"s":-9223372036854775808,"t":18446744073709551616}]',
     b'{"columns":["d","m","x","y","u","s","t"],"rows":[[100.0,-0.0,9.5e-6,1e+16,'
     b'18446744073709551615,-9223372036854775808,1.8446744073709552e+19]],"constants":{}}'),
])
def test_result_bytes(columnarize, payload, result):
    out = columnarize(payload)
    assert type(out) is bytes
    assert out == result


@pytest.mark.parametrize("payload, message", [
    (b"", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"),
    (b"{}", "invalid row-oriented JSON: invalid type: map, expected a sequence at line 1 column 0"),
    (b"[{\"a\":1},7]", "expected a JSON object row, got: 7"),
    (b"[{},[1,2],3]", "expected a JSON object row, got: [1,2]"),
    (b'[{},"a\\"b"]', 'expected a JSON object row, got: "a\\"b"'),
    (b"[null]", "expected a JSON object row, got: null"),
    (b"[2.5]", "expected a JSON object row, got: 2.5"),
])
def test_transform_errors_are_exactly_runtime_error(columnarize, payload, message):
    with pytest.raises(RuntimeError) as info:
        columnarize(payload)
    assert type(info.value) is RuntimeError
    assert info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize("payload, prefix", [
    (b"   \n ", "invalid row-oriented JSON: EOF while parsing a value"),
    (b"\xef\xbb\xbf[]", "invalid row-oriented JSON: expected value"),
    (b"[{}] x", "invalid row-oriented JSON: trailing characters"),
    (b"[7, {]", "invalid row-oriented JSON: "),
    (b"true", "invalid row-oriented JSON: invalid type: boolean `true`, expected a sequence"),
    (b"[" * 200 + b"]" * 200, "invalid row-oriented JSON: recursion limit exceeded"),
])
def test_malformed_payloads(columnarize, payload, prefix):
    with pytest.raises(RuntimeError) as info:
        columnarize(payload)
    assert type(info.value) is RuntimeError
    assert info.value.args[0].startswith(prefix), info.value.args[0]


def test_failures_are_caught_by_except_exception(columnarize):
    for payload in (b"", b"[1]", b"[{}"):
        try:
            columnarize(payload)
        except Exception:
            pass
        else:
            pytest.fail("no exception for %r" % payload)


def one_key_per_row(rows):
    """Row i holds only the key k<i>: a rows x rows matrix of cells from a small payload."""
    return b"[" + b",".join(b'{"k%d":1}' % i for i in range(rows)) + b"]"


def test_a_result_larger_than_memory_is_a_memory_error(columnarize):
    payload = one_key_per_row(100_000)  # 1.3 MB that define 10^10 cells
    with pytest.raises(MemoryError) as info:
        columnarize(payload)
    assert type(info.value) is MemoryError
    assert info.value.args[0].startswith(
        "result too large: 100000 rows x 100000 columns need at least "), info.value.args
    assert isinstance(info.value, Exception)
    # The process goes on, and so do its calls.
    assert columnarize(b'[{"a":1},{"a":2}]') == b'{"columns":["a"],"rows":[[1],[2]],"constants":{}}'


def test_a_large_result_of_a_small_payload_is_still_made(columnarize):
    rows = 3_000
    names = b",".join(b'"k%d"' % i for i in range(rows))
    cells = [b"null"] * rows
    lines = []
    for i in range(rows):
        cells[i] = b"1"
        lines.append(b"[" + b",".join(cells) + b"]")
        cells[i] = b"null"
    expected = (b'{"columns":[' + names + b'],"rows":[' + b",".join(lines) +
                b'],"constants":{}}')
    result = columnarize(one_key_per_row(rows))
    assert len(result) > 45_000_000
    assert result == expected
