"""The native program without a compositing manager: the tint goes through the CRTC gamma
ramps of both monitors (Xorg's dummy driver, skipped where Xorg cannot start) and the ramps
always come back as they were."""

import os
import signal
import subprocess
import time

import pytest

import harness as h
import native_target
from scenario_kit import (TRACK_X1, TWIPS, X_MOVED, slider_alpha, thumb_px, track_point)
from xorg_dummy import PRIMARY, SECOND, near as same_ramp

pytestmark = [pytest.mark.native, pytest.mark.xorg]

ROOT = os.path.join(h.BUILD, 'native-gamma')
MOST_RAMP_ALPHA = 220
DESK = (1824, 768)
AMBER = 0x000080FF  # 0x00BBGGRR
# DUMMY1 calibrated as a colour profile would leave it.
CALIBRATION = (1.0, 0.8, 0.5)


def blend(found, colour, alpha):
    """What each ramp entry should hold: out = in*(1-a) + c*a per channel,
    with c in 16-bit levels and a capped as the ramps cap it."""
    a = min(alpha, MOST_RAMP_ALPHA) / 255
    channels = (colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF)
    return tuple([level * (1 - a) + c * 257 * a for level in ramp]
                 for ramp, c in zip(found, channels))


def near(ramps, want):
    return all(same_ramp(r, w, tol=1) for r, w in zip(ramps, want))


@pytest.fixture(scope='module')
def display(bare_xorg):
    if not os.path.exists(native_target.BIN):
        pytest.skip('the native program is not built: ' + native_target.BIN)
    return bare_xorg


class App(native_target.NativeApp):
    def start(self):
        self.proc = self.start_app()
        return self.proc

    def signal(self, sig):
        self.proc.send_signal(sig)
        return self.proc.wait(timeout=10)


@pytest.fixture
def app(display, request):
    display.set_second_monitor(True)
    display.set_gamma(PRIMARY)
    display.set_gamma(SECOND, *CALIBRATION)
    a = App(request.node.name, display, root=ROOT)
    yield a
    a.stop()
    display.set_gamma(PRIMARY)
    display.set_gamma(SECOND)


def ramps_of(display):
    return {o: display.gamma(o) for o in (PRIMARY, SECOND)}


def wait_tinted(display, found, colour=0x4000, alpha=150, outputs=(PRIMARY, SECOND)):
    want = {o: blend(found[o], colour, alpha) for o in outputs}
    if not h.poll(lambda: all(near(display.gamma(o), want[o]) for o in outputs), 10, 0.1):
        got = {o: [r[::51] for r in display.gamma(o)] for o in outputs}
        expected = {o: [[round(x) for x in r[::51]] for r in want[o]] for o in outputs}
        pytest.fail('ramps not tinted with %06x at %d: %s, expected %s'
                    % (colour, alpha, got, expected))


def start_tinted(display, app, colour=0x4000, alpha=150):
    found = ramps_of(display)
    app.start()
    wait_tinted(display, found, colour, alpha)
    return found


def ends_giving_back(display, app, found):
    assert app.signal(signal.SIGTERM) == 0
    assert ramps_of(display) == found


def all_white(display):
    return not display.shot().raw.strip(b'\xff')


def test_both_monitors_tinted_through_the_ramps_with_no_window(display, app):
    app.store(intLig=180, lngColor=AMBER)
    found = start_tinted(display, app, AMBER, 180)
    # Nothing of the program on screen once the splash is gone: the tint is in the ramps only.
    assert h.poll(lambda: app.windows() == [], 10), app.windows()
    assert all_white(display)
    assert 'gamma ramps' in app.output()
    assert app.records()
    ends_giving_back(display, app, found)
    assert app.records() == []
    assert app.settings() == {'intLig': '180', 'lngColor': str(AMBER)}


def test_slider_changes_the_ramps_live_and_sigterm_gives_them_back(display, app):
    found = start_tinted(display, app)
    display.move(300, 300)
    display.key('F7')
    panel = h.poll(app.panel, 10, 0.2)
    assert panel, 'no panel after F7: %s' % app.windows()
    display.drag(*track_point(panel, round(thumb_px(150))), *track_point(panel, X_MOVED))
    wait_tinted(display, found, 0x4000, slider_alpha(X_MOVED))
    # Full opacity: the ramps stop at the cap, so the panel stays readable.
    # (The track's own end pixel is outside the band: one pixel in.)
    x2 = TRACK_X1 // TWIPS + 1
    display.drag(*track_point(panel, X_MOVED), *track_point(panel, x2))
    wait_tinted(display, found, 0x4000, 254)
    assert display.gamma(PRIMARY)[0][-1] > 0.13 * 65535
    ends_giving_back(display, app, found)
    assert app.settings().get('intLig') == str(slider_alpha(x2)) == '254'


@pytest.mark.parametrize('screen', ['', '.0'], ids=['same-display-name',
                                                  'display-name-with-screen'])
def test_a_killed_run_is_mended_by_the_next_start(display, app, screen):
    """The next start gives the recorded ramps back, tints over them and gives them back
    at its end, also when it spells the display otherwise."""
    found = start_tinted(display, app)
    assert app.signal(signal.SIGKILL) == -signal.SIGKILL
    time.sleep(0.5)  # fixed: nothing may give the ramps back meanwhile
    assert near(display.gamma(PRIMARY), blend(found[PRIMARY], 0x4000, 150))
    assert app.records()
    app.env['DISPLAY'] = display.name + screen
    app.start()
    assert h.poll(lambda: 'through the gamma ramps' in app.output(), 10)
    assert 'gave back the gamma ramps' in app.output()
    wait_tinted(display, found)
    ends_giving_back(display, app, found)


def test_a_compositor_takes_the_tint_onto_the_overlay_and_back(display, app):
    found = start_tinted(display, app)
    tinted = display.gamma(PRIMARY)
    xcompmgr = subprocess.Popen(['xcompmgr'], env=display.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert h.poll(lambda: ramps_of(display) == found, 10, 0.1)
        assert h.poll(lambda: any(w[4:] == DESK for w in app.windows()), 10), \
            app.windows()
        want = h.blend_over_white(150, 0x4000)
        assert h.poll(lambda: h.close(display.pixel_rgb(1500, 300), want, 3), 10), \
            display.pixel_rgb(1500, 300)
        # The two paths agree: the top of each tinted ramp (white) shows
        # what the compositor draws over the white desk, within a step.
        pixel = display.pixel_rgb(300, 700)
        top = tuple(round(r[-1] * 255 / 65535) for r in tinted)
        assert h.close(top, pixel, 1), (top, pixel)
        print('white under the tint: ramps %s, overlay %s' % (top, pixel))
    finally:
        xcompmgr.terminate()
        xcompmgr.wait()
    wait_tinted(display, found)
    assert h.poll(lambda: not any(w[4:] == DESK for w in app.windows()), 10)
    assert h.poll(lambda: all_white(display), 10)
    ends_giving_back(display, app, found)


def test_a_monitor_added_gets_the_ramp(display, app):
    display.set_second_monitor(False)
    found = {PRIMARY: display.gamma(PRIMARY)}
    app.start()
    wait_tinted(display, found, outputs=(PRIMARY,))
    display.set_second_monitor(True)
    # Its red ramp tops out far below white once the tint is on it.
    assert h.poll(lambda: display.gamma(SECOND)[0][-1] < 0.8 * 65535, 10), \
        'the monitor added is not tinted: %s' % ([r[::51] for r in display.gamma(SECOND)],)
    tinted = display.gamma(SECOND)
    assert app.signal(signal.SIGTERM) == 0
    # Over what it gives back: the calibration that CRTC had.
    found[SECOND] = display.gamma(SECOND)
    assert found[SECOND] != found[PRIMARY]
    assert near(tinted, blend(found[SECOND], 0x4000, 150))


@pytest.mark.parametrize('first_ends', [True, False], ids=['first-ends-first',
                                                          'second-ends-first'])
def test_a_start_under_another_runtime_folder_only_says_it_runs(display, app, request,
                                                               first_ends):
    found = start_tinted(display, app)
    # As from cron or su: no runtime folder, another temporary folder.
    other = App(app.name + '-other', display, root=ROOT)
    other.env.pop('XDG_RUNTIME_DIR')
    other.env['TMPDIR'] = other.runtime
    request.addfinalizer(other.stop)
    second = other.start()
    box = other.message_box(second)
    assert box, 'no "already running" message: %s' % other.output()
    assert len(other.windows(second)) == 1, other.windows(second)
    # Tinted once, by the first.
    wait_tinted(display, found)
    if first_ends:
        ends_giving_back(display, app, found)
        other.answer(box, second)
    else:
        other.answer(box, second)
        wait_tinted(display, found)
        ends_giving_back(display, app, found)
    assert ramps_of(display) == found
    assert 'gamma ramps' not in other.output()


def test_xkill_gives_the_ramps_back_before_the_end(display, app):
    app.store(intLig=120, lngColor=AMBER)
    found = start_tinted(display, app, AMBER, 120)
    ours = display.windows_by_pid(app.proc.pid, visible_only=False)
    assert ours
    t0 = time.monotonic()
    subprocess.run(['xkill', '-id', str(ours[0])], env=display.env,
                   capture_output=True, check=True, timeout=10)
    assert h.poll(lambda: ramps_of(display) == found, 2, 0.05), \
        'ramps still tinted %.1f s after xkill' % (time.monotonic() - t0)
    assert h.poll(lambda: app.proc.poll() is not None, 10)
    assert app.records() == []
    assert app.settings() == {'intLig': '120', 'lngColor': str(AMBER)}


def test_ramps_set_after_a_killed_run_are_kept(display, app):
    found = start_tinted(display, app)
    assert app.signal(signal.SIGKILL) == -signal.SIGKILL
    # A calibration loaded meanwhile, on the first monitor only.
    display.set_gamma(PRIMARY, 0.9, 1.1, 1.3)
    now = ramps_of(display)
    app.start()
    assert h.poll(lambda: 'through the gamma ramps' in app.output(), 10)
    assert 'no longer show the tint' in app.output()
    # The second monitor still showed the tint: its ramp came back first.
    kept = {PRIMARY: now[PRIMARY], SECOND: found[SECOND]}
    wait_tinted(display, kept)
    ends_giving_back(display, app, kept)


def test_ramps_reset_from_outside_are_tinted_again(display, app):
    found = start_tinted(display, app)
    # As xrandr --gamma or a resume leaves them: the first as it was
    # found, the second without its calibration.
    display.set_gamma(PRIMARY)
    display.set_gamma(SECOND)
    t0 = time.monotonic()
    # Read before the program tints them again: what 1:1:1 gives on both.
    reset = {PRIMARY: found[PRIMARY], SECOND: found[PRIMARY]}
    wait_tinted(display, reset)
    assert time.monotonic() - t0 < 3, 'tinted again after %.1f s' % (time.monotonic() - t0)
    ends_giving_back(display, app, reset)
