"""End-to-end tests of the native Linux program with no Wine counterpart
(the shared ones are in test_both.py). Screenshots go to
build/native-e2e/shots/<test>*.png.
"""

import subprocess

import pytest

import harness as h
import native_target
import shared
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE,
                          OVERLAY_CAPTION, X_MOVED, slider_alpha, thumb_px,
                          thumb_seen, track_point, within_alpha)

pytestmark = pytest.mark.native
TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)


def test_first_run_default_tint(app):
    app.start_and_settle()
    img = app.expect_pixel(TINT, 'first run over white')
    for at in ((5, 5), (h.SCREEN_W - 3, h.SCREEN_H - 3)):
        assert h.close(img.pixel(*at), TINT, 3), \
            'tint does not cover the screen: %s is %s' % (at, img.pixel(*at))
    wins = app.windows()
    assert any(w[1] == OVERLAY_CAPTION and w[4:] == (h.SCREEN_W, h.SCREEN_H)
               for w in wins), 'no full-screen overlay window: %s' % wins
    assert app.settings() == {}, \
        'settings stored before any panel closed: %s' % app.settings()


def test_slider_drag_brightens(app):
    app.start_probe()
    app.start_and_settle()
    panel, _ = app.open_panel()
    before = app.panel_shot.pixel(*FREE)
    a = slider_alpha(X_MOVED)
    app.display.drag(*track_point(panel, round(thumb_px(DEFAULT_ALPHA))),
                     *track_point(panel, X_MOVED))
    app.steady([FREE], want=h.blend_over_white(a, DEFAULT_COLOUR))
    img = app.shot('drag')
    got = img.pixel(*FREE)
    assert sum(got) > sum(before) + 60, \
        'the screen did not brighten: %s before the drag, %s after' % (
            before, got)
    assert within_alpha(got, a, DEFAULT_COLOUR), \
        'after a drag to track x=%d: tint %s, expected %s (opacity %d)' % (
            X_MOVED, got, h.blend_over_white(a, DEFAULT_COLOUR), a)
    assert thumb_seen(img, panel, X_MOVED), \
        'the thumb did not follow the pointer to x=%d' % X_MOVED
    app.display.move(5, 5)
    app.wait_panel_closed()
    stored = app.settings().get('intLig', '')
    assert stored.isdigit() and abs(int(stored) - a) <= 1, \
        'stored intLig %r, expected %d' % (stored, a)


def test_second_instance_message(app):
    app.start_and_settle()
    second = app.start_app()
    box = app.message_box(second)
    app.shot('msgbox')
    assert box, 'no window titled %r from the second start within 10 s ' \
        '(its windows: %s)' % (h.APP_TITLE, app.windows(second)
                               if second.poll() is None else 'exited')
    assert len(app.windows(second)) == 1, \
        'the second start shows more than its message: %s' % (
            app.windows(second),)
    app.display.activate(box[0][0])
    app.display.key('Return')
    assert h.wait_until(lambda: second.poll() is not None, 8), \
        'the second instance still runs 8 s after its message was dismissed'
    app.steady(want=TINT)
    assert app.proc.poll() is None, 'the first instance ended too'
    app.expect_pixel(TINT, 'tint after the second instance left',
                     step='after')


def test_corrupt_ini_gives_defaults(app):
    # Not a key file at all.
    app.write_ini(b'\x00\xff garbage [[[ intLig=10\n')
    app.start_and_settle()
    app.expect_pixel(TINT, 'unreadable settings file', step='garbage')
    app.stop()
    app.proc = None
    shared.wait_until(lambda: app.pixel(*FREE) == (255, 255, 255), 5,
                      'the tint gone with the program')
    # A key file with values that are not ours.
    app.write_ini('[Settings]\nintLig=abc\nlngColor=-5\n')
    app.start_and_settle()
    app.expect_pixel(TINT, 'intLig "abc", lngColor -5', step='values')


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
