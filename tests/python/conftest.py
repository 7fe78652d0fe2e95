"""Shared fixtures of the velmar_codec suite.

The built module (and the test-only velmar_testhooks module) come from PYTHONPATH, which
the CTest registration points at the build tree.

Each extension library keeps its own PanicException type, made on first use. The types
are found here, before any test runs, as the BaseException subclass that appears when the
library is imported and first fetches an exception.
"""

import importlib

import pytest
from hypothesis import HealthCheck, settings

settings.register_profile(
    "velmar", derandomize=True, database=None, deadline=None, max_examples=150,
    suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("velmar")


def _import_with_panic_type(name, columnarize_of=lambda module: module.columnarize):
    before = set(BaseException.__subclasses__())
    module = importlib.import_module(name)
    try:
        columnarize_of(module)(b"[]", -1)  # fails in min_rows: the failure is fetched
    except OverflowError:
        pass
    created = [t for t in BaseException.__subclasses__()
               if t not in before and t.__name__ == "PanicException"]
    assert len(created) == 1, "the first fetch did not create one PanicException type"
    return module, created[0]


def _shipped_entry_of_hooks(hooks):
    return lambda *args, **kwargs: hooks.columnarize_with("shipped", *args, **kwargs)


velmar_codec, CODEC_PANIC_TYPE = _import_with_panic_type("velmar_codec")
try:
    velmar_testhooks, HOOKS_PANIC_TYPE = _import_with_panic_type(
        "velmar_testhooks", _shipped_entry_of_hooks)
except ImportError:
    velmar_testhooks = None
    HOOKS_PANIC_TYPE = None


@pytest.fixture(scope="session")
def codec():
    return velmar_codec


@pytest.fixture(scope="session")
def columnarize():
    return velmar_codec.columnarize


@pytest.fixture(scope="session")
def codec_panic_type():
    return CODEC_PANIC_TYPE


@pytest.fixture(scope="session")
def hooks():
    if velmar_testhooks is None:
        pytest.skip("velmar_testhooks is not built")
    return velmar_testhooks


@pytest.fixture(scope="session")
def hooks_panic_type(hooks):
    return HOOKS_PANIC_TYPE
