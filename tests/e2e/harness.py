"""Building blocks of the end-to-end tests: a private X display, Wine
prefixes, screenshots, the registry and the two helper programs.

The Windows executable runs under 64-bit Wine on Xvfb, with openbox as the
window manager and xcompmgr as the compositor: without a compositor Wine
draws a layered window opaque, and the tint could not be measured. The root
window is painted white, so a tinted pixel reads 255 - a*(255-c)/255 per
channel (opacity a, colour channel c).

Nothing here knows about the product's behaviour; run_e2e.py holds the
scenarios and run_app.py the "show me the tool" path of scripts/run.
"""

import ctypes
import ctypes.util
import json
import os
import shutil
import signal
import subprocess
import sys
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir,
                                    os.pardir))
BUILD = os.path.join(REPO, 'build')
E2E = os.path.join(BUILD, 'e2e')
APP_TITLE = 'Morvane电脑夜间模式工具'
EXE = os.path.join(BUILD, 'windows-cross', 'bin', APP_TITLE + 'V1.0.exe')
COMPONENTS = os.path.join(BUILD, 'windows-cross', 'components')
SETTINGS_KEY = 'HKCU\\Software\\' + APP_TITLE + '\\Settings'

SCREEN_W, SCREEN_H = 1280, 800

# Chinese faces the program asks for, and what this machine has instead.
FONT_REPLACEMENTS = {
    '宋体': 'WenQuanYi Zen Hei',
    'SimSun': 'WenQuanYi Zen Hei',
    '新宋体': 'WenQuanYi Zen Hei',
    'NSimSun': 'WenQuanYi Zen Hei',
    '黑体': 'WenQuanYi Micro Hei',
    'SimHei': 'WenQuanYi Micro Hei',
    '微软雅黑': 'WenQuanYi Micro Hei',
    'Microsoft YaHei': 'WenQuanYi Micro Hei',
}


class HarnessError(Exception):
    """The test machinery itself failed (not the product)."""


def log(*parts):
    print(*parts, flush=True)


def wait_until(predicate, timeout, interval=0.2):
    """Polls predicate until it returns something truthy; returns that, or
    None when timeout seconds pass."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(interval)


def locale_name():
    """zh_CN.UTF-8 where the machine has it, else C.UTF-8."""
    try:
        out = subprocess.run(['locale', '-a'], capture_output=True, text=True,
                             check=False).stdout.lower().split()
    except OSError:
        out = []
    for want in ('zh_cn.utf8', 'zh_cn.utf-8'):
        if want in out:
            return 'zh_CN.UTF-8'
    return 'C.UTF-8'


def wine_loader():
    # Debian's /usr/bin/wine wrapper nags about wine32 unless WINELOADER is
    # set; name the 64-bit loader ourselves where it is.
    for cand in ('/usr/lib/wine/wine64', shutil.which('wine64'),
                 shutil.which('wine')):
        if cand and os.access(cand, os.X_OK):
            return cand
    raise HarnessError('wine is not installed')


def mingw_gxx():
    for cand in ('x86_64-w64-mingw32-g++-posix', 'x86_64-w64-mingw32-g++'):
        if shutil.which(cand):
            return cand
    raise HarnessError('x86_64-w64-mingw32-g++ is not installed')


def build_probes():
    """Cross-compiles the helper programs into build/e2e/ when their
    sources are newer than the executables."""
    here = os.path.dirname(os.path.abspath(__file__))
    os.makedirs(E2E, exist_ok=True)
    out = {}
    for name in ('clickprobe', 'winlist', 'resprobe', 'envprobe',
                 'monprobe'):
        src = os.path.join(here, name + '.cpp')
        exe = os.path.join(E2E, name + '.exe')
        if (not os.path.exists(exe)
                or os.path.getmtime(exe) < os.path.getmtime(src)):
            cmd = [mingw_gxx(), '-std=c++20', '-O2', '-municode', '-mwindows',
                   '-static', '-o', exe, src, '-lshell32']
            r = subprocess.run(cmd, capture_output=True, text=True,
                               check=False)
            if r.returncode != 0:
                raise HarnessError('building %s failed:\n%s' %
                                   (name, r.stderr[-2000:]))
        out[name] = exe
    return out


# ---------------------------------------------------------------------------
# X display


def _paint_root_white(display):
    """Gives the root window a white background pixmap and advertises it
    in _XROOTPMAP_ID: xcompmgr paints the desktop from that property (grey
    without it; xsetroot -solid does not set it)."""
    x = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
    vp, ul, cint, cuint = (ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                           ctypes.c_uint)
    x.XOpenDisplay.restype = vp
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    for fn, args, res in (
            ('XDefaultScreen', [vp], cint),
            ('XRootWindow', [vp, cint], ul),
            ('XDisplayWidth', [vp, cint], cint),
            ('XDisplayHeight', [vp, cint], cint),
            ('XDefaultDepth', [vp, cint], cint),
            ('XCreatePixmap', [vp, ul, cuint, cuint, cuint], ul),
            ('XCreateGC', [vp, ul, ul, vp], vp),
            ('XWhitePixel', [vp, cint], ul),
            ('XSetForeground', [vp, vp, ul], cint),
            ('XFillRectangle', [vp, ul, vp, cint, cint, cuint, cuint], cint),
            ('XInternAtom', [vp, ctypes.c_char_p, cint], ul),
            ('XChangeProperty', [vp, ul, ul, ul, cint, cint, vp, cint], cint),
            ('XSetWindowBackgroundPixmap', [vp, ul, ul], cint),
            ('XClearWindow', [vp, ul], cint),
            ('XSetCloseDownMode', [vp, cint], cint),
            ('XCloseDisplay', [vp], cint)):
        getattr(x, fn).argtypes = args
        getattr(x, fn).restype = res
    d = x.XOpenDisplay(display.encode())
    if not d:
        raise HarnessError('cannot open display ' + display)
    scr = x.XDefaultScreen(d)
    root = x.XRootWindow(d, scr)
    w, h = x.XDisplayWidth(d, scr), x.XDisplayHeight(d, scr)
    pm = x.XCreatePixmap(d, root, w, h, x.XDefaultDepth(d, scr))
    gc = x.XCreateGC(d, pm, 0, None)
    x.XSetForeground(d, gc, x.XWhitePixel(d, scr))
    x.XFillRectangle(d, pm, gc, 0, 0, w, h)
    data = (ul * 1)(pm)
    for name in (b'_XROOTPMAP_ID', b'ESETROOT_PMAP_ID'):
        x.XChangeProperty(d, root, x.XInternAtom(d, name, 0), 20, 32, 0,
                          ctypes.cast(data, vp), 1)  # 20: XA_PIXMAP
    x.XSetWindowBackgroundPixmap(d, root, pm)
    x.XClearWindow(d, root)
    x.XSetCloseDownMode(d, 1)  # RetainPermanent: the pixmap outlives us
    x.XCloseDisplay(d)


class Display:
    """Xvfb + openbox + xcompmgr on a free display number, white desktop."""

    def __init__(self, width=SCREEN_W, height=SCREEN_H, logdir=E2E):
        self.width, self.height = width, height
        self.logdir = logdir
        self.procs = []
        self.name = None

    def _free_number(self):
        for n in range(90, 190):
            if not (os.path.exists('/tmp/.X%d-lock' % n)
                    or os.path.exists('/tmp/.X11-unix/X%d' % n)):
                return n
        raise HarnessError('no free X display number between :90 and :189')

    def _spawn(self, name, cmd, env):
        out = open(os.path.join(self.logdir, name + '.log'), 'wb')
        p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, env=env)
        out.close()
        self.procs.append(p)
        return p

    def _alive(self):
        r = subprocess.run(['xdpyinfo'], env=self.env,
                           stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
        return r.returncode == 0

    def start(self):
        os.makedirs(self.logdir, exist_ok=True)
        for attempt in range(3):
            n = self._free_number()
            self.name = ':%d' % n
            self.env = dict(os.environ, DISPLAY=self.name)
            xvfb = self._spawn('xvfb', [
                'Xvfb', self.name, '-screen', '0',
                '%dx%dx24' % (self.width, self.height), '-nolisten', 'tcp',
                '-noreset'], os.environ)
            if wait_until(lambda: xvfb.poll() is not None or self._alive(),
                          15) and xvfb.poll() is None:
                break
            self.procs.remove(xvfb)
            if xvfb.poll() is None:
                xvfb.kill()
            xvfb.wait()
        else:
            raise HarnessError('Xvfb would not start (see %s)' %
                               os.path.join(self.logdir, 'xvfb.log'))
        self._spawn('openbox', ['openbox', '--sm-disable'], self.env)
        # The compositor paints the root from _XROOTPMAP_ID when it starts.
        _paint_root_white(self.name)
        self._spawn('xcompmgr', ['xcompmgr'], self.env)
        time.sleep(1.0)
        if not wait_until(lambda: self.pixel_rgb(self.width // 2,
                                                 self.height // 2)
                          == (255, 255, 255), 10):
            raise HarnessError('the desktop of %s is not white' % self.name)
        return self

    def stop(self):
        stop_all(reversed(self.procs))
        self.procs = []

    # -- screen -------------------------------------------------------------

    def shot(self, path=None):
        """Grabs the root window; saves it as PNG when path is given."""
        raw = subprocess.run(['import', '-window', 'root', '-depth', '8',
                              'rgb:-'], env=self.env, capture_output=True,
                             check=False).stdout
        if len(raw) != self.width * self.height * 3:
            raise HarnessError('screenshot of %s failed' % self.name)
        img = Image(raw, self.width, self.height)
        if path:
            img.save(path)
        return img

    def pixel_rgb(self, x, y):
        try:
            return self.shot().pixel(x, y)
        except HarnessError:
            return None

    # -- input --------------------------------------------------------------

    def xdotool(self, *args, check=True, timeout=20):
        try:
            r = subprocess.run(['xdotool'] + [str(a) for a in args],
                               env=self.env, capture_output=True, text=True,
                               timeout=timeout, check=False)
        except subprocess.TimeoutExpired:
            if check:
                raise HarnessError('xdotool %s timed out' %
                                   ' '.join(map(str, args)))
            return ''
        if check and r.returncode != 0:
            raise HarnessError('xdotool %s: %s' % (' '.join(map(str, args)),
                                                   r.stderr.strip()))
        return r.stdout

    # No --sync on mousemove: it waits for a motion event, and a move to
    # where the pointer already is never produces one.
    def move(self, x, y):
        self.xdotool('mousemove', x, y)
        time.sleep(0.15)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdotool('click', button)

    def drag(self, x0, y0, x1, y1, steps=12):
        """Left-button drag in small moves, as a hand would."""
        self.move(x0, y0)
        self.xdotool('mousedown', 1)
        for i in range(1, steps + 1):
            x = round(x0 + (x1 - x0) * i / steps)
            y = round(y0 + (y1 - y0) * i / steps)
            self.xdotool('mousemove', x, y)
            time.sleep(0.03)
        time.sleep(0.1)
        self.xdotool('mouseup', 1)

    def key(self, *keys):
        self.xdotool('key', *keys)

    def windows_by_pid(self, pid):
        out = self.xdotool('search', '--pid', pid, check=False)
        return [int(w) for w in out.split()]

    def activate(self, xid):
        self.xdotool('windowactivate', '--sync', xid, check=False, timeout=10)


class Image:
    """An RGB screenshot in memory."""

    def __init__(self, raw, width, height):
        self.raw, self.width, self.height = raw, width, height

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def save(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(['convert', '-size', '%dx%d' % (self.width,
                                                       self.height),
                        '-depth', '8', 'rgb:-', path], input=self.raw,
                       check=True)

    def run_length(self, x, y, dx, dy, rgb, tol):
        """How many pixels from (x, y) stepping (dx, dy) match rgb."""
        n = 0
        while 0 <= x < self.width and 0 <= y < self.height and close(
                self.pixel(x, y), rgb, tol):
            n += 1
            x += dx
            y += dy
        return n

    def extent(self, x, y, rgb, tol):
        """The box of pixels matching rgb through (x, y), measured along the
        row and the column through that point: (left, top, width, height),
        or None when (x, y) itself does not match."""
        if not close(self.pixel(x, y), rgb, tol):
            return None
        left = x - self.run_length(x, y, -1, 0, rgb, tol) + 1
        right = x + self.run_length(x, y, 1, 0, rgb, tol) - 1
        top = y - self.run_length(x, y, 0, -1, rgb, tol) + 1
        bottom = y + self.run_length(x, y, 0, 1, rgb, tol) - 1
        return left, top, right - left + 1, bottom - top + 1


def close(a, b, tol):
    return a is not None and all(abs(p - q) <= tol for p, q in zip(a, b))


def blend_over_white(alpha, colour):
    """The screen colour of the overlay over white: colour is 0x00BBGGRR."""
    rgb = (colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF)
    return tuple(round(255 - alpha * (255 - c) / 255) for c in rgb)


# ---------------------------------------------------------------------------
# Wine


class Wine:
    """One Wine prefix on one display."""

    def __init__(self, prefix, display):
        self.prefix = prefix
        self.display = display
        self.loader = wine_loader()
        self.env = dict(display.env if display else os.environ,
                        WINEPREFIX=prefix, WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=',
                        WINELOADER=self.loader, LANG=locale_name(),
                        LC_ALL=locale_name())
        self.env.pop('WINEARCH', None)
        self.children = []

    def run(self, *args, timeout=60, check=True):
        r = subprocess.run([self.loader] + list(args), env=self.env,
                           capture_output=True, timeout=timeout, check=False)
        if check and r.returncode != 0:
            raise HarnessError('wine %s exited %d: %s' % (
                ' '.join(args), r.returncode,
                r.stderr.decode('utf-8', 'replace')[-500:]))
        return r

    def start(self, *args, log_name=None):
        """Starts a Windows program and returns its Popen; the Unix process
        is the Windows process, so poll() tells whether it still runs."""
        out = subprocess.DEVNULL
        if log_name:
            out = open(log_name, 'ab')
        p = subprocess.Popen([self.loader] + list(args), env=self.env,
                             stdin=subprocess.DEVNULL, stdout=out,
                             stderr=subprocess.STDOUT)
        if log_name:
            out.close()
        self.children.append(p)
        return p

    def boot(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        r = subprocess.run([self.loader, 'wineboot', '-i'], env=self.env,
                           capture_output=True, timeout=300, check=False)
        self.wait_server(timeout=120)
        if not os.path.exists(os.path.join(self.prefix, 'system.reg')):
            raise HarnessError('wineboot failed (%d): %s' % (
                r.returncode, r.stderr.decode('utf-8', 'replace')[-800:]))
        # One regedit import rather than a wine process per value.
        lines = ['Windows Registry Editor Version 5.00', '',
                 '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]']
        lines += ['"%s"="%s"' % kv for kv in FONT_REPLACEMENTS.items()]
        # A crash must fail a test, not wait for someone to close a dialog.
        lines += ['', '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]',
                  '"ShowCrashDialog"=dword:00000000', '']
        regfile = self.prefix + '-setup.reg'
        with open(regfile, 'w', encoding='utf-16', newline='\r\n') as f:
            f.write('\n'.join(lines))
        self.run('regedit', '/S', self.winpath(regfile))
        os.remove(regfile)
        self.wait_server(timeout=60)

    def wait_server(self, timeout=60):
        subprocess.run(['wineserver', '-w'], env=self.env, timeout=timeout,
                       check=False)

    def kill(self):
        subprocess.run(['wineserver', '-k'], env=self.env, timeout=30,
                       check=False, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        for p in self.children:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.children = []
        subprocess.run(['wineserver', '-w'], env=self.env, timeout=30,
                       check=False)

    def winpath(self, unix_path):
        return 'Z:' + os.path.abspath(unix_path).replace('/', '\\')

    # -- registry -----------------------------------------------------------

    def reg_add(self, key, name, data, kind='REG_SZ'):
        self.run('reg', 'add', key, '/v', name, '/t', kind, '/d', str(data),
                 '/f')

    def reg_query(self, key):
        """{value name: data} of one key, {} when the key does not exist."""
        values = reg_values(self, key)
        return {name: data for name, (_, data) in values.items()}

    # -- window list --------------------------------------------------------

    def windows(self, winlist_exe):
        """The top-level windows of this prefix's desktop (winlist.exe)."""
        out = os.path.join(os.path.dirname(self.prefix),
                           os.path.basename(self.prefix) + '-winlist.json')
        if os.path.exists(out):
            os.remove(out)
        self.run(winlist_exe, self.winpath(out), timeout=30, check=False)
        if not os.path.exists(out):
            return []
        with open(out, encoding='utf-8') as f:
            return [json.loads(line) for line in f if line.strip()]


class TemplatePrefix:
    """One booted prefix per test run; each scenario gets a copy."""

    def __init__(self, display, root=E2E):
        self.display = display
        self.root = root
        self.path = os.path.join(root, 'template')
        self.copies = os.path.join(root, 'prefixes')

    def boot(self):
        for d in (self.path, self.copies):
            if os.path.exists(d):
                shutil.rmtree(d)
        Wine(self.path, self.display).boot()
        return self

    def copy(self, name):
        dest = os.path.join(self.copies, name)
        if os.path.exists(dest):
            shutil.rmtree(dest)
        os.makedirs(self.copies, exist_ok=True)
        subprocess.run(['cp', '-a', self.path, dest], check=True)
        return Wine(dest, self.display)


def stop_all(procs):
    """Terminates processes, then waits for each (killing it after 5 s)."""
    procs = list(procs)
    for p in procs:
        if p.poll() is None:
            p.terminate()
    for p in procs:
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def display_works():
    """Whether $DISPLAY names an X display that answers."""
    if not os.environ.get('DISPLAY'):
        return False
    try:
        r = subprocess.run(['xdpyinfo'], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=10, check=False)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0


def install_signal_exit():
    """SIGTERM behaves like Ctrl-C, so the finally blocks clean up."""
    def handler(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, handler)


# ---------------------------------------------------------------------------
# Later additions


def reg_values(wine, key):
    """{value name: (type, data)} of one key, as `reg query` prints them
    (REG_DWORD as 0x..., REG_BINARY as hex digits); {} when the key does not
    exist."""
    r = wine.run('reg', 'query', key, check=False)
    values = {}
    if r.returncode != 0:
        return values
    for line in r.stdout.decode('utf-8', 'replace').splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith('REG_'):
            values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else '')
    return values


def probe_json(wine, exe, *args, timeout=60):
    """Runs a helper program that writes one JSON line to the file named by
    its first argument; returns the parsed line, or None."""
    out = os.path.join(os.path.dirname(wine.prefix),
                       os.path.basename(wine.prefix) + '-probe.json')
    if os.path.exists(out):
        os.remove(out)
    wine.run(exe, wine.winpath(out), *[str(a) for a in args],
             timeout=timeout, check=False)
    if not os.path.exists(out):
        return None
    with open(out, encoding='utf-8') as f:
        text = f.read().strip()
    os.remove(out)
    return json.loads(text) if text else None


if __name__ == '__main__':
    sys.exit('harness.py is a library; run run_e2e.py or run_app.py')
