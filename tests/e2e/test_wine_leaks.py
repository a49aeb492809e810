"""No leaks: 200 openings of the panel and 10,000 slider moves leave the tool's GDI objects,
USER objects and handles where they were. resprobe.exe reads each count by every means the
system offers; its self test shows which Wine answers with a stub. The first 20 cycles and 1,000
moves fill the caches (fonts, the panel's brushes): growth is measured after them."""

import time

import pytest

import harness as h
from scenario_kit import (CX, CY, DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, PANEL_GREY, TRACK_X1,
                          TRACK_X2, TRACK_Y, TWIPS, face_point, slider_alpha, within_alpha)

pytestmark = [pytest.mark.wine, pytest.mark.soak]

# Each count: what the self test makes of its kind, and how much it may grow.
COUNTS = {'gui_gdi': ('gdi', 2), 'gdi_table': ('gdi', 2),
          'gui_user': ('windows', 0), 'windows': ('windows', 0),
          'handles': ('handles', 2), 'sys_handles': ('handles', 2)}


def real_counts(app):
    """The names of the counts the probe's self test shows to be real."""
    got = h.probe_json(app.wine, app.probes['resprobe'], 'self')
    assert got and 'during' in got, 'resprobe self test failed: %s' % got
    made, before, during, after = (got[k] for k in ('made', 'before', 'during', 'after'))
    real, stubs = [], []
    for name, (kind, _) in COUNTS.items():
        grew = during[name] - before[name]
        ok = (before[name] >= 0 and after[name] == before[name]
              and (grew >= made[kind] if kind == 'windows' else grew == made[kind]))
        (real if ok else stubs).append(name)
    for kind, names in (('GDI object', ('gdi_table', 'gui_gdi')),
                        ('handle', ('sys_handles', 'handles')),
                        ('USER object', ('windows', 'gui_user'))):
        assert set(names) & set(real), 'no real %s count under this Wine: %s' % (kind, got)
    app.note('stubs here: %s' % (', '.join(stubs) or 'none'))
    return real


def linux_rss_kib(unix_pid):
    # Binary: the Name line holds the first 15 bytes of a UTF-8 name.
    with open('/proc/%d/status' % unix_pid, 'rb') as f:
        return next((int(line.split()[1]) for line in f if line.startswith(b'VmRSS:')), -1)


def measure(app, pid):
    got = h.probe_json(app.wine, app.probes['resprobe'], pid)
    assert got and 'error' not in got, 'resprobe on pid %s: %s' % (pid, got)
    got['rss_kib'] = linux_rss_kib(app.proc.pid)
    return got


def expect_flat(app, real, base, end, what):
    for name in real:
        allowed = COUNTS[name][1]
        assert end[name] - base[name] <= allowed, \
            '%s: %s grew from %d to %d (allowed +%d)' % (
                what, name, base[name], end[name], allowed)
    app.note('%s: %s; working set %d->%d KiB, Linux RSS %d->%d KiB' % (
        what, ', '.join('%s %d->%d' % (n, base[n], end[n]) for n in real),
        base['working_set'] // 1024, end['working_set'] // 1024,
        base['rss_kib'], end['rss_kib']))


def panel_cycles(app, overlay, count):
    pid = app.proc.pid
    for i in range(count):
        app.display.xdotool('windowactivate', '--sync', app.notepad_xid, 'key', 'F7', timeout=10)
        panel = h.poll(
            lambda: [x for x in app.display.windows_by_pid(pid) if x != overlay], 5, 0.03)
        assert panel, 'cycle %d: no panel within 5 s of F7' % (i + 1)
        # Painting is what makes GDI objects: wait for the panel's face.
        h.wait_until(lambda: h.close(app.pixel(CX - 160, CY + 75), PANEL_GREY, 4), 5,
                     'cycle %d: the panel painted' % (i + 1), interval=0.02)
        if (i + 1) % 50 == 0:
            # Now and then, see that it really is the painted panel.
            img = app.shot('cycle%d' % (i + 1))
            row = [img.pixel(x, CY + 75) for x in range(CX - 195, CX - 120)]
            grey = sum(1 for p in row if h.close(p, PANEL_GREY, 4))
            assert grey > len(row) * 0.9, 'cycle %d: no panel face on the screen (%d of %d ' \
                'pixels grey)' % (i + 1, grey, len(row))
        app.display.xdotool('windowactivate', '--sync', panel[0], 'key', 'alt+F4', check=False,
                            timeout=10)
        gone = h.poll(
            lambda: all(x == overlay for x in app.display.windows_by_pid(pid)), 5, 0.03)
        assert gone, 'cycle %d: the panel is still up 5 s after Alt+F4' % (i + 1)


def slider_moves(app, panel, count, batch=500):
    """count moves with the button held, 2 ms apart (Wine merges motion that queues up faster);
    each batch waits for its last tint, so no backlog builds up. Returns the last client x."""
    cx, cy = panel['client'][:2]
    y = cy + TRACK_Y // TWIPS
    face = face_point(panel)
    lo, hi = TRACK_X1 // TWIPS + 5, TRACK_X2 // TWIPS - 5
    span = hi - lo + 1
    n, x = 0, lo
    while n < count:
        args = ['mousemove', cx + x, y, 'mousedown', 1]
        for _ in range(min(batch, count - n)):
            n += 1
            x = lo + (n * 97) % span  # far apart: every move changes opacity
            args += ['mousemove', cx + x, y, 'sleep', 0.002]
        args += ['mouseup', 1]
        app.display.xdotool(*args, timeout=120)
        # The compositor repaints the whole screen for every opacity and can fall seconds
        # behind on a loaded machine; the panel closes after a quiet tick of its timer. While
        # the test waits for the screen it presses the panel's face each second, and once more
        # after, as a user's hand on the mouse would, so neither the wait nor the look at the
        # panel is a quiet tick. The look is at the face's own grey (a window list through
        # Wine would take seconds on such a machine).
        for _ in range(10):
            if h.poll(lambda: within_alpha(app.pixel(*FREE), slider_alpha(x),
                                           DEFAULT_COLOUR), 1.0):
                break
            app.display.click(*face)
        app.display.click(*face)
        seen = app.pixel(*face)
        assert h.close(seen, PANEL_GREY, 4), 'the panel closed during the moves (after %d of ' \
            '%d): its face reads %s' % (n, count, seen)
    return x


def test_leaks_panel_200_cycles_slider_10000_moves(app):
    app.start_and_settle()
    overlay = app.overlay_xid()
    app.start_notepad()
    real = real_counts(app)
    win_pid = app.overlay()['pid']
    tint = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)

    # The panel, opened and closed 200 times.
    t0 = time.monotonic()
    panel_cycles(app, overlay, 20)
    base = measure(app, win_pid)
    panel_cycles(app, overlay, 180)
    end = measure(app, win_pid)
    app.note('200 cycles in %.0f s' % (time.monotonic() - t0))
    expect_flat(app, real, base, end, 'panel cycles 20->200')
    assert app.proc.poll() is None, 'the tool ended during the cycles'
    got = app.shot('cycled').pixel(*FREE)
    assert h.close(got, tint, 3), 'the tint changed over the cycles: %s, expected %s' % (got, tint)
    got = app.settings()
    assert got == {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(DEFAULT_COLOUR)}, \
        'stored values after 200 closes: %s' % got

    # The slider, moved 10,000 times with the button held.
    panel, _ = app.open_panel(step='slider')
    slider_moves(app, panel, 1000)
    app.close_panel_alt_f4(overlay)
    base = measure(app, win_pid)
    panel, _ = app.open_panel(step='slider-again')
    t0 = time.monotonic()
    x = slider_moves(app, panel, 9000)
    app.note('9000 moves in %.0f s' % (time.monotonic() - t0))
    alpha = slider_alpha(x)
    got = app.shot('moved').pixel(*FREE)
    assert within_alpha(got, alpha, DEFAULT_COLOUR), \
        'after the last move (track x=%d) the tint is %s, expected %s' % (
            x, got, h.blend_over_white(alpha, DEFAULT_COLOUR))
    app.close_panel_alt_f4(overlay)
    end = measure(app, win_pid)
    expect_flat(app, real, base, end, 'slider moves 1000->10000')
    assert app.proc.poll() is None, 'the tool ended during the moves'
    stored = app.settings().get('intLig', '')
    assert stored.isdigit() and abs(int(stored) - alpha) <= 1, \
        'stored intLig %r, expected %d' % (stored, alpha)
