"""The native program around the edges of its life: the keyboard before
and after the panel, SIGTERM and a lost X display storing what the exit
label stores, a second start with F7 pressed while its message is up."""

import signal

import pytest

import harness as h
import native_target
import shared
from scenario_kit import (DEFAULT_COLOUR, FREE, X_MOVED, slider_alpha,
                          track_point)

pytestmark = pytest.mark.native


def move_slider(app, panel):
    """Clicks three quarters along the track; returns the opacity once the
    tint shows it."""
    app.display.click(*track_point(panel, X_MOVED))
    alpha = slider_alpha(X_MOVED)
    want = h.blend_over_white(alpha, DEFAULT_COLOUR)
    shared.wait_until(lambda: h.close(app.pixel(*FREE), want, 4), 5,
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
    assert h.wait_until(lambda: app.keys_seen()[-1:] == ['x'], 3, 0.2), \
        'after the panel the probe saw the keys %s, expected the last to ' \
        'be x' % app.keys_seen()
    assert app.keys_seen()[0] == 'a', 'keys seen: %s' % app.keys_seen()
    active = app.display.active_window()
    assert active == app.probe_xid, 'the active window after the panel ' \
        'is %r, not the probe %r' % (active, app.probe_xid)


@pytest.mark.parametrize('signame', ['SIGTERM', 'SIGINT', 'SIGHUP'])
def test_a_stop_signal_stores_the_moved_opacity_and_ends(app, signame):
    app.start_for_panel()
    panel, _ = app.open_panel()
    alpha = move_slider(app, panel)
    app.proc.send_signal(getattr(signal, signame))
    assert h.wait_until(lambda: app.proc.poll() is not None, 2, 0.05), \
        'still running 2 s after %s' % signame
    assert app.proc.returncode == 0, 'exit status %s after %s' % (
        app.proc.returncode, signame)
    assert app.settings() == {'intLig': str(alpha),
                              'lngColor': str(DEFAULT_COLOUR)}, \
        'stored %s, expected the moved opacity %d' % (app.settings(), alpha)
    app.shot('ended')
    # The lock went with the process: the next start runs normally.
    app.forget_app()
    app.start_and_settle()
    app.expect_pixel(h.blend_over_white(alpha, DEFAULT_COLOUR),
                     'the next start', at=FREE, step='next-start')


def test_the_display_closing_stores_and_ends(new_display, xclickprobe):
    display = new_display()
    app = native_target.NativeApp('test_the_display_closing_stores_and_ends',
                                  display, xclickprobe)
    try:
        app.start_for_panel()
        panel, _ = app.open_panel()
        alpha = move_slider(app, panel)
        display.stop()  # the X server goes, and with it the connection
        assert h.wait_until(lambda: app.proc.poll() is not None, 5, 0.1), \
            'still running 5 s after its display closed'
        assert app.settings().get('intLig') == str(alpha), \
            'stored %s, expected the moved opacity %d' % (app.settings(),
                                                          alpha)
    finally:
        app.stop()


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
    others = shared.poll(lambda: [w for w in app.windows(second)
                                  if w[1] != h.APP_TITLE], 7, 0.3)
    assert not others, 'the second start shows more than its message: %s' % (
        others,)
    app.shot('box-and-f7')
    app.display.activate(box[0][0])
    app.display.key('Return')
    assert h.wait_until(lambda: second.poll() is not None, 5), \
        'the second start did not end after its message'
    assert app.settings() == {'intLig': '120', 'lngColor': '255'}, \
        'the stored values changed: %s' % app.settings()
