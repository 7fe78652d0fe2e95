# The types of the velmar_codec extension module. A compiled module carries none, so they
# ship as this stub-only package (PEP 561), which type checkers read in its place.

def columnarize(payload: bytes, min_rows: int = 20) -> bytes: ...
