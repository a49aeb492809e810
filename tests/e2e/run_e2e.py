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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

# Scenario groups in files of their own import this module by name; run as a
# script it must be that same module, or they would register elsewhere.
sys.modules.setdefault('run_e2e', sys.modules[__name__])

import scenario_kit as kit  # noqa: E402
# The *_scenarios files take these from here.
from scenario_kit import (  # noqa: E402,F401
    CX, CY, DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, OVERLAY_CAPTION, PANEL_GREY,
    PANEL_H, PANEL_W, SPLASH_RED, TRACK_X1, TRACK_X2, TRACK_Y, TWIPS,
    Failure, expect_panel_layout, round_half_even, slider_alpha,
    track_point)

SHOTS = os.path.join(h.E2E, 'shots')
MESSAGE = 'Morvane夜间模式工具已经启动，欢迎继续使用。'
BAND_TOP, BAND_H = 945, 435

SCENARIOS = kit.Registry()
scenario = SCENARIOS.scenario


class Scenario(kit.BaseScenario):
    """What a scenario works with: its own prefix on the shared display."""

    SHOTS = SHOTS
    SPLASH_TIMEOUT = 25
    SETTLE = 0.6
    PANEL_SETTLE = 0.3
    CENTRE_TOL = (6, 16)
    STORE = 'registry'
    F7_EXPECTS_UNSAVED = True

    def __init__(self, name, display, wine, probes):
        super().__init__(name, display)
        self.wine = wine
        self.probes = probes

    def expect_centre(self, rgb, what, tol=3, step=None, at=(CX, CY)):
        return self.expect_pixel(rgb, what, at=at, tol=tol, step=step)

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
        xids = h.wait_until(lambda: self.display.windows_by_pid(pad.pid),
                            20, 0.3)
        self.check(xids, 'notepad did not open a window')
        self.notepad_xid = xids[-1]
        return pad

    def focus_notepad(self):
        self.display.activate(self.notepad_xid)
        time.sleep(0.4)

    # -- what the shared scenario bodies ask of a target --------------------

    focus_window = focus_notepad

    def describe_windows(self):
        return [(w['text'], w['client']) for w in self.windows()
                if w['visible']]

    def start_for_panel(self, expect_unsaved=False):
        """Starts the program, then notepad, which has the focus for F7."""
        self.start_and_settle()
        if expect_unsaved:
            self.check(self.settings() == {}, 'settings stored before any '
                       'panel closed: %s' % self.settings())
        self.start_notepad()

    def forget_app(self):
        self.wine.kill()
        self.app = None

    def colour_dialog(self):
        """The colour dialog (the one with a Blue field, id 708), or None."""
        for w in self.windows():
            if w['visible'] and w['class'] == '#32770' and any(
                    c['id'] == 708 for c in w['children']):
                return w
        return None

    def dialog_missing_detail(self):
        return ''

    def pick_colour(self, dlg, rgb):
        """Types the colour into the dialog's Red, Green and Blue fields and
        presses OK."""
        kids = {c['id']: c for c in dlg['children']}
        for cid, value in zip((706, 707, 708), rgb):
            self.display.click(*self._centre(kids[cid]))
            self.display.key('End', 'BackSpace', 'BackSpace', 'BackSpace')
            self.display.xdotool('type', value)
        self.display.key('Tab')
        time.sleep(0.3)
        self.display.click(*self._centre(kids[1]))  # OK

    def cancel_colour(self, dlg, rgb):
        """Types the colour's red part into the dialog, then Cancel."""
        kids = {c['id']: c for c in dlg['children']}
        self.display.click(*self._centre(kids[706]))
        self.display.key('End', 'BackSpace', 'BackSpace', 'BackSpace')
        self.display.xdotool('type', str(rgb[0]))
        self.display.click(*self._centre(kids[2]))  # Cancel
        time.sleep(0.8)

    @staticmethod
    def _centre(c):
        x, y, w, hgt = c['client']
        return x + w // 2, y + hgt // 2

    def settings(self):
        return self.wine.reg_query(h.SETTINGS_KEY)

    def store(self, **values):
        for name, data in values.items():
            self.wine.reg_add(h.SETTINGS_KEY, name, data)


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
    xids = s.display.windows_by_pid(second.pid)
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


scenario('splash-above-tint')(kit.splash)


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


scenario('f7-opens-panel-idle-close-saves')(kit.f7_panel)


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


scenario('panel-colour-dialog')(kit.colour)


scenario('exit-label-saves-and-ends')(kit.exit_label)


# ---------------------------------------------------------------------------
# Further groups of scenarios, in files named *_scenarios.py beside this
# one, register through the same decorator when imported.
for _file in sorted(os.listdir(os.path.dirname(os.path.abspath(__file__)))):
    if _file.endswith('_scenarios.py'):
        __import__(_file[:-3])


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    kit.add_run_args(ap)
    ap.add_argument('--keep', action='store_true',
                    help='keep each scenario\'s prefix under build/e2e/')
    args = ap.parse_args(argv[1:])
    chosen = SCENARIOS.chosen(args.k)
    if args.list:
        return kit.list_names(chosen)

    h.install_signal_exit()
    display = None
    t_run = time.monotonic()
    try:
        if os.path.exists(SHOTS):
            shutil.rmtree(SHOTS)
        os.makedirs(SHOTS)
        probes = h.build_probes()
        display = h.start_display('xvfb')
        h.log('e2e: display %s, booting the template prefix' % display.name)
        t = time.monotonic()
        template = h.TemplatePrefix(display).boot()
        h.log('e2e: template booted in %.0f s' % (time.monotonic() - t))
    except h.HarnessError as e:
        h.log('FAIL e2e-setup: %s' % e)
        h.log('e2e: %d passed, %d failed' % (0, len(chosen) or 1))
        if display:
            display.stop()
        return 1

    def make(name, needs_exe):
        if needs_exe and not os.path.exists(h.EXE):
            raise Failure('executable not built: ' + h.EXE)
        display.xdotool('mousemove', h.SCREEN_W - 1, h.SCREEN_H - 1,
                        check=False)
        return Scenario(name, display, template.copy(name), probes)

    def cleanup(s):
        if s:
            s.wine.kill()
            if not args.keep:
                shutil.rmtree(s.wine.prefix, ignore_errors=True)

    try:
        passed, failed = kit.run_each(chosen, make, cleanup)
    finally:
        display.stop()
        if not args.keep:
            shutil.rmtree(template.path, ignore_errors=True)
    return kit.summary('e2e', SHOTS, t_run, passed, failed)


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
