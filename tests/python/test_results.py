"""What columnarize returns and raises for payloads: result bytes for accepted payloads,
exactly RuntimeError(message) for the transform's failures, and MemoryError for a result
that cannot fit in the memory the process can get, a control group's limit included."""

import hashlib
import os
import subprocess
import sys
import textwrap

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


CGROUP_LIMIT = 512 << 20


def memory_hierarchy():
    """(mount point, limit file, this process's group in it) of cgroup v1's memory
    hierarchy, or else of cgroup v2's; None when neither is mounted."""
    mounts = {}
    with open("/proc/self/mountinfo") as mountinfo:
        for line in mountinfo:
            fields = line.split()
            after = fields[fields.index("-") + 1:]
            if after[0] == "cgroup" and "memory" in after[2].split(","):
                mounts.setdefault("v1", fields[4])
            elif after[0] == "cgroup2":
                mounts.setdefault("v2", fields[4])
    groups = {}
    with open("/proc/self/cgroup") as cgroup:
        for line in cgroup:
            _, controllers, path = line.rstrip("\n").split(":", 2)
            if "memory" in controllers.split(","):
                groups["v1"] = path
            elif controllers == "":
                groups["v2"] = path
    for version, limit_file in (("v1", "memory.limit_in_bytes"), ("v2", "memory.max")):
        if version in mounts:
            return mounts[version], limit_file, groups.get(version, "/")
    return None


def remove_group(group):
    """Removes the group. Its child was reaped before this runs, so no task is left in it;
    should the kernel still list one, it is moved to the parent group first."""
    try:
        os.rmdir(group)
        return
    except FileNotFoundError:
        return
    except OSError:
        pass
    with open(os.path.join(group, "cgroup.procs")) as procs:
        pids = procs.read().split()
    for pid in pids:
        try:
            with open(os.path.join(os.path.dirname(group), "cgroup.procs"), "w") as parent:
                parent.write(pid)
        except ProcessLookupError:
            pass
    os.rmdir(group)


@pytest.fixture
def memory_cgroup():
    """A new memory control group limited to CGROUP_LIMIT bytes, in this process's own
    group (so that every limit above it still holds) or else at the hierarchy's root, and
    removed afterwards. Skips, with the reason, where the machine lets none be made."""
    if os.geteuid() != 0:
        pytest.skip("making a memory control group needs root")
    hierarchy = memory_hierarchy()
    if hierarchy is None:
        pytest.skip("no cgroup v1 memory hierarchy or cgroup v2 is mounted")
    mount_point, limit_file, own = hierarchy
    reasons = []
    for parent in dict.fromkeys([mount_point + own.rstrip("/"), mount_point]):
        group = os.path.join(parent, "velmar-test-%d" % os.getpid())
        try:
            os.mkdir(group)
        except OSError as error:
            reasons.append("%s: %s" % (parent, error.strerror))
            continue
        try:
            with open(os.path.join(group, limit_file), "w") as limit:
                limit.write(str(CGROUP_LIMIT))
        except OSError as error:  # v2 without the memory controller in this subtree
            reasons.append("%s: %s" % (limit_file, error.strerror))
            remove_group(group)
            continue
        try:
            yield group
        finally:
            remove_group(group)
        return
    pytest.skip("no memory control group can be made: " + "; ".join(reasons))


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's shadow memory and quarantine count against the limit")
def test_a_result_beyond_a_control_groups_limit_is_a_memory_error(
        columnarize, memory_cgroup, tmp_path):
    # 8,000 rows with a key of their own need 64M cells of 16 bytes, twice the group's
    # 512 MiB; 2,000 such rows need a 64 MB matrix and a 20 MB text, well inside it.
    too_large, inside = tmp_path / "too_large.json", tmp_path / "inside.json"
    too_large.write_bytes(one_key_per_row(8_000))
    inside.write_bytes(one_key_per_row(2_000))
    child = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import hashlib, os, sys
        with open(sys.argv[1], "w") as procs:
            procs.write(str(os.getpid()))
        import velmar_codec
        def columnarize_file(path):
            with open(path, "rb") as payload:
                return velmar_codec.columnarize(payload.read())
        try:
            columnarize_file(sys.argv[2])
            print("made")
        except MemoryError as error:
            print("MemoryError:", error)
        print(hashlib.sha256(columnarize_file(sys.argv[3])).hexdigest())
    """), os.path.join(memory_cgroup, "cgroup.procs"), str(too_large), str(inside)],
        env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"),
        capture_output=True, text=True, timeout=120)
    # -9: the group's OOM killer ended the child, the failure this test exists to catch.
    assert child.returncode == 0, (child.returncode, child.stdout, child.stderr)
    refused, digest = child.stdout.splitlines()
    assert refused.startswith(
        "MemoryError: result too large: 8000 rows x 8000 columns need at least "), refused
    available = int(refused.split("more than the ")[1].split()[0])
    assert available < CGROUP_LIMIT, refused
    assert digest == hashlib.sha256(columnarize(inside.read_bytes())).hexdigest()
