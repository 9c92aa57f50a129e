"""conftest.py: the plugin's own tests run inner pytest sessions against the zentrel-serve given here."""
import os

import pytest

pytest_plugins = ["pytester"]

PLUGIN_SOURCE = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "python"))


def pytest_addoption(parser):
    parser.addoption("--serve-under-test", metavar="PATH", required=True,
                     help="the built zentrel-serve the inner test sessions use")


@pytest.fixture
def serve_binary(request):
    return os.path.abspath(request.config.getoption("serve_under_test"))


@pytest.fixture(autouse=True)
def plugin_from_source(monkeypatch):
    """Inner sessions run in a directory of their own: the plugin's path must be absolute."""
    monkeypatch.setenv("PYTHONPATH", PLUGIN_SOURCE + os.pathsep + os.environ.get("PYTHONPATH", ""))


@pytest.fixture
def run_inner(pytester, serve_binary):
    """Runs a test file of its own in a fresh pytest process, with the plugin from the source tree."""
    def run(source, *args):
        pytester.makepyfile(source)
        return pytester.runpytest_subprocess("-p", "pytest_zentrel", "-p", "no:cacheprovider",
                                             f"--zentrel-serve={serve_binary}", *args)
    return run
