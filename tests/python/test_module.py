"""The module as the interpreter sees it: its attributes, the function's doc text and
signature, the exec slot on fresh module objects, and the exec slot's failures."""

import importlib.util
import inspect
import sys
import types

import pytest

DOC_HEAD = (
    "Columnarize a row-oriented JSON payload (bytes or str), GIL released\n"
    "for the duration of the transform.\n"
    "\n"
    "Args:\n"
    "    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.\n"
    "    min_rows: Accepted for parity with the Python codec's signature;\n"
    "        not re-checked here (the Python caller already applied the\n"
    "        guard before calling this function).\n"
    "\n"
    "Returns:\n"
    "    UTF-8 JSON bytes encoding `{\"columns\", \"rows\", \"constants\"}`.\n"
    "\n"
    "Panic safety: ")


def fresh_module(preset=None):
    """A new module object made from velmar_codec's definition, with attributes preset
    before the exec slot runs; returns the module and its loader."""
    found = importlib.util.find_spec("velmar_codec")
    module = importlib.util.module_from_spec(found)
    for name, value in (preset or {}).items():
        setattr(module, name, value)
    return module, found.loader


def test_module_attributes(codec):
    assert codec.__name__ == "velmar_codec"
    assert codec.__doc__ == ""
    assert codec.__all__ == ["columnarize"]
    assert type(codec.__all__) is list
    assert type(codec.columnarize).__name__ == "builtin_function_or_method"
    assert codec.columnarize.__name__ == "columnarize"
    assert codec.columnarize.__module__ == codec.__name__
    assert [name for name in vars(codec) if not name.startswith("__")] == ["columnarize"]


def test_doc_text_and_signature(columnarize):
    doc = columnarize.__doc__
    assert doc.startswith(DOC_HEAD)
    assert not doc.endswith("\n")
    assert len(doc.split("\n")) == 21
    paragraph = " ".join(doc.split("\n")[12:])
    for phrase in ("RuntimeError", "PanicException", "BaseException", "except Exception:",
                   "a broken codec must never break a tool call", "stack overflow"):
        assert phrase in paragraph
    assert columnarize.__text_signature__ == "(payload, min_rows=20)"
    assert str(inspect.signature(columnarize)) == "(payload, min_rows=20)"


def test_second_module_from_the_same_definition(codec):
    module, loader = fresh_module()
    loader.exec_module(module)
    assert module.__all__ == ["columnarize"]
    assert module.columnarize is not codec.columnarize
    assert module.columnarize.__module__ == "velmar_codec"
    assert module.columnarize(b"[]") == codec.columnarize(b"[]")


def test_function_module_follows_the_module_name():
    module, loader = fresh_module({"__name__": "renamed_codec"})
    loader.exec_module(module)
    assert module.columnarize.__module__ == "renamed_codec"


def test_existing_all_list_is_appended_to():
    exports = ["helper", "columnarize"]
    module, loader = fresh_module({"__all__": exports})
    loader.exec_module(module)
    assert module.__all__ is exports
    assert exports == ["helper", "columnarize", "columnarize"]


@pytest.mark.parametrize("exports, type_name", [
    (("helper",), "tuple"),
    ("columnarize", "str"),
    (None, "None"),
])
def test_all_that_is_not_a_list_fails_the_exec_slot(exports, type_name):
    module, loader = fresh_module({"__all__": exports})
    with pytest.raises(TypeError) as info:
        loader.exec_module(module)
    assert type(info.value) is TypeError
    expected = ("'None' is not an instance of 'list'" if exports is None
                else "'%s' object is not an instance of 'list'" % type_name)
    assert info.value.args == (expected,)
    assert not hasattr(module, "columnarize")


def test_module_name_that_is_not_str_fails_the_exec_slot(hooks):
    module, loader = fresh_module({"__name__": 42})
    if sys.implementation.name == "cpython":
        # CPython asks the module for its name itself, before any exec slot runs.
        with pytest.raises(SystemError, match="nameless module"):
            loader.exec_module(module)
    else:
        with pytest.raises(TypeError) as info:
            loader.exec_module(module)
        assert info.value.args == ("'int' object is not an instance of 'str'",)
    module, _ = fresh_module({"__name__": 42})
    with pytest.raises(TypeError) as info:
        hooks.exec_slot(module)
    assert info.value.args == ("'int' object is not an instance of 'str'",)


class ModuleWithFailingAll(types.ModuleType):
    @property
    def __all__(self):
        raise LookupError("no exports here")


class ModuleWithoutAll(types.ModuleType):
    """Reads of __all__ fail with AttributeError; stores are kept in `stored`."""

    stored = None

    @property
    def __all__(self):
        raise AttributeError("__all__")

    @__all__.setter
    def __all__(self, value):
        self.stored = value


class ModuleWithReadOnlyAll(types.ModuleType):
    @property
    def __all__(self):
        raise AttributeError("__all__")


def test_exec_slot_on_module_objects(hooks):
    plain = types.ModuleType("plain")
    hooks.exec_slot(plain)
    assert plain.__all__ == ["columnarize"]
    assert plain.columnarize.__module__ == "plain"
    assert plain.columnarize(b"[{}]") == b'{"columns":[],"rows":[[]],"constants":{}}'


@pytest.mark.parametrize("make, error_type, message", [
    (lambda: 3, TypeError, "'int' object is not an instance of 'module'"),
    (lambda: None, TypeError, "'None' is not an instance of 'module'"),
    (lambda: types.SimpleNamespace(__name__="x"), TypeError,
     "'SimpleNamespace' object is not an instance of 'module'"),
    (lambda: ModuleWithFailingAll("failing"), LookupError, "no exports here"),
])
def test_exec_slot_failures(hooks, make, error_type, message):
    with pytest.raises(BaseException) as info:
        hooks.exec_slot(make())
    assert type(info.value) is error_type
    assert info.value.args == (message,)


def test_exec_slot_without_name_in_dict(hooks):
    module = types.ModuleType("nameless")
    del module.__dict__["__name__"]
    with pytest.raises(AttributeError) as info:
        hooks.exec_slot(module)
    assert type(info.value) is AttributeError
    assert info.value.args == ("__name__",)


def test_exec_slot_stores_a_new_all_when_lookup_raises_attribute_error(hooks):
    module = ModuleWithoutAll("subclassed")
    hooks.exec_slot(module)
    assert type(module.stored) is list
    assert module.stored == ["columnarize"]
    assert module.columnarize.__module__ == "subclassed"


def test_exec_slot_fails_when_the_new_all_cannot_be_stored(hooks):
    module = ModuleWithReadOnlyAll("read_only")
    with pytest.raises(AttributeError) as info:
        hooks.exec_slot(module)
    assert info.value.args != ("__all__",)  # the store's own error, not the lookup's
    assert not hasattr(module, "columnarize")


def test_exec_slot_with_no_module_reports_the_pending_exception(hooks):
    pending = ValueError("pending before the slot ran")
    with pytest.raises(ValueError) as info:
        hooks.exec_slot_null(pending)
    assert info.value is pending
