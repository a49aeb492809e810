"""Xorg with the dummy driver: two monitors (DUMMY0 1024x768 primary at 0,0;
DUMMY1 800x600 right of it, on or off) with CRTC gamma ramps, which Xvfb
lacks. It runs as root (no seat), off the consoles, with no input hardware
(xdotool uses XTEST). start() raises XorgUnavailable where it cannot run."""

import os
import re
import shutil
import subprocess

import harness
from harness import HarnessError, log, wait_until

DRIVER = '/usr/lib/xorg/modules/drivers/dummy_drv.so'
PRIMARY, SECOND = 'DUMMY0', 'DUMMY1'
PRIMARY_SIZE, SECOND_SIZE = (1024, 768), (800, 600)
SECOND_MODE = '800x600_60'
# A CVT-style 60 Hz timing for 800x600; the dummy driver takes any mode
# inside the Monitor's sync ranges.
SECOND_MODELINE = '38.25 800 832 912 1024 600 603 607 624 -hsync +vsync'.split()
LAYOUT = [(PRIMARY, 0, 0) + PRIMARY_SIZE + (True,), (SECOND, 1024, 0) + SECOND_SIZE + (False,)]

CONFIG = '''\
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy-card"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "dummy-monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
EndSection
Section "Screen"
    Identifier "dummy-screen"
    Device "dummy-card"
    Monitor "dummy-monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 2048 768
    EndSubSection
EndSection
'''

# Errors every start logs, whatever else goes wrong: no system bus, and no
# input drivers for the core devices the server tries by default.
_LOG_NOISE = ('dbus-core:', 'module "mouse"', 'module "kbd"', '(WW) warning, (EE) error')


class XorgUnavailable(HarnessError):
    """This machine cannot run Xorg with the dummy driver."""


_MONITOR_LINE = re.compile(r'^\s*\d+:\s+\+?(\*?)(\S+)\s+(\d+)/\d+x(\d+)/\d+\+(-?\d+)\+(-?\d+)')


def parse_monitors(text):
    """[(name, x, y, w, h, primary)] from `xrandr --listmonitors`."""
    found = (_MONITOR_LINE.match(line) for line in text.splitlines())
    return [(name, int(x), int(y), int(w), int(h), star == '*')
            for star, name, w, h, x, y in (m.groups() for m in found if m)]


def near(ramp, other, tol=256):
    """Two gamma ramps the same within tol; 256 as xrandr writes i*65535/(size-1) for 1.0
    where the server starts with i*256."""
    return len(ramp) == len(other) and all(abs(a - b) <= tol for a, b in zip(ramp, other))


class XorgDummyDisplay(harness.Display):
    """Xorg with openbox, xcompmgr unless told otherwise, and a white desktop."""

    KIND = 'xorg-dummy'

    def __init__(self, compositor=True, logdir=None):
        super().__init__(PRIMARY_SIZE[0] + SECOND_SIZE[0], PRIMARY_SIZE[1], logdir)
        self.compositor = compositor

    def _errors_logged(self):
        try:
            with open(os.path.join(self.logdir, 'xorg.log'), errors='replace') as f:
                lines = [ln.rstrip() for ln in f if ('(EE)' in ln or 'Fatal' in ln)
                         and not any(s in ln for s in _LOG_NOISE)]
        except OSError:
            return '(no server log)'
        return '\n'.join(lines[-12:]) or '(no errors in the server log)'

    def start_server(self):
        missing = [t for t in ('Xorg', 'xrandr', 'xdotool') if not shutil.which(t)]
        if not os.path.exists(DRIVER):
            missing.append('xserver-xorg-video-dummy')
        if missing:
            raise XorgUnavailable('missing: ' + ', '.join(missing))
        if os.geteuid() != 0:
            raise XorgUnavailable('Xorg without a seat needs root')
        conf = os.path.join(self.logdir, 'xorg-dummy.conf')
        with open(conf, 'w') as f:
            f.write(CONFIG)
        # An empty folder instead of /etc/X11/xorg.conf.d (with one file:
        # Xorg logs an error for a folder without any).
        confdir = os.path.join(self.logdir, 'xorg.conf.d')
        os.makedirs(confdir, exist_ok=True)
        open(os.path.join(confdir, '00-nothing.conf'), 'w').close()
        try:
            xorg, self.name = harness.spawn_server(
                ['Xorg', '-config', conf, '-configdir', confdir, '-noreset', '-nolisten', 'tcp',
                 '-logfile', os.path.join(self.logdir, 'xorg.log'), '-logverbose', '3',
                 '-sharevts', '-novtswitch', '-s', '0', '-dpms'],  # the screen never blanks
                os.path.join(self.logdir, 'xorg-stderr.log'))
        except HarnessError as e:
            raise XorgUnavailable('%s:\n%s' % (e, self._errors_logged())) from None
        self.procs.append(xorg)
        self.env = dict(os.environ, DISPLAY=self.name)
        self.xrandr('--output', PRIMARY, '--mode', '%dx%d' % PRIMARY_SIZE, '--pos', '0x0',
                    '--primary')
        self.xrandr('--newmode', SECOND_MODE, *SECOND_MODELINE)
        self.xrandr('--addmode', SECOND, SECOND_MODE)
        self.set_second_monitor(True)

    def white_points(self):
        return [(x + w // 2, y + h // 2) for _, x, y, w, h, _ in self.monitors()]

    def check_ready(self):
        """Both monitors, the second one switched and reached, own gamma each."""
        self.expect_layout(LAYOUT)
        self.set_second_monitor(False)
        self.expect_layout(LAYOUT[:1])
        self.set_second_monitor(True)
        self.expect_layout(LAYOUT)
        was = self.pointer()
        self.move(1500, 300)
        self.move(*was)
        identity = {}
        for output in (PRIMARY, SECOND):
            identity[output] = ramps = self.gamma(output)
            if not (len(ramps[0]) > 0 and ramps[0] == ramps[1] == ramps[2]):
                raise HarnessError('%s: not the same ramp for red, green and blue at start '
                                   '(sizes %s)' % (output, [len(r) for r in ramps]))
        self.set_gamma(SECOND, 1.0, 0.8, 0.5)
        try:
            red, green, blue = got = self.gamma(SECOND)
            mid = len(red) // 2
            if not (near(red, identity[SECOND][0]) and blue[mid] < green[mid] < red[mid] - 4000
                    and self.gamma(PRIMARY) == identity[PRIMARY]):
                raise HarnessError('gamma 1:0.8:0.5 on %s reads back as %s in the middle, and %s '
                                   'changed: %s' % (SECOND, [r[mid] for r in got], PRIMARY,
                                                    self.gamma(PRIMARY) != identity[PRIMARY]))
        finally:
            self.set_gamma(SECOND)
        if not all(near(a, b) for a, b in zip(self.gamma(SECOND), identity[SECOND])):
            raise HarnessError('gamma 1:1:1 on %s did not give the identity back' % SECOND)
        log('xorg-dummy: %s up, monitors %s' % (self.name, self.monitors()))

    def xrandr(self, *args):
        r = subprocess.run(['xrandr'] + [str(a) for a in args], env=self.env,
                           capture_output=True, text=True, timeout=30, check=False)
        if r.returncode != 0:
            raise HarnessError('xrandr %s: %s' % (' '.join(map(str, args)), r.stderr.strip()))
        return r.stdout

    def monitors(self):
        return parse_monitors(self.xrandr('--listmonitors'))

    def expect_layout(self, want):
        geo = self.x().screen().root.get_geometry()
        size = (max(m[1] + m[3] for m in want), max(m[2] + m[4] for m in want))
        if self.monitors() != want or (geo.width, geo.height) != size:
            raise HarnessError('%s has monitors %s on a %dx%d screen, not %s on %dx%d' % (
                self.name, self.monitors(), geo.width, geo.height, want, *size))

    def set_second_monitor(self, on):
        if on:
            self.xrandr('--output', SECOND, '--mode', SECOND_MODE, '--right-of', PRIMARY)
        else:
            self.xrandr('--output', SECOND, '--off')
        if not wait_until(lambda: any(m[0] == SECOND for m in self.monitors()) == on, 10, 0.05):
            raise HarnessError('RandR on %s never showed %s %s (has %s)' % (
                self.name, SECOND, 'on' if on else 'off', self.monitors()))
        geo = self.x().screen().root.get_geometry()
        self.width, self.height = geo.width, geo.height

    def gamma(self, output=PRIMARY):
        """The CRTC gamma ramps of an output: (red, green, blue) 16-bit lists."""
        d = self.x()
        res = d.screen().root.xrandr_get_screen_resources_current()
        for o in res.outputs:
            info = d.xrandr_get_output_info(o, res.config_timestamp)
            if info.name == output:
                if not info.crtc:
                    raise HarnessError('%s is off: no CRTC' % output)
                g = d.xrandr_get_crtc_gamma(info.crtc)
                return list(g.red), list(g.green), list(g.blue)
        raise HarnessError('no output %s on %s' % (output, self.name))

    def set_gamma(self, output, red=1.0, green=1.0, blue=1.0):
        self.xrandr('--output', output, '--gamma', '%g:%g:%g' % (red, green, blue))


# The tests ask for it by kind (conftest's display fixture).
harness.DISPLAY_KINDS[XorgDummyDisplay.KIND] = XorgDummyDisplay
