"""Helpers every end-to-end test may use: built programs, waits, pixels."""

import os

import pytest
from xdisplay import BUILD, REPO, poll  # noqa: F401


def built(tree, name):
    """build/<tree>/<name> (scripts/build <tree>); the test skips without it."""
    path = os.path.join(BUILD, tree, name)
    if not os.path.exists(path):
        pytest.skip('%s is not built: %s is missing (scripts/build %s)' % (
            os.path.basename(name), os.path.relpath(path, REPO), tree))
    return path


def wait_until(cond, timeout, what, interval=0.1):
    """As poll, but fails the test naming `what` when the time runs out."""
    value = poll(cond, timeout, interval)
    if not value:
        raise AssertionError('%s: not within %g s' % (what, timeout))
    return value


def pixel(display, x, y):
    """(r, g, b) of one pixel as shown; None when the server refuses."""
    return display.pixel_rgb(x, y)
