"""End-to-end tests of the Windows executable under Wine that have no
native counterpart written the same way (those are in test_both.py).

Every test gets its own copy of one booted template prefix (the wine and
wine_app fixtures of conftest.py), so tests share no registry state; the
display is shared. Screenshots go to build/e2e/shots/<test>*.png.
"""

import os
import time

import pytest

import harness as h
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, TRACK_X1,
                          TRACK_X2, TWIPS, slider_alpha, track_point)

from test_wine_faults import COMPONENTS_KEY, registration_record
from wine_target import COMPONENTS, MESSAGE, find_in

pytestmark = pytest.mark.wine


def test_harness_white_desktop_and_probe(app):
    """The machinery alone: white desktop, a Wine window takes clicks."""
    app.start_click_probe()
    time.sleep(0.5)
    app.expect_centre((255, 255, 255), 'white probe window')
    app.display.click(333, 222)
    ok = h.wait_until(lambda: 'down 333 222' in app.clicks_seen(), 5)
    app.check(ok, 'probe did not log the click: %r' % app.clicks_seen())


def test_first_run_default_tint(app):
    app.start_and_settle()
    want = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    app.expect_centre(want, 'first run over white')
    corner = app.display.shot().pixel(5, 5)
    app.check(h.close(corner, want, 3),
              'tint does not cover the screen: (5,5) is %s' % (corner,))


def test_corrupt_opacity_gives_default(app):
    app.store(intLig='abc')
    app.start_and_settle()
    app.expect_centre(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                      'stored intLig "abc"')


def test_second_instance_message(app):
    app.start_and_settle()
    second = app.start_app()
    box = h.wait_until(app.message_box, 20, 0.4)
    app.shot('msgbox')
    app.check(box, 'no window with the text %r within 20 s' % MESSAGE)
    app.check(box['text'] == h.APP_TITLE,
              'message box caption is %r, expected %r' % (box['text'],
                                                          h.APP_TITLE))
    buttons = [c for c in box['children'] if c['class'].lower() == 'button'
               and c['visible']]
    app.check(len(buttons) == 1, 'message box has %d buttons, expected one OK'
              % len(buttons))
    app.answer_message(box, second)
    time.sleep(0.5)
    app.check(app.proc.poll() is None, 'the first instance ended too')
    app.expect_centre(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                      'tint after the second instance left', step='after')


def test_components_installed(app):
    for name in COMPONENTS:
        app.check(find_in(app.system32(), name) is None,
                  name + ' already in the fresh prefix')
    app.start_and_settle()
    stamps = {}
    for name, path in zip(COMPONENTS, app.wait_components()):
        app.check(os.path.basename(path) == name,
                  'written as %s, expected %s' % (os.path.basename(path),
                                                  name))
        slot = os.path.join(h.COMPONENTS, name)
        if os.path.exists(slot):
            with open(path, 'rb') as a, open(slot, 'rb') as b:
                app.check(a.read() == b.read(),
                          name + ' differs from the embedded slot file')
        else:
            app.note('no slot file at ' + slot)
        stamps[path] = os.stat(path).st_mtime_ns
    app.check(h.wait_until(lambda: registration_record(app), 10, 1.0),
              "no record of the COMDLG32 registration under the tool's "
              'Components key')
    app.wine.kill()
    app.proc = None
    # The record made anew shows the second start's step has run.
    app.wine.run('reg', 'delete', COMPONENTS_KEY, '/f')
    time.sleep(1.1)
    app.start_and_settle()
    app.check(h.wait_until(lambda: registration_record(app), 10, 1.0),
              'the second start did not register COMDLG32 again')
    for path, mtime in stamps.items():
        app.check(os.stat(path).st_mtime_ns == mtime,
                  os.path.basename(path) + ' was rewritten by the second '
                  'start')


def test_panel_slider_sets_opacity(app):
    app.start_and_settle()
    app.start_notepad()
    panel, _ = app.open_panel()
    # A click at three quarters of the track brightens the screen.
    x_px = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS
    a = slider_alpha(x_px)
    app.display.click(*track_point(panel, x_px))
    time.sleep(0.5)
    img = app.shot('click')
    got = img.pixel(*FREE)
    lo, hi = (h.blend_over_white(v, DEFAULT_COLOUR) for v in (a + 1, a - 1))
    app.check(all(lo[i] - 3 <= got[i] <= hi[i] + 3 for i in range(3)),
              'after a click at track x=%d: tint %s, expected %s (opacity %d)'
              % (x_px, got, h.blend_over_white(a, DEFAULT_COLOUR), a))
    # A drag to the left end darkens it again.
    x_end = TRACK_X1 // TWIPS + 2
    a2 = slider_alpha(x_end)
    app.display.drag(*track_point(panel, x_px), *track_point(panel, x_end))
    time.sleep(0.5)
    got = app.shot('drag').pixel(*FREE)
    lo, hi = (h.blend_over_white(v, DEFAULT_COLOUR) for v in (a2 + 1, a2 - 1))
    app.check(all(lo[i] - 3 <= got[i] <= hi[i] + 3 for i in range(3)),
              'after a drag to track x=%d: tint %s, expected %s (opacity %d)'
              % (x_end, got, h.blend_over_white(a2, DEFAULT_COLOUR), a2))
    app.display.xdotool('mousemove', 5, 5)
    app.wait_panel_closed()
    stored = app.settings().get('intLig')
    app.check(stored is not None and stored.strip().lstrip('-').isdigit()
              and abs(int(stored) - a2) <= 1,
              'stored intLig %r, expected %d' % (stored, a2))
