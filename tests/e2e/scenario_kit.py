"""What the tests of both targets share: the tool's geometry and defaults,
the slider arithmetic, and BaseApp, the driving that is the same under Wine
(wine_target.py) and natively (native_target.py)."""

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
THUMB_Y = 1395 // TWIPS - 3  # client row below the track, inside the thumb


def round_half_even(v):
    return int(round(v))  # Python's round() rounds halves to even


def slider_alpha(x_px):
    """The opacity the slider gives for a press at client pixel x."""
    return round_half_even(255 - (x_px * TWIPS - TRACK_X1) / (TRACK_X2 - TRACK_X1) * 255)


def thumb_px(alpha):
    return ((TRACK_X2 - TRACK_X1) / 255 * (255 - alpha) + TRACK_X1) / TWIPS


# Three quarters along the track (client pixels): brighter than the default.
X_MOVED = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS


def within_alpha(got, alpha, colour, slack=1, tol=3):
    """Whether a pixel is the blend for an opacity within alpha +- slack."""
    lo = h.blend_over_white(min(255, alpha + slack), colour)
    hi = h.blend_over_white(max(0, alpha - slack), colour)
    return got is not None and all(min(a, b) - tol <= g <= max(a, b) + tol
                                   for g, a, b in zip(got, lo, hi))


def client(panel):
    """(x, y, w, h) of a panel given as a window record or as its client."""
    return tuple(panel['client']) if isinstance(panel, dict) else tuple(panel)


def face_point(panel):
    """A point of the panel's plain face: a press there is an interaction
    that moves nothing."""
    cx, cy, _, ch = client(panel)
    return cx + 4, cy + ch - 6


def track_point(panel, x_px):
    cx, cy = client(panel)[:2]
    return cx + x_px, cy + TRACK_Y // TWIPS


def thumb_seen(img, panel, x_px):
    """The red thumb's pixels within 8 of client x on a screenshot."""
    cx, cy = client(panel)[:2]
    return [x for x in range(cx + x_px - 8, cx + x_px + 9)
            if h.close(img.pixel(x, cy + THUMB_Y), (255, 0, 0), 40)]


class BaseApp:
    """The program under test for one test; `name` names its screenshots."""

    SHOTS = None            # where screenshots go
    SPLASH_TIMEOUT = 15     # s to wait for the splash
    CENTRE_TOL = (4, 4)     # how far off centre the panel/splash may sit
    STORE = 'settings'      # what the stored settings are called in messages
    PANEL_HEADINGS = False  # whether the panel layout check counts headings
    DIALOG = 'colour dialog'  # what the colour dialog is called in messages
    DIALOG_OK = 'OK'        # the button that chooses a colour
    DIALOG_STAY = 6.5       # s the colour dialog stays up over the panel
    F7_EXPECTS_UNSAVED = False  # whether start_for_panel checks nothing stored

    def __init__(self, name, display):
        self.name, self.display = name, display
        self.notes = []
        self.proc = None  # the Popen of the program's first instance

    def note(self, text):
        """Something worth knowing about a run that passed as well."""
        self.notes.append(text)
        h.log('note: ' + text)

    def shot(self, step=None):
        fname = self.name + ('-' + step if step else '') + '.png'
        return self.display.shot(os.path.join(self.SHOTS, fname))

    def pixel(self, x, y):
        return h.pixel(self.display, x, y)

    def steady(self, points=((CX, CY), FREE), want=None, timeout=3):
        """Waits until points read the same twice (and the first shows want):
        a compositor may still be fading a window. Gives up quietly: the
        check that follows says what is wrong."""
        last = [None]

        def same():
            now = [self.pixel(*p) for p in points]
            done = now == last[0] and (want is None or h.close(now[0], want, 4))
            last[0] = now
            return done
        h.poll(same, timeout, 0.1)

    def expect_pixel(self, rgb, what, at=(CX, CY), tol=3, step=None):
        __tracebackhide__ = True
        img = self.shot(step)
        got = img.pixel(*at)
        where = 'screen centre' if at == (CX, CY) else 'pixel %s' % (at,)
        assert h.close(got, rgb, tol), '%s: %s is %s, expected %s (+-%d)' % (
            what, where, got, rgb, tol)
        return img

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
        def seen():
            img = self.display.shot()
            box = self.splash_box(img)
            assert box or self.proc is None or self.proc.poll() is None, \
                'the program exited (code %s) before its splash showed' % self.proc.returncode
            return box and (time.monotonic(), img, box)
        return h.poll(seen, timeout or self.SPLASH_TIMEOUT)

    def wait_splash_gone(self, timeout=10):
        t = h.poll(lambda: self.splash_box(self.display.shot()) is None, timeout, 0.15)
        return time.monotonic() if t else None

    def start_and_settle(self):
        """Starts the program and waits until its splash has come and gone."""
        self.start_app()
        if not self.wait_splash():
            self.note('no splash seen')
        else:
            assert self.wait_splash_gone(), 'the splash is still up 10 s after it showed'
        self.steady()
        assert self.proc.poll() is None, 'the program exited (code %s) after start-up' % (
            self.proc.returncode)

    def open_panel(self, key='F7', step='panel'):
        """Presses key over the test's own window: (the panel, when it showed)."""
        self.focus_window()
        self.display.key(key)
        p = h.poll(self.panel, 6, 0.2)
        assert p, 'no settings panel within 6 s of %s (windows: %s)' % (
            key, self.describe_windows())
        t = time.monotonic()
        self.steady([face_point(p), FREE], want=PANEL_GREY)
        self.panel_shot = self.shot(step)
        return p, t

    def wait_panel_closed(self, timeout=9):
        assert h.poll(lambda: self.panel() is None, timeout, 0.3), \
            'the settings panel is still open after %d s' % timeout
        return time.monotonic()

    # Hooks a target may override.
    def dialog_missing_detail(self):
        """What to add to the message when the colour dialog did not show."""
        return ''

    def expect_key_seen(self):
        """After a key press: checks it went to the focused window."""

    def focus_panel(self, panel):
        """Gives the panel the keyboard where it does not take it itself."""

    def wait_keys_back(self):
        """Waits until keys reach again the window that had them."""
        assert h.poll(lambda: self.panel() is None, 5), \
            'the panel window is still there after it left the screen'


def expect_panel_layout(s, panel, img, alpha, colour):
    """What the user should see on a freshly opened panel."""
    __tracebackhide__ = True
    cx, cy, cw, ch = client(panel)
    tx_c, ty_c = s.CENTRE_TOL
    assert abs(cx + cw / 2 - CX) <= tx_c and abs(cy + ch / 2 - CY) <= ty_c, \
        'panel not centred: client area at %s' % (client(panel),)
    got = img.pixel(*face_point(panel))
    assert h.close(got, PANEL_GREY, 4), \
        'panel background is %s, expected dark grey %s' % (got, PANEL_GREY)
    got = img.pixel(cx + SWATCH[0] // TWIPS + 4, cy + SWATCH[1] // TWIPS + 4)
    want = h.blend_over_white(255, colour)
    assert h.close(got, want, 6), 'swatch shows %s, expected the overlay colour %s' % (got, want)
    tx = round(thumb_px(alpha))
    assert thumb_seen(img, panel, tx), \
        'no red thumb near x=%d (client %d) for opacity %d' % (cx + tx, tx, alpha)
    if s.PANEL_HEADINGS:
        # Texts: the white headings left of the swatch and the track.
        whites = sum(1 for y in range(cy + 10, cy + 80)
                     for x in range(cx + 30, cx + 105)
                     if h.close(img.pixel(x, y), (255, 255, 255), 60))
        assert whites > 100, 'panel headings missing (%d white pixels)' % whites

