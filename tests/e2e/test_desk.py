"""Both targets on Xorg with two monitors (1024x768, 800x600 to its right): one tint over
both, the panel on the pointer's monitor, the tint following the second monitor's changes."""

import time

import pytest

import harness as h
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, PANEL_GREY, X_MOVED,
                          client, slider_alpha, track_point, within_alpha)
from xorg_dummy import PRIMARY_SIZE, SECOND_SIZE

pytestmark = [pytest.mark.xorg,
              pytest.mark.parametrize('display', ['xorg-dummy'], indirect=True)]

# A point of each monitor away from where the panel, the splash and notepad
# open, and the second monitor's rectangle.
ON_PRIMARY = (900, 700)
ON_SECOND = (PRIMARY_SIZE[0] + 700, 500)
SECOND = (PRIMARY_SIZE[0], 0) + SECOND_SIZE


def tints(app, step, alpha=DEFAULT_ALPHA, colour=DEFAULT_COLOUR):
    img = app.shot(step)
    for where, at in (('primary', ON_PRIMARY), ('second', ON_SECOND)):
        got = img.pixel(*at)
        assert within_alpha(got, alpha, colour), \
            '%s: the %s monitor at %s is %s, expected %s' % (
                step, where, at, got, h.blend_over_white(alpha, colour))


@pytest.fixture
def second_back(display):
    yield
    display.set_second_monitor(True)


def start_with_pointer_on_second(app):
    app.start_for_panel()
    app.focus_window()
    app.display.move(*ON_SECOND)  # move() waits until the pointer is there


def test_both_monitors_are_tinted_and_a_slider_move_changes_both(app, display):
    app.start_for_panel()
    tints(app, 'start')
    app.display.move(*ON_PRIMARY)
    panel, _ = app.open_panel()
    app.display.click(*track_point(panel, X_MOVED))
    alpha = slider_alpha(X_MOVED)
    h.poll(lambda: all(within_alpha(app.pixel(*at), alpha, DEFAULT_COLOUR)
                       for at in (ON_PRIMARY, ON_SECOND)), 3)
    tints(app, 'moved', alpha=alpha)


def test_f7_with_the_pointer_on_the_second_monitor_opens_the_panel_there(app, display):
    start_with_pointer_on_second(app)
    panel, _ = app.open_panel()
    x, y, w, hgt = client(panel)
    sx, sy, sw, sh = SECOND
    assert sx <= x and x + w <= sx + sw and sy <= y and y + hgt <= sy + sh, \
        'the panel at %s is not wholly on the second monitor %s' % ((x, y, w, hgt), SECOND)
    centre = (x + w // 2, y + hgt // 2)
    assert abs(centre[0] - (sx + sw // 2)) <= 8 and abs(centre[1] - (sy + sh // 2)) <= 16, \
        'the panel is not centred on the second monitor: centre %s' % (centre,)
    # Above that monitor's tint: its own grey, not dimmed and recoloured.
    got = app.panel_shot.pixel(x + 8, y + 8)
    assert h.close(got, PANEL_GREY, 3), 'the panel on the second monitor ' \
        'shows %s, not its grey %s: it lies under the tint' % (got, PANEL_GREY)


def test_the_second_monitor_turned_off_and_on_is_tinted_again(app, display, second_back):
    app.start_for_panel()
    tints(app, 'both')
    display.set_second_monitor(False)
    time.sleep(2.0)  # fixed: the primary must stay tinted meanwhile
    img = app.shot('one')
    got = img.pixel(PRIMARY_SIZE[0] // 2, PRIMARY_SIZE[1] - 5)
    assert within_alpha(got, DEFAULT_ALPHA, DEFAULT_COLOUR), \
        'the primary alone is not tinted to its edge: %s' % (got,)
    display.set_second_monitor(True)
    t0 = time.monotonic()
    ok = h.poll(lambda: within_alpha(
        app.pixel(*ON_SECOND), DEFAULT_ALPHA, DEFAULT_COLOUR), 2.5, 0.1)
    app.note('the second monitor tinted %.1f s after it came back' % (time.monotonic() - t0))
    assert ok, 'the second monitor is not tinted 2 s after it came back: %s' % (
        app.pixel(*ON_SECOND),)
    tints(app, 'both-again')


def test_the_second_monitor_turned_off_under_the_panel_leaves_it_working(app, second_back):
    """The panel still closes itself, and F7 opens it on the one left."""
    start_with_pointer_on_second(app)
    app.open_panel()
    app.display.set_second_monitor(False)
    app.wait_panel_closed()
    app.display.move(*ON_PRIMARY)
    app.open_panel(step='again')
