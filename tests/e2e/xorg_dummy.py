"""A display of a second kind for the end-to-end tests: a real X server
(Xorg) with the dummy video driver and two monitors side by side, so a test
can check the tint on both monitors, monitors coming and going, and the
CRTC gamma ramps. Xvfb has a single fixed screen and no gamma.

    DUMMY0  1024x768 at (0, 0), primary
    DUMMY1   800x600 at (1024, 0), on or off (set_second_monitor)

The X screen is the bounding box of the monitors: 1824x768 with both,
1024x768 with DUMMY0 alone (width and height follow it); Virtual 2048x768
in the configuration only sets what the server starts with. Programs see a
change soon after (docs/performance.md has the figures), though Wine sends
no WM_DISPLAYCHANGE for it.

The root window is painted white as on harness.Display, so a tinted pixel
reads 255 - a*(255-c)/255 per channel. The class has the interface of
harness.Display (name, env, start, stop, shot, pixel_rgb, xdotool, move,
click, drag, key, activate, windows_by_pid, width and height of the whole
screen), so a scenario runs on either:

    d = XorgDummyDisplay(compositor=False).start()
    try:
        print(d.monitors())        # [('DUMMY0', 0, 0, 1024, 768, True), ...]
        d.set_second_monitor(False)
        red, green, blue = d.gamma('DUMMY0')
    finally:
        d.stop()

Xorg must run as root here (there is no seat); it is kept off the consoles
with -sharevts -novtswitch and reads no system xorg.conf.d. There is no
input hardware (AutoAddDevices off): xdotool drives the XTEST devices every
X server has. start() raises XorgUnavailable when this machine cannot run
the server (not installed, not root, no /dev/tty0...), so a test can skip.

Needs Xorg, the dummy driver, xrandr, xdpyinfo and, for gamma(), Debian's
python3-xlib (so run it with /usr/bin/python3); see scripts/setup.
"""

import os
import re
import shutil
import subprocess
import time

import harness
from harness import HarnessError, log, wait_until

LOGDIR = os.path.join(harness.E2E, 'xorg-dummy')
DRIVER = '/usr/lib/xorg/modules/drivers/dummy_drv.so'

PRIMARY = 'DUMMY0'
SECOND = 'DUMMY1'
PRIMARY_SIZE = (1024, 768)
SECOND_SIZE = (800, 600)
SECOND_MODE = '800x600_60'
# A CVT-style 60 Hz timing for 800x600; the dummy driver takes any mode
# inside the Monitor's sync ranges.
SECOND_MODELINE = ['38.25', '800', '832', '912', '1024', '600', '603', '607',
                   '624', '-hsync', '+vsync']
VIRTUAL = (2048, 768)

# Harness' Xvfb displays take :90 to :189; these start above them so that
# both kinds, started in parallel, do not race for one number.
FIRST_NUMBER, LAST_NUMBER = 200, 299

CONFIG = '''\
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "DontVTSwitch" "true"
    Option "BlankTime" "0"
    Option "StandbyTime" "0"
    Option "SuspendTime" "0"
    Option "OffTime" "0"
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
        Virtual %d %d
    EndSubSection
EndSection
''' % VIRTUAL


# Errors every start logs here, whatever else goes wrong: no system bus,
# and no input drivers for the core devices the server tries by default.
_LOG_NOISE = ('dbus-core:', 'module "mouse"', 'module "kbd"',
              '(WW) warning, (EE) error')


class XorgUnavailable(HarnessError):
    """This machine cannot run Xorg with the dummy driver at all."""


def missing_tools():
    """What this display needs and the machine lacks ([] when nothing)."""
    missing = [t for t in ('Xorg', 'xrandr', 'xdpyinfo', 'import', 'xdotool')
               if not shutil.which(t)]
    if not os.path.exists(DRIVER):
        missing.append('xserver-xorg-video-dummy')
    return missing


_MONITOR_LINE = re.compile(
    r'^\s*\d+:\s+\+?(\*?)(\S+)\s+(\d+)/\d+x(\d+)/\d+\+(-?\d+)\+(-?\d+)')


def parse_monitors(text):
    """[(name, x, y, w, h, primary)] from `xrandr --listmonitors`."""
    out = []
    for line in text.splitlines():
        m = _MONITOR_LINE.match(line)
        if m:
            star, name, w, h, x, y = m.groups()
            out.append((name, int(x), int(y), int(w), int(h), star == '*'))
    return out


class XorgDummyDisplay(harness.Display):
    """Xorg (dummy driver, two monitors), optionally with openbox and
    xcompmgr, on a free display number; white desktop."""

    KIND = 'xorg-dummy'

    def __init__(self, compositor=True, window_manager=True,
                 second_monitor=True, logdir=LOGDIR):
        super().__init__(PRIMARY_SIZE[0] + SECOND_SIZE[0], PRIMARY_SIZE[1],
                         logdir)
        self.compositor = compositor
        self.window_manager = window_manager
        self.second_at_start = second_monitor
        self.env = dict(os.environ)
        self.number = None
        self.xorg = None
        # Where DUMMY1 goes when it is turned on: xrandr's relative
        # placement (right-of, left-of, above, below) or an 'XxY' position.
        self._second_place = ('--right-of', PRIMARY)
        self.started_in = None  # seconds from spawn to a layout in place

    # -- server -------------------------------------------------------------

    def _free_number(self):
        for n in range(FIRST_NUMBER, LAST_NUMBER + 1):
            if not (os.path.exists('/tmp/.X%d-lock' % n)
                    or os.path.exists('/tmp/.X11-unix/X%d' % n)):
                return n
        raise HarnessError('no free X display number between :%d and :%d' %
                           (FIRST_NUMBER, LAST_NUMBER))

    def _server_log(self):
        return os.path.join(self.logdir, 'xorg-%d.log' % self.number)

    def _log_tail(self, n=12):
        try:
            with open(self._server_log(), errors='replace') as f:
                lines = [ln.rstrip() for ln in f
                         if ('(EE)' in ln or 'Fatal' in ln)
                         and not any(n in ln for n in _LOG_NOISE)]
        except OSError:
            return '(no server log)'
        return '\n'.join(lines[-n:]) or '(no errors in the server log)'

    def _start_server(self):
        """Spawns Xorg on a free number and waits until it answers."""
        missing = missing_tools()
        if missing:
            raise XorgUnavailable('missing: ' + ', '.join(missing))
        if os.geteuid() != 0:
            raise XorgUnavailable('Xorg without a seat needs root')
        conf = os.path.join(self.logdir, 'xorg-dummy.conf')
        with open(conf, 'w') as f:
            f.write(CONFIG)
        # An empty folder instead of /etc/X11/xorg.conf.d: nothing of the
        # machine's own configuration comes in.
        confdir = os.path.join(self.logdir, 'xorg.conf.d')
        os.makedirs(confdir, exist_ok=True)
        with open(os.path.join(confdir, '00-nothing.conf'), 'w') as f:
            f.write('# Xorg logs an error for a folder without a file\n')
        for attempt in range(3):
            self.number = self._free_number()
            self.name = ':%d' % self.number
            self.env = dict(os.environ, DISPLAY=self.name)
            cmd = ['Xorg', self.name, '-config', conf, '-configdir', confdir,
                   '-noreset', '-nolisten', 'tcp',
                   '-logfile', self._server_log(), '-logverbose', '3',
                   # No console of our own: stay on the VT we are given,
                   # never switch VTs, and keep no keyboard of it.
                   '-sharevts', '-novtswitch']
            # Its stderr beside its log: a number taken under our feet
            # shows there only.
            xorg = self._spawn('xorg-%d-stderr' % self.number, cmd,
                               os.environ)
            # The lock must hold our pid: a server started a moment before
            # on the same number answers too, and ours then gives up.
            if wait_until(lambda: xorg.poll() is not None or (
                    self._holds_lock(xorg) and harness.x_answers(self.name)), 20) \
                    and xorg.poll() is None:
                self.xorg = xorg
                return
            self.procs.remove(xorg)
            if xorg.poll() is None:
                xorg.kill()
            xorg.wait()
            lock_taken = 'already active' in self._read_output(self.number)
            if not lock_taken:
                break
        raise XorgUnavailable('Xorg would not start on %s:\n%s' %
                              (self.name, self._log_tail()))

    def _holds_lock(self, proc):
        try:
            with open('/tmp/.X%d-lock' % self.number) as f:
                return int(f.read().strip() or 0) == proc.pid
        except (OSError, ValueError):
            return False

    def _read_output(self, number):
        try:
            with open(os.path.join(self.logdir,
                                   'xorg-%d-stderr.log' % number),
                      errors='replace') as f:
                return f.read()
        except OSError:
            return ''

    def start(self):
        os.makedirs(self.logdir, exist_ok=True)
        t0 = time.monotonic()
        self._start_server()
        try:
            self.xrandr('--output', PRIMARY, '--mode', '%dx%d' % PRIMARY_SIZE,
                        '--pos', '0x0', '--primary')
            self.xrandr('--newmode', SECOND_MODE, *SECOND_MODELINE)
            self.xrandr('--addmode', SECOND, SECOND_MODE)
            self.set_second_monitor(self.second_at_start)
            self.started_in = time.monotonic() - t0
            if self.window_manager:
                self._spawn('openbox-%d' % self.number,
                            ['openbox', '--sm-disable'], self.env)
            self._paint_white()
            if self.compositor:
                self._spawn('xcompmgr-%d' % self.number, ['xcompmgr'],
                            self.env)
                time.sleep(1.0)
            for name, x, y, w, h, _ in self.monitors():
                if not wait_until(lambda: self.pixel_rgb(x + w // 2,
                                                         y + h // 2)
                                  == (255, 255, 255), 10):
                    raise HarnessError('the desktop of %s is not white on %s'
                                       % (self.name, name))
        except BaseException:
            self.stop()
            raise
        log('xorg-dummy: %s up in %.2f s, monitors %s' %
            (self.name, self.started_in, self.monitors()))
        return self

    def _paint_white(self):
        """A white root: harness' painter makes a pixmap of the current
        screen size, which the root and xcompmgr tile, so the desk stays
        white when the screen grows."""
        harness._paint_root_white(self.name)

    def stop(self):
        super().stop()
        self.xorg = None

    # -- layout -------------------------------------------------------------

    def xrandr(self, *args):
        r = subprocess.run(['xrandr'] + [str(a) for a in args], env=self.env,
                           capture_output=True, text=True, timeout=30,
                           check=False)
        if r.returncode != 0:
            raise HarnessError('xrandr %s: %s' % (' '.join(map(str, args)),
                                                  r.stderr.strip()))
        return r.stdout

    def monitors(self):
        """[(name, x, y, w, h, primary)] of the active monitors, as RandR
        tells them (xrandr --listmonitors), primary first."""
        return parse_monitors(self.xrandr('--listmonitors'))

    def root_size(self):
        out = subprocess.run(['xdpyinfo'], env=self.env, capture_output=True,
                             text=True, timeout=30, check=False).stdout
        m = re.search(r'dimensions:\s+(\d+)x(\d+) pixels', out)
        if not m:
            raise HarnessError('xdpyinfo on %s failed' % self.name)
        return int(m.group(1)), int(m.group(2))

    def _await_layout(self, want, what, timeout=10):
        """Waits until monitors() satisfies want; then takes the new screen
        size into width and height."""
        if not wait_until(lambda: want(self.monitors()), timeout, 0.05):
            raise HarnessError('RandR on %s never showed %s (has %s)' %
                               (self.name, what, self.monitors()))
        self.width, self.height = self.root_size()

    def second_monitor_on(self):
        return any(m[0] == SECOND for m in self.monitors())

    def set_second_monitor(self, on):
        """Turns DUMMY1 on (where it was last put, right of DUMMY0 at first)
        or off, and waits until RandR reports it."""
        if on:
            self.xrandr('--output', SECOND, '--mode', SECOND_MODE,
                        *self._second_place)
            self._await_layout(lambda ms: any(m[0] == SECOND for m in ms),
                               SECOND + ' on')
        else:
            self.xrandr('--output', SECOND, '--off')
            self._await_layout(lambda ms: all(m[0] != SECOND for m in ms),
                               SECOND + ' off')

    def move_second_monitor(self, where='right-of'):
        """Puts DUMMY1 'right-of', 'left-of', 'above' or 'below' DUMMY0, or
        at an (x, y) position, and turns it on. DUMMY0 keeps its place
        unless the move would give a negative coordinate: X has none, so
        xrandr then moves the whole layout."""
        if isinstance(where, tuple):
            self._second_place = ('--pos', '%dx%d' % where)
        elif where in ('right-of', 'left-of', 'above', 'below'):
            self._second_place = ('--' + where, PRIMARY)
        else:
            raise ValueError(where)
        self.xrandr('--output', SECOND, '--mode', SECOND_MODE,
                    *self._second_place)
        self._await_layout(lambda ms: any(m[0] == SECOND for m in ms),
                           SECOND + ' ' + str(where))
        return self.monitors()

    # -- gamma --------------------------------------------------------------

    def _crtc_of(self, d, output):
        res = d.screen().root.xrandr_get_screen_resources_current()
        for o in res.outputs:
            info = d.xrandr_get_output_info(o, res.config_timestamp)
            if info.name == output:
                if not info.crtc:
                    raise HarnessError('%s is off: no CRTC' % output)
                return info.crtc
        raise HarnessError('no output %s on %s' % (output, self.name))

    def gamma(self, output=PRIMARY):
        """The CRTC gamma ramps of an output: (red, green, blue), three
        lists of 16-bit values (python-xlib's RandR get_crtc_gamma)."""
        d = harness.open_x(self.name)
        try:
            g = d.xrandr_get_crtc_gamma(self._crtc_of(d, output))
            return list(g.red), list(g.green), list(g.blue)
        finally:
            d.close()

    def set_gamma(self, output, red=1.0, green=1.0, blue=1.0):
        """xrandr --output OUTPUT --gamma R:G:B (1:1:1 is the identity)."""
        self.xrandr('--output', output, '--gamma',
                    '%g:%g:%g' % (red, green, blue))

    # -- screen -------------------------------------------------------------

    def shot(self, path=None):
        """Grabs the whole root (every monitor); saves it as PNG when path
        is given. The size is read each time: it follows the layout."""
        for _ in range(3):
            w, h = self.root_size()
            raw = subprocess.run(['import', '-window', 'root', '-depth', '8',
                                  'rgb:-'], env=self.env, capture_output=True,
                                 check=False).stdout
            if len(raw) == w * h * 3:
                self.width, self.height = w, h
                img = harness.Image(raw, w, h)
                if path:
                    img.save(path)
                return img
        raise HarnessError('screenshot of %s failed' % self.name)


# The tests ask for it by kind (conftest's display fixture).
harness.DISPLAY_KINDS[XorgDummyDisplay.KIND] = XorgDummyDisplay
