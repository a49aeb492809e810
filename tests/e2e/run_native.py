#!/usr/bin/env python3
"""End-to-end tests of the native Linux program on a private X display.

    run_native.py [-k SUBSTRING]... [--list]

build/linux/bin/morvane-night (the GTK backend) runs on one Xvfb display
with openbox and xcompmgr and a white desktop (harness.Display), driven
with xdotool and checked with screenshots and its settings file. Each
scenario gets its own XDG_CONFIG_HOME and XDG_RUNTIME_DIR under
build/native-e2e/<scenario>/, so scenarios share no settings and no
instance lock. Screenshots go to build/native-e2e/shots/. Each scenario
prints PASS or FAIL with a reason; the last line is "N passed, M failed".
scripts/launch_native.py starts the program for scripts/run.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
import scenario_kit as kit  # noqa: E402
from scenario_kit import (  # noqa: E402
    DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, OVERLAY_CAPTION, PANEL_H, PANEL_W,
    TRACK_X1, TRACK_X2, TWIPS, slider_alpha, thumb_px, track_point,
    within_alpha)

HERE = os.path.dirname(os.path.abspath(__file__))
BIN = os.path.join(h.BUILD, 'linux', 'bin', 'morvane-night')
NATIVE = os.path.join(h.BUILD, 'native-e2e')
SHOTS = os.path.join(NATIVE, 'shots')
SETTINGS_DIR = h.APP_TITLE  # under $XDG_CONFIG_HOME
DIALOG_TITLE = '颜色'
FRAME = 3  # the dialog frame drawn round the panel and the splash

SCENARIOS = kit.Registry()
scenario = SCENARIOS.scenario


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


class Scenario(kit.BaseScenario):
    """One scenario's program instances, folders and screenshots."""

    SHOTS = SHOTS
    PANEL_HEADINGS = True
    DIALOG = 'colour chooser'
    DIALOG_OK = 'Select'
    DIALOG_STAY = 6.0
    F7_EXPECTS_UNSAVED = False  # first-run-default-tint checks that

    def __init__(self, name, display, probe, root=NATIVE):
        super().__init__(name, display)
        self.probe = probe
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
        self.probe_log = None
        self.probe_xid = None

    def stop(self):
        h.stop_all(self.procs)
        self.procs = []

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

    def windows(self, proc=None):
        """Visible top-level windows of a process: [(xid, name, x, y, w, h)]."""
        proc = proc or self.app
        found = []
        for xid in self.display.windows_by_pid(proc.pid):
            geo = self.display.window_geometry(xid)
            if geo is None:
                continue
            found.append((xid, self.display.window_name(xid)) + geo)
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
        active = self.display.active_window()
        self.check(active == self.probe_xid, 'the probe window does not '
                   'have the focus (active window %r)' % active)

    # -- what the shared scenario bodies ask of a target --------------------

    focus_window = focus_probe

    def describe_windows(self):
        return self.windows()

    def start_for_panel(self, expect_unsaved=False):
        """Starts the probe, which has the focus for F7, then the program."""
        self.start_probe()
        self.start_and_settle()
        if expect_unsaved:
            self.check(self.settings() == {}, 'settings stored before any '
                       'panel closed: %s' % self.settings())

    def expect_key_seen(self):
        self.check(any(line == 'key' for line in self.probe_lines()),
                   'the probe, which had the focus, saw no key press')

    def forget_app(self):
        self.app = None

    def dialog_missing_detail(self):
        return ' window (windows: %s)' % (self.windows(),)

    def _type_colour(self, dlg, rgb):
        # The editor's entry has the focus: type a colour there.
        self.display.activate(dlg[0])
        self.display.xdotool('key', 'ctrl+a')
        self.display.xdotool('type', '#%02X%02X%02X' % rgb)
        self.display.key('Return')

    def pick_colour(self, dlg, rgb):
        self._type_colour(dlg, rgb)
        time.sleep(0.3)
        self.shot('typed')
        self.display.key('alt+s')

    def cancel_colour(self, dlg, rgb):
        self._type_colour(dlg, rgb)
        self.display.key('Escape')
        self.check(h.wait_until(lambda: self.colour_dialog() is None, 5),
                   'colour chooser still open after Escape')
        time.sleep(0.6)


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


scenario('splash-above-tint')(kit.splash)


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


scenario('f7-opens-panel-idle-close-saves')(kit.f7_panel)


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


scenario('colour-chooser-from-swatch')(kit.colour)


scenario('exit-label-saves-and-ends')(kit.exit_label)


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
    chosen = SCENARIOS.chosen(args.k)
    if args.list:
        return kit.list_names(chosen)
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
        display = h.start_display('xvfb', logdir=NATIVE)
        h.log('native: display %s' % display.name)
    except h.HarnessError as e:
        h.log('FAIL native-setup: %s' % e)
        if display:
            display.stop()
        h.log('native: %d passed, %d failed' % (0, len(chosen) or 1))
        return 1

    def make(name, needs_exe):
        display.xdotool('mousemove', h.SCREEN_W - 1, h.SCREEN_H - 1,
                        check=False)
        return Scenario(name, display, probe)

    def cleanup(s):
        if s:
            s.stop()

    try:
        passed, failed = kit.run_each(chosen, make, cleanup, pause=0.3)
    finally:
        display.stop()
    return kit.summary('native', SHOTS, t_run, passed, failed)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('-k', action='append', default=[],
                    help='run only scenarios whose name contains this')
    ap.add_argument('--list', action='store_true')
    args = ap.parse_args(argv[1:])
    h.install_signal_exit()
    return run_tests(args)


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
