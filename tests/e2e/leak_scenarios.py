"""No leaks: the settings panel opened and closed 200 times, and 10,000
moves of the slider, leave the tool's GDI objects, USER objects and handles
where they were.

The counts come from resprobe.exe, which reads the tool's process from
outside. Wine 8 answers GetGuiResources with 0 and ERROR_CALL_NOT_IMPLEMENTED
and GetProcessHandleCount with 0, so the probe also counts by other means:
the live entries of the process's GDI handle table (read through its PEB),
its entries in the system handle list, and its windows (top-level, their
descendants and message-only ones; windows are the USER objects this tool
makes). Before relying on any count, each scenario runs the probe's self
test, which makes 10 brushes, 10 events and 3 windows and measures again: a
count that does not move by what was made is reported and left out.

The first 20 panel cycles and the first 1,000 moves are the baseline: caches
(fonts, the panel's brushes) fill there, so growth is measured after them.
"""

import time

from fault_scenarios import close_panel_alt_f4, overlay_xid
from run_e2e import (CX, CY, DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, PANEL_GREY,
                     TRACK_X1, TRACK_X2, TRACK_Y, TWIPS, h, scenario,
                     slider_alpha)

# What each count must move by in the self test, and how much it may grow
# over the measured stretch.
COUNTS = {
    'gui_gdi': ('gdi', 2),
    'gdi_table': ('gdi', 2),
    'gui_user': ('windows', 0),
    'windows': ('windows', 0),
    'handles': ('handles', 2),
    'sys_handles': ('handles', 2),
}


def real_counts(s):
    """The names of the counts that the probe's self test shows to be real."""
    got = h.probe_json(s.wine, s.probes['resprobe'], 'self')
    s.check(got and 'during' in got, 'resprobe self test failed: %s' % got)
    made, before, during, after = (got['made'], got['before'], got['during'],
                                   got['after'])
    real, stubs = [], []
    for name, (kind, _) in COUNTS.items():
        grew = during[name] - before[name]
        ok = (before[name] >= 0 and after[name] == before[name]
              and (grew >= made[kind] if kind == 'windows'
                   else grew == made[kind]))
        (real if ok else stubs).append(name)
    s.check('gdi_table' in real or 'gui_gdi' in real,
            'no real GDI object count under this Wine: %s' % got)
    s.check('sys_handles' in real or 'handles' in real,
            'no real handle count under this Wine: %s' % got)
    s.check('windows' in real or 'gui_user' in real,
            'no real USER object count under this Wine: %s' % got)
    s.note('stubs here: %s' % (', '.join(stubs) or 'none'))
    return real


def linux_rss_kib(unix_pid):
    # Binary: the Name line holds the first 15 bytes of a UTF-8 name.
    with open('/proc/%d/status' % unix_pid, 'rb') as f:
        for line in f:
            if line.startswith(b'VmRSS:'):
                return int(line.split()[1])
    return -1


def measure(s, pid):
    got = h.probe_json(s.wine, s.probes['resprobe'], pid)
    s.check(got and 'error' not in got, 'resprobe on pid %s: %s' % (pid, got))
    got['rss_kib'] = linux_rss_kib(s.app.pid)
    return got


def expect_flat(s, real, base, end, what):
    grew = {n: end[n] - base[n] for n in real}
    for name in real:
        allowed = COUNTS[name][1]
        s.check(grew[name] <= allowed, '%s: %s grew from %d to %d (allowed '
                '+%d)' % (what, name, base[name], end[name], allowed))
    s.note('%s: %s; working set %d->%d KiB, Linux RSS %d->%d KiB' % (
        what, ', '.join('%s %d->%d' % (n, base[n], end[n]) for n in real),
        base['working_set'] // 1024, end['working_set'] // 1024,
        base['rss_kib'], end['rss_kib']))


def xids_of(s, unix_pid):
    return s.display.windows_by_pid(unix_pid)


def panel_cycles(s, overlay, count):
    """F7 in notepad opens the panel; Alt+F4 on it closes it."""
    pid = s.app.pid
    for i in range(count):
        s.display.xdotool('windowactivate', '--sync', s.notepad_xid, 'key',
                          'F7', timeout=10)
        panel = h.wait_until(
            lambda: [x for x in xids_of(s, pid) if x != overlay], 5, 0.03)
        s.check(panel, 'cycle %d: no panel within 5 s of F7' % (i + 1))
        time.sleep(0.05)  # let it paint: painting is what makes GDI objects
        if (i + 1) % 50 == 0:
            # Now and then, see that it really is the painted panel.
            img = s.shot('cycle%d' % (i + 1))
            row = [img.pixel(x, CY + 75) for x in range(CX - 195, CX - 120)]
            grey = sum(1 for p in row if h.close(p, PANEL_GREY, 4))
            s.check(grey > len(row) * 0.9, 'cycle %d: no panel face on the '
                    'screen (%d of %d pixels grey)' % (i + 1, grey, len(row)))
        s.display.xdotool('windowactivate', '--sync', panel[0], 'key',
                          'alt+F4', check=False, timeout=10)
        gone = h.wait_until(
            lambda: all(x == overlay for x in xids_of(s, pid)), 5, 0.03)
        s.check(gone, 'cycle %d: the panel is still up 5 s after Alt+F4'
                % (i + 1))


def slider_moves(s, panel, count, batch=1000):
    """count pointer moves along the track with the left button held, in
    batches of one xdotool call each, 1 ms apart (Wine merges motion that
    queues up faster than the tool takes it). Returns the last x (client
    pixels)."""
    cx, cy = panel['client'][:2]
    y = cy + TRACK_Y // TWIPS
    lo, hi = TRACK_X1 // TWIPS + 5, TRACK_X2 // TWIPS - 5
    span = hi - lo + 1
    n = 0
    x = lo
    while n < count:
        args = ['mousemove', cx + x, y, 'mousedown', 1]
        for _ in range(min(batch, count - n)):
            n += 1
            x = lo + (n * 97) % span  # far apart: every move changes opacity
            args += ['mousemove', cx + x, y, 'sleep', 0.001]
        args += ['mouseup', 1]
        s.display.xdotool(*args, timeout=120)
    return x


@scenario('leaks-panel-200-cycles-slider-10000-moves')
def leaks(s):
    s.start_and_settle()
    overlay = overlay_xid(s)
    s.start_notepad()
    real = real_counts(s)
    win_pid = s.overlay()['pid']
    tint = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)

    # The panel, opened and closed 200 times.
    t0 = time.monotonic()
    panel_cycles(s, overlay, 20)
    base = measure(s, win_pid)
    panel_cycles(s, overlay, 180)
    end = measure(s, win_pid)
    s.note('200 cycles in %.0f s' % (time.monotonic() - t0))
    expect_flat(s, real, base, end, 'panel cycles 20->200')
    s.check(s.app.poll() is None, 'the tool ended during the cycles')
    s.check(h.close(s.shot('cycled').pixel(*FREE), tint, 3),
            'the tint changed over the cycles')
    got = s.settings()
    s.check(got == {'intLig': str(DEFAULT_ALPHA),
                    'lngColor': str(DEFAULT_COLOUR)},
            'stored values after 200 closes: %s' % got)

    # The slider, moved 10,000 times with the button held.
    panel, _ = s.open_panel(step='slider')
    slider_moves(s, panel, 1000)
    close_panel_alt_f4(s, overlay)
    base = measure(s, win_pid)
    panel, _ = s.open_panel(step='slider-again')
    t0 = time.monotonic()
    x = slider_moves(s, panel, 9000)
    s.note('9000 moves in %.0f s' % (time.monotonic() - t0))
    time.sleep(0.4)
    s.check(s.panel(), 'the panel closed during the moves')
    alpha = slider_alpha(x)
    got = s.shot('moved').pixel(*FREE)
    lo, hi = (h.blend_over_white(v, DEFAULT_COLOUR) for v in (alpha + 1,
                                                               alpha - 1))
    s.check(all(lo[i] - 3 <= got[i] <= hi[i] + 3 for i in range(3)),
            'after the last move (track x=%d) the tint is %s, expected %s'
            % (x, got, h.blend_over_white(alpha, DEFAULT_COLOUR)))
    close_panel_alt_f4(s, overlay)
    end = measure(s, win_pid)
    expect_flat(s, real, base, end, 'slider moves 1000->10000')
    s.check(s.app.poll() is None, 'the tool ended during the moves')
    stored = s.settings().get('intLig', '')
    s.check(stored.isdigit() and abs(int(stored) - alpha) <= 1,
            'stored intLig %r, expected %d' % (stored, alpha))
