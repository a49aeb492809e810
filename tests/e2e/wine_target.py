"""The Windows executable under Wine, in one prefix on one display. A key press goes through
a notepad of the test's own: a Wine program sees a key only while a Wine window has the focus."""

import contextlib
import json
import os
import signal
import subprocess

import pytest

import harness as h
import scenario_kit as kit
from scenario_kit import DEFAULT_COLOUR, FREE, OVERLAY_CAPTION, PANEL_H, PANEL_W

SHOTS = os.path.join(h.E2E, 'shots')
LOGS = os.path.join(h.E2E, 'logs')

MESSAGE = 'Morvane夜间模式工具已经启动，欢迎继续使用。'
COMPONENTS = ('CMDLGCHS.DLL', 'COMDLG32.ocx')
COMPONENTS_KEY = 'HKCU\\Software\\' + h.APP_TITLE + '\\Components'


def find_in(folder, name):
    """The file of that name in folder, whatever its case, or None."""
    names = os.listdir(folder) if os.path.isdir(folder) else []
    return next((os.path.join(folder, f) for f in names if f.lower() == name.lower()), None)


def centre(c):
    x, y, w, hgt = c['client']
    return x + w // 2, y + hgt // 2


class WineApp(kit.BaseApp):
    SHOTS = SHOTS
    SPLASH_TIMEOUT = 25
    CENTRE_TOL = (6, 16)
    STORE = 'registry'
    F7_EXPECTS_UNSAVED = True

    def __init__(self, name, display, wine, probes):
        super().__init__(name, display)
        self.wine = wine
        self.probes = probes
        self.notepad_xid = None
        self.click_log = None

    def _expect_at(self, at, good, what, want, step):
        """Waits first: a compositor may still be fading a window."""
        __tracebackhide__ = True
        seen = [None]

        def read():
            seen[0] = h.pixel(self.display, *at)
            return good(seen[0])
        h.poll(read, 5)
        self.shot(step)
        assert good(seen[0]), '%s: pixel %s is %s, expected %s' % (what, at, seen[0], want)

    def expect_centre(self, rgb, what, tol=3, step=None, at=(kit.CX, kit.CY)):
        __tracebackhide__ = True
        self._expect_at(at, lambda p: h.close(p, rgb, tol), what, '%s (+-%d)' % (rgb, tol), step)

    def expect_tint(self, alpha, what, colour=DEFAULT_COLOUR, at=FREE, step=None):
        __tracebackhide__ = True
        self._expect_at(at, lambda p: kit.within_alpha(p, alpha, colour), what,
                        '%s (opacity %d)' % (h.blend_over_white(alpha, colour), alpha), step)

    def press_track(self, panel, x_px, what='a press on the slider'):
        """A click on the track at client x; returns the opacity it gives."""
        alpha = kit.slider_alpha(x_px)
        self.display.click(*kit.track_point(panel, x_px))
        self.expect_tint(alpha, '%s at track x=%d' % (what, x_px), step='press')
        return alpha

    def start_app(self):
        if not os.path.exists(h.EXE):
            pytest.fail('executable not built: ' + h.EXE, pytrace=False)
        os.makedirs(LOGS, exist_ok=True)
        p = self.wine.start(h.EXE, log_name=os.path.join(LOGS, self.name + '.log'))
        if self.proc is None:
            self.proc = p
        return p

    def start_with_environment(self, *changes):
        """Starts the tool from envprobe, a Windows parent (Wine fills in
        windir for a program started from Linux); returns its Windows pid."""
        out = self.wine.prefix + '-launch.json'
        if os.path.exists(out):
            os.remove(out)
        # Not wine.run: the tool inherits the launcher's output, and a
        # reader of those pipes would wait for the tool to end.
        self.wine.start(self.probes['envprobe'], self.wine.winpath(out), 'launch',
                        self.wine.winpath(h.EXE), *changes).wait(timeout=60)
        got = None
        with contextlib.suppress(OSError), open(out, encoding='utf-8') as f:
            got = json.load(f)
        assert got and 'pid' in got, 'envprobe could not start the tool: %s' % got
        return got['pid']

    def windows(self):
        return self.wine.windows(self.probes['winlist'])

    def overlay(self, wins=None):
        return next((w for w in (self.windows() if wins is None else wins)
                     if w['text'] == OVERLAY_CAPTION and w['visible']), None)

    def forms(self):
        """The tool's visible windows other than the overlay."""
        wins = self.windows()
        ov = self.overlay(wins)
        return [w for w in wins if ov and w['pid'] == ov['pid']
                and w['visible'] and w['hwnd'] != ov['hwnd']]

    def panel(self):
        return next((w for w in self.forms() if abs(w['client'][2] - PANEL_W) <= 3
                     and abs(w['client'][3] - PANEL_H) <= 3), None)

    def start_notepad(self):
        # By full path: a bare name goes through start.exe, another process.
        pad = self.wine.start('C:\\windows\\system32\\notepad.exe')
        xids = h.poll(lambda: self.display.windows_by_pid(pad.pid), 20, 0.3)
        assert xids, 'notepad did not open a window within 20 s'
        self.notepad_xid = xids[-1]
        return pad

    def message_box(self, pid=None):
        """The visible "already running" box (of that Windows pid), or None."""
        return next((w for w in self.windows() if w['visible']
                     and MESSAGE in [c['text'] for c in w['children']]
                     and pid in (None, w['pid'])), None)

    def start_second(self):
        """Starts a second instance: (its Popen, its "already running" box)."""
        second = self.start_app()
        box = h.poll(self.message_box, 20, 0.4)
        self.shot('msgbox')
        assert box, 'no window with the text %r within 20 s' % MESSAGE
        return second, box

    def answer_message(self, box, proc):
        """OK on proc's box: Return, or a click where the key missed it."""
        xids = self.display.windows_by_pid(proc.pid)
        if xids:
            self.display.activate(xids[-1])
        self.display.key('Return')
        if h.poll(lambda: proc.poll() is not None, 5) is None:
            button = [c for c in box['children']
                      if c['class'].lower() == 'button' and c['visible']][0]
            self.display.click(*centre(button))
            self.note('Return did not reach the box; clicked OK')
        assert h.poll(lambda: proc.poll() is not None, 10), \
            'the second instance still runs 15 s after its message was answered'

    def typed(self):
        return next((c['text'] for w in self.windows() if w['class'] == 'Notepad'
                     for c in w['children'] if c['class'] == 'Edit'), None)

    def focus_panel(self, panel):
        """Openbox leaves the X focus and the keys with notepad when another Wine program maps
        a window: a click on the panel's face (an interaction, nothing else) hands them over."""
        x, y, _, hgt = panel['client']
        self.display.click(x + 10, y + hgt - 10)

    def notepad_active(self):
        return self.display.active_window() == self.notepad_xid

    def focus_notepad(self):
        self.display.activate(self.notepad_xid)
        assert h.poll(self.notepad_active, 5, 0.05), \
            'notepad (%s) is not the active window 5 s after activating it: %s is' % (
                self.notepad_xid, self.display.active_window())

    # -- what the shared tests ask of a target ------------------------------

    focus_window = focus_notepad

    def describe_windows(self):
        return [(w['text'], w['client']) for w in self.windows() if w['visible']]

    def start_for_panel(self, expect_unsaved=False):
        self.start_and_settle()
        if expect_unsaved:
            assert self.settings() == {}, \
                'settings stored before any panel closed: %s' % self.settings()
        self.start_notepad()

    def forget_app(self):
        self.wine.kill()
        self.proc = None

    def start_click_probe(self):
        self.click_log = os.path.join(LOGS, self.name + '-clicks.log')
        os.makedirs(LOGS, exist_ok=True)
        if os.path.exists(self.click_log):
            os.remove(self.click_log)
        self.wine.start(self.probes['clickprobe'], self.wine.winpath(self.click_log))
        assert h.poll(lambda: os.path.exists(self.click_log), 30), \
            'clickprobe did not start within 30 s'

    def clicks_seen(self):
        with open(self.click_log, encoding='utf-8', errors='replace') as f:
            return [line.strip() for line in f.read().splitlines()]

    def colour_dialog(self):
        """The dialog with a Blue field (id 708), or None."""
        return next((w for w in self.windows() if w['visible'] and w['class'] == '#32770'
                     and any(c['id'] == 708 for c in w['children'])), None)

    def _type_fields(self, dlg, values):
        """Types values into the Red, Green, Blue fields (ids 706-708)."""
        kids = {c['id']: c for c in dlg['children']}
        for cid, value in zip((706, 707, 708), values):
            self.display.click(*centre(kids[cid]))
            self.display.key('End', 'BackSpace', 'BackSpace', 'BackSpace')
            self.display.xdotool('type', value)
        want = [str(v) for v in values]

        def fields():
            now = self.colour_dialog()
            texts = now and {c['id']: c['text'] for c in now['children']}
            return texts and [texts[i] for i in (706, 707, 708)][:len(want)]
        h.wait_until(lambda: fields() == want, 5,
                     'the colour dialog\'s fields showing %s' % want)
        return kids

    def _close_dialog(self, button):
        self.display.click(*centre(button))
        h.wait_until(lambda: self.colour_dialog() is None, 5,
                     'the colour dialog gone after a click on %r' % button['text'])

    def pick_colour(self, dlg, rgb):
        kids = self._type_fields(dlg, rgb)
        # The dialog takes a field's value as the field loses the focus.
        self.display.key('Tab')
        self._close_dialog(kids[1])  # OK

    def cancel_colour(self, dlg, rgb):
        """Types the colour's red part into the dialog, then Cancel."""
        kids = self._type_fields(dlg, rgb[:1])
        self._close_dialog(kids[2])

    def settings(self):
        return self.wine.reg_query(h.SETTINGS_KEY)

    def store(self, **values):
        for name, data in values.items():
            self.wine.reg_add(h.SETTINGS_KEY, name, data)

    def system32(self):
        return os.path.join(self.wine.prefix, 'drive_c', 'windows', 'system32')

    def wait_components(self, what='', timeout=15):
        """The paths of both component files once there: the step runs
        beside the first frames, so a tint does not mean they are written."""
        __tracebackhide__ = True

        def paths():
            found = [find_in(self.system32(), n) for n in COMPONENTS]
            return found if all(found) else None
        found = h.poll(paths, timeout, 0.2)
        missing = [n for n in COMPONENTS if not find_in(self.system32(), n)]
        assert found, '%s%s not written to C:\\windows\\system32 within %d s' \
            % (what + ': ' if what else '', ' and '.join(missing), timeout)
        return found

    def expect_components(self, what=''):
        """As wait_components; each file must be its embedded slot file."""
        paths = self.wait_components(what)
        for name, path in zip(COMPONENTS, paths):
            slot = os.path.join(h.COMPONENTS, name)
            if not os.path.exists(slot):
                self.note('no slot file at ' + slot)
                continue
            with open(path, 'rb') as a, open(slot, 'rb') as b:
                assert a.read() == b.read(), '%s%s differs from the embedded slot file' % (
                    what + ': ' if what else '', name)
        return paths

    def registration(self):
        return h.reg_values(self.wine, COMPONENTS_KEY).get('COMDLG32')

    def wait_registration(self, what):
        assert h.poll(self.registration, 10, 1.0), '%s: no record of the COMDLG32 ' \
            'registration under %s within 10 s' % (what, COMPONENTS_KEY)

    def unix_pids(self):
        """The tool's processes in this prefix, however it was started."""
        r = subprocess.run(['pgrep', '-f', h.APP_TITLE + 'V1.0.exe'],
                           capture_output=True, text=True, check=False)
        mine = ('WINEPREFIX=' + self.wine.prefix).encode()
        pids = []
        for pid in map(int, r.stdout.split()):
            with contextlib.suppress(OSError), open('/proc/%d/environ' % pid, 'rb') as f:
                if mine in f.read().split(b'\0'):
                    pids.append(pid)
        return pids

    def running(self):
        return bool(self.unix_pids())

    def xids(self, pids=None):
        pids = self.unix_pids() if pids is None else pids
        return [x for pid in pids for x in self.display.windows_by_pid(pid)]

    def stop_tool(self):
        """Kills the tool (not notepad) and waits for its windows to go."""
        pids = self.unix_pids()
        for pid in pids:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        h.wait_until(lambda: not self.running(), 10, 'the tool ended', interval=0.1)
        if self.proc is not None:
            self.proc.wait()
            self.proc = None
        h.wait_until(lambda: not self.xids(pids), 5, 'the windows of the killed tool gone')

    def overlay_xid(self):
        """The tool's one X window while no splash or panel is up."""
        xids = h.poll(self.xids, 10, 0.2)
        assert xids and len(xids) == 1, \
            'expected the overlay alone on screen, the tool shows X windows %s' % xids
        return xids[0]

    def close_panel_alt_f4(self, overlay, timeout=5):
        panels = [x for x in self.xids() if x != overlay]
        assert panels, 'no panel window to close (tool windows: %s)' % self.xids()
        # The panel may be gone before the key's release is sent: no check.
        self.display.xdotool('windowactivate', '--sync', panels[0], 'key', 'alt+F4',
                             check=False, timeout=10)
        gone = h.poll(lambda: all(x == overlay for x in self.xids()), timeout, 0.05)
        assert gone, 'the panel is still up %d s after Alt+F4' % timeout
