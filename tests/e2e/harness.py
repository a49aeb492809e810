"""Building blocks of the end-to-end tests: private X displays, Wine
prefixes, screenshots, the registry and the helper programs.

The Windows executable runs under 64-bit Wine, the native program as an X
client, on a display with openbox as the window manager and xcompmgr as the
compositor: without a compositor a translucent window is drawn opaque, and
the tint could not be measured. The root window is painted white, so a
tinted pixel reads 255 - a*(255-c)/255 per channel (opacity a, colour
channel c). What the tests ask of the X server itself (the root pixmap,
screen sizes through RandR, which windows a process shows) goes through
python-xlib; input goes through xdotool, screenshots through ImageMagick.

Nothing here knows about the product's behaviour: the tests beside this
file hold the scenarios, conftest.py the pytest fixtures, and scripts/
the launchers of scripts/run.
"""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time

from Xlib import X, Xatom
from Xlib import display as xdisplay
from Xlib import error as xerror
from Xlib.ext import randr
from Xlib.protocol import display as xprotocol
from Xlib.protocol import event as xevent
from Xlib.protocol import request as xrequest

import shared

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
    """What predicate returns once it is truthy; None when timeout seconds
    pass first."""
    return shared.poll(predicate, timeout, interval)


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


# ---------------------------------------------------------------------------
# X displays


def open_x(name):
    """A python-xlib connection to display `name`; HarnessError when none
    answers."""
    # python-xlib keeps the event codes that extensions register in one
    # table shared by all its connections, and servers with other
    # extensions (Xvfb without RandR) number them differently: a later
    # connection would then fail in its RandR set-up. Each connection gets
    # a table of its own.
    xprotocol.Display.event_classes = xevent.event_class.copy()
    try:
        d = xdisplay.Display(name)
    except Exception as e:  # DisplayConnectionError, OSError, ...
        raise HarnessError('cannot open display %s: %s' % (name, e)) from e
    d.display.event_classes = xprotocol.Display.event_classes
    return d


def x_answers(name):
    """Whether an X server answers on display `name`."""
    try:
        open_x(name).close()
    except HarnessError:
        return False
    return True


def _paint_root_white(name):
    """Gives the root window a white background pixmap and advertises it
    in _XROOTPMAP_ID: xcompmgr paints the desktop from that property (grey
    without it; xsetroot -solid does not set it)."""
    d = open_x(name)
    try:
        scr = d.screen()
        root = scr.root
        geo = root.get_geometry()
        pm = root.create_pixmap(geo.width, geo.height, scr.root_depth)
        gc = pm.create_gc(foreground=scr.white_pixel)
        pm.fill_rectangle(gc, 0, 0, geo.width, geo.height)
        for atom in ('_XROOTPMAP_ID', 'ESETROOT_PMAP_ID'):
            root.change_property(d.intern_atom(atom), Xatom.PIXMAP, 32,
                                 [pm.id])
        root.change_attributes(background_pixmap=pm)
        root.clear_area()
        d.set_close_down_mode(X.RetainPermanent)  # the pixmap outlives us
        d.sync()
    finally:
        d.close()


def _set_screen_size(name, width, height, old_width, old_height):
    """Switches the X screen to width x height through RandR. The xrandr
    program cannot add a mode to Xvfb (a mode made by --newmode is gone
    when that xrandr exits, before --addmode runs), so one connection makes
    the mode, adds it to the output and sets it."""
    d = open_x(name)
    try:
        if not d.has_extension('RANDR'):
            raise HarnessError('display %s has no RandR' % name)
        root = d.screen().root
        res = root.xrandr_get_screen_resources()
        mode = next((m.id for m in res.modes
                     if (m.width, m.height) == (width, height)), None)
        if mode is None:
            mode_name = '%dx%d' % (width, height)
            info = dict(id=0, width=width, height=height,
                        dot_clock=60 * width * height, h_sync_start=width,
                        h_sync_end=width, h_total=width, h_skew=0,
                        v_sync_start=height, v_sync_end=height,
                        v_total=height, name_length=len(mode_name), flags=0)
            mode = root.xrandr_create_mode(info, mode_name).mode
            d.xrandr_add_output_mode(res.outputs[0], mode)
            d.sync()
            res = root.xrandr_get_screen_resources()
        mm = (round(width * 25.4 / 96), round(height * 25.4 / 96))
        growing = width > old_width or height > old_height
        # The CRTC must fit the screen at every step: a larger screen first
        # when growing, a smaller one after when shrinking.
        if growing:
            root.xrandr_set_screen_size(width, height, *mm)
        status = d.xrandr_set_crtc_config(
            res.crtcs[0], res.config_timestamp, 0, 0, mode, randr.Rotate_0,
            [res.outputs[0]]).status
        if not growing:
            root.xrandr_set_screen_size(width, height, *mm)
        d.sync()
    except xerror.XError as e:
        raise HarnessError('RandR refused %dx%d: %s' % (width, height, e))
    finally:
        d.close()
    if status != randr.SetConfigSuccess:
        raise HarnessError('RandR refused %dx%d (status %d)' % (
            width, height, status))


def number_taken(n):
    """Whether X display :n is in use: its lock file names a live process.
    A server that was killed leaves its lock behind; the next one on that
    number takes it over."""
    try:
        with open('/tmp/.X%d-lock' % n) as f:
            pid = int(f.read().strip() or 0)
    except FileNotFoundError:
        return False
    except (OSError, ValueError):
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except OSError:
        pass
    return True


class Display:
    """An X display with a white desktop: a server, openbox and xcompmgr.

    A subclass starts the server (start_server); everything after that is
    the same for every kind of server. DISPLAY_KINDS below names them."""

    KIND = None

    def __init__(self, width=SCREEN_W, height=SCREEN_H, logdir=E2E):
        self.width, self.height = width, height
        self.logdir = logdir
        self.procs = []
        self.name = None
        self.env = None
        self._x = None

    def _free_number(self):
        """A display number no live server holds, from a random start so
        that test runs beside each other seldom reach for the same one."""
        first = random.randrange(100)
        for i in range(100):
            n = 90 + (first + i) % 100
            if not number_taken(n):
                return n
        raise HarnessError('no free X display number between :90 and :189')

    def _spawn(self, name, cmd, env):
        out = open(os.path.join(self.logdir, name + '.log'), 'wb')
        p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, env=env)
        out.close()
        self.procs.append(p)
        return p

    def start_server(self):
        """Starts the X server on a free display number and sets name and
        env; raises HarnessError when it will not come up."""
        raise NotImplementedError

    def start(self):
        os.makedirs(self.logdir, exist_ok=True)
        self.start_server()
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
        if self._x is not None:
            try:
                self._x.close()
            except Exception:  # the server may be gone already
                pass
            self._x = None
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

    def set_screen_size(self, width, height):
        """Switches the screen to width x height (RandR) and takes the new
        size for screenshots. Xvfb can shrink its screen and grow it back
        to the size it started with, not beyond."""
        _set_screen_size(self.name, width, height, self.width, self.height)
        self.width, self.height = width, height

    # -- windows (python-xlib) ----------------------------------------------

    def x(self):
        """This display's own python-xlib connection, opened on first use."""
        if self._x is None:
            self._x = open_x(self.name)
        return self._x

    def _query(self, fn, default=None):
        """fn(connection), or default when a window it asks about is gone
        meanwhile."""
        try:
            return fn(self.x())
        except (xerror.BadWindow, xerror.BadDrawable, xerror.BadMatch):
            return default

    def _tree(self):
        """(root, {window: [children, bottom to top]}) of the whole window
        tree, read one level at a time with that level's requests sent
        together: a desktop with a window manager has hundreds of windows,
        and a round trip each would make every look take long."""
        d = self.x()
        root = d.screen().root.id
        children = {}
        level = [root]
        while level:
            asked = [(w, xrequest.QueryTree(display=d.display, defer=True,
                                            window=w)) for w in level]
            level = []
            for w, r in asked:
                try:
                    r.reply()
                    kids = [c.id for c in r.children]
                except xerror.XError:  # gone meanwhile
                    kids = []
                children[w] = kids
                level += kids
        return root, children

    def _answers(self, make, windows):
        """{window: reply} of one request per window, sent together;
        windows gone meanwhile are left out."""
        d = self.x()
        asked = [(w, make(d.display, w)) for w in windows]
        out = {}
        for w, r in asked:
            try:
                r.reply()
            except xerror.XError:
                continue
            out[w] = r
        return out

    def windows_by_pid(self, pid, visible_only=True):
        """The X windows whose _NET_WM_PID is pid (viewable ones only unless
        visible_only is False), as ids, in the order xdotool search lists
        them: each window's matching children, then their subtrees."""
        d = self.x()
        root, children = self._tree()
        atom = d.intern_atom('_NET_WM_PID')
        props = self._answers(lambda dd, w: xrequest.GetProperty(
            display=dd, defer=True, delete=False, window=w, property=atom,
            type=Xatom.CARDINAL, long_offset=0, long_length=1),
            [w for w in children if w != root])
        match = {w for w, r in props.items()
                 if r.property_type and r.value[1] and r.value[1][0] == pid}
        if visible_only:
            attrs = self._answers(lambda dd, w: xrequest.GetWindowAttributes(
                display=dd, defer=True, window=w), match)
            match = {w for w, r in attrs.items()
                     if r.map_state == X.IsViewable}
        found = []
        todo = [root]
        while todo:  # depth first, each window's matches before its subtrees
            w = todo.pop()
            found += [c for c in children.get(w, []) if c in match]
            todo += reversed(children.get(w, []))
        return found

    def window_geometry(self, xid):
        """(x, y, width, height) of a window, x and y on the root, or None
        when it is gone."""
        def get(d):
            w = d.create_resource_object('window', xid)
            geo = w.get_geometry()
            root = d.screen().root
            if w.query_tree().parent == root:
                x, y = geo.x, geo.y
            else:
                t = root.translate_coords(w, 0, 0)
                x, y = t.x, t.y
            return x, y, geo.width, geo.height
        return self._query(get)

    def window_name(self, xid):
        """_NET_WM_NAME of a window, else WM_NAME; '' when it has none."""
        def get(d):
            w = d.create_resource_object('window', xid)
            for atom in ('_NET_WM_NAME', 'WM_NAME'):
                prop = w.get_full_property(d.intern_atom(atom),
                                           X.AnyPropertyType)
                if prop and prop.value:
                    v = prop.value
                    return v.decode('utf-8', 'replace') if isinstance(
                        v, bytes) else str(v)
            return ''
        return self._query(get, '')

    def active_window(self):
        """The window the window manager says has the focus
        (_NET_ACTIVE_WINDOW), or None."""
        def get(d):
            root = d.screen().root
            prop = root.get_full_property(
                d.intern_atom('_NET_ACTIVE_WINDOW'), Xatom.WINDOW)
            return prop.value[0] if prop and len(prop.value) else None
        return self._query(get)

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

    def activate(self, xid):
        self.xdotool('windowactivate', '--sync', xid, check=False, timeout=10)


class Xvfb(Display):
    """Xvfb: one screen of width x height, no monitors to speak of."""

    KIND = 'xvfb'

    def start_server(self):
        for attempt in range(8):
            n = self._free_number()
            self.name = ':%d' % n
            self.env = dict(os.environ, DISPLAY=self.name)
            xvfb = self._spawn('xvfb', [
                'Xvfb', self.name, '-screen', '0',
                '%dx%dx24' % (self.width, self.height), '-nolisten', 'tcp',
                '-noreset'], os.environ)
            if wait_until(lambda: xvfb.poll() is not None
                          or x_answers(self.name), 15) and xvfb.poll() is None:
                return
            self.procs.remove(xvfb)
            if xvfb.poll() is None:
                xvfb.kill()
            xvfb.wait()
        raise HarnessError('Xvfb would not start (see %s)' %
                           os.path.join(self.logdir, 'xvfb.log'))


# The kinds of display the tests can ask for. Two monitors and gamma ramps
# need a real X server (Xorg with the dummy video driver): xorg_dummy.py
# adds that kind here.
DISPLAY_KINDS = {Xvfb.KIND: Xvfb}


def start_display(kind='xvfb', **kwargs):
    """Starts a display of that kind (width, height, logdir as for
    Display) with its window manager, compositor and white desktop."""
    try:
        cls = DISPLAY_KINDS[kind]
    except KeyError:
        raise HarnessError('no display of kind %r (known: %s)' % (
            kind, ', '.join(sorted(DISPLAY_KINDS)))) from None
    d = cls(**kwargs)
    try:
        return d.start()
    except BaseException:
        d.stop()
        raise


# Every screenshot saved, in order: a failing test names its last one.
SAVED_SHOTS = []


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
        SAVED_SHOTS.append(path)

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
        # A run that leaves no list failed (the list is written whole, then
        # renamed); read as "no windows" it would pass for a closed panel.
        for _ in range(3):
            if os.path.exists(out):
                os.remove(out)
            r = self.run(winlist_exe, self.winpath(out), timeout=30,
                         check=False)
            if os.path.exists(out):
                with open(out, encoding='utf-8') as f:
                    return [json.loads(line) for line in f if line.strip()]
            print('winlist.exe gave no window list (exit code %d), once more'
                  % r.returncode, file=sys.stderr)
            time.sleep(0.2)
        raise HarnessError('winlist.exe gave no window list three times '
                           '(last exit code %d): %s' % (
                               r.returncode,
                               r.stderr.decode('utf-8', 'replace')[-300:]))


class TemplatePrefix:
    """One booted prefix per test run; each test gets a copy."""

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

    def copy(self, name, display=None):
        """A copy of the template for one test, on `display` (the one it
        was booted on by default)."""
        dest = os.path.join(self.copies, name)
        if os.path.exists(dest):
            shutil.rmtree(dest)
        os.makedirs(self.copies, exist_ok=True)
        subprocess.run(['cp', '-a', self.path, dest], check=True)
        return Wine(dest, display or self.display)


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
    name = os.environ.get('DISPLAY')
    return bool(name) and x_answers(name)


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
    # Only a key that is not there counts as no values: `reg` itself says
    # so, in the prefix's language, after "reg: ". A run that failed
    # otherwise, read as "nothing stored", would pass for a lost setting.
    for _ in range(3):
        r = wine.run('reg', 'query', key, check=False)
        if r.returncode == 0:
            break
        if r.returncode == 1 and b'reg: ' in r.stdout + r.stderr:
            return {}
        print('reg query %s failed (exit code %d), once more'
              % (key, r.returncode), file=sys.stderr)
        time.sleep(0.2)
    else:
        raise HarnessError('reg query %s failed three times (last exit code '
                           '%d): %s' % (key, r.returncode, r.stderr.decode(
                               'utf-8', 'replace')[-300:]))
    values = {}
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
    sys.exit('harness.py is a library: run the tests with pytest, the tool '
             'with scripts/run')


def launcher_main(argv, program, build_hint, on_display, headless):
    """What scripts/run's launchers do: the program on $DISPLAY when it
    answers (unless --headless), else on a private display; an exit status
    for sys.exit."""
    ap = argparse.ArgumentParser(description='Starts the night-mode tool.')
    ap.add_argument('--headless', action='store_true',
                    help='always on a private display')
    args = ap.parse_args(argv[1:])
    if not os.path.exists(program):
        log('run: %s is missing; %s' % (program, build_hint))
        return 1
    install_signal_exit()
    try:
        if not args.headless and display_works():
            return on_display()
        return headless()
    except KeyboardInterrupt:
        return 130
    except HarnessError as e:
        return 'run: %s' % e
