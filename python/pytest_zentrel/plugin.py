"""plugin.py: the pytest side: the --zentrel-serve option, the zentrel fixtures and the end-of-test checks."""
import os
import signal
import threading

import pytest

from . import serve
from .router import Zentrel
from .serve import ServeError, find_binary

# The fixtures alive at this moment: the test's own and any module-wide one.
_live = []


def _on_sigterm(signum, frame):
    """A test run stopped with SIGTERM (a CI cancel, timeout) first stops its routers, then ends as it would have."""
    serve.stop_all()
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGTERM)


def pytest_configure(config):
    # Only where nobody else handles SIGTERM, and only from the main thread, as Python requires.
    if threading.current_thread() is threading.main_thread() \
            and signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
        signal.signal(signal.SIGTERM, _on_sigterm)


def pytest_unconfigure(config):
    if signal.getsignal(signal.SIGTERM) is _on_sigterm:
        signal.signal(signal.SIGTERM, signal.SIG_DFL)


def pytest_addoption(parser):
    group = parser.getgroup("zentrel", "router stand-ins served by zentrel-serve")
    group.addoption("--zentrel-serve", metavar="PATH", default=None,
                    help="the zentrel-serve program to run (default: zentrel-serve on PATH)")


def _make(request, tmp_path_factory, scope):
    __tracebackhide__ = True
    try:
        binary = find_binary(request.config.getoption("zentrel_serve"))
    except ServeError as error:
        pytest.fail(f"zentrel: {error}", pytrace=False)
    workdir = str(tmp_path_factory.mktemp("zentrel", numbered=True))
    factory = Zentrel(binary, workdir, scope)
    _live.append(factory)
    return factory


def _close(factory):
    __tracebackhide__ = True
    _live.remove(factory)
    # A test's own failures were reported with the test; a module's, when it ends.
    messages = factory.problems(final=True) if factory.scope != "function" else []
    messages += factory.close()
    if messages:
        pytest.fail("\n\n".join(messages), pytrace=False)


@pytest.fixture
def zentrel(request, tmp_path_factory):
    """Makes routers for one test: zentrel.router(response=[...], expect=[...], delay=...)."""
    factory = _make(request, tmp_path_factory, "function")
    yield factory
    _close(factory)


@pytest.fixture(scope="module")
def zentrel_module(request, tmp_path_factory):
    """The same, shared by the tests of a module; stopped after the module's last test."""
    factory = _make(request, tmp_path_factory, "module")
    yield factory
    _close(factory)


@pytest.hookimpl(trylast=True)
def pytest_runtest_call(item):
    """Fails the test itself (not its teardown) on a failed check or a session left running.

    Runs after the test function and only when it passed.
    """
    __tracebackhide__ = True
    problems = [p for f in list(_live) for p in f.problems(final=f.scope == "function")]
    if problems:
        pytest.fail("\n\n".join(problems), pytrace=False)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test's report shows every router's sessions and transcripts."""
    outcome = yield
    report = outcome.get_result()
    routers = [r for f in _live for r in f.routers]
    if report.when == "call" and report.failed and routers:
        report.sections.append(("zentrel", "\n".join(r.summary() for r in routers)))


def pytest_report_header(config):
    path = config.getoption("zentrel_serve")
    if path:
        return f"zentrel-serve: {os.path.abspath(path)}"
    return None
