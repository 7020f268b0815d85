"""What Python sees of the native module: attributes, docstrings and text
signatures, argument errors, the thread binding of a handle, exclusive use,
and the release of a handle on a foreign thread."""

import gc
import inspect
import os
import sys
import threading

import pytest

import tavrin_ovra
from tavrin_ovra import Ovra, _tavrin_ovra

VERSION_RESPONSE = '{"version":"0.1.6"}'
NO_SPEC = '{"ok":false,"error":"bad spec: no spec set"}'
SENT_TO_ANOTHER_THREAD = "_tavrin_ovra::PyOvra is unsendable, but sent to another thread"
DROPPED_ON_ANOTHER_THREAD = "_tavrin_ovra::PyOvra is unsendable, but is being dropped on another thread"


def run_in_thread(fn):
    """Runs fn on a new thread; returns its result or the exception it raised."""
    outcome = {}

    def target():
        try:
            outcome["value"] = fn()
        except BaseException as exc:  # handed back to the test thread
            outcome["value"] = exc

    worker = threading.Thread(target=target)
    worker.start()
    worker.join()
    return outcome["value"]


# --- module and class attributes -------------------------------------------


def test_module_attributes():
    assert _tavrin_ovra.__version__ == "0.1.6"
    assert _tavrin_ovra.__all__ == ["__version__", "Ovra"]
    assert _tavrin_ovra.__doc__ == "The native module (`tavrin_ovra._tavrin_ovra`)."
    assert _tavrin_ovra.__name__ == "tavrin_ovra._tavrin_ovra"
    public = sorted(name for name in vars(_tavrin_ovra) if not name.startswith("_"))
    assert public == ["Ovra"]


def test_package_reexports():
    assert tavrin_ovra.Ovra is _tavrin_ovra.Ovra
    assert tavrin_ovra.__version__ == "0.1.6"
    assert sorted(tavrin_ovra.__all__) == ["Ovra", "__version__"]


def test_class_identity():
    assert Ovra.__module__ == "builtins"
    assert Ovra.__name__ == "Ovra"
    assert Ovra.__qualname__ == "Ovra"
    assert sorted(name for name in dir(Ovra) if not name.startswith("_")) == ["command", "version"]


@pytest.mark.parametrize(
    "obj, doc, signature",
    [
        (
            Ovra,
            "An ovra instance driven by JSON commands.\n\n`unsendable`: a handle owns a mutable dataset "
            "and spec, so it is bound to the\nthread that created it.",
            "(spec_json)",
        ),
        (Ovra.command, "Apply a command JSON and return the resulting response JSON.", "($self, cmd_json)"),
        (Ovra.version, "The library version.", "()"),
    ],
    ids=["class", "command", "version"],
)
def test_docstrings_and_text_signatures(obj, doc, signature):
    assert obj.__doc__ == doc
    assert obj.__text_signature__ == signature


def test_inspect_signatures():
    assert str(inspect.signature(Ovra)) == "(spec_json)"
    assert str(inspect.signature(Ovra.command)) == "(self, /, cmd_json)"
    assert str(inspect.signature(Ovra("").command)) == "(cmd_json)"
    assert str(inspect.signature(Ovra.version)) == "()"


def test_class_is_final():
    with pytest.raises(TypeError):
        type("Sub", (Ovra,), {})


@pytest.mark.parametrize("get_version", [lambda: Ovra.version(), lambda: Ovra("").version()], ids=["class", "handle"])
def test_version_static(get_version):
    assert get_version() == "0.1.6"


def test_version_from_any_thread():
    handle = Ovra("")
    assert run_in_thread(handle.version) == "0.1.6"


# --- argument binding ------------------------------------------------------

CONSTRUCTOR_ERRORS = [
    ((), {}, "Ovra.__new__() missing 1 required positional argument: 'spec_json'"),
    (("", ""), {}, "Ovra.__new__() takes 1 positional argument but 2 were given"),
    ((), {"spec": ""}, "Ovra.__new__() got an unexpected keyword argument 'spec'"),
    (("",), {"spec_json": ""}, "Ovra.__new__() got multiple values for argument 'spec_json'"),
    (("", ""), {"x": 1}, "Ovra.__new__() got an unexpected keyword argument 'x'"),
    ((1,), {}, "Ovra.__new__() argument 'spec_json' must be str, not int"),
    ((), {"spec_json": None}, "Ovra.__new__() argument 'spec_json' must be str, not NoneType"),
    ((b"{}",), {}, "Ovra.__new__() argument 'spec_json' must be str, not bytes"),
]


@pytest.mark.parametrize(
    "args, kwargs, message", CONSTRUCTOR_ERRORS, ids=[m.split("() ")[1][:40] for *_, m in CONSTRUCTOR_ERRORS]
)
def test_constructor_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        Ovra(*args, **kwargs)
    assert str(caught.value) == message


COMMAND_ERRORS = [
    ((), {}, "Ovra.command() missing 1 required positional argument: 'cmd_json'"),
    (("a", "b"), {}, "Ovra.command() takes 1 positional argument but 2 were given"),
    ((), {"cmd": "x"}, "Ovra.command() got an unexpected keyword argument 'cmd'"),
    (("x",), {"cmd_json": "x"}, "Ovra.command() got multiple values for argument 'cmd_json'"),
    ((1,), {}, "Ovra.command() argument 'cmd_json' must be str, not int"),
    ((), {"cmd_json": {"cmd": "version"}}, "Ovra.command() argument 'cmd_json' must be str, not dict"),
]


@pytest.mark.parametrize(
    "args, kwargs, message", COMMAND_ERRORS, ids=[m.split("() ")[1][:40] for *_, m in COMMAND_ERRORS]
)
def test_command_argument_errors_leave_handle_usable(handle, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        handle.command(*args, **kwargs)
    assert str(caught.value) == message
    assert handle.command('{"cmd":"version"}') == VERSION_RESPONSE


def test_keyword_arguments_work_like_positional():
    handle = Ovra(spec_json="{}")
    assert handle.command(cmd_json='{"cmd":"version"}') == VERSION_RESPONSE


def test_str_subclass_is_text():
    class Text(str):
        pass

    handle = Ovra(Text(" {} "))
    assert handle.command(Text('{"cmd":"frame"}')) == NO_SPEC


@pytest.mark.parametrize("text", ["\ud800", '{"cmd":"\udfff"}'], ids=["lone", "inside-json"])
def test_lone_surrogates_raise_encoding_error(handle, text):
    with pytest.raises(UnicodeEncodeError):
        Ovra(text)
    with pytest.raises(UnicodeEncodeError):
        handle.command(text)
    assert handle.command('{"cmd":"version"}') == VERSION_RESPONSE


# --- constructor text ------------------------------------------------------

WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"


@pytest.mark.parametrize(
    "text",
    ["", " ", "{}", " \n{}\r\n ", WHITE_SPACE + "{}" + WHITE_SPACE, WHITE_SPACE]
    + [ch + "{}" + ch for ch in WHITE_SPACE],
    ids=["empty", "space", "braces", "braces-lines", "all-white-space", "only-white-space"]
    + [f"U+{ord(ch):04X}" for ch in WHITE_SPACE],
)
def test_no_spec_texts(text):
    assert Ovra(text).command('{"cmd":"frame"}') == NO_SPEC


# Characters that look blank but are not White_Space, and braces that are not
# exactly "{}": all go on to the spec reader and fail there.
@pytest.mark.parametrize(
    "text",
    ["{ }", "null", "{}{}", "\x1c{}", "{}\x1f", "\u200b{}", "{}\u180e", "\ufeff{}", "\x00{}"],
    ids=["spaced-braces", "null", "two-objects", "U+001C", "U+001F", "U+200B", "U+180E", "U+FEFF", "NUL"],
)
def test_texts_that_reach_the_spec_reader(text):
    with pytest.raises(ValueError) as caught:
        Ovra(text)
    assert str(caught.value).startswith("parse: ")


# --- threads and exclusive use ---------------------------------------------


def test_command_from_another_thread_is_refused():
    handle = Ovra("")
    refused = run_in_thread(lambda: handle.command('{"cmd":"reset"}'))
    assert type(refused) is RuntimeError
    assert str(refused) == SENT_TO_ANOTHER_THREAD
    assert handle.command('{"cmd":"version"}') == VERSION_RESPONSE


def test_thread_check_comes_before_text_conversion():
    handle = Ovra("")
    refused = run_in_thread(lambda: handle.command(12))
    assert type(refused) is RuntimeError and str(refused) == SENT_TO_ANOTHER_THREAD


def test_handle_made_on_a_finished_thread_is_refused_here():
    handle = run_in_thread(lambda: Ovra(""))
    with pytest.raises(RuntimeError) as caught:
        handle.command('{"cmd":"version"}')
    assert str(caught.value) == SENT_TO_ANOTHER_THREAD
    gc.collect()
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda unraisable: None
    try:
        del handle  # dropped on a foreign thread: reported, not freed
    finally:
        sys.unraisablehook = old_hook


def test_reentry_from_del_during_a_command(handle):
    """A __del__ run by the collector inside a command calls the same handle.

    Where the collector runs on allocation (3.11), a collection can start while
    the interpreter builds the encoding error of a lone surrogate, with the
    handle in use: the inner call must be refused, not run. Where and whether
    that happens depends on the allocation count, so several paddings are tried.
    Either way the outer call and the handle are unharmed."""
    seen = []

    class Cycle:
        def __init__(self):
            self.me = self

        def __del__(self):
            try:
                seen.append(handle.command('{"cmd":"version"}'))
            except RuntimeError as exc:
                seen.append(str(exc))

    threshold = gc.get_threshold()
    try:
        for padding in range(8):
            gc.collect()
            gc.set_threshold(padding + 1)
            Cycle()
            try:
                handle.command("\ud800")
            except UnicodeEncodeError:
                pass
            gc.set_threshold(*threshold)
    finally:
        gc.set_threshold(*threshold)
    gc.collect()
    assert set(seen) <= {VERSION_RESPONSE, "Already borrowed"}
    assert len(seen) == 8
    if sys.version_info[:2] == (3, 11):
        assert "Already borrowed" in seen
    assert handle.command('{"cmd":"version"}') == VERSION_RESPONSE


# --- release ---------------------------------------------------------------


def capture_unraisable(monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", lambda unraisable: reports.append(unraisable.exc_value))
    return reports


def test_drop_on_owner_thread_is_silent(monkeypatch):
    reports = capture_unraisable(monkeypatch)
    handle = Ovra("")
    del handle
    assert reports == []


def test_drop_on_foreign_thread_goes_to_unraisable_hook(monkeypatch):
    reports = capture_unraisable(monkeypatch)
    box = [Ovra("")]
    run_in_thread(box.clear)  # the worker drops the last reference
    assert [(type(e), str(e)) for e in reports] == [(RuntimeError, DROPPED_ON_ANOTHER_THREAD)]


def test_foreign_drop_keeps_a_pending_exception(monkeypatch):
    reports = capture_unraisable(monkeypatch)
    box = [Ovra("")]

    def drop_while_raising():
        try:
            raise KeyError("kept")
        except KeyError:
            box.clear()
            return sys.exc_info()[1]

    kept = run_in_thread(drop_while_raising)
    assert isinstance(kept, KeyError) and len(reports) == 1


def test_module_refuses_a_second_interpreter(tmp_path):
    interpreters = pytest.importorskip("_xxsubinterpreters")
    package_root = os.path.dirname(os.path.dirname(tavrin_ovra.__file__))
    report = tmp_path / "report.txt"
    code = (
        f"import sys; sys.path.insert(0, {package_root!r})\n"
        "try:\n"
        "    import tavrin_ovra._tavrin_ovra\n"
        "    message = 'imported'\n"
        "except ImportError as exc:\n"
        "    message = str(exc)\n"
        f"open({str(report)!r}, 'w').write(message)\n"
    )
    interpreter = interpreters.create()
    try:
        interpreters.run_string(interpreter, code)
    finally:
        interpreters.destroy(interpreter)
    # From 3.12 an isolated interpreter may refuse the module before we can.
    assert report.read_text() in {
        "_tavrin_ovra cannot be loaded in more than one interpreter",
        "module tavrin_ovra._tavrin_ovra does not support loading in subinterpreters",
    }
    assert Ovra("").version() == "0.1.6"


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.memory_accounting
@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_handles_and_commands_do_not_leak():
    def churn():
        for _ in range(2000):
            handle = Ovra(" {} ")
            handle.command('{"cmd":"version"}')
            handle.command('{"cmd":"unknown","x":[1,2,3]}')
            handle.command("{")
            try:
                handle.command(1)
            except TypeError:
                pass

    churn()  # warm up allocator pools
    type_references = sys.getrefcount(Ovra)
    before = resident_bytes()
    for _ in range(10):
        churn()
    # 20000 leaked handle states would hold about 6 MiB.
    assert resident_bytes() - before < 3 * 1024 * 1024
    assert sys.getrefcount(Ovra) == type_references
