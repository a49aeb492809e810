"""The splash and the panel at other DPI settings (Wine reads "LogPixels"
as a process starts), and the overlay across a change of screen size."""

import time

import pytest

import harness as h
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, OVERLAY_CAPTION, PANEL_GREY,
                          SPLASH_RED, TRACK_X1, TRACK_X2, TRACK_Y, TWIPS, round_half_even,
                          thumb_px, within_alpha)
from wine_target import WineApp

pytestmark = [pytest.mark.wine, pytest.mark.soak]

DESKTOP_KEY = 'HKCU\\Control Panel\\Desktop'
TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)

GREEN, WHITE, EXIT_BLUE = (0, 255, 0), (255, 255, 255), (128, 128, 255)
SWATCH_GREEN = (0, 64, 0)

# What each form lays out, in twips: (name, left, top, width, height, point
# size, colour, background). Width and height are None for a label that sizes
# itself to its text.
SPLASH_LABELS = [
    ('Label1', 450, 360, 4995, 435, 21.75, GREEN, SPLASH_RED),
    ('Label2', 1935, 990, 4095, 435, 21.75, GREEN, SPLASH_RED),
    ('Label3', 900, 1845, None, None, 14.25, WHITE, SPLASH_RED),
    ('Label4', 2835, 2430, None, None, 12.0, WHITE, SPLASH_RED),
    ('Label5', 2970, 2790, None, None, 12.0, WHITE, SPLASH_RED),
]
PANEL_LABELS = [
    ('Label1', 585, 225, None, None, 21.75, WHITE, PANEL_GREY),
    # The swatch: opaque, with a one-pixel sunken border.
    ('lbColor', 1665, 225, 3750, 420, 15.0, WHITE, SWATCH_GREEN),
    ('lbLig', 585, 945, None, None, 21.75, WHITE, PANEL_GREY),
    ('lbInfo', 765, 1710, None, None, 9.0, WHITE, PANEL_GREY),
    ('lbExit', 2295, 2205, None, None, 15.0, EXIT_BLUE, PANEL_GREY),
]
OPAQUE = {'lbColor'}
# Where a self-sizing label's text must stop, in client pixels at a DPI: the
# next control to its right (the swatch; the track's round end, half its
# 20-pixel pen before X1), or else the client area's edge.
PANEL_RIGHT_LIMITS = {
    'Label1': lambda dpi: px(1665, dpi),
    'lbLig': lambda dpi: px(TRACK_X1, dpi) - 10 * dpi / 96,
}


def px(twips, dpi):
    return twips * dpi / 1440


def is_ink(p, colour, back):
    """Whether p is `colour` over `back`, anti-aliased edges from half way."""
    d = [c - b for c, b in zip(colour, back)]
    dd = sum(v * v for v in d)
    q = [a - b for a, b in zip(p, back)]
    t = sum(a * b for a, b in zip(q, d)) / dd
    if t < 0.5:
        return False
    resid = sum((a - t * b) ** 2 for a, b in zip(q, d))
    return resid < 40 * 40


def ink_box(img, left, top, right, bottom, colour, back):
    """The bounding box (l, t, r, b) of the text in the region, or None."""
    ink = [(x, y) for y in range(max(0, top), min(img.height, bottom))
           for x in range(max(0, left), min(img.width, right))
           if is_ink(img.pixel(x, y), colour, back)]
    if not ink:
        return None
    xs, ys = zip(*ink)
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def check_texts(img, client, labels, dpi, right_limits=None):
    """Every label's text is where its twips put it at this DPI, as tall as
    its point size, and inside its label, its right neighbour or the edge."""
    cx, cy, cw, ch = client
    tol = max(2, round(2 * dpi / 96))
    problems = []
    for name, l, t, w, hgt, pt, colour, back in labels:
        em = pt * dpi / 72
        # Looked at around the label: wide to the sides, where a caption too
        # long would go; narrow above and below, where the next row is near.
        margin = max(4, round(0.4 * em))
        vmargin = tol + 2
        box_l, box_t = cx + round(px(l, dpi)), cy + round(px(t, dpi))
        spill = None
        if w is not None:
            box_r, box_b = cx + round(px(l + w, dpi)), cy + round(px(t + hgt, dpi))
            region = (box_l - margin, box_t - vmargin, box_r + margin, box_b + vmargin)
            if name in OPAQUE:
                # Text inside the painted box, its border left out; any that
                # ran over would show on the panel beside it.
                region = (box_l + 2, box_t + 2, box_r - 2, box_b - 2)
                spill = [ink_box(img, x0, box_t, x1, box_b, colour, PANEL_GREY)
                         for x0, x1 in ((box_l - margin, box_l - 2), (box_r + 2, box_r + margin))]
        else:
            limit = (right_limits or {}).get(name)
            limit_x = cx + (round(limit(dpi)) - 2 if limit else cw)
            region = (box_l - margin, box_t - vmargin, limit_x, box_t + round(1.25 * em))
        # Keep off the window's edges: the frame is not text.
        region = (max(region[0], cx + 1), max(region[1], cy + 1),
                  min(region[2], cx + cw - 1), min(region[3], cy + ch - 1))
        ink = ink_box(img, *region, colour, back)
        if not ink:
            problems.append('%s: no text found' % name)
            continue
        il, it, ir, ib = ink
        at = '%s: text at x %d..%d y %d..%d' % (name, il - cx, ir - cx, it - cy, ib - cy)
        if not 0.6 * em <= ib - it <= 1.2 * em:
            problems.append('%s: text %d px tall, expected about %.0f px (%.2f pt at %d DPI)' % (
                name, ib - it, em, pt, dpi))
        if w is None:
            if il < box_l - tol or it < box_t - tol:
                problems.append('%s starts left of or above its label at (%d, %d)' % (
                    at, box_l - cx, box_t - cy))
            if ir >= region[2] or ib >= region[3]:
                problems.append('%s runs into its neighbour or the edge (x < %d, y < %d)' % (
                    at, region[2] - cx, region[3] - cy))
        elif (il < box_l - tol or ir > box_r + tol or it < box_t - tol or ib > box_b + tol
              or any(spill or [])):
            problems.append('%s leaves its label x %d..%d y %d..%d' % (
                at, box_l - cx, box_r - cx, box_t - cy, box_b - cy))
    assert not problems, '%d DPI: %s' % (dpi, '; '.join(problems))


def form_of_size(app, tw, th, dpi):
    # +-1 pixel for rounding.
    return next((w for w in app.forms() if w['class'] == 'NightModeForm'
                 and abs(w['client'][2] - px(tw, dpi)) <= 1
                 and abs(w['client'][3] - px(th, dpi)) <= 1), None)


def wait_form(app, tw, th, dpi, what, timeout):
    form = h.poll(lambda: form_of_size(app, tw, th, dpi), timeout, 0.2)
    assert form, '%s: no window of %d x %d twips = %.1f x %.1f px at %d DPI within %d s: ' \
        'windows %s' % (what, tw, th, px(tw, dpi), px(th, dpi), dpi, timeout,
                        [w['client'] for w in app.forms()])
    return form


def slider_press_x(dpi):
    """A client x near 70 % of the track, off a rounding tie; its opacity."""
    base = round(px(TRACK_X1 + 0.7 * (TRACK_X2 - TRACK_X1), dpi))
    for x in (base + d for d in (0, 1, -1, 2, -2, 3, -3)):
        v = 255 - (x * 1440 / dpi - TRACK_X1) / (TRACK_X2 - TRACK_X1) * 255
        if abs(v - int(v) - 0.5) > 0.1:
            return x, round_half_even(v)
    raise AssertionError('no press point')


def thumb_at(read, cx, y, x):
    """The client x of the middle of the red run within 20 of x, or None."""
    xs = [i for i in range(x - 20, x + 21)
          if h.close(read(cx + i, y), (255, 0, 0), 40)]
    return (min(xs) + max(xs)) / 2 if xs else None


@pytest.mark.parametrize('dpi', [96, 120, 144, 192])
def test_dpi_splash_panel_slider(app, dpi):
    app.wine.reg_add(DESKTOP_KEY, 'LogPixels', dpi, 'REG_DWORD')
    app.start_app()
    assert app.wait_splash(), 'no splash within 25 s at %d DPI' % dpi
    splash = wait_form(app, 6270, 3105, dpi, 'splash', 3)
    check_texts(app.shot('splash'), splash['client'], SPLASH_LABELS, dpi)
    assert app.wait_splash_gone(), 'splash still up 10 s after it showed'

    app.start_notepad()
    app.focus_notepad()
    app.display.key('F7')
    panel = wait_form(app, 6120, 2775, dpi, 'panel after F7', 6)
    cx, cy = panel['client'][:2]
    thumb_y = cy + round(px(1395, dpi)) - 3
    want = round(px(thumb_px(DEFAULT_ALPHA) * TWIPS, dpi))
    h.wait_until(lambda: thumb_at(app.pixel, cx, thumb_y, want) is not None, 5,
                 'the panel painted, its thumb in view')
    img = app.shot('panel')
    check_texts(img, panel['client'], PANEL_LABELS, dpi, PANEL_RIGHT_LIMITS)
    # The thumb stands where the stored opacity puts it, in twips.
    got = thumb_at(img.pixel, cx, thumb_y, want)
    assert got is not None and abs(got - want) <= 2, \
        'thumb for opacity %d at client x %s, expected %d' % (DEFAULT_ALPHA, got, want)

    # A press on the track: the opacity follows the twips at this DPI.
    x, alpha = slider_press_x(dpi)
    app.display.click(cx + x, cy + round(px(TRACK_Y, dpi)))
    h.wait_until(lambda: h.close(app.pixel(cx + x, thumb_y), (255, 0, 0), 40), 5,
                 'the thumb redrawn at client x %d after a press' % x)
    img = app.shot('press')
    got = thumb_at(img.pixel, cx, thumb_y, x)
    assert got is not None and abs(got - x) <= 1, \
        'thumb after a press at client x %d is at %s' % (x, got)
    tint = img.pixel(*FREE)
    assert within_alpha(tint, alpha, DEFAULT_COLOUR, tol=2), \
        'tint %s after a press at client x %d, expected %s (opacity %d)' % (
            tint, x, h.blend_over_white(alpha, DEFAULT_COLOUR), alpha)
    app.display.move(5, 5)
    assert h.poll(lambda: not form_of_size(app, 6120, 2775, dpi), 9, 0.3), \
        'the settings panel is still open after 9 s'
    stored = app.settings().get('intLig')
    assert stored == str(alpha), 'stored intLig %r after a press at client x %d at %d DPI, ' \
        'expected %d' % (stored, x, dpi, alpha)
    app.note('%d DPI: splash %dx%d, panel %dx%d, press at x %d gave %d' % (
        dpi, *splash['client'][2:], *panel['client'][2:], x, alpha))


def tinted_everywhere(display, tol=3):
    """The corners and centre that are not tinted."""
    w, hgt = display.width, display.height
    points = [(3, 3), (w - 4, 3), (3, hgt - 4), (w - 4, hgt - 4), (w // 2, hgt // 2)]
    seen = [(p, h.pixel(display, *p)) for p in points]
    return [(p, got) for p, got in seen if not h.close(got, TINT, tol)]


def test_display_change_overlay_covers_new_size(app, new_display):
    # A display of its own: the others must keep their size.
    full, small = (h.SCREEN_W, h.SCREEN_H), (1024, 768)
    display = new_display('xvfb', width=full[0], height=full[1])
    there = WineApp(app.name, display, h.Wine(app.wine.prefix, display), app.probes)

    def overlay_rects():
        return [w['rect'] for w in there.windows()
                if w['visible'] and w['text'] == OVERLAY_CAPTION]

    def covered(size):
        return overlay_rects() == [[0, 0] + list(size)] and not tinted_everywhere(display)
    try:
        display.set_screen_size(*small)
        root = display.x().screen().root
        h.wait_until(lambda: root.get_geometry().width == small[0], 5,
                     'the X screen %dx%d' % small)
        proc = there.start_app()
        ok = h.poll(lambda: not tinted_everywhere(display), 25, 0.3)
        there.shot('small')
        assert ok, 'no tint over the whole %dx%d screen after start: %s' % (
            small + (tinted_everywhere(display),))
        assert proc.poll() is None, 'the program ended'

        display.set_screen_size(*full)
        t0 = time.monotonic()
        # The tool checks its cover for some seconds after a change of size.
        ok = h.poll(lambda: not tinted_everywhere(display), 10, 0.25)
        there.shot('grown')
        assert ok, 'after the screen grew to %dx%d the tint does not cover it: untinted %s; ' \
            'overlay at %s' % (full + (tinted_everywhere(display), overlay_rects()))
        app.note('covered %.1f s after the screen grew' % (time.monotonic() - t0))
        rects = overlay_rects()
        assert rects[:1] == [[0, 0] + list(full)], \
            'overlay at %s, expected the screen %s' % (rects, [0, 0] + list(full))

        display.set_screen_size(*small)
        ok = h.poll(lambda: covered(small), 11.5, 0.5)
        there.shot('shrunk')
        assert ok and not tinted_everywhere(display), \
            'after the screen shrank back the overlay is not the screen %s: at %s, ' \
            'untinted %s' % ([0, 0] + list(small), overlay_rects(), tinted_everywhere(display))
        assert proc.poll() is None, 'the program ended'
    finally:
        there.wine.kill()
