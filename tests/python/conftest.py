"""conftest.py: the plugin's own tests, in inner pytest sessions and this one, against the zentrel-serve given."""
import os

import pytest

pytest_plugins = ["pytester", "pytest_zentrel"]

PLUGIN_SOURCE = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "python"))


def pytest_addoption(parser):
    parser.addoption("--image", metavar="TAR", help="the OCI archive make image wrote")
    parser.addoption("--image-again", metavar="TAR", help="the same commit's image, built again")


@pytest.fixture
def serve_binary(request):
    """The --zentrel-serve given to this session, handed on to the inner ones."""
    path = request.config.getoption("zentrel_serve")
    if not path:
        pytest.fail("these tests need --zentrel-serve=PATH (the built zentrel-serve)", pytrace=False)
    return os.path.abspath(path)


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
