"""End-to-end tests of the native Linux program that have no Wine
counterpart written the same way (those are in test_both.py).

build/linux/bin/morvane-night (the GTK backend) runs on the shared test
display, driven with xdotool and checked with screenshots and its settings
file; each test gets its own settings folder and instance lock (the
native_app fixture of conftest.py). Screenshots go to
build/native-e2e/shots/<test>*.png.
"""

import subprocess
import time

import pytest

import harness as h
import native_target
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE,
                          OVERLAY_CAPTION, TRACK_X1, TRACK_X2, TWIPS,
                          slider_alpha, thumb_px, track_point, within_alpha)

pytestmark = pytest.mark.native


def test_first_run_default_tint(app):
    app.start_and_settle()
    want = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    img = app.expect_pixel(want, 'first run over white')
    for at in ((5, 5), (h.SCREEN_W - 3, h.SCREEN_H - 3)):
        app.check(h.close(img.pixel(*at), want, 3), 'tint does not cover the '
                  'screen: %s is %s' % (at, img.pixel(*at)))
    wins = app.windows()
    app.check(any(w[1] == OVERLAY_CAPTION and w[4:] == (h.SCREEN_W, h.SCREEN_H)
                  for w in wins), 'no full-screen overlay window: %s' % wins)
    app.check(app.settings() == {}, 'settings stored before any panel '
              'closed: %s' % app.settings())


def test_slider_drag_brightens(app):
    app.start_probe()
    app.start_and_settle()
    panel, _ = app.open_panel()
    before = app.panel_shot.pixel(*FREE)
    x0 = round(thumb_px(DEFAULT_ALPHA))
    x1 = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS
    a = slider_alpha(x1)
    app.display.drag(*track_point(panel, x0), *track_point(panel, x1))
    time.sleep(0.5)
    img = app.shot('drag')
    got = img.pixel(*FREE)
    app.check(sum(got) > sum(before) + 60, 'the screen did not brighten: %s '
              'before the drag, %s after' % (before, got))
    app.check(within_alpha(got, a, DEFAULT_COLOUR),
              'after a drag to track x=%d: tint %s, expected %s (opacity %d)'
              % (x1, got, h.blend_over_white(a, DEFAULT_COLOUR), a))
    thumb = [x for x in range(panel[0] + x1 - 8, panel[0] + x1 + 9)
             if h.close(img.pixel(x, panel[1] + 1395 // TWIPS - 3),
                        (255, 0, 0), 40)]
    app.check(thumb, 'the thumb did not follow the pointer to x=%d' % x1)
    app.display.move(5, 5)
    app.wait_panel_closed()
    stored = app.settings().get('intLig', '')
    app.check(stored.isdigit() and abs(int(stored) - a) <= 1,
              'stored intLig %r, expected %d' % (stored, a))


def test_second_instance_message(app):
    app.start_and_settle()
    second = app.start_app()

    def message_box():
        wins = app.windows(second) if second.poll() is None else []
        return [w for w in wins if w[1] == h.APP_TITLE] or None
    box = h.wait_until(message_box, 10, 0.3)
    app.shot('msgbox')
    app.check(box, 'no window titled %r from the second start within 10 s '
              '(its windows: %s)' % (h.APP_TITLE, app.windows(second)
                                     if second.poll() is None else 'exited'))
    app.check(len(app.windows(second)) == 1, 'the second start shows more '
              'than its message: %s' % app.windows(second))
    app.display.activate(box[0][0])
    app.display.key('Return')
    app.check(h.wait_until(lambda: second.poll() is not None, 8),
              'the second instance still runs 8 s after its message was '
              'dismissed')
    time.sleep(0.5)
    app.check(app.proc.poll() is None, 'the first instance ended too')
    app.expect_pixel(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                     'tint after the second instance left', step='after')


def test_corrupt_ini_gives_defaults(app):
    tint = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    # Not a key file at all.
    app.write_ini(b'\x00\xff garbage [[[ intLig=10\n')
    app.start_and_settle()
    app.expect_pixel(tint, 'unreadable settings file', step='garbage')
    app.stop()
    app.proc = None
    time.sleep(0.5)
    # A key file with values that are not ours.
    app.write_ini('[Settings]\nintLig=abc\nlngColor=-5\n')
    app.start_and_settle()
    app.expect_pixel(tint, 'intLig "abc", lngColor -5', step='values')


def test_help_and_version_answer_without_a_display(tmp_path):
    env = {'PATH': '/usr/bin:/bin', 'HOME': str(tmp_path)}

    def run(*args):
        return subprocess.run([native_target.BIN] + list(args), env=env,
                              capture_output=True, text=True, timeout=10)
    r = run('--help')
    assert r.returncode == 0 and r.stdout.startswith(
        'Usage: morvane-night [--settings]') and '--version' in r.stdout, r
    r = run('--version')
    assert (r.returncode, r.stdout) == (
        0, 'morvane-night (%s) 1.00\n' % h.APP_TITLE), r
    r = run('--settings', 'now')
    assert r.returncode == 2 and r.stdout == '' and r.stderr == (
        "morvane-night: extra operand 'now'\n"
        "Try 'morvane-night --help' for more information.\n"), r
    # No display of either kind: said, status 1.
    r = run()
    assert r.returncode == 1 and 'cannot open the X display' in r.stderr, r
