"""Command-line options of the end-to-end tests (tests/e2e/conftest.py has
their fixtures). Here, not there: pytest reads options only from the
conftest files it loads before collecting, and from the repository root it
loads this one."""


def pytest_addoption(parser):
    parser.addoption('--keep-prefixes', action='store_true',
                     help="keep each Wine test's prefix, and the template, "
                     'under build/e2e/')
