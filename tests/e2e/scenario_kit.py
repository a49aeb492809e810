"""What the two end-to-end runners share: run_e2e.py (the Windows program
under Wine) and run_native.py (the native Linux program).

Geometry and defaults of the tool, the scenario registry and Failure, the
slider arithmetic, a Scenario base class with everything that is the same
on both targets, scenario bodies written once against that interface, and
the loop that runs the chosen scenarios and prints "N passed, M failed".

A runner's Scenario subclass supplies the target-specific parts:
start_app, windows, panel (any shape; client() turns it into x, y, w, h),
settings, focus_window (gives the focus to a window of the test's own
before a key press), start_for_panel, forget_app, describe_windows and,
for the colour dialog, colour_dialog, pick_colour, cancel_colour and
dialog_missing_detail, plus the class attributes below that differ
between the targets.
"""

import os
import time
import traceback

import harness as h

CX, CY = h.SCREEN_W // 2, h.SCREEN_H // 2
# Where the tint is read while the panel (centre) and any helper window
# (top left) are up: plain desktop under the overlay.
FREE = (1100, 700)

DEFAULT_COLOUR = 0x00004000
DEFAULT_ALPHA = 150
SPLASH_RED = (64, 0, 0)
PANEL_GREY = (64, 64, 64)
OVERLAY_CAPTION = h.APP_TITLE + 'V1.0'

TWIPS = 15  # per pixel at 96 DPI
PANEL_W, PANEL_H = 6120 // TWIPS, 2775 // TWIPS  # 408 x 185 client
SPLASH_W, SPLASH_H = 6270 // TWIPS, 3105 // TWIPS  # 418 x 207 client
TRACK_X1, TRACK_X2, TRACK_Y = 1800, 5265, 1170  # twips, panel client area
EXIT_LEFT, EXIT_TOP = 2295, 2205
SWATCH = (1665, 225, 3750, 420)


class Registry(list):
    """The scenarios of one runner, in the order they run:
    [(name, function, needs_exe)]."""

    def scenario(self, name, needs_exe=True):
        def register(fn):
            self.append((name, fn, needs_exe))
            return fn
        return register

    def chosen(self, patterns):
        return [sc for sc in self
                if not patterns or any(k in sc[0] for k in patterns)]


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


def within_alpha(got, alpha, colour, slack=1, tol=3):
    """Whether a pixel is the blend for an opacity within alpha +- slack."""
    lo = h.blend_over_white(min(255, alpha + slack), colour)
    hi = h.blend_over_white(max(0, alpha - slack), colour)
    return got is not None and all(
        min(lo[i], hi[i]) - tol <= got[i] <= max(lo[i], hi[i]) + tol
        for i in range(3))


def client(panel):
    """(x, y, w, h) of a panel as either runner describes it: a window
    record with a 'client' entry, or the client area itself."""
    return tuple(panel['client']) if isinstance(panel, dict) else tuple(panel)


def track_point(panel, x_px):
    cx, cy = client(panel)[:2]
    return cx + x_px, cy + TRACK_Y // TWIPS


class BaseScenario:
    """The parts of a scenario that do not depend on the target."""

    SHOTS = None            # where screenshots go
    SPLASH_TIMEOUT = 15     # s to wait for the splash
    SETTLE = 0.5            # s after the splash for the compositor
    PANEL_SETTLE = 0.4      # s after the panel showed, before its screenshot
    CENTRE_TOL = (4, 4)     # how far off centre the panel/splash may sit
    STORE = 'settings'      # what the stored settings are called in messages
    PANEL_HEADINGS = False  # whether the panel layout check counts headings
    DIALOG = 'colour dialog'  # what the colour dialog is called in messages
    DIALOG_OK = 'OK'        # the button that chooses a colour
    DIALOG_STAY = 6.5       # s the colour dialog stays up over the panel

    def __init__(self, name, display):
        self.name, self.display = name, display
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
        return self.display.shot(os.path.join(self.SHOTS, fname))

    def expect_pixel(self, rgb, what, at=(CX, CY), tol=3, step=None):
        img = self.shot(step)
        got = img.pixel(*at)
        where = 'screen centre' if at == (CX, CY) else 'pixel %s' % (at,)
        self.check(h.close(got, rgb, tol), '%s: %s is %s, expected %s (+-%d)'
                   % (what, where, got, rgb, tol))
        return img

    # -- the program --------------------------------------------------------

    def splash_box(self, img):
        """The dark red box on the centre row, or None."""
        for x in range(0, img.width, 3):
            if h.close(img.pixel(x, CY), SPLASH_RED, 6):
                box = img.extent(x + 8, CY, SPLASH_RED, 6)
                if box and box[2] > 50:
                    return box
        return None

    def wait_splash(self, timeout=None):
        """Waits for the splash to show: (time seen, screenshot, box)."""
        timeout = self.SPLASH_TIMEOUT if timeout is None else timeout
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
        t = h.wait_until(lambda: self.splash_box(self.display.shot()) is None,
                         timeout, 0.15)
        return time.monotonic() if t else None

    def start_and_settle(self):
        """Starts the program and waits until its splash has come and gone."""
        self.start_app()
        if not self.wait_splash():
            self.note('no splash seen')
        elif not self.wait_splash_gone():
            self.fail('the splash is still up 10 s after it showed')
        time.sleep(self.SETTLE)  # let the compositor settle
        self.check(self.app.poll() is None, 'the program exited (code %s) '
                   'after start-up' % self.app.returncode)

    def open_panel(self, key='F7', step='panel'):
        """Presses the key with the test's own window in front; returns the
        panel and when it showed."""
        self.focus_window()
        self.display.key(key)
        p = h.wait_until(self.panel, 6, 0.2)
        self.check(p, 'no settings panel within 6 s of %s (windows: %s)'
                   % (key, self.describe_windows()))
        t = time.monotonic()
        time.sleep(self.PANEL_SETTLE)
        self.panel_shot = self.shot(step)
        return p, t

    def wait_panel_closed(self, timeout=9):
        t = h.wait_until(lambda: self.panel() is None, timeout, 0.3)
        self.check(t, 'the settings panel is still open after %d s' % timeout)
        return time.monotonic()

    # -- hooks with a default -------------------------------------------------

    def expect_key_seen(self):
        """After a key press: checks it went to the focused window, where
        the target can tell."""


def expect_panel_layout(s, panel, img, alpha, colour):
    """What the user should see on a freshly opened panel."""
    cx, cy, cw, ch = client(panel)
    tx_c, ty_c = s.CENTRE_TOL
    s.check(abs(cx + cw / 2 - CX) <= tx_c and abs(cy + ch / 2 - CY) <= ty_c,
            'panel not centred: client area at %s' % (client(panel),))
    got = img.pixel(cx + 4, cy + ch - 6)
    s.check(h.close(got, PANEL_GREY, 4), 'panel background is %s, expected '
            'dark grey %s' % (got, PANEL_GREY))
    got = img.pixel(cx + SWATCH[0] // TWIPS + 4, cy + SWATCH[1] // TWIPS + 4)
    want = h.blend_over_white(255, colour)
    s.check(h.close(got, want, 6), 'swatch shows %s, expected the overlay '
            'colour %s' % (got, want))
    tx = round(cx + thumb_px(alpha))
    ty = cy + 1395 // TWIPS - 3  # below the track, inside the thumb
    reds = [x for x in range(tx - 8, tx + 9)
            if h.close(img.pixel(x, ty), (255, 0, 0), 40)]
    s.check(reds, 'no red thumb near x=%d (client %d) for opacity %d' %
            (tx, tx - cx, alpha))
    if s.PANEL_HEADINGS:
        # Texts: the white headings left of the swatch and the track.
        whites = sum(1 for y in range(cy + 10, cy + 80)
                     for x in range(cx + 30, cx + 105)
                     if h.close(img.pixel(x, y), (255, 255, 255), 60))
        s.check(whites > 100, 'panel headings missing (%d white pixels)'
                % whites)


# ---------------------------------------------------------------------------
# Scenario bodies that are the same on both targets; each runner registers
# them under its own names, in its own order.


def splash(s):
    t_start = time.monotonic()
    s.start_app()
    seen = s.wait_splash()
    s.check(seen, 'no dark red splash on the centre row within %d s'
            % s.SPLASH_TIMEOUT)
    t_seen, img, box = seen
    img.save(os.path.join(s.SHOTS, s.name + '.png'))
    left, top, w, hgt = box
    s.check(abs(w - SPLASH_W) <= 4 and abs(hgt - SPLASH_H) <= 4,
            'splash is %dx%d, expected about %dx%d' % (w, hgt, SPLASH_W,
                                                       SPLASH_H))
    s.check(abs(left + w / 2 - CX) <= 4
            and abs(top + hgt / 2 - CY) <= s.CENTRE_TOL[1],
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
    s.expect_pixel(tint, 'tint after the splash', step='after')
    s.check(s.app.poll() is None, 'the program ended with its splash')


def f7_panel(s):
    s.start_for_panel(expect_unsaved=s.F7_EXPECTS_UNSAVED)
    panel, t_open = s.open_panel()
    s.expect_key_seen()
    expect_panel_layout(s, panel, s.panel_shot, DEFAULT_ALPHA, DEFAULT_COLOUR)
    t_closed = s.wait_panel_closed()
    dt = t_closed - t_open
    s.check(1.5 <= dt <= 6.5, 'untouched panel closed after %.1f s, expected '
            'about 2.5 to 5 s' % dt)
    s.note('closed %.1f s after it showed' % dt)
    got = s.settings()
    want = {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(DEFAULT_COLOUR)}
    s.check(got == want, '%s after close: %s, expected %s'
            % (s.STORE, got, want))
    # The splash advertises Ctrl+F7; that opens it as well.
    s.open_panel(key='ctrl+F7', step='again')
    s.wait_panel_closed()


def exit_label(s):
    s.start_for_panel()
    panel, _ = s.open_panel()
    x_px = (TRACK_X1 + TRACK_X2) // 2 // TWIPS
    a = slider_alpha(x_px)
    s.display.click(*track_point(panel, x_px))
    time.sleep(0.3)
    cx, cy = client(panel)[:2]
    ex, ey = cx + EXIT_LEFT // TWIPS + 30, cy + EXIT_TOP // TWIPS + 10
    s.display.move(ex, ey)
    time.sleep(0.3)
    img = s.shot('hover')
    reds = sum(1 for y in range(ey - 12, ey + 14)
               for x in range(ex - 32, ex + 110)
               if h.close(img.pixel(x, y), (255, 0, 0), 60))
    s.check(reds > 20, 'exit label not red under the pointer (%d red pixels)'
            % reds)
    s.display.click(ex, ey)
    s.check(h.wait_until(lambda: s.app.poll() is not None, 8),
            'the program still runs 8 s after a click on the exit label')
    time.sleep(0.8)
    s.expect_pixel((255, 255, 255), 'after exit', step='after', at=FREE)
    got = s.settings()
    s.check(got.get('lngColor') == str(DEFAULT_COLOUR)
            and got.get('intLig', '').isdigit()
            and abs(int(got['intLig']) - a) <= 1,
            '%s after exit: %s, expected intLig %d, lngColor %d'
            % (s.STORE, got, a, DEFAULT_COLOUR))
    # The next start shows the same tint.
    s.forget_app()
    s.start_and_settle()
    s.expect_pixel(h.blend_over_white(int(got['intLig']), DEFAULT_COLOUR),
                   'next start', step='next-start')


def colour(s):
    s.start_for_panel()
    panel, _ = s.open_panel()
    cx, cy = client(panel)[:2]
    swatch = (cx + SWATCH[0] // TWIPS + 20, cy + SWATCH[1] // TWIPS + 14)
    s.display.click(*swatch)
    dlg = h.wait_until(s.colour_dialog, 6, 0.3)
    s.shot('dialog')
    if not dlg:
        s.fail('no %s within 6 s of a click on the swatch%s'
               % (s.DIALOG, s.dialog_missing_detail()))
    # The panel must not close under the dialog, however long it stays.
    time.sleep(s.DIALOG_STAY)
    s.check(s.panel(), 'the panel closed while the %s was open' % s.DIALOG)
    blue = 0x00FF0000
    s.pick_colour(dlg, (0, 0, 255))
    s.check(h.wait_until(lambda: s.colour_dialog() is None, 5),
            '%s still open after %s' % (s.DIALOG, s.DIALOG_OK))
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
    dlg = h.wait_until(s.colour_dialog, 6, 0.3)
    s.check(dlg, 'no %s on the second click on the swatch' % s.DIALOG)
    s.cancel_colour(dlg, (255, 0, 0))
    got = s.shot('cancel').pixel(*FREE)
    s.check(h.close(got, want, 3), 'after Cancel: tint %s, expected it to '
            'stay %s' % (got, want))
    s.display.move(5, 5)
    s.wait_panel_closed()
    got = s.settings()
    s.check(got == {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(blue)},
            '%s after close: %s, expected intLig %d, lngColor %d'
            % (s.STORE, got, DEFAULT_ALPHA, blue))


# ---------------------------------------------------------------------------
# Running


def add_run_args(ap):
    ap.add_argument('-k', action='append', default=[],
                    help='run only scenarios whose name contains this')
    ap.add_argument('--list', action='store_true')


def list_names(chosen):
    for name, _, _ in chosen:
        print(name)
    return 0


def run_each(chosen, make, cleanup, pause=0.0):
    """Runs the scenarios; make(name, needs_exe) returns a Scenario (or
    raises Failure), cleanup(s) ends what it started (s may be None).
    Logs PASS or FAIL with a reason per scenario; returns (passed, failed)."""
    passed = failed = 0
    for name, fn, needs_exe in chosen:
        t = time.monotonic()
        s = None
        try:
            s = make(name, needs_exe)
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
            cleanup(s)
        time.sleep(pause)
        if s and s.notes:
            reason = (reason + '; ' if reason else '') + '; '.join(s.notes)
        h.log('%s %s (%.0f s)%s' % (verdict, name, time.monotonic() - t,
                                    ': ' + reason if reason else ''))
        if verdict == 'PASS':
            passed += 1
        else:
            failed += 1
    return passed, failed


def summary(label, shots, t_run, passed, failed):
    h.log('%s: screenshots in %s; %.0f s in all' % (
        label, os.path.relpath(shots, h.REPO), time.monotonic() - t_run))
    h.log('%s: %d passed, %d failed' % (label, passed, failed))
    return 0 if failed == 0 else 1


def show_started(s, display, splash_png, screen_png):
    """The "start it for me" path on a private display, once the program
    is started: waits out its splash, screenshots both and says whether it
    still runs. Returns the exit status for the caller."""
    seen = s.wait_splash()
    if seen:
        seen[1].save(splash_png)
        h.log('run: splash up; waiting for it to close')
        if not s.wait_splash_gone():
            h.log('run: the splash did not close within 10 s')
    else:
        h.log('run: no splash seen within %d s' % s.SPLASH_TIMEOUT)
    time.sleep(1.0)
    img = display.shot(screen_png)
    running = s.app.poll() is None
    h.log('run: the tool is %s; screen centre reads RGB %s' % (
        'running' if running else 'NOT running (exit code %s)' %
        s.app.returncode, img.pixel(img.width // 2, img.height // 2)))
    h.log('run: screenshot of the tinted screen: %s' % screen_png)
    if seen:
        h.log('run: screenshot of the splash: %s' % splash_png)
    return 0 if running else 1
