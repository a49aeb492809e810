"""The native program (GTK) on a test X display, with XDG_CONFIG_HOME and
XDG_RUNTIME_DIR of its own under build/native-e2e/<test>/."""

import configparser
import os
import pwd
import shutil
import subprocess

import harness as h
import scenario_kit as kit
from scenario_kit import PANEL_H, PANEL_W

BIN = os.path.join(h.BUILD, 'linux', 'bin', 'morvane-night')
NATIVE = os.path.join(h.BUILD, 'native-e2e')
SHOTS = os.path.join(NATIVE, 'shots')
SETTINGS_DIR = h.APP_TITLE  # under $XDG_CONFIG_HOME
DIALOG_TITLE = '颜色'
FRAME = 3  # the dialog frame drawn round the panel and the splash
# The user's own folder of the program: its lock and its ramp record, the
# same whatever the environment says.
PRIVATE = os.path.join(pwd.getpwuid(os.getuid()).pw_dir, '.cache', 'morvane-night')


def read_settings(path):
    """{key: text} of a key file's [Settings] group; {} without the file."""
    ini = configparser.ConfigParser(interpolation=None, strict=False)
    ini.optionxform = str  # keys keep their case
    ini.read(path, encoding='utf-8')
    return dict(ini['Settings']) if ini.has_section('Settings') else {}


class NativeApp(kit.BaseApp):
    SHOTS = SHOTS
    PANEL_HEADINGS = True
    DIALOG = 'colour chooser'
    DIALOG_OK = 'Select'
    DIALOG_STAY = 6.0

    def __init__(self, name, display, probe=None, root=NATIVE):
        super().__init__(name, display)
        self.probe = probe
        self.base = os.path.join(root, name)
        shutil.rmtree(self.base, ignore_errors=True)
        self.config = os.path.join(self.base, 'config')
        self.runtime = os.path.join(self.base, 'runtime')
        os.makedirs(self.config)
        os.makedirs(self.runtime, mode=0o700)
        self.env = dict(display.env, XDG_CONFIG_HOME=self.config,
                        XDG_RUNTIME_DIR=self.runtime, GDK_BACKEND='x11',
                        NO_AT_BRIDGE='1', GSETTINGS_BACKEND='memory',
                        LANG=h.locale_name(), LC_ALL=h.locale_name())
        self.env.pop('WAYLAND_DISPLAY', None)
        self.procs, self.probe_log, self.probe_xid = [], None, None

    def stop(self):
        h.stop_all(self.procs)
        self.procs = []

    def ini_path(self):
        return os.path.join(self.config, SETTINGS_DIR, 'settings.ini')

    def write_ini(self, data):
        os.makedirs(os.path.dirname(self.ini_path()), exist_ok=True)
        with open(self.ini_path(), 'wb') as f:
            f.write(data if isinstance(data, bytes) else data.encode())

    def settings(self):
        return read_settings(self.ini_path())

    def store(self, **values):
        self.write_ini('[Settings]\n' + ''.join('%s=%s\n' % kv for kv in values.items()))

    def start_app(self):
        assert os.path.exists(BIN), 'program not built: ' + BIN
        self.log = os.path.join(self.base, 'app-%d.log' % len(self.procs))
        with open(self.log, 'wb') as log:
            p = subprocess.Popen([BIN], env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=log, stderr=subprocess.STDOUT)
        self.procs.append(p)
        self.proc = self.proc or p
        return p

    def output(self):
        """What the program started last has written."""
        with open(self.log, errors='replace') as f:
            return f.read()

    def records(self):
        """The ramp record of this display's X server, where there is one."""
        name = 'ramps-_' + self.display.name.lstrip(':').split('.')[0]
        return [name] if os.path.exists(os.path.join(PRIVATE, name)) else []

    def windows(self, proc=None):
        """Visible top-level windows of a process: [(xid, name, x, y, w, h)]."""
        d = self.display
        return [(xid, d.window_name(xid)) + geo
                for xid in d.windows_by_pid((proc or self.proc).pid)
                for geo in [d.window_geometry(xid)] if geo is not None]

    def panel(self):
        """The panel's client area (x, y, w, h) on screen, or None."""
        for _, _, x, y, w, hgt in self.windows():
            if abs(w - PANEL_W - 2 * FRAME) <= 3 and abs(hgt - PANEL_H - 2 * FRAME) <= 3:
                return x + FRAME, y + FRAME, w - 2 * FRAME, hgt - 2 * FRAME
        return None

    def colour_dialog(self):
        return next((w for w in self.windows() if w[1] == DIALOG_TITLE), None)

    def start_click_probe(self):
        """The white window beneath everything (gtkclickprobe)."""
        self.probe_log = os.path.join(self.base, 'probe.log')
        p = subprocess.Popen([self.probe, self.probe_log], env=self.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        h.wait_until(lambda: os.path.exists(self.probe_log) and 'ready' in
                     open(self.probe_log).read(), 10, 'the click probe starting')
        self.probe_xid = int(open(self.probe_log).read().split()[1])
        return p

    def probe_lines(self):
        return open(self.probe_log).read().splitlines()

    def keys_seen(self):
        return [line[4:] for line in self.probe_lines() if line.startswith('key ')]

    def typed(self):
        return ''.join(k for k in self.keys_seen() if len(k) == 1)

    def focus_window(self):
        self.display.activate(self.probe_xid)
        active = h.poll(lambda: self.display.active_window() == self.probe_xid, 3, 0.05)
        assert active, 'the probe window does not have the focus (active window %r)' % (
            self.display.active_window(),)

    # What the shared tests ask of a target:
    clicks_seen = probe_lines
    describe_windows = windows

    def start_for_panel(self, expect_unsaved=False):
        """Starts the probe, which has the focus for F7, then the program."""
        self.start_click_probe()
        self.start_and_settle()

    def expect_key_seen(self):
        assert any(line.startswith('key ') for line in self.probe_lines()), \
            'the probe, which had the focus, saw no key press: %s' % (self.probe_lines(),)

    def wait_keys_back(self):
        super().wait_keys_back()
        h.wait_until(lambda: self.display.active_window() ==
                     self.probe_xid, 5, 'the probe active again')

    def message_box(self, proc, timeout=10):
        """[The "already running" window] of a second start; None if not up."""
        return h.poll(lambda: proc.poll() is None and [
            w for w in self.windows(proc) if w[1] == h.APP_TITLE], timeout)

    def answer(self, box, proc, timeout=10):
        self.display.xdotool('windowfocus', '--sync', box[0][0])
        self.display.key('Return')
        assert h.poll(lambda: proc.poll() is not None, timeout), \
            'still running %g s after Return on its message' % timeout

    def forget_app(self):
        self.proc = None

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
        self.shot('typed')
        self.display.key('alt+s')

    def cancel_colour(self, dlg, rgb):
        self._type_colour(dlg, rgb)
        self.display.key('Escape')
        assert h.poll(lambda: self.colour_dialog() is None, 5), \
            'colour chooser still open after Escape'
        self.steady()
