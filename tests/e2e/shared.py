"""Helpers every end-to-end test may use: where the build put a helper
program, waiting on a condition, and one pixel read from the X server."""

import os
import time

import pytest
from Xlib import X
from Xlib import error as xerror

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(
    __file__)), os.pardir, os.pardir))
BUILD = os.path.join(REPO, 'build')


def built(tree, name):
    """build/<tree>/<name>, made by `scripts/build <tree>`; the test skips
    when it is not there."""
    path = os.path.join(BUILD, tree, name)
    if not os.path.exists(path):
        pytest.skip('%s is not built: %s is missing (scripts/build %s)' % (
            os.path.basename(name), os.path.relpath(path, REPO), tree))
    return path


def poll(cond, timeout, interval=0.1):
    """Polls cond until it gives something truthy and returns that; None
    when timeout seconds pass first."""
    end = time.monotonic() + timeout
    while True:
        value = cond()
        if value:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(interval)


def wait_until(cond, timeout, what, interval=0.1):
    """As poll, but fails the test naming `what` when the time runs out."""
    value = poll(cond, timeout, interval)
    if not value:
        raise AssertionError('%s: not within %g s' % (what, timeout))
    return value


def pixel(display, x, y):
    """(r, g, b) of one pixel of the screen as shown (the compositor draws
    into the root window), through the display's own X connection; None
    when the server refuses (a screen shrunk meanwhile)."""
    root = display.x().screen().root
    try:
        data = root.get_image(x, y, 1, 1, X.ZPixmap, 0xFFFFFFFF).data
    except xerror.XError:
        return None
    return data[2], data[1], data[0]  # BGRX on a little-endian 24-bit screen
