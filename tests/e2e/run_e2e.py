#!/usr/bin/env python3
"""End-to-end tests: the Windows executable under Wine on a private display.

    run_e2e.py [-k SUBSTRING]... [--list] [--keep]

One Xvfb display (openbox, xcompmgr, white desktop) and one freshly booted
template prefix per run; every scenario gets its own copy of the template,
so scenarios share no registry state, and ends with wineserver -k.
Screenshots go to build/e2e/shots/<scenario>*.png. Each scenario prints
PASS or FAIL with a reason; the last line is "N passed, M failed".

To add a scenario, write a function taking a Scenario and decorate it with
@scenario('name'); call s.fail('why') (or let a check raise) to fail it.
"""

import argparse
import os
import shutil
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

# Scenario groups in files of their own import this module by name; run as a
# script it must be that same module, or they would register elsewhere.
sys.modules.setdefault('run_e2e', sys.modules[__name__])

SHOTS = os.path.join(h.E2E, 'shots')
CX, CY = h.SCREEN_W // 2, h.SCREEN_H // 2
# Where the tint is read while the panel (centre) and notepad (top left)
# are up: plain desktop under the overlay.
FREE = (1100, 700)

DEFAULT_COLOUR = 0x00004000
DEFAULT_ALPHA = 150
SPLASH_RED = (64, 0, 0)
PANEL_GREY = (64, 64, 64)
MESSAGE = 'Morvane夜间模式工具已经启动，欢迎继续使用。'
OVERLAY_CAPTION = h.APP_TITLE + 'V1.0'

TWIPS = 15  # per pixel at 96 DPI
PANEL_W, PANEL_H = 6120 // TWIPS, 2775 // TWIPS  # 408 x 185
SPLASH_W, SPLASH_H = 6270 // TWIPS, 3105 // TWIPS  # 418 x 207
TRACK_X1, TRACK_X2, TRACK_Y = 1800, 5265, 1170  # twips, panel client area
BAND_TOP, BAND_H = 945, 435
EXIT_LEFT, EXIT_TOP = 2295, 2205
SWATCH = (1665, 225, 3750, 420)

SCENARIOS = []


def scenario(name, needs_exe=True):
    def register(fn):
        SCENARIOS.append((name, fn, needs_exe))
        return fn
    return register


class Failure(Exception):
    pass


def round_half_even(v):
    return int(round(v))  # Python's round() rounds halves to even


def slider_alpha(x_px):
    """The opacity the slider gives for a press at client pixel x."""
    x = x_px * TWIPS
    return round_half_even(255 - (x - TRACK_X1) / (TRACK_X2 - TRACK_X1) * 255)


def thumb_px(alpha):
    return ((TRACK_X2 - TRACK_X1) / 255 * (255 - alpha) + TRACK_X1) / TWIPS


class Scenario:
    """What a scenario works with: its own prefix on the shared display."""

    def __init__(self, name, display, wine, probes):
        self.name, self.display, self.wine = name, display, wine
        self.probes = probes
        self.notes = []
        self.app = None

    # -- outcome ------------------------------------------------------------

    def fail(self, reason):
        raise Failure(reason)

    def check(self, cond, reason):
        if not cond:
            self.fail(reason)

    def note(self, text):
        self.notes.append(text)

    # -- screen -------------------------------------------------------------

    def shot(self, step=None):
        fname = self.name + ('-' + step if step else '') + '.png'
        return self.display.shot(os.path.join(SHOTS, fname))

    def expect_centre(self, rgb, what, tol=3, step=None, at=(CX, CY)):
        img = self.shot(step)
        got = img.pixel(*at)
        where = 'screen centre' if at == (CX, CY) else 'pixel %s' % (at,)
        self.check(h.close(got, rgb, tol), '%s: %s is %s, expected %s (+-%d)'
                   % (what, where, got, rgb, tol))
        return img

    # -- the program --------------------------------------------------------

    def start_app(self):
        if not os.path.exists(h.EXE):
            self.fail('executable not built: ' + h.EXE)
        log = os.path.join(h.E2E, 'logs', self.name + '.log')
        os.makedirs(os.path.dirname(log), exist_ok=True)
        p = self.wine.start(h.EXE, log_name=log)
        if self.app is None:
            self.app = p
        return p

    def splash_box(self, img):
        """The dark red box on the centre row, or None."""
        for x in range(0, img.width, 3):
            if h.close(img.pixel(x, CY), SPLASH_RED, 6):
                box = img.extent(x + 8, CY, SPLASH_RED, 6)
                if box and box[2] > 50:
                    return box
        return None

    def wait_splash(self, timeout=25):
        """Waits for the splash to show: (time seen, screenshot, box)."""
        t0 = time.monotonic()
        while time.monotonic() - t0 < timeout:
            img = self.display.shot()
            box = self.splash_box(img)
            if box:
                return time.monotonic(), img, box
            if self.app is not None and self.app.poll() is not None:
                self.fail('the program exited (code %s) before its splash '
                          'showed' % self.app.returncode)
            time.sleep(0.1)
        return None

    def wait_splash_gone(self, timeout=10):
        def gone():
            return self.splash_box(self.display.shot()) is None
        t = h.wait_until(gone, timeout, 0.15)
        return time.monotonic() if t else None

    def start_and_settle(self):
        """Starts the program and waits until its splash has come and gone."""
        self.start_app()
        seen = self.wait_splash()
        if not seen:
            self.note('no splash seen')
        elif not self.wait_splash_gone():
            self.fail('the splash is still up 10 s after it showed')
        time.sleep(0.6)  # let the compositor settle
        self.check(self.app.poll() is None,
                   'the program exited (code %s) after start-up'
                   % self.app.returncode)

    def windows(self):
        return self.wine.windows(self.probes['winlist'])

    def overlay(self, wins=None):
        for w in wins if wins is not None else self.windows():
            if w['text'] == OVERLAY_CAPTION and w['visible']:
                return w
        return None

    def panel(self, wins=None):
        wins = wins if wins is not None else self.windows()
        ov = self.overlay(wins)
        if not ov:
            return None
        for w in wins:
            if (w['pid'] == ov['pid'] and w['visible']
                    and w['hwnd'] != ov['hwnd']
                    and abs(w['client'][2] - PANEL_W) <= 3
                    and abs(w['client'][3] - PANEL_H) <= 3):
                return w
        return None

    def start_notepad(self):
        # By full path: a bare name goes through start.exe, another process.
        pad = self.wine.start('C:\\windows\\system32\\notepad.exe')
        xids = h.wait_until(lambda: self.display.xdotool(
            'search', '--onlyvisible', '--pid', pad.pid, check=False).split(),
            20, 0.3)
        self.check(xids, 'notepad did not open a window')
        self.notepad_xid = xids[-1]
        return pad

    def focus_notepad(self):
        self.display.activate(self.notepad_xid)
        time.sleep(0.4)

    def open_panel(self, step='panel', key='F7'):
        """F7 with notepad in front; returns (panel window, time shown)."""
        self.focus_notepad()
        self.display.key(key)
        p = h.wait_until(self.panel, 6, 0.2)
        self.check(p, 'no settings panel within 6 s of %s (windows: %s)' %
                   (key, [(w['text'], w['client']) for w in self.windows()
                          if w['visible']]))
        t = time.monotonic()
        time.sleep(0.3)
        self.panel_shot = self.shot(step)
        return p, t

    def wait_panel_closed(self, timeout=9):
        t = h.wait_until(lambda: self.panel() is None, timeout, 0.3)
        self.check(t, 'the settings panel is still open after %d s' % timeout)
        return time.monotonic()

    def settings(self):
        return self.wine.reg_query(h.SETTINGS_KEY)

    def store(self, **values):
        for name, data in values.items():
            self.wine.reg_add(h.SETTINGS_KEY, name, data)


def expect_panel_layout(s, panel, img, alpha, colour):
    """What the user should see on a freshly opened panel."""
    cx, cy, cw, ch = panel['client']
    mid = (cx + cw / 2, cy + ch / 2)
    s.check(abs(mid[0] - CX) <= 6 and abs(mid[1] - CY) <= 16,
            'panel not centred: client area at %s' % panel['client'])
    got = img.pixel(cx + 4, cy + ch - 6)
    s.check(h.close(got, PANEL_GREY, 4),
            'panel background is %s, expected dark grey %s' %
            (got, PANEL_GREY))
    sx, sy = cx + SWATCH[0] // TWIPS + 4, cy + SWATCH[1] // TWIPS + 4
    want = h.blend_over_white(255, colour)
    got = img.pixel(sx, sy)
    s.check(h.close(got, want, 6),
            'swatch shows %s, expected the overlay colour %s' % (got, want))
    tx = round(cx + thumb_px(alpha))
    ty = cy + 1395 // TWIPS - 3  # below the track, inside the thumb
    reds = [x for x in range(tx - 8, tx + 9)
            if h.close(img.pixel(x, ty), (255, 0, 0), 40)]
    s.check(reds, 'no red thumb near x=%d (client %d) for opacity %d' %
            (tx, tx - cx, alpha))


def track_point(panel, x_px):
    cx, cy = panel['client'][:2]
    return cx + x_px, cy + TRACK_Y // TWIPS


# ---------------------------------------------------------------------------
# Scenarios, in the order they run


def start_clickprobe(s):
    """Starts the white click-logging window; returns its log file."""
    logf = os.path.join(h.E2E, 'logs', s.name + '-clicks.log')
    os.makedirs(os.path.dirname(logf), exist_ok=True)
    if os.path.exists(logf):
        os.remove(logf)
    s.wine.start(s.probes['clickprobe'], s.wine.winpath(logf))
    s.check(h.wait_until(lambda: os.path.exists(logf), 30),
            'clickprobe did not start')
    return logf


@scenario('harness-white-desktop-and-probe', needs_exe=False)
def harness_selfcheck(s):
    """The machinery alone: white desktop, a Wine window takes clicks."""
    logf = start_clickprobe(s)
    time.sleep(0.5)
    s.expect_centre((255, 255, 255), 'white probe window')
    s.display.click(333, 222)
    ok = h.wait_until(lambda: 'down 333 222' in open(logf).read(), 5)
    s.check(ok, 'probe did not log the click: %r' % open(logf).read())


@scenario('first-run-default-tint')
def first_run(s):
    s.start_and_settle()
    want = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    s.expect_centre(want, 'first run over white')
    corner = s.display.shot().pixel(5, 5)
    s.check(h.close(corner, want, 3),
            'tint does not cover the screen: (5,5) is %s' % (corner,))


@scenario('stored-red-opaque')
def stored_red(s):
    s.store(intLig='255', lngColor='255')
    s.start_and_settle()
    s.expect_centre((255, 0, 0), 'intLig 255, lngColor 255')


@scenario('corrupt-opacity-gives-default')
def corrupt_opacity(s):
    s.store(intLig='abc')
    s.start_and_settle()
    s.expect_centre(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                    'stored intLig "abc"')


@scenario('click-through')
def click_through(s):
    logf = start_clickprobe(s)
    s.start_and_settle()
    s.expect_centre(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                    'tint over the probe')
    s.display.click(300, 300)
    ok = h.wait_until(lambda: 'down 300 300' in open(logf).read(), 5)
    s.check(ok, 'the click at (300,300) did not reach the window beneath '
            '(probe log: %r)' % open(logf).read().strip())


@scenario('second-instance-message')
def second_instance(s):
    s.start_and_settle()
    second = s.start_app()

    def msgbox():
        for w in s.windows():
            texts = [c['text'] for c in w['children']]
            if w['visible'] and MESSAGE in texts:
                return w
        return None
    box = h.wait_until(msgbox, 20, 0.4)
    s.shot('msgbox')
    s.check(box, 'no window with the text %r within 20 s' % MESSAGE)
    s.check(box['text'] == h.APP_TITLE,
            'message box caption is %r, expected %r' % (box['text'],
                                                        h.APP_TITLE))
    buttons = [c for c in box['children'] if c['class'].lower() == 'button'
               and c['visible']]
    s.check(len(buttons) == 1, 'message box has %d buttons, expected one OK'
            % len(buttons))
    xids = s.display.xdotool('search', '--onlyvisible', '--pid', second.pid,
                             check=False).split()
    if xids:
        s.display.activate(xids[-1])
    s.display.key('Return')
    if h.wait_until(lambda: second.poll() is not None, 5) is None:
        # Focus did not land on the box; press its button instead.
        bx, by, bw, bh = buttons[0]['client']
        s.display.click(bx + bw // 2, by + bh // 2)
        s.note('Return did not reach the box; clicked OK')
    s.check(h.wait_until(lambda: second.poll() is not None, 10),
            'the second instance still runs 15 s after its message was '
            'dismissed')
    time.sleep(0.5)
    s.check(s.app.poll() is None, 'the first instance ended too')
    s.expect_centre(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                    'tint after the second instance left', step='after')


@scenario('splash-above-tint')
def splash(s):
    t_start = time.monotonic()
    s.start_app()
    seen = s.wait_splash()
    s.check(seen, 'no dark red splash on the centre row within 25 s')
    t_seen, img, box = seen
    img.save(os.path.join(SHOTS, s.name + '.png'))
    left, top, w, hgt = box
    s.check(abs(w - SPLASH_W) <= 4 and abs(hgt - SPLASH_H) <= 4,
            'splash is %dx%d, expected about %dx%d' % (w, hgt, SPLASH_W,
                                                       SPLASH_H))
    s.check(abs(left + w / 2 - CX) <= 4 and abs(top + hgt / 2 - CY) <= 16,
            'splash not centred: at (%d,%d) size %dx%d' % box)
    tint = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    s.check(h.close(img.pixel(20, 20), tint, 3),
            'no tint around the splash: (20,20) is %s' % (img.pixel(20, 20),))
    # The splash's own texts: green title and white hint lines.
    greens = sum(1 for y in range(top, top + hgt) for x in range(left, left + w)
                 if h.close(img.pixel(x, y), (0, 255, 0), 60))
    whites = sum(1 for y in range(top, top + hgt) for x in range(left, left + w)
                 if h.close(img.pixel(x, y), (255, 255, 255), 60))
    s.check(greens > 200 and whites > 100, 'splash texts missing: %d green '
            'and %d white pixels' % (greens, whites))
    time.sleep(max(0.0, t_seen + 2.5 - time.monotonic()))
    s.check(s.splash_box(s.shot('2.5s')), 'splash gone less than 2.5 s after '
            'it showed')
    t_gone = s.wait_splash_gone(timeout=8)
    s.check(t_gone, 'splash still up 10 s after it showed')
    s.note('splash seen %.1f s after start, for %.1f s' %
           (t_seen - t_start, t_gone - t_seen))
    time.sleep(0.5)
    s.expect_centre(tint, 'tint after the splash', step='after')
    s.check(s.app.poll() is None, 'the program ended with its splash')


@scenario('components-installed')
def components(s):
    sys32 = os.path.join(s.wine.prefix, 'drive_c', 'windows', 'system32')

    def find(name):
        for f in os.listdir(sys32):
            if f.lower() == name.lower():
                return os.path.join(sys32, f)
        return None
    for name in ('CMDLGCHS.DLL', 'COMDLG32.ocx'):
        s.check(find(name) is None, name + ' already in the fresh prefix')
    s.start_and_settle()
    stamps = {}
    for name in ('CMDLGCHS.DLL', 'COMDLG32.ocx'):
        path = find(name)
        s.check(path, name + ' not written to C:\\windows\\system32')
        s.check(os.path.basename(path) == name,
                'written as %s, expected %s' % (os.path.basename(path), name))
        slot = os.path.join(h.COMPONENTS, name)
        if os.path.exists(slot):
            with open(path, 'rb') as a, open(slot, 'rb') as b:
                s.check(a.read() == b.read(),
                        name + ' differs from the embedded slot file')
        else:
            s.note('no slot file at ' + slot)
        stamps[path] = os.stat(path).st_mtime_ns
    record = h.wait_until(lambda: s.wine.reg_query(
        'HKCU\\Software\\' + h.APP_TITLE + '\\Components').get('COMDLG32'),
        10, 1.0)
    s.check(record, 'no record of the COMDLG32 registration under the '
            "tool's Components key")
    s.wine.kill()
    s.app = None
    time.sleep(1.1)
    s.start_and_settle()
    for path, mtime in stamps.items():
        s.check(os.stat(path).st_mtime_ns == mtime,
                os.path.basename(path) + ' was rewritten by the second start')


@scenario('f7-opens-panel-idle-close-saves')
def f7_panel(s):
    s.start_and_settle()
    s.check(s.settings() == {}, 'settings stored before any panel closed: %s'
            % s.settings())
    s.start_notepad()
    panel, t_open = s.open_panel()
    expect_panel_layout(s, panel, s.panel_shot, DEFAULT_ALPHA, DEFAULT_COLOUR)
    t_closed = s.wait_panel_closed()
    dt = t_closed - t_open
    s.check(1.5 <= dt <= 6.5, 'untouched panel closed after %.1f s, expected '
            'about 5 s' % dt)
    s.note('closed %.1f s after it showed' % dt)
    got = s.settings()
    want = {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(DEFAULT_COLOUR)}
    s.check(got == want, 'registry after close: %s, expected %s' % (got, want))
    # The splash advertises Ctrl+F7; that opens it as well.
    s.open_panel(step='again', key='ctrl+F7')
    s.wait_panel_closed()


@scenario('panel-slider-sets-opacity')
def slider(s):
    s.start_and_settle()
    s.start_notepad()
    panel, _ = s.open_panel()
    # A click at three quarters of the track brightens the screen.
    x_px = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS
    a = slider_alpha(x_px)
    s.display.click(*track_point(panel, x_px))
    time.sleep(0.5)
    img = s.shot('click')
    got = img.pixel(*FREE)
    lo, hi = (h.blend_over_white(v, DEFAULT_COLOUR) for v in (a + 1, a - 1))
    s.check(all(lo[i] - 3 <= got[i] <= hi[i] + 3 for i in range(3)),
            'after a click at track x=%d: tint %s, expected %s (opacity %d)'
            % (x_px, got, h.blend_over_white(a, DEFAULT_COLOUR), a))
    # A drag to the left end darkens it again.
    x_end = TRACK_X1 // TWIPS + 2
    a2 = slider_alpha(x_end)
    s.display.drag(*track_point(panel, x_px), *track_point(panel, x_end))
    time.sleep(0.5)
    got = s.shot('drag').pixel(*FREE)
    lo, hi = (h.blend_over_white(v, DEFAULT_COLOUR) for v in (a2 + 1, a2 - 1))
    s.check(all(lo[i] - 3 <= got[i] <= hi[i] + 3 for i in range(3)),
            'after a drag to track x=%d: tint %s, expected %s (opacity %d)'
            % (x_end, got, h.blend_over_white(a2, DEFAULT_COLOUR), a2))
    s.display.xdotool('mousemove', 5, 5)
    s.wait_panel_closed()
    stored = s.settings().get('intLig')
    s.check(stored is not None and stored.strip().lstrip('-').isdigit()
            and abs(int(stored) - a2) <= 1,
            'stored intLig %r, expected %d' % (stored, a2))


def colour_dialog_now(s):
    """The colour dialog (the one with a Blue field, id 708), or None."""
    for w in s.windows():
        if w['visible'] and w['class'] == '#32770' and any(
                c['id'] == 708 for c in w['children']):
            return w
    return None


def colour_dialog(s):
    return h.wait_until(lambda: colour_dialog_now(s), 6, 0.3)


@scenario('panel-colour-dialog')
def colour(s):
    s.start_and_settle()
    s.start_notepad()
    panel, _ = s.open_panel()
    cx, cy = panel['client'][:2]
    swatch = (cx + SWATCH[0] // TWIPS + 20, cy + SWATCH[1] // TWIPS + 14)
    s.display.click(*swatch)
    dlg = colour_dialog(s)
    s.shot('dialog')
    s.check(dlg, 'no colour dialog within 6 s of a click on the swatch')
    kids = {c['id']: c for c in dlg['children']}

    def centre(c):
        x, y, w, hgt = c['client']
        return x + w // 2, y + hgt // 2
    # The panel must not close under the dialog, however long it stays.
    time.sleep(6.5)
    s.check(s.panel(), 'the panel closed while the colour dialog was open')
    blue = 0x00FF0000
    for cid, value in ((706, 0), (707, 0), (708, 255)):  # Red, Green, Blue
        s.display.click(*centre(kids[cid]))
        s.display.key('End', 'BackSpace', 'BackSpace', 'BackSpace')
        s.display.xdotool('type', value)
    s.display.key('Tab')
    time.sleep(0.3)
    s.display.click(*centre(kids[1]))  # OK
    s.check(h.wait_until(lambda: colour_dialog_now(s) is None, 5),
            'colour dialog still open after OK')
    time.sleep(0.6)
    img = s.shot('blue')
    want = h.blend_over_white(DEFAULT_ALPHA, blue)
    got = img.pixel(*FREE)
    s.check(h.close(got, want, 3), 'after choosing blue: tint %s, expected %s'
            % (got, want))
    got = img.pixel(swatch[0] - 14, swatch[1] - 8)
    s.check(h.close(got, (0, 0, 255), 6), 'swatch is %s after choosing blue'
            % (got,))
    s.check(s.settings() == {}, 'colour stored before the panel closed: %s'
            % s.settings())
    # Cancel changes nothing.
    s.display.click(*swatch)
    dlg = colour_dialog(s)
    s.check(dlg, 'no colour dialog on the second click on the swatch')
    kids = {c['id']: c for c in dlg['children']}
    s.display.click(*centre(kids[706]))
    s.display.key('End', 'BackSpace', 'BackSpace', 'BackSpace')
    s.display.xdotool('type', '255')
    s.display.click(*centre(kids[2]))  # Cancel
    time.sleep(0.8)
    got = s.shot('cancel').pixel(*FREE)
    s.check(h.close(got, want, 3), 'after Cancel: tint %s, expected it to '
            'stay %s' % (got, want))
    s.display.move(5, 5)
    s.wait_panel_closed()
    got = s.settings()
    s.check(got == {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(blue)},
            'registry after close: %s, expected intLig %d, lngColor %d'
            % (got, DEFAULT_ALPHA, blue))


@scenario('exit-label-saves-and-ends')
def exit_label(s):
    s.start_and_settle()
    s.start_notepad()
    panel, _ = s.open_panel()
    x_px = (TRACK_X1 + TRACK_X2) // 2 // TWIPS
    a = slider_alpha(x_px)
    s.display.click(*track_point(panel, x_px))
    time.sleep(0.3)
    cx, cy = panel['client'][:2]
    ex, ey = cx + EXIT_LEFT // TWIPS + 30, cy + EXIT_TOP // TWIPS + 10
    s.display.move(ex, ey)
    time.sleep(0.3)
    img = s.shot('hover')
    box = [(x, y) for y in range(cy + EXIT_TOP // TWIPS - 2,
                                 cy + EXIT_TOP // TWIPS + 24)
           for x in range(cx + EXIT_LEFT // TWIPS - 2,
                          cx + EXIT_LEFT // TWIPS + 140)]
    reds = sum(1 for p in box if h.close(img.pixel(*p), (255, 0, 0), 60))
    s.check(reds > 20, 'exit label not red under the pointer (%d red pixels)'
            % reds)
    s.display.click(ex, ey)
    s.check(h.wait_until(lambda: s.app.poll() is not None, 8),
            'the program still runs 8 s after a click on the exit label')
    time.sleep(0.8)
    s.expect_centre((255, 255, 255), 'after exit', step='after', at=FREE)
    got = s.settings()
    want_colour = str(DEFAULT_COLOUR)
    s.check(got.get('lngColor') == want_colour
            and got.get('intLig', '').isdigit()
            and abs(int(got['intLig']) - a) <= 1,
            'registry after exit: %s, expected intLig %d, lngColor %s'
            % (got, a, want_colour))
    # The next start shows the same tint.
    s.wine.kill()
    s.app = None
    s.start_and_settle()
    s.expect_centre(h.blend_over_white(int(got['intLig']), DEFAULT_COLOUR),
                    'next start', step='next-start')


# ---------------------------------------------------------------------------
# Further groups of scenarios, in files named *_scenarios.py beside this
# one, register through the same decorator when imported.
for _file in sorted(os.listdir(os.path.dirname(os.path.abspath(__file__)))):
    if _file.endswith('_scenarios.py'):
        __import__(_file[:-3])


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('-k', action='append', default=[],
                    help='run only scenarios whose name contains this')
    ap.add_argument('--list', action='store_true')
    ap.add_argument('--keep', action='store_true',
                    help='keep each scenario\'s prefix under build/e2e/')
    args = ap.parse_args(argv[1:])
    chosen = [sc for sc in SCENARIOS
              if not args.k or any(k in sc[0] for k in args.k)]
    if args.list:
        for name, _, _ in chosen:
            print(name)
        return 0

    h.install_signal_exit()
    passed = failed = 0
    results = []
    display = None
    t_run = time.monotonic()
    try:
        if os.path.exists(SHOTS):
            shutil.rmtree(SHOTS)
        os.makedirs(SHOTS)
        probes = h.build_probes()
        display = h.Display().start()
        h.log('e2e: display %s, booting the template prefix' % display.name)
        t = time.monotonic()
        template = h.TemplatePrefix(display).boot()
        h.log('e2e: template booted in %.0f s' % (time.monotonic() - t))
    except h.HarnessError as e:
        h.log('FAIL e2e-setup: %s' % e)
        failed = len(chosen) or 1
        h.log('e2e: %d passed, %d failed' % (passed, failed))
        if display:
            display.stop()
        return 1
    try:
        for name, fn, needs_exe in chosen:
            t = time.monotonic()
            wine = None
            s = None
            try:
                if needs_exe and not os.path.exists(h.EXE):
                    raise Failure('executable not built: ' + h.EXE)
                wine = template.copy(name)
                s = Scenario(name, display, wine, probes)
                display.xdotool('mousemove', h.SCREEN_W - 1,
                                h.SCREEN_H - 1, check=False)
                fn(s)
                verdict, reason = 'PASS', ''
            except Failure as e:
                verdict, reason = 'FAIL', str(e)
            except h.HarnessError as e:
                verdict, reason = 'FAIL', 'harness: %s' % e
            except Exception as e:  # a bug in the scenario itself
                tb = traceback.extract_tb(e.__traceback__)[-1]
                verdict, reason = 'FAIL', 'error %s: %s (line %d)' % (
                    type(e).__name__, e, tb.lineno)
            finally:
                if wine:
                    wine.kill()
                    if not args.keep:
                        shutil.rmtree(wine.prefix, ignore_errors=True)
            if s and s.notes:
                reason = (reason + '; ' if reason else '') + '; '.join(s.notes)
            dt = time.monotonic() - t
            h.log('%s %s (%.0f s)%s' % (verdict, name, dt,
                                        ': ' + reason if reason else ''))
            results.append((name, verdict))
            if verdict == 'PASS':
                passed += 1
            else:
                failed += 1
    finally:
        display.stop()
        if not args.keep:
            shutil.rmtree(template.path, ignore_errors=True)
    h.log('e2e: screenshots in %s; %.0f s in all' % (
        os.path.relpath(SHOTS, h.REPO), time.monotonic() - t_run))
    h.log('e2e: %d passed, %d failed' % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
