"""The helpers every end-to-end test may use: what scripts/xdisplay.py and
scripts/wineprefix.py (which the launchers share) offer, and what only the
tests add: built programs, waits, pixels, the template prefix, the helper
programs' JSON answers and the tint's arithmetic."""

import json
import os
import shutil
import subprocess

import pytest
from wineprefix import (APP_TITLE, EXE, SETTINGS_KEY, Wine, reg_values,  # noqa: F401
                        wine_loader)
from xdisplay import (BUILD, REPO, SAVED_SHOTS, SCREEN_H, SCREEN_W, DISPLAY_KINDS,  # noqa: F401
                      Display, HarnessError, Image, close, install_signal_exit, locale_name, log,
                      poll, spawn_server, start_display, stop_all)

E2E = os.path.join(BUILD, 'e2e')
COMPONENTS = os.path.join(BUILD, 'windows-cross', 'components')


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


def blend_over_white(alpha, colour):
    """The screen colour of the overlay over white: colour is 0x00BBGGRR."""
    rgb = (colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF)
    return tuple(round(255 - alpha * (255 - c) / 255) for c in rgb)


class TemplatePrefix:
    """One booted prefix per test run (per worker); each test gets a copy."""

    def __init__(self, display, root=E2E):
        self.display = display
        self.path = os.path.join(root, 'template')
        self.copies = os.path.join(root, 'prefixes')

    def boot(self):
        for d in (self.path, self.copies):
            shutil.rmtree(d, ignore_errors=True)
        Wine(self.path, self.display).boot()
        return self

    def copy(self, name, display=None):
        dest = os.path.join(self.copies, name)
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(self.copies, exist_ok=True)
        subprocess.run(['cp', '-a', self.path, dest], check=True)
        return Wine(dest, display or self.display)


def probe_json(wine, exe, *args, timeout=60):
    """The JSON line a helper program writes to the file its first argument
    names, parsed; None when it wrote none."""
    out = wine.prefix + '-probe.json'
    if os.path.exists(out):
        os.remove(out)
    wine.run(exe, wine.winpath(out), *[str(a) for a in args], timeout=timeout, check=False)
    if not os.path.exists(out):
        return None
    with open(out, encoding='utf-8') as f:
        text = f.read().strip()
    os.remove(out)
    return json.loads(text) if text else None
