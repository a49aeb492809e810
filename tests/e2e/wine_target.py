"""The Windows executable under Wine, as the end-to-end tests drive it.

WineApp is the program in one Wine prefix on one display: it starts the
executable, reads the windows of the prefix's desktop (winlist.exe), the
stored settings (`reg query`), and gives the focus to a notepad of the
test's own before a key press: a Wine program sees a key only while a Wine
window has the keyboard focus.
"""

import os
import signal
import subprocess
import time

import harness as h
import scenario_kit as kit
from scenario_kit import OVERLAY_CAPTION, PANEL_H, PANEL_W

SHOTS = os.path.join(h.E2E, 'shots')
LOGS = os.path.join(h.E2E, 'logs')


MESSAGE = 'Morvane夜间模式工具已经启动，欢迎继续使用。'
COMPONENTS = ('CMDLGCHS.DLL', 'COMDLG32.ocx')


def find_in(folder, name):
    """The file of that name in folder, whatever its case, or None."""
    if not os.path.isdir(folder):
        return None
    for f in os.listdir(folder):
        if f.lower() == name.lower():
            return os.path.join(folder, f)
    return None


class WineApp(kit.BaseApp):
    """The program in its own prefix on a display shared with other tests."""

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
        self.notepad_xid = None
        self.click_log = None

    def expect_centre(self, rgb, what, tol=3, step=None, at=(kit.CX, kit.CY)):
        __tracebackhide__ = True
        return self.expect_pixel(rgb, what, at=at, tol=tol, step=step)

    # -- the program --------------------------------------------------------

    def start_app(self):
        if not os.path.exists(h.EXE):
            self.fail('executable not built: ' + h.EXE)
        log = os.path.join(LOGS, self.name + '.log')
        os.makedirs(LOGS, exist_ok=True)
        p = self.wine.start(h.EXE, log_name=log)
        if self.proc is None:
            self.proc = p
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

    def message_box(self, pid=None):
        """The visible "already running" box (of the process with that
        Windows pid, when given), or None."""
        for w in self.windows():
            texts = [c['text'] for c in w['children']]
            if w['visible'] and MESSAGE in texts and pid in (None, w['pid']):
                return w
        return None

    def answer_message(self, box, proc):
        """OK on a message box of the process `proc`: Return, or where the
        focus did not land on the box, a click on its button."""
        xids = self.display.windows_by_pid(proc.pid)
        if xids:
            self.display.activate(xids[-1])
        self.display.key('Return')
        if h.wait_until(lambda: proc.poll() is not None, 5) is None:
            button = [c for c in box['children']
                      if c['class'].lower() == 'button' and c['visible']][0]
            x, y, w, hgt = button['client']
            self.display.click(x + w // 2, y + hgt // 2)
            self.note('Return did not reach the box; clicked OK')
        self.check(h.wait_until(lambda: proc.poll() is not None, 10),
                   'the second instance still runs 15 s after its message '
                   'was answered')

    def typed(self):
        """The text in notepad."""
        for w in self.windows():
            if w['class'] == 'Notepad':
                for c in w['children']:
                    if c['class'] == 'Edit':
                        return c['text']
        return None

    def focus_panel(self, panel):
        """Openbox leaves the X focus with notepad, and the keys with it,
        when a window of another Wine program maps: a click on the panel's
        own surface (an interaction, nothing else) hands them over."""
        x, y, _, hgt = panel['client']
        self.display.click(x + 10, y + hgt - 10)

    def focus_notepad(self):
        self.display.activate(self.notepad_xid)
        time.sleep(0.4)

    # -- what the shared tests ask of a target ------------------------------

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
        self.proc = None

    def start_click_probe(self):
        """Starts the white click-logging window (clickprobe.exe) beneath
        everything."""
        self.click_log = os.path.join(LOGS, self.name + '-clicks.log')
        os.makedirs(LOGS, exist_ok=True)
        if os.path.exists(self.click_log):
            os.remove(self.click_log)
        self.wine.start(self.probes['clickprobe'],
                        self.wine.winpath(self.click_log))
        self.check(h.wait_until(lambda: os.path.exists(self.click_log), 30),
                   'clickprobe did not start')

    def clicks_seen(self):
        """The click probe's log lines: "down <x> <y>" per press."""
        with open(self.click_log, encoding='utf-8', errors='replace') as f:
            return [line.strip() for line in f.read().splitlines()]

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

    # -- the component step -------------------------------------------------

    def system32(self):
        return os.path.join(self.wine.prefix, 'drive_c', 'windows',
                            'system32')

    def wait_components(self, what='', timeout=15):
        """Waits until both component files are in the system folder and
        returns their paths. The step runs beside the first frames, so the
        tint on screen does not mean the files are there yet; each file
        appears whole (written beside, then moved into place)."""
        __tracebackhide__ = True

        def paths():
            found = [find_in(self.system32(), n) for n in COMPONENTS]
            return found if all(found) else None
        found = h.wait_until(paths, timeout, 0.2)
        missing = [n for n in COMPONENTS if not find_in(self.system32(), n)]
        self.check(found, '%s%s not written to C:\\windows\\system32 '
                   'within %d s' % (what + ': ' if what else '',
                                    ' and '.join(missing), timeout))
        return found

    def store(self, **values):
        for name, data in values.items():
            self.wine.reg_add(h.SETTINGS_KEY, name, data)

    # -- the tool's processes, however it was started -----------------------

    def unix_pids(self):
        """The Unix processes of the tool in this prefix, however it was
        started (a Windows parent's children are not our Popen)."""
        r = subprocess.run(['pgrep', '-f', h.APP_TITLE + 'V1.0.exe'],
                           capture_output=True, text=True, check=False)
        pids = []
        for pid in r.stdout.split():
            try:
                with open('/proc/%s/environ' % pid, 'rb') as f:
                    env = f.read().split(b'\0')
            except OSError:
                continue
            if ('WINEPREFIX=' + self.wine.prefix).encode() in env:
                pids.append(int(pid))
        return pids

    def running(self):
        return bool(self.unix_pids())

    def xids(self):
        """The tool's visible X windows."""
        xids = []
        for pid in self.unix_pids():
            xids += self.display.windows_by_pid(pid)
        return xids

    def stop_tool(self):
        """Ends the tool's processes (ours, by pid) and waits until they are
        gone; notepad and the rest of the prefix stay up."""
        for pid in self.unix_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.check(h.wait_until(lambda: not self.running(), 10, 0.1),
                   'the tool did not end')
        if self.proc is not None:
            self.proc.wait()
            self.proc = None
        time.sleep(0.3)

    def overlay_xid(self):
        """The X window of the overlay: the tool's one visible window while
        no splash or panel is up."""
        xids = h.wait_until(self.xids, 10, 0.2)
        self.check(xids and len(xids) == 1, 'expected the overlay alone on '
                   'screen, the tool shows X windows %s' % xids)
        return xids[0]

    def close_panel_alt_f4(self, overlay, timeout=5):
        """Alt+F4 on the panel: it closes through its normal unload, which
        stores both values."""
        panels = [x for x in self.xids() if x != overlay]
        self.check(panels, 'no panel window to close')
        # The panel may be gone before the key's release is sent: no check.
        self.display.xdotool('windowactivate', '--sync', panels[0], 'key',
                             'alt+F4', check=False, timeout=10)
        gone = h.wait_until(lambda: all(x == overlay for x in self.xids()),
                            timeout, 0.05)
        self.check(gone, 'the panel is still up %d s after Alt+F4' % timeout)
