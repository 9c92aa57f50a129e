"""pytest_zentrel: a pytest plugin that gives each test router stand-ins served by zentrel-serve.

Loaded by pytest through its pytest11 entry point once installed, or with
`-p pytest_zentrel` from the source tree (PYTHONPATH=python).
"""
from .plugin import (pytest_addoption, pytest_report_header,
                     pytest_runtest_call, pytest_runtest_makereport, zentrel,
                     zentrel_module)
from .router import Router, Session, Zentrel
from .router_files import quote_item, response_text

__all__ = ["Router", "Session", "Zentrel", "quote_item", "response_text", "zentrel",
           "zentrel_module", "pytest_addoption", "pytest_report_header",
           "pytest_runtest_call", "pytest_runtest_makereport"]
