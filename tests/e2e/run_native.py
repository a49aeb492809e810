#!/usr/bin/env python3
"""End-to-end tests of the native Linux program on a private X display.

    run_native.py [-k SUBSTRING]... [--list]
    run_native.py --show [--headless]

build/linux/bin/morvane-night (the GTK backend) runs on one Xvfb display
with openbox and xcompmgr and a white desktop (harness.Display), driven
with xdotool and checked with screenshots and its settings file. Each
scenario gets its own XDG_CONFIG_HOME and XDG_RUNTIME_DIR under
build/native-e2e/<scenario>/, so scenarios share no settings and no
instance lock. Screenshots go to build/native-e2e/shots/. Each scenario
prints PASS or FAIL with a reason; the last line is "N passed, M failed".

--show is the "start it for me" path of scripts/run: on $DISPLAY when one
answers (in the foreground, until ended from its panel), else on a private
display, leaving screenshots of the splash and the tinted screen under
build/run/ and stopping again (--headless forces the private display).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
BIN = os.path.join(h.BUILD, 'linux', 'bin', 'morvane-night')
NATIVE = os.path.join(h.BUILD, 'native-e2e')
SHOTS = os.path.join(NATIVE, 'shots')
RUN = os.path.join(h.BUILD, 'run')
SETTINGS_DIR = h.APP_TITLE  # under $XDG_CONFIG_HOME
CX, CY = h.SCREEN_W // 2, h.SCREEN_H // 2
# Where the tint is read while the panel is up at the centre.
FREE = (1100, 700)

DEFAULT_COLOUR = 0x00004000
DEFAULT_ALPHA = 150
SPLASH_RED = (64, 0, 0)
PANEL_GREY = (64, 64, 64)
OVERLAY_CAPTION = h.APP_TITLE + 'V1.0'
DIALOG_TITLE = '颜色'

TWIPS = 15  # per pixel at 96 DPI
FRAME = 3  # the dialog frame drawn round the panel and the splash
PANEL_W, PANEL_H = 6120 // TWIPS, 2775 // TWIPS  # 408 x 185 client
SPLASH_W, SPLASH_H = 6270 // TWIPS, 3105 // TWIPS  # 418 x 207 client
TRACK_X1, TRACK_X2, TRACK_Y = 1800, 5265, 1170  # twips, panel client area
EXIT_LEFT, EXIT_TOP = 2295, 2205
SWATCH = (1665, 225, 3750, 420)

SCENARIOS = []


def scenario(name):
    def register(fn):
        SCENARIOS.append((name, fn))
        return fn
    return register


class Failure(Exception):
    pass


def slider_alpha(x_px):
    """The opacity the slider gives for a press at client pixel x."""
    x = x_px * TWIPS
    return int(round(255 - (x - TRACK_X1) / (TRACK_X2 - TRACK_X1) * 255))


def thumb_px(alpha):
    return ((TRACK_X2 - TRACK_X1) / 255 * (255 - alpha) + TRACK_X1) / TWIPS


def within_alpha(got, alpha, colour, slack=1, tol=3):
    """Whether a pixel is the blend for an opacity within alpha +- slack."""
    lo = h.blend_over_white(min(255, alpha + slack), colour)
    hi = h.blend_over_white(max(0, alpha - slack), colour)
    return got is not None and all(
        min(lo[i], hi[i]) - tol <= got[i] <= max(lo[i], hi[i]) + tol
        for i in range(3))


def build_probe():
    """Compiles the X click probe into build/native-e2e/ when its source is
    newer than the executable."""
    src = os.path.join(HERE, 'xclickprobe.cpp')
    exe = os.path.join(NATIVE, 'xclickprobe')
    os.makedirs(NATIVE, exist_ok=True)
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        cxx = shutil.which('c++') or shutil.which('g++')
        if not cxx:
            raise h.HarnessError('no C++ compiler for the click probe')
        r = subprocess.run([cxx, '-O2', '-o', exe, src, '-lX11'],
                           capture_output=True, text=True, check=False)
        if r.returncode != 0:
            raise h.HarnessError('building xclickprobe failed:\n' +
                                 r.stderr[-2000:])
    return exe


class Scenario:
    """One scenario's program instances, folders and screenshots."""

    def __init__(self, name, display, probe, root=NATIVE):
        self.name, self.display, self.probe = name, display, probe
        self.base = os.path.join(root, name)
        if os.path.exists(self.base):
            shutil.rmtree(self.base)
        self.config = os.path.join(self.base, 'config')
        self.runtime = os.path.join(self.base, 'runtime')
        os.makedirs(self.config)
        os.makedirs(self.runtime, mode=0o700)
        self.env = dict(display.env, XDG_CONFIG_HOME=self.config,
                        XDG_RUNTIME_DIR=self.runtime, GDK_BACKEND='x11',
                        NO_AT_BRIDGE='1', GSETTINGS_BACKEND='memory',
                        LANG=h.locale_name(), LC_ALL=h.locale_name())
        self.env.pop('WAYLAND_DISPLAY', None)
        self.procs = []
        self.notes = []
        self.app = None
        self.probe_log = None
        self.probe_xid = None

    # -- outcome ------------------------------------------------------------

    def fail(self, reason):
        raise Failure(reason)

    def check(self, cond, reason):
        if not cond:
            self.fail(reason)

    def note(self, text):
        self.notes.append(text)

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.procs = []

    # -- screen -------------------------------------------------------------

    def shot(self, step=None):
        fname = self.name + ('-' + step if step else '') + '.png'
        return self.display.shot(os.path.join(SHOTS, fname))

    def expect_pixel(self, rgb, what, at=(CX, CY), tol=3, step=None):
        img = self.shot(step)
        got = img.pixel(*at)
        where = 'screen centre' if at == (CX, CY) else 'pixel %s' % (at,)
        self.check(h.close(got, rgb, tol), '%s: %s is %s, expected %s (+-%d)'
                   % (what, where, got, rgb, tol))
        return img

    # -- settings file --------------------------------------------------------

    def ini_path(self):
        return os.path.join(self.config, SETTINGS_DIR, 'settings.ini')

    def write_ini(self, data):
        os.makedirs(os.path.dirname(self.ini_path()), exist_ok=True)
        with open(self.ini_path(), 'wb') as f:
            f.write(data if isinstance(data, bytes) else data.encode())

    def settings(self):
        """{key: text} of the [Settings] group; {} when there is no file."""
        try:
            with open(self.ini_path(), encoding='utf-8') as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return {}
        values, group = {}, None
        for line in lines:
            line = line.strip()
            if line.startswith('[') and line.endswith(']'):
                group = line[1:-1]
            elif group == 'Settings' and '=' in line and not line.startswith('#'):
                k, v = line.split('=', 1)
                values[k.strip()] = v.strip()
        return values

    # -- the program ------------------------------------------------------------

    def start_app(self):
        if not os.path.exists(BIN):
            self.fail('program not built: ' + BIN)
        log = open(os.path.join(self.base, 'app-%d.log' % len(self.procs)),
                   'wb')
        p = subprocess.Popen([BIN], env=self.env, stdin=subprocess.DEVNULL,
                             stdout=log, stderr=subprocess.STDOUT)
        log.close()
        self.procs.append(p)
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

    def wait_splash(self, timeout=15):
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
        time.sleep(0.5)  # let the compositor settle
        self.check(self.app.poll() is None, 'the program exited (code %s) '
                   'after start-up' % self.app.returncode)

    def windows(self, proc=None):
        """Visible top-level windows of a process: [(xid, name, x, y, w, h)]."""
        proc = proc or self.app
        out = self.display.xdotool('search', '--onlyvisible', '--pid',
                                   proc.pid, check=False)
        found = []
        for xid in out.split():
            geo = self.display.xdotool('getwindowgeometry', '--shell', xid,
                                       check=False)
            kv = dict(line.split('=', 1) for line in geo.splitlines()
                      if '=' in line)
            if not all(k in kv for k in ('X', 'Y', 'WIDTH', 'HEIGHT')):
                continue
            name = self.display.xdotool('getwindowname', xid,
                                        check=False).rstrip('\n')
            found.append((int(xid), name, int(kv['X']), int(kv['Y']),
                          int(kv['WIDTH']), int(kv['HEIGHT'])))
        return found

    def panel(self):
        """The panel's client area (x, y, w, h) on screen, or None."""
        for xid, name, x, y, w, hgt in self.windows():
            if (abs(w - (PANEL_W + 2 * FRAME)) <= 3
                    and abs(hgt - (PANEL_H + 2 * FRAME)) <= 3):
                return x + FRAME, y + FRAME, w - 2 * FRAME, hgt - 2 * FRAME
        return None

    def colour_dialog(self):
        for win in self.windows():
            if win[1] == DIALOG_TITLE:
                return win
        return None

    def start_probe(self):
        """The white X window beneath everything, which logs clicks and keys
        and holds the focus while F7 is pressed."""
        self.probe_log = os.path.join(self.base, 'probe.log')
        p = subprocess.Popen([self.probe, self.probe_log], env=self.env,
                             stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        self.procs.append(p)
        ready = h.wait_until(lambda: os.path.exists(self.probe_log) and
                             'ready' in open(self.probe_log).read(), 10)
        self.check(ready, 'the click probe did not start')
        self.probe_xid = int(open(self.probe_log).read().split()[1])
        time.sleep(0.3)
        return p

    def probe_lines(self):
        return open(self.probe_log).read().splitlines()

    def focus_probe(self):
        self.display.activate(self.probe_xid)
        time.sleep(0.3)
        active = self.display.xdotool('getactivewindow', check=False).strip()
        self.check(active == str(self.probe_xid), 'the probe window does not '
                   'have the focus (active window %r)' % active)

    def open_panel(self, key='F7', step='panel'):
        """Presses the key with the probe in front; returns the panel's
        client area and when it showed."""
        self.focus_probe()
        self.display.key(key)
        p = h.wait_until(self.panel, 6, 0.2)
        self.check(p, 'no settings panel within 6 s of %s (windows: %s)'
                   % (key, self.windows()))
        t = time.monotonic()
        time.sleep(0.4)
        self.panel_shot = self.shot(step)
        return p, t

    def wait_panel_closed(self, timeout=9):
        t = h.wait_until(lambda: self.panel() is None, timeout, 0.3)
        self.check(t, 'the settings panel is still open after %d s' % timeout)
        return time.monotonic()


def expect_panel_layout(s, panel, img, alpha, colour):
    """What the user should see on a freshly opened panel."""
    cx, cy, cw, ch = panel
    s.check(abs(cx + cw / 2 - CX) <= 4 and abs(cy + ch / 2 - CY) <= 4,
            'panel not centred: client area at %s' % (panel,))
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
    s.check(reds, 'no red thumb near x=%d for opacity %d' % (tx, alpha))
    # Texts: the white headings left of the swatch and the track.
    whites = sum(1 for y in range(cy + 10, cy + 80)
                 for x in range(cx + 30, cx + 105)
                 if h.close(img.pixel(x, y), (255, 255, 255), 60))
    s.check(whites > 100, 'panel headings missing (%d white pixels)' % whites)


def track_point(panel, x_px):
    return panel[0] + x_px, panel[1] + TRACK_Y // TWIPS


# ---------------------------------------------------------------------------
# Scenarios, in the order they run


@scenario('first-run-default-tint')
def first_run(s):
    s.start_and_settle()
    want = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    img = s.expect_pixel(want, 'first run over white')
    for at in ((5, 5), (h.SCREEN_W - 3, h.SCREEN_H - 3)):
        s.check(h.close(img.pixel(*at), want, 3), 'tint does not cover the '
                'screen: %s is %s' % (at, img.pixel(*at)))
    wins = s.windows()
    s.check(any(w[1] == OVERLAY_CAPTION and w[4:] == (h.SCREEN_W, h.SCREEN_H)
                for w in wins), 'no full-screen overlay window: %s' % wins)
    s.check(s.settings() == {}, 'settings stored before any panel closed: %s'
            % s.settings())


@scenario('splash-above-tint')
def splash(s):
    t_start = time.monotonic()
    s.start_app()
    seen = s.wait_splash()
    s.check(seen, 'no dark red splash on the centre row within 15 s')
    t_seen, img, box = seen
    img.save(os.path.join(SHOTS, s.name + '.png'))
    left, top, w, hgt = box
    s.check(abs(w - SPLASH_W) <= 4 and abs(hgt - SPLASH_H) <= 4,
            'splash is %dx%d, expected about %dx%d' % (w, hgt, SPLASH_W,
                                                       SPLASH_H))
    s.check(abs(left + w / 2 - CX) <= 4 and abs(top + hgt / 2 - CY) <= 4,
            'splash not centred: at (%d,%d) size %dx%d' % box)
    tint = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    s.check(h.close(img.pixel(20, 20), tint, 3),
            'no tint around the splash: (20,20) is %s' % (img.pixel(20, 20),))
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


@scenario('click-through')
def click_through(s):
    s.start_probe()
    s.start_and_settle()
    s.expect_pixel(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                   'tint over the probe')
    s.display.click(300, 300)
    ok = h.wait_until(lambda: 'down 300 300' in s.probe_lines(), 5)
    s.check(ok, 'the click at (300,300) did not reach the X window beneath '
            '(probe log: %s)' % s.probe_lines())


@scenario('f7-opens-panel-idle-close-saves')
def f7_panel(s):
    s.start_probe()
    s.start_and_settle()
    panel, t_open = s.open_panel()
    s.check(any(line == 'key' for line in s.probe_lines()),
            'the probe, which had the focus, saw no key press')
    expect_panel_layout(s, panel, s.panel_shot, DEFAULT_ALPHA, DEFAULT_COLOUR)
    t_closed = s.wait_panel_closed()
    dt = t_closed - t_open
    s.check(1.5 <= dt <= 6.5, 'untouched panel closed after %.1f s, expected '
            'about 2.5 to 5 s' % dt)
    s.note('closed %.1f s after it showed' % dt)
    got = s.settings()
    want = {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(DEFAULT_COLOUR)}
    s.check(got == want, 'settings after close: %s, expected %s' % (got, want))
    # The splash advertises Ctrl+F7; that opens it as well.
    s.open_panel(key='ctrl+F7', step='again')
    s.wait_panel_closed()


@scenario('slider-drag-brightens')
def slider(s):
    s.start_probe()
    s.start_and_settle()
    panel, _ = s.open_panel()
    before = s.panel_shot.pixel(*FREE)
    x0 = round(thumb_px(DEFAULT_ALPHA))
    x1 = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS
    a = slider_alpha(x1)
    s.display.drag(*track_point(panel, x0), *track_point(panel, x1))
    time.sleep(0.5)
    img = s.shot('drag')
    got = img.pixel(*FREE)
    s.check(sum(got) > sum(before) + 60, 'the screen did not brighten: %s '
            'before the drag, %s after' % (before, got))
    s.check(within_alpha(got, a, DEFAULT_COLOUR),
            'after a drag to track x=%d: tint %s, expected %s (opacity %d)'
            % (x1, got, h.blend_over_white(a, DEFAULT_COLOUR), a))
    thumb = [x for x in range(panel[0] + x1 - 8, panel[0] + x1 + 9)
             if h.close(img.pixel(x, panel[1] + 1395 // TWIPS - 3),
                        (255, 0, 0), 40)]
    s.check(thumb, 'the thumb did not follow the pointer to x=%d' % x1)
    s.display.move(5, 5)
    s.wait_panel_closed()
    stored = s.settings().get('intLig', '')
    s.check(stored.isdigit() and abs(int(stored) - a) <= 1,
            'stored intLig %r, expected %d' % (stored, a))


@scenario('colour-chooser-from-swatch')
def colour(s):
    s.start_probe()
    s.start_and_settle()
    panel, _ = s.open_panel()
    swatch = (panel[0] + SWATCH[0] // TWIPS + 20,
              panel[1] + SWATCH[1] // TWIPS + 14)
    s.display.click(*swatch)
    dlg = h.wait_until(s.colour_dialog, 6, 0.3)
    s.shot('dialog')
    s.check(dlg, 'no colour chooser window within 6 s of a click on the '
            'swatch (windows: %s)' % s.windows())
    # The panel must not close under the dialog, however long it stays.
    time.sleep(6.0)
    s.check(s.panel(), 'the panel closed while the colour chooser was open')
    # The editor's entry has the focus: type a colour, then choose it.
    s.display.activate(dlg[0])
    s.display.xdotool('key', 'ctrl+a')
    s.display.xdotool('type', '#0000FF')
    s.display.key('Return')
    time.sleep(0.3)
    s.shot('typed')
    s.display.key('alt+s')
    s.check(h.wait_until(lambda: s.colour_dialog() is None, 5),
            'colour chooser still open after Select')
    time.sleep(0.6)
    blue = 0x00FF0000
    img = s.shot('blue')
    want = h.blend_over_white(DEFAULT_ALPHA, blue)
    s.check(h.close(img.pixel(*FREE), want, 3), 'after choosing blue: tint '
            '%s, expected %s' % (img.pixel(*FREE), want))
    got = img.pixel(swatch[0] - 14, swatch[1] - 8)
    s.check(h.close(got, (0, 0, 255), 6), 'swatch is %s after choosing blue'
            % (got,))
    s.check(s.settings() == {}, 'colour stored before the panel closed: %s'
            % s.settings())
    # Cancel changes nothing.
    s.display.click(*swatch)
    dlg = h.wait_until(s.colour_dialog, 6, 0.3)
    s.check(dlg, 'no colour chooser on the second click on the swatch')
    s.display.activate(dlg[0])
    s.display.xdotool('key', 'ctrl+a')
    s.display.xdotool('type', '#FF0000')
    s.display.key('Return')
    s.display.key('Escape')
    s.check(h.wait_until(lambda: s.colour_dialog() is None, 5),
            'colour chooser still open after Escape')
    time.sleep(0.6)
    got = s.shot('cancel').pixel(*FREE)
    s.check(h.close(got, want, 3), 'after Cancel: tint %s, expected it to '
            'stay %s' % (got, want))
    s.display.move(5, 5)
    s.wait_panel_closed()
    got = s.settings()
    s.check(got == {'intLig': str(DEFAULT_ALPHA), 'lngColor': str(blue)},
            'settings after close: %s, expected intLig %d, lngColor %d'
            % (got, DEFAULT_ALPHA, blue))


@scenario('exit-label-saves-and-ends')
def exit_label(s):
    s.start_probe()
    s.start_and_settle()
    panel, _ = s.open_panel()
    x_px = (TRACK_X1 + TRACK_X2) // 2 // TWIPS
    a = slider_alpha(x_px)
    s.display.click(*track_point(panel, x_px))
    time.sleep(0.3)
    ex = panel[0] + EXIT_LEFT // TWIPS + 30
    ey = panel[1] + EXIT_TOP // TWIPS + 10
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
            'settings after exit: %s, expected intLig %d, lngColor %d'
            % (got, a, DEFAULT_COLOUR))
    # The next start shows the same tint.
    s.app = None
    s.start_and_settle()
    s.expect_pixel(h.blend_over_white(int(got['intLig']), DEFAULT_COLOUR),
                   'next start', step='next-start')


@scenario('second-instance-message')
def second_instance(s):
    s.start_and_settle()
    second = s.start_app()

    def message_box():
        wins = s.windows(second) if second.poll() is None else []
        return [w for w in wins if w[1] == h.APP_TITLE] or None
    box = h.wait_until(message_box, 10, 0.3)
    s.shot('msgbox')
    s.check(box, 'no window titled %r from the second start within 10 s '
            '(its windows: %s)' % (h.APP_TITLE, s.windows(second)
                                   if second.poll() is None else 'exited'))
    s.check(len(s.windows(second)) == 1, 'the second start shows more than '
            'its message: %s' % s.windows(second))
    s.display.activate(box[0][0])
    s.display.key('Return')
    s.check(h.wait_until(lambda: second.poll() is not None, 8),
            'the second instance still runs 8 s after its message was '
            'dismissed')
    time.sleep(0.5)
    s.check(s.app.poll() is None, 'the first instance ended too')
    s.expect_pixel(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                   'tint after the second instance left', step='after')


@scenario('stored-values-used')
def stored_values(s):
    s.write_ini('[Settings]\nintLig=255\nlngColor=255\n')
    s.start_and_settle()
    s.expect_pixel((255, 0, 0), 'intLig 255, lngColor 255')


@scenario('corrupt-ini-gives-defaults')
def corrupt(s):
    tint = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)
    # Not a key file at all.
    s.write_ini(b'\x00\xff garbage [[[ intLig=10\n')
    s.start_and_settle()
    s.expect_pixel(tint, 'unreadable settings file', step='garbage')
    s.stop()
    s.app = None
    time.sleep(0.5)
    # A key file with values that are not ours.
    s.write_ini('[Settings]\nintLig=abc\nlngColor=-5\n')
    s.start_and_settle()
    s.expect_pixel(tint, 'intLig "abc", lngColor -5', step='values')


# ---------------------------------------------------------------------------


def run_tests(args):
    chosen = [sc for sc in SCENARIOS
              if not args.k or any(k in sc[0] for k in args.k)]
    if args.list:
        for name, _ in chosen:
            print(name)
        return 0
    passed = failed = 0
    display = None
    t_run = time.monotonic()
    try:
        if os.path.exists(SHOTS):
            shutil.rmtree(SHOTS)
        os.makedirs(SHOTS)
        if not os.path.exists(BIN):
            raise h.HarnessError('program not built: %s (GTK 3 development '
                                 'files missing?)' % BIN)
        probe = build_probe()
        display = h.Display(logdir=NATIVE).start()
        h.log('native: display %s' % display.name)
    except h.HarnessError as e:
        h.log('FAIL native-setup: %s' % e)
        if display:
            display.stop()
        h.log('native: %d passed, %d failed' % (0, len(chosen) or 1))
        return 1
    try:
        for name, fn in chosen:
            t = time.monotonic()
            s = None
            try:
                display.xdotool('mousemove', h.SCREEN_W - 1, h.SCREEN_H - 1,
                                check=False)
                s = Scenario(name, display, probe)
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
                if s:
                    s.stop()
            time.sleep(0.3)
            if s and s.notes:
                reason = (reason + '; ' if reason else '') + '; '.join(s.notes)
            h.log('%s %s (%.0f s)%s' % (verdict, name, time.monotonic() - t,
                                        ': ' + reason if reason else ''))
            if verdict == 'PASS':
                passed += 1
            else:
                failed += 1
    finally:
        display.stop()
    h.log('native: screenshots in %s; %.0f s in all' % (
        os.path.relpath(SHOTS, h.REPO), time.monotonic() - t_run))
    h.log('native: %d passed, %d failed' % (passed, failed))
    return 0 if failed == 0 else 1


# ---------------------------------------------------------------------------
# scripts/run


def display_works():
    if not os.environ.get('DISPLAY'):
        return False
    try:
        r = subprocess.run(['xdpyinfo'], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=10, check=False)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0


def show(args):
    if not os.path.exists(BIN):
        h.log('run: %s is missing; build it with scripts/build linux '
              '(needs libgtk-3-dev)' % BIN)
        return 1
    if not args.headless and display_works():
        h.log('run: starting %s on %s' % (os.path.relpath(BIN, h.REPO),
                                          os.environ['DISPLAY']))
        h.log('run: press F7 for the settings panel; its "关闭夜间模式" ends '
              'the tool')
        p = subprocess.Popen([BIN], env=dict(os.environ, GDK_BACKEND='x11'))
        try:
            return p.wait()
        except KeyboardInterrupt:
            p.terminate()
            p.wait()
            return 130
    os.makedirs(RUN, exist_ok=True)
    display = h.Display(logdir=RUN).start()
    s = None
    try:
        h.log('run: no usable $DISPLAY; using the private display %s'
              % display.name)
        # Settings and lock of its own, under build/run/native/.
        s = Scenario('native', display, None, root=RUN)
        s.start_app()
        seen = s.wait_splash()
        splash_png = os.path.join(RUN, 'native-splash.png')
        if seen:
            seen[1].save(splash_png)
            h.log('run: splash up; waiting for it to close')
            if not s.wait_splash_gone():
                h.log('run: the splash did not close within 10 s')
        else:
            h.log('run: no splash seen within 15 s')
        time.sleep(1.0)
        shot = os.path.join(RUN, 'native-screen.png')
        img = display.shot(shot)
        running = s.app.poll() is None
        h.log('run: the tool is %s; screen centre reads RGB %s' % (
            'running' if running else 'NOT running (exit code %s)' %
            s.app.returncode, img.pixel(img.width // 2, img.height // 2)))
        h.log('run: screenshot of the tinted screen: %s' % shot)
        if seen:
            h.log('run: screenshot of the splash: %s' % splash_png)
        return 0 if running else 1
    finally:
        if s:
            s.stop()
        display.stop()


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('-k', action='append', default=[],
                    help='run only scenarios whose name contains this')
    ap.add_argument('--list', action='store_true')
    ap.add_argument('--show', action='store_true',
                    help='start the program (scripts/run) instead of testing')
    ap.add_argument('--headless', action='store_true',
                    help='with --show: always on a private display')
    args = ap.parse_args(argv[1:])
    h.install_signal_exit()
    return show(args) if args.show else run_tests(args)


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
