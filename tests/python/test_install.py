"""test_install.py: once installed, pytest loads the plugin by itself through its entry point."""
import os
import subprocess

import pytest


def test_installed_plugin_loads_without_p(pytester, serve_binary, monkeypatch, tmp_path):
    build = os.environ.get("ZENTREL_BUILD_DIR")
    if not build:
        pytest.skip("ZENTREL_BUILD_DIR (a configured build folder) is not set")
    stage = tmp_path / "stage"
    subprocess.run(["cmake", "--install", build, "--component", "python", "--prefix", "/usr"],
                   env={**os.environ, "DESTDIR": str(stage)}, check=True, capture_output=True)
    site = stage / "usr/lib/python3/dist-packages"
    assert (site / "pytest_zentrel-2.0.dist-info/entry_points.txt").is_file()
    # Only the staged copy: neither the source tree nor -p.
    monkeypatch.setenv("PYTHONPATH", str(site))
    pytester.makepyfile("""
        import pytest_zentrel, socket

        def test_served(zentrel):
            assert pytest_zentrel.__file__.startswith(%r)
            router = zentrel.router(response=["hello"], delay=0)
            with socket.create_connection((router.host, router.port)) as client:
                assert client.recv(100) == b"hello"
            router.verify()
    """ % str(site))
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider",
                                           f"--zentrel-serve={serve_binary}")
    result.assert_outcomes(passed=1)
