"""The native program's own tests (the shared ones are in test_both.py), down to
the edges of its life: a stop signal and a lost X display store as the exit label does."""

import os
import shutil
import signal
import subprocess

import pytest

import harness as h
import native_target
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
    app.start_for_panel()
    panel, _ = app.open_panel()
    before = app.panel_shot.pixel(*FREE)
    a = slider_alpha(X_MOVED)
    app.display.drag(*track_point(panel, round(thumb_px(DEFAULT_ALPHA))),
                     *track_point(panel, X_MOVED))
    app.steady([FREE], want=h.blend_over_white(a, DEFAULT_COLOUR))
    img = app.shot('drag')
    got = img.pixel(*FREE)
    assert sum(got) > sum(before) + 60, \
        'the screen did not brighten: %s before the drag, %s after' % (before, got)
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
    assert box, 'no window titled %r from the second start within 10 s (its windows: %s)' % (
        h.APP_TITLE, app.windows(second) if second.poll() is None else 'exited')
    assert len(app.windows(second)) == 1, \
        'the second start shows more than its message: %s' % (app.windows(second),)
    app.answer(box, second, 8)
    app.steady(want=TINT)
    assert app.proc.poll() is None, 'the first instance ended too'
    app.expect_pixel(TINT, 'tint after the second instance left', step='after')


def test_corrupt_ini_gives_defaults(app):
    # Not a key file at all.
    app.write_ini(b'\x00\xff garbage [[[ intLig=10\n')
    app.start_and_settle()
    app.expect_pixel(TINT, 'unreadable settings file', step='garbage')
    app.stop()
    app.proc = None
    h.wait_until(lambda: app.pixel(*FREE) == (255, 255, 255), 5,
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
    assert (r.returncode, r.stdout) == (0, 'morvane-night (%s) 1.00\n' % h.APP_TITLE), r
    r = run('--settings', 'now')
    assert r.returncode == 2 and r.stdout == '' and r.stderr == (
        "morvane-night: extra operand 'now'\n"
        "Try 'morvane-night --help' for more information.\n"), r
    # No display of either kind: said, status 1.
    r = run()
    assert r.returncode == 1 and 'cannot open the X display' in r.stderr, r


def start_and_move_slider(app):
    """Opens the panel, clicks three quarters along the track: the opacity, once shown."""
    app.start_for_panel()
    panel, _ = app.open_panel()
    app.display.click(*track_point(panel, X_MOVED))
    alpha = slider_alpha(X_MOVED)
    want = h.blend_over_white(alpha, DEFAULT_COLOUR)
    h.wait_until(lambda: h.close(app.pixel(*FREE), want, 4), 5,
                 'the tint %s after a click on the track' % (want,))
    return alpha


def test_typing_goes_on_in_the_other_program_after_the_panel(app):
    app.start_for_panel()
    app.focus_window()
    app.display.key('a')
    app.open_panel()
    app.wait_panel_closed()
    app.wait_keys_back()
    app.display.key('x')
    assert h.poll(lambda: app.keys_seen()[-1:] == ['x'], 3, 0.2), \
        'after the panel the probe saw the keys %s, expected the last to be x' % app.keys_seen()
    assert app.keys_seen()[0] == 'a', 'keys seen: %s' % app.keys_seen()
    active = app.display.active_window()
    assert active == app.probe_xid, 'the active window after the panel ' \
        'is %r, not the probe %r' % (active, app.probe_xid)


@pytest.mark.parametrize('signame', ['SIGTERM', 'SIGINT', 'SIGHUP'])
def test_a_stop_signal_stores_the_moved_opacity_and_ends(app, signame):
    alpha = start_and_move_slider(app)
    app.proc.send_signal(getattr(signal, signame))
    assert h.poll(lambda: app.proc.poll() is not None, 2, 0.05), \
        'still running 2 s after %s' % signame
    assert app.proc.returncode == 0, 'exit status %s after %s' % (app.proc.returncode, signame)
    assert app.settings() == {'intLig': str(alpha), 'lngColor': str(DEFAULT_COLOUR)}, \
        'stored %s, expected the moved opacity %d' % (app.settings(), alpha)
    app.shot('ended')
    # The lock went with the process: the next start runs normally.
    app.forget_app()
    app.start_and_settle()
    app.expect_pixel(h.blend_over_white(alpha, DEFAULT_COLOUR),
                     'the next start', at=FREE, step='next-start')


def test_the_display_closing_stores_and_ends(request, new_display, xclickprobe):
    display = new_display()
    app = native_target.NativeApp(request.node.name, display, xclickprobe)
    request.addfinalizer(app.stop)
    alpha = start_and_move_slider(app)
    display.stop()  # the X server goes, and with it the connection
    assert h.poll(lambda: app.proc.poll() is not None, 5, 0.1), \
        'still running 5 s after its display closed'
    assert app.settings().get('intLig') == str(alpha), \
        'stored %s, expected the moved opacity %d' % (app.settings(), alpha)


def test_second_start_with_f7_during_its_message_leaves_the_values(app):
    app.store(intLig='120', lngColor='255')
    app.start_for_panel()
    second = app.start_app()
    box = app.message_box(second)
    assert box, 'no "already running" message from the second start: %s' % (
        app.windows(second),)
    app.focus_window()
    app.display.key('F7')
    # Nothing more may show for longer than a panel's idle close.
    others = h.poll(lambda: [w for w in app.windows(second) if w[1] != h.APP_TITLE], 7, 0.3)
    assert not others, 'the second start shows more than its message: %s' % (others,)
    app.shot('box-and-f7')
    app.answer(box, second, 5)
    assert app.settings() == {'intLig': '120', 'lngColor': '255'}, \
        'the stored values changed: %s' % app.settings()


class BareXvfb(h.Display):
    """Xvfb alone, without RandR: no compositing manager, no CRTC, no ramp."""

    def start(self):
        xvfb, self.name = h.spawn_server(
            ['Xvfb', '-screen', '0', '800x600x24', '-nolisten', 'tcp', '-extension', 'RANDR'],
            os.path.join(self.logdir, 'bare-xvfb.log'))
        self.procs.append(xvfb)
        self.env = dict(os.environ, DISPLAY=self.name)
        return self


def test_neither_compositor_nor_ramps_says_so_and_ends_storing_nothing(request, tmp_path):
    if not os.path.exists(native_target.BIN) or not shutil.which('Xvfb'):
        pytest.skip('needs the native program and Xvfb')
    bare = BareXvfb(logdir=str(tmp_path)).start()
    request.addfinalizer(bare.stop)
    app = native_target.NativeApp(request.node.name, bare)
    request.addfinalizer(app.stop)
    box = app.message_box(app.start_app())
    assert box, app.windows()
    # The message only: no overlay, no splash.
    assert len(app.windows()) == 1, app.windows()
    assert 'cannot be tinted' in app.output()
    app.answer(box, app.proc)
    assert app.proc.returncode == 1
    assert app.settings() == {}
    assert app.records() == []
