"""End-to-end tests of the Windows executable under Wine that have no
native counterpart written the same way (those are in test_both.py). Each
test has its own copy of one booted template prefix; screenshots go to
build/e2e/shots/<test>*.png.
"""

import os
import time

import pytest

import harness as h
import shared
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, TRACK_X1, TWIPS,
                          slider_alpha, track_point)
from wine_target import COMPONENTS, COMPONENTS_KEY, X_MOVED, find_in

pytestmark = pytest.mark.wine

DEFAULT_TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)


@pytest.mark.parametrize('stored', [{}, {'intLig': 'abc'}],
                         ids=['first_run', 'intLig_abc'])
def test_default_tint(app, stored):
    app.store(**stored)
    app.start_and_settle()
    app.expect_centre(DEFAULT_TINT, 'stored %s, over white' % stored)
    corner = shared.pixel(app.display, 5, 5)
    assert h.close(corner, DEFAULT_TINT, 3), \
        'tint does not cover the screen: (5,5) is %s' % (corner,)


def test_second_instance_message(app):
    app.start_and_settle()
    second, box = app.start_second()
    assert box['text'] == h.APP_TITLE, \
        'message box caption is %r, expected %r' % (box['text'], h.APP_TITLE)
    buttons = [c for c in box['children'] if c['class'].lower() == 'button'
               and c['visible']]
    assert len(buttons) == 1, \
        'message box has %d buttons, expected one OK' % len(buttons)
    app.answer_message(box, second)
    time.sleep(0.5)  # fixed: the first instance must NOT end meanwhile
    assert app.proc.poll() is None, 'the first instance ended too'
    app.expect_centre(DEFAULT_TINT, 'tint after the second instance left',
                      step='after')


def test_components_installed(app):
    for name in COMPONENTS:
        assert find_in(app.system32(), name) is None, \
            name + ' already in the fresh prefix'
    app.start_and_settle()
    paths = app.expect_components()
    names = [os.path.basename(p) for p in paths]
    assert names == list(COMPONENTS), \
        'written as %s, expected %s' % (names, COMPONENTS)
    # Inode and time: a file rewritten, even in place, changes one of them.
    stamps = {p: (os.stat(p).st_ino, os.stat(p).st_mtime_ns) for p in paths}
    app.wait_registration('the first start')
    app.forget_app()
    # The record made anew shows the second start's step has run.
    app.wine.run('reg', 'delete', COMPONENTS_KEY, '/f')
    app.start_and_settle()
    app.wait_registration('the second start')
    for path, stamp in stamps.items():
        assert (os.stat(path).st_ino, os.stat(path).st_mtime_ns) == stamp, \
            os.path.basename(path) + ' was rewritten by the second start'


def test_panel_slider_sets_opacity(app):
    app.start_for_panel()
    panel, _ = app.open_panel()
    # A click at three quarters of the track brightens the screen; a drag
    # to the left end darkens it again.
    app.press_track(panel, X_MOVED, 'a click')
    x_end = TRACK_X1 // TWIPS + 2
    alpha = slider_alpha(x_end)
    app.display.drag(*track_point(panel, X_MOVED), *track_point(panel, x_end))
    app.expect_tint(alpha, 'after a drag to track x=%d' % x_end, step='drag')
    app.display.move(5, 5)
    app.wait_panel_closed()
    stored = app.settings().get('intLig')
    assert stored is not None and stored.strip().lstrip('-').isdigit() \
        and abs(int(stored) - alpha) <= 1, \
        'stored intLig %r, expected %d' % (stored, alpha)
