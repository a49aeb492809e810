"""Building blocks of the end-to-end tests. Displays, pixels, screenshots
and Wine prefixes come from scripts/xdisplay.py and scripts/wineprefix.py,
which scripts/run's launchers share (pytest.ini puts scripts/ on the path);
here is what only the tests need on top: the template prefix copied for
each test, the helper programs' JSON answers and the tint's arithmetic.
"""

import json
import os
import shutil
import subprocess

import shared
from wineprefix import (APP_TITLE, EXE, SETTINGS_KEY, Wine, reg_values,  # noqa: F401
                        wine_loader)
from xdisplay import (BUILD, REPO, SAVED_SHOTS, SCREEN_H, SCREEN_W, DISPLAY_KINDS,  # noqa: F401
                      Display, HarnessError, Image, Xvfb, close, display_works,
                      install_signal_exit, locale_name, log, open_x, paint_root_white, spawn_server,
                      start_display, stop_all, x_answers)

E2E = os.path.join(BUILD, 'e2e')
COMPONENTS = os.path.join(BUILD, 'windows-cross', 'components')


def wait_until(predicate, timeout, interval=0.2):
    """What predicate gives once it is truthy; None when the time runs out."""
    return shared.poll(predicate, timeout, interval)


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
        """A copy for one test, on `display` (the template's by default)."""
        dest = os.path.join(self.copies, name)
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(self.copies, exist_ok=True)
        subprocess.run(['cp', '-a', self.path, dest], check=True)
        return Wine(dest, display or self.display)


def probe_json(wine, exe, *args, timeout=60):
    """Runs a helper program that writes one JSON line to the file named by
    its first argument; the parsed line, or None."""
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
