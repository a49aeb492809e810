"""The native program on headless sway (layer shell): the tint is a layer
surface on every output, and F7 reaches the program through sway's binding
of F7 to `morvane-night --settings`."""

import time

import pytest

import harness as h
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, EXIT_LEFT, EXIT_TOP, PANEL_GREY, PANEL_H,
                          PANEL_W, SPLASH_H, SPLASH_RED, SPLASH_W, SWATCH, THUMB_Y, TRACK_Y, TWIPS,
                          X_MOVED, face_point, slider_alpha, thumb_px, within_alpha)
from sway_session import HEIGHT, WIDTH

pytestmark = [pytest.mark.native, pytest.mark.wayland]

TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)  # (105, 143, 105)
WHITE = (255, 255, 255)
# The panel's and the splash's client areas, centred on the output like their frames.
PANEL = ((WIDTH - PANEL_W) // 2, (HEIGHT - PANEL_H) // 2)
SPLASH = ((WIDTH - SPLASH_W) // 2, (HEIGHT - SPLASH_H) // 2)
# Plain desktop (the probe) away from the panel, the splash and dialogs.
FREE = [(3, 3), (WIDTH - 4, HEIGHT - 4), (100, 700), (900, 100)]
CENTRE = (WIDTH // 2, HEIGHT // 2)


def expect_everywhere(img, rgb, what, points=FREE):
    __tracebackhide__ = True
    bad = {p: img.pixel(*p) for p in points if img.pixel(*p) != rgb}
    assert not bad, '%s: expected %s exactly, got %s' % (what, rgb, bad)


def panel_up(img):
    """Whether the panel is up untinted: its grey in its bottom corner."""
    return img.pixel(*face_point(PANEL + (PANEL_W, PANEL_H))) == PANEL_GREY


def thumb_up(img, alpha):
    """Whether the panel shows its red thumb where opacity alpha puts it."""
    thumb = round(PANEL[0] + thumb_px(alpha))
    return any(img.pixel(tx, PANEL[1] + THUMB_Y) == (255, 0, 0)
               for tx in range(thumb - 4, thumb + 5))


def splash_up(img):
    return img.pixel(SPLASH[0] + 4, SPLASH[1] + SPLASH_H - 6) == SPLASH_RED


def wait_screen(sway, predicate, timeout, what, step, saved=None):
    """The first screenshot where predicate holds, the wait logged; then one saved as `saved`."""
    t0 = time.monotonic()

    def look():
        img = sway.shot()
        return img if predicate(img) else None
    img = h.poll(look, timeout, 0.1)
    if img is None:
        sway.shot(step)
        pytest.fail('%s within %.0f s (screenshot %s)' % (what, timeout, step), pytrace=False)
    h.log('wayland: %.2f s to wait out "%s"' % (time.monotonic() - t0, what))
    if saved:
        sway.shot(saved)
    return img


def settled(sway, timeout, what, step):
    """Screenshots until two in a row are the same; returns the last."""
    last = [None]

    def same(img):
        done, last[0] = img.raw == last[0], img.raw
        return done
    return wait_screen(sway, same, timeout, what, step, saved=step)


def start_and_settle(sway):
    """Starts the program; waits for its splash above the tint to go."""
    app = sway.start_program()
    wait_screen(sway, splash_up, 10, 'no splash', 'no-splash')
    # The splash and the tint are surfaces of their own: under load the splash may show a frame
    # or two before the tint; what counts is the tint round the splash while it is up.
    wait_screen(sway, lambda i: splash_up(i) and all(
        i.pixel(*p) == TINT for p in ((3, 3), (100, 700))),
        2, 'the tint beside the splash', 'splash-untinted', saved='splash')
    wait_screen(sway, lambda i: not splash_up(i), 8, 'the splash did not go', 'splash-stays')
    assert app.poll() is None, 'the program ended (%s)' % app.returncode
    return app


def open_panel(sway, what='no panel after F7'):
    """F7, which sway runs as `morvane-night --settings`; the panel's shot."""
    sway.key('F7')
    return wait_screen(sway, panel_up, 5, what, 'no-panel')


def probe_lines(path):
    with open(path) as f:
        return f.read().splitlines()


def expect_key_reaches(sway, probe, key, what):
    sway.key(key)
    assert h.poll(lambda: 'key ' + key in probe_lines(probe), 3), \
        '%s went to %s' % (what, probe_lines(probe))


def test_defaults_tint_exactly_and_clicks_pass_through(sway):
    probe = sway.start_probe()
    start_and_settle(sway)
    img = sway.shot('tint')
    expect_everywhere(img, TINT, 'the default tint over white', FREE + [CENTRE])
    # A click on the tint reaches the window beneath; so do keys.
    sway.click(300, 600)
    expect_key_reaches(sway, probe, 'a', 'a key on the tint')
    assert any(line.startswith('down ') for line in probe_lines(probe)), \
        'the click did not reach the window beneath: %s' % probe_lines(probe)
    assert sway.settings() == {}, 'stored before any panel closed'


def test_f7_panel_slider_store_and_exit(sway):
    probe = sway.start_probe()
    app = start_and_settle(sway)
    open_panel(sway)
    img = wait_screen(sway, lambda i: thumb_up(i, DEFAULT_ALPHA), 2,
                      'no red thumb on the panel', 'no-thumb', saved='panel')
    expect_everywhere(img, TINT, 'the tint around the panel')
    # The panel has the keyboard while it is up.
    sway.key('c')
    time.sleep(0.3)  # fixed: the key must not reach the probe meanwhile
    assert 'key c' not in probe_lines(probe), 'the panel let a key through'

    x, y = PANEL
    track_y = y + TRACK_Y // TWIPS
    alpha = slider_alpha(X_MOVED)
    sway.drag(round(x + thumb_px(DEFAULT_ALPHA)), track_y, x + X_MOVED, track_y)
    wait_screen(sway, lambda i: within_alpha(i.pixel(*FREE[2]), alpha,
                                             DEFAULT_COLOUR, slack=1, tol=0),
                3, 'after the drag the screen is not %s (opacity %d)' % (
                    h.blend_over_white(alpha, DEFAULT_COLOUR), alpha), 'dragged', saved='dragged')
    assert sway.settings() == {}, 'stored while the panel is open'

    sway.move(900, 700)  # off the panel: it closes by itself
    wait_screen(sway, lambda i: not panel_up(i), 9, 'the panel stays', 'panel-stays')
    stored = sway.settings()
    assert stored.get('lngColor') == str(DEFAULT_COLOUR), stored
    assert abs(int(stored.get('intLig', -9)) - alpha) <= 1, stored
    assert sway.shot().pixel(*FREE[2]) == h.blend_over_white(
        int(stored['intLig']), DEFAULT_COLOUR), 'the screen is not the stored opacity'
    # The keyboard is back with the window beneath.
    expect_key_reaches(sway, probe, 'b', 'keys after the panel')

    # The exit label ends night mode, and the tint goes with it.
    open_panel(sway, 'no panel after the second F7')
    sway.move(x + EXIT_LEFT // TWIPS + 10, y + EXIT_TOP // TWIPS + 10)
    sway.click(x + EXIT_LEFT // TWIPS + 20, y + EXIT_TOP // TWIPS + 10)
    assert h.poll(lambda: app.poll() is not None, 3, 0.05), \
        'still running after the exit label'
    assert app.returncode == 0
    img = wait_screen(sway, lambda i: i.pixel(*FREE[2]) == WHITE, 2, 'the tint stayed',
                      'tint-stays', saved='ended')
    expect_everywhere(img, WHITE, 'the screen after the exit label', FREE + [CENTRE])


def test_a_second_output_is_tinted_as_it_comes(sway):
    # (Headless sway 1.7 cannot take an output away again: disabling one
    # fails to commit, and there is no unplug.)
    app = start_and_settle(sway)
    sway.swaymsg('create_output')

    def both(img):
        return img.width == 2 * WIDTH and all(
            img.pixel(px, py) == TINT for px, py in FREE + [
                (WIDTH + 3, 3), (2 * WIDTH - 4, HEIGHT - 4),
                (WIDTH + WIDTH // 2, HEIGHT // 2)])
    wait_screen(sway, both, 5, 'the second output is not tinted exactly', 'second-output',
                saved='two-outputs')
    assert app.poll() is None


def test_a_second_plain_start_says_so_and_leaves_the_first(sway):
    sway.start_probe()
    first = start_and_settle(sway)
    second = sway.start_program()
    # Its message, somewhere over the middle of the screen.
    wait_screen(sway, lambda i: i.pixel(*CENTRE) != TINT, 8, 'no message from the second start',
                'no-message')
    img = settled(sway, 3, 'the message did not settle', 'message')
    assert second.poll() is None, 'the second start ended without its message'
    # Its only button is at the bottom of the box, in the middle.
    bottom = max(y for y in range(HEIGHT // 2, HEIGHT) if img.pixel(WIDTH // 2, y) != TINT)
    sway.click(WIDTH // 2, bottom - 15)
    assert h.poll(lambda: second.poll() is not None, 5, 0.1), \
        'the second start still runs after its message was answered'
    assert first.poll() is None, 'the first instance ended too'
    img = wait_screen(sway, lambda i: i.pixel(*CENTRE) == TINT, 3, 'the message stays',
                      'message-stays')
    expect_everywhere(img, TINT, "the first instance's tint")
    assert sway.settings() == {}, 'a value was stored: %s' % sway.settings()


def test_settings_with_nothing_running_starts_with_the_panel(sway):
    app = sway.start_program('--settings')
    wait_screen(sway, panel_up, 10, 'no panel', 'no-panel', saved='panel')
    assert app.poll() is None
    expect_everywhere(sway.shot(), TINT, 'the tint around the panel')


def test_the_colour_dialog_is_usable_and_recolours_the_tint(sway):
    sway.start_probe()
    start_and_settle(sway)
    open_panel(sway)
    x, y = PANEL
    sway.click(x + SWATCH[0] // TWIPS + 40, y + SWATCH[1] // TWIPS + 10)
    # The panel steps aside; the dialog lies open beneath the tint, and its
    # colour entry has the keys.
    wait_screen(sway, lambda i: not panel_up(i) and i.pixel(*CENTRE) != TINT, 5,
                'no colour dialog', 'no-dialog')
    settled(sway, 3, 'the dialog did not settle', 'dialog')
    sway.key('a', mod='ctrl')
    sway.type('#FF8000')
    sway.key('Return')  # takes the text
    # "Select" is at the right of the dialog's header bar; sway centres it.
    img = settled(sway, 3, 'the typed colour did not settle', 'typed')
    top = next(py for py in range(HEIGHT) if img.pixel(WIDTH // 2, py) != TINT)
    left = next(px for px in range(WIDTH) if img.pixel(px, top + 25) != TINT)
    sway.click(WIDTH - left - 48, top + 23)
    orange = 0x000080FF
    want = h.blend_over_white(DEFAULT_ALPHA, orange)
    img = wait_screen(sway, lambda i: panel_up(i) and i.pixel(*FREE[2]) == want, 5,
                      'the panel and the orange tint did not come', 'no-orange', saved='orange')
    swatch = img.pixel(x + SWATCH[0] // TWIPS + 4, y + SWATCH[1] // TWIPS + 4)
    assert swatch == (255, 128, 0), 'the swatch shows %s' % (swatch,)
    sway.move(900, 700)
    wait_screen(sway, lambda i: not panel_up(i), 9, 'the panel stays', 'panel-stays')
    assert sway.settings().get('lngColor') == str(orange), sway.settings()


def test_keys_on_the_panel(sway):
    probe = sway.start_probe()
    start_and_settle(sway)
    open_panel(sway)
    want = DEFAULT_ALPHA - 10 * 5
    for _ in range(10):
        sway.key('Right')
    wait_screen(sway, lambda i: within_alpha(i.pixel(*FREE[2]), want, DEFAULT_COLOUR, 0, 1),
                3, 'not opacity %d' % want, 'right', saved='right')
    # Just before Esc a step there and back: no idle close for 2.5 s.
    for key in ('Left', 'Right', 'Escape'):
        sway.key(key)
    wait_screen(sway, lambda i: not panel_up(i), 2, 'panel up after Esc', 'esc')
    assert sway.settings() == {'intLig': str(want),
                               'lngColor': str(DEFAULT_COLOUR)}, sway.settings()
    expect_key_reaches(sway, probe, 'b', 'keys after Esc')
