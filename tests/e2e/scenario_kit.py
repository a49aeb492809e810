"""What the end-to-end tests of both targets share: the Windows program
under Wine (wine_target.py) and the native Linux program (native_target.py).

Geometry and defaults of the tool, Failure, the slider arithmetic, and a
BaseApp class with everything about driving the program that is the same
on both targets. The tests themselves live in the test_*.py files; those
in test_both.py are written once and run on either target.

A target's BaseApp subclass supplies the target-specific parts:
start_app, windows, panel (any shape; client() turns it into x, y, w, h),
settings, store, focus_window (gives the focus to a window of the test's
own before a key press), start_for_panel, forget_app, describe_windows, typed (what reached
that window as text),
start_click_probe and clicks_seen, and for the colour dialog
colour_dialog, pick_colour, cancel_colour and dialog_missing_detail, plus
the class attributes below that differ between the targets.
"""

import os
import time

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


class Failure(Exception):
    """What the program did is not what a check expected."""


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


class BaseApp:
    """The program under test on one display, for one test: the parts that
    do not depend on the target. `name` names the test's screenshots and
    logs."""

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
        self.proc = None  # the Popen of the program's first instance

    # -- outcome ------------------------------------------------------------

    def fail(self, reason):
        __tracebackhide__ = True  # pytest: the test's own line is enough
        raise Failure(reason)

    def check(self, cond, reason):
        __tracebackhide__ = True
        if not cond:
            self.fail(reason)

    def note(self, text):
        """Something worth knowing about a run that passed as well."""
        self.notes.append(text)
        h.log('note: ' + text)

    # -- screen -------------------------------------------------------------

    def shot(self, step=None):
        fname = self.name + ('-' + step if step else '') + '.png'
        return self.display.shot(os.path.join(self.SHOTS, fname))

    def expect_pixel(self, rgb, what, at=(CX, CY), tol=3, step=None):
        __tracebackhide__ = True
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
            if self.proc is not None and self.proc.poll() is not None:
                self.fail('the program exited (code %s) before its splash '
                          'showed' % self.proc.returncode)
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
        self.check(self.proc.poll() is None, 'the program exited (code %s) '
                   'after start-up' % self.proc.returncode)

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

    def focus_panel(self, panel):
        """Where the panel does not take the keyboard as it opens, gives it
        the keyboard as the user would."""


def expect_panel_layout(s, panel, img, alpha, colour):
    """What the user should see on a freshly opened panel."""
    __tracebackhide__ = True
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
# scripts/run


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
    running = s.proc.poll() is None
    h.log('run: the tool is %s; screen centre reads RGB %s' % (
        'running' if running else 'NOT running (exit code %s)' %
        s.proc.returncode, img.pixel(img.width // 2, img.height // 2)))
    h.log('run: screenshot of the tinted screen: %s' % screen_png)
    if seen:
        h.log('run: screenshot of the splash: %s' % splash_png)
    return 0 if running else 1
