"""Private X displays for scripts/run, the end-to-end tests and the bench.

A display is an X server with openbox as the window manager and xcompmgr
as the compositor (without one a translucent window is drawn opaque), on a
white root: a tinted pixel then reads 255 - a*(255-c)/255 per channel.
The server names its own display number (-displayfd). Pixels, screenshots,
RandR and window lists go through python-xlib (Debian's python3-xlib),
input through xdotool; screenshots are written as PNG with zlib.
"""

import os
import select
import signal
import struct
import subprocess
import time
import zlib

from Xlib import X, Xatom
from Xlib import display as xlib_display
from Xlib import error as xerror
from Xlib.ext import randr
from Xlib.protocol import display as xprotocol
from Xlib.protocol import event as xevent
from Xlib.protocol import request as xrequest

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
BUILD = os.path.join(REPO, 'build')
SCREEN_W, SCREEN_H = 1280, 800
WHITE = (255, 255, 255)

# Every screenshot saved, in order: a failing test names its last one.
SAVED_SHOTS = []


class HarnessError(Exception):
    """The machinery around the program failed (a display, Wine), not the program."""


def log(*parts):
    print(*parts, flush=True)


def poll(cond, timeout, interval=0.1):
    """What cond gives once it is truthy; None when timeout seconds pass first."""
    end = time.monotonic() + timeout
    while True:
        value = cond()
        if value:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(interval)


def locale_name():
    """zh_CN.UTF-8 where the machine has it, else C.UTF-8."""
    r = subprocess.run(['locale', '-a'], capture_output=True, text=True, check=False)
    have = r.stdout.lower().split()
    return 'zh_CN.UTF-8' if {'zh_cn.utf8', 'zh_cn.utf-8'} & set(have) else 'C.UTF-8'


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


def install_signal_exit():
    """SIGTERM behaves like Ctrl-C, so finally blocks and fixtures clean up."""

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, interrupt)


def open_x(name):
    """A python-xlib connection to display `name`; HarnessError when none answers."""
    # python-xlib keeps the event codes extensions register in one table
    # shared by all connections, and servers with other extensions number
    # them differently: each connection gets a table of its own.
    xprotocol.Display.event_classes = xevent.event_class.copy()
    try:
        d = xlib_display.Display(name)
    except Exception as e:  # DisplayConnectionError, OSError, ...
        raise HarnessError('cannot open display %s: %s' % (name, e)) from e
    d.display.event_classes = xprotocol.Display.event_classes
    return d


def x_answers(name):
    try:
        open_x(name).close()
    except HarnessError:
        return False
    return True


def display_works():
    """Whether $DISPLAY names an X display that answers."""
    name = os.environ.get('DISPLAY')
    return bool(name) and x_answers(name)


def spawn_server(cmd, logfile, timeout=30):
    """Starts an X server with -displayfd; (Popen, ':N') once it accepts
    connections. HarnessError naming the log when it does not come up."""
    rfd, wfd = os.pipe()
    with open(logfile, 'wb') as out:
        p = subprocess.Popen(cmd + ['-displayfd', str(wfd)], pass_fds=(wfd,),
                             stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    os.close(wfd)
    got = b''
    end = time.monotonic() + timeout
    try:
        while not got.endswith(b'\n') and select.select([rfd], [], [], max(
                0, end - time.monotonic()))[0]:
            chunk = os.read(rfd, 16)
            if not chunk:  # the server exited
                break
            got += chunk
    finally:
        os.close(rfd)
    if not got.endswith(b'\n'):
        stop_all([p])
        raise HarnessError('%s did not start (see %s)' % (cmd[0], logfile))
    return p, ':' + got.decode().strip()


def paint_root_white(name):
    """A white background pixmap for the root, advertised in _XROOTPMAP_ID:
    xcompmgr paints the desktop from that property (grey without it)."""
    d = open_x(name)
    try:
        scr = d.screen()
        geo = scr.root.get_geometry()
        pm = scr.root.create_pixmap(geo.width, geo.height, scr.root_depth)
        pm.fill_rectangle(pm.create_gc(foreground=scr.white_pixel), 0, 0, geo.width, geo.height)
        for atom in ('_XROOTPMAP_ID', 'ESETROOT_PMAP_ID'):
            scr.root.change_property(d.intern_atom(atom), Xatom.PIXMAP, 32, [pm.id])
        scr.root.change_attributes(background_pixmap=pm)
        scr.root.clear_area()
        d.set_close_down_mode(X.RetainPermanent)  # the pixmap outlives us
        d.sync()
    finally:
        d.close()


def set_screen_size(name, width, height, old_width, old_height):
    """Switches the screen to width x height through RandR. The xrandr
    program cannot add a mode to Xvfb (a mode made by --newmode is gone when
    that xrandr exits), so one connection makes, adds and sets the mode."""
    d = open_x(name)
    try:
        if not d.has_extension('RANDR'):
            raise HarnessError('display %s has no RandR' % name)
        root = d.screen().root
        res = root.xrandr_get_screen_resources()
        mode = next((m.id for m in res.modes if (m.width, m.height) == (width, height)), None)
        if mode is None:
            mode_name = '%dx%d' % (width, height)
            info = dict(id=0, width=width, height=height, dot_clock=60 * width * height,
                        h_sync_start=width, h_sync_end=width, h_total=width, h_skew=0,
                        v_sync_start=height, v_sync_end=height, v_total=height,
                        name_length=len(mode_name), flags=0)
            mode = root.xrandr_create_mode(info, mode_name).mode
            d.xrandr_add_output_mode(res.outputs[0], mode)
            d.sync()
            res = root.xrandr_get_screen_resources()
        mm = (round(width * 25.4 / 96), round(height * 25.4 / 96))
        # The CRTC must fit the screen at every step: a larger screen first
        # when growing, a smaller one after when shrinking.
        growing = width > old_width or height > old_height
        if growing:
            root.xrandr_set_screen_size(width, height, *mm)
        status = d.xrandr_set_crtc_config(res.crtcs[0], res.config_timestamp, 0, 0, mode,
                                          randr.Rotate_0, [res.outputs[0]]).status
        if not growing:
            root.xrandr_set_screen_size(width, height, *mm)
        d.sync()
    except xerror.XError as e:
        raise HarnessError('RandR refused %dx%d: %s' % (width, height, e)) from e
    finally:
        d.close()
    if status != randr.SetConfigSuccess:
        raise HarnessError('RandR refused %dx%d (status %d)' % (width, height, status))


class Display:
    """An X display with a white desktop: a server, openbox and xcompmgr.
    A subclass starts the server (start_server); the rest is shared."""

    KIND = None
    compositor = True

    def __init__(self, width=SCREEN_W, height=SCREEN_H, logdir=None):
        self.width, self.height = width, height
        self.logdir = logdir or os.path.join(BUILD, 'e2e')
        self.procs = []
        self.name = self.env = self._x = None

    def _spawn(self, name, cmd):
        with open(os.path.join(self.logdir, name + '.log'), 'wb') as out:
            p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, env=self.env)
        self.procs.append(p)
        return p

    def start_server(self):
        """Starts the X server; sets name and env."""
        raise NotImplementedError

    def white_points(self):
        w, h = self.width, self.height
        return [(w // 2, h // 2), (w // 4, h // 4), (3 * w // 4, h // 4), (w // 4, 3 * h // 4),
                (3 * w // 4, 3 * h // 4)]

    def start(self):
        """Starts everything; HarnessError (after stopping what started)
        when the desktop is not up and white."""
        os.makedirs(self.logdir, exist_ok=True)
        try:
            self.start_server()
            self._spawn('openbox', ['openbox', '--sm-disable'])
            paint_root_white(self.name)  # before xcompmgr, which reads it at start
            if self.compositor:
                self._spawn('xcompmgr', ['xcompmgr'])
                d = self.x()
                atom = d.intern_atom('_NET_WM_CM_S0')
                if not poll(lambda: d.get_selection_owner(atom) != X.NONE, 20, 0.02):
                    raise HarnessError('%s: xcompmgr did not start (see %s)' % (self.name,
                                                                               self.logdir))
            self._wait_window_manager()
            points = self.white_points()
            if not poll(lambda: all(self.pixel_rgb(*p) == WHITE for p in points), 10, 0.05):
                raise HarnessError('the desktop of %s is not white: %s' % (
                    self.name, [(p, self.pixel_rgb(*p)) for p in points]))
            self.check_ready()
        except BaseException:
            self.stop()
            raise
        return self

    def _wait_window_manager(self):
        """Until openbox frames a window of ours: a window mapped while it
        starts up can stay unmanaged, so the request is made again."""
        d = self.x()
        root = d.screen().root
        w = root.create_window(0, 0, 1, 1, 0, d.screen().root_depth)
        try:
            if not poll(lambda: w.map() or d.sync() or poll(
                    lambda: w.query_tree().parent != root, 0.5, 0.02), 20, 0):
                raise HarnessError('%s: openbox manages no window (see %s)' % (self.name,
                                                                               self.logdir))
        finally:
            w.destroy()
            d.sync()

    def check_ready(self):
        """What a kind of display checks of itself once the desktop is up."""

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

    def x(self):
        """This display's own python-xlib connection, opened on first use."""
        if self._x is None:
            self._x = open_x(self.name)
        return self._x

    def _rgb(self, x, y, w, h):
        data = self.x().screen().root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF).data
        if len(data) != w * h * 4:
            raise HarnessError('%s: not a 24-bit screen in 32-bit pixels' % self.name)
        rgb = bytearray(w * h * 3)  # BGRX on a little-endian server
        rgb[0::3], rgb[1::3], rgb[2::3] = data[2::4], data[1::4], data[0::4]
        return bytes(rgb)

    def shot(self, path=None):
        """The root window as shown (the compositor draws into it), at its
        size now; saved as PNG when path is given."""
        for _ in range(3):  # the screen may change size between the two requests
            geo = self.x().screen().root.get_geometry()
            try:
                img = Image(self._rgb(0, 0, geo.width, geo.height), geo.width, geo.height)
            except xerror.BadMatch:
                continue
            self.width, self.height = geo.width, geo.height
            if path:
                img.save(path)
            return img
        raise HarnessError('screenshot of %s failed' % self.name)

    def pixel_rgb(self, x, y):
        """(r, g, b) of one pixel as shown; None when the server refuses
        (a screen shrunk meanwhile)."""
        try:
            return tuple(self._rgb(x, y, 1, 1))
        except xerror.XError:
            return None

    def set_screen_size(self, width, height):
        """Xvfb can shrink its screen and grow it back, not beyond its start."""
        set_screen_size(self.name, width, height, self.width, self.height)
        self.width, self.height = width, height

    # -- windows --------------------------------------------------------------

    def _query(self, fn, default=None):
        """fn(connection), or default when a window it asks about is gone."""
        try:
            return fn(self.x())
        except (xerror.BadWindow, xerror.BadDrawable, xerror.BadMatch):
            return default

    def _answers(self, make, windows):
        """{window: reply} of one request per window, all sent before the
        first reply is read (a desktop has hundreds of windows); windows
        gone meanwhile are left out."""
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

    def _tree(self):
        """(root, {window: [children, bottom to top]}), a level at a time."""
        d = self.x()
        root = d.screen().root.id
        children, level = {}, [root]
        while level:
            got = self._answers(
                lambda dd, w: xrequest.QueryTree(display=dd, defer=True, window=w), level)
            level = []
            for w, r in got.items():
                children[w] = [c.id for c in r.children]
                level += children[w]
        return root, children

    def windows_by_pid(self, pid, visible_only=True):
        """The windows whose _NET_WM_PID is pid (viewable ones only unless
        visible_only is False), in xdotool search's order: each window's
        matching children, then their subtrees."""
        d = self.x()
        root, children = self._tree()
        atom = d.intern_atom('_NET_WM_PID')
        props = self._answers(
            lambda dd, w: xrequest.GetProperty(display=dd, defer=True, delete=False, window=w,
                                               property=atom, type=Xatom.CARDINAL,
                                               long_offset=0, long_length=1),
            [w for w in children if w != root])
        match = {w for w, r in props.items()
                 if r.property_type and r.value[1] and r.value[1][0] == pid}
        if visible_only:
            attrs = self._answers(
                lambda dd, w: xrequest.GetWindowAttributes(display=dd, defer=True, window=w),
                match)
            match = {w for w, r in attrs.items() if r.map_state == X.IsViewable}
        found, todo = [], [root]
        while todo:
            w = todo.pop()
            found += [c for c in children.get(w, []) if c in match]
            todo += reversed(children.get(w, []))
        return found

    def window_geometry(self, xid):
        """(x, y, width, height) of a window on the root, or None when gone."""

        def get(d):
            w = d.create_resource_object('window', xid)
            geo = w.get_geometry()
            root = d.screen().root
            if w.query_tree().parent == root:
                return geo.x, geo.y, geo.width, geo.height
            t = root.translate_coords(w, 0, 0)
            return t.x, t.y, geo.width, geo.height

        return self._query(get)

    def window_name(self, xid):
        """_NET_WM_NAME of a window, else WM_NAME; '' when it has none."""

        def get(d):
            w = d.create_resource_object('window', xid)
            for atom in ('_NET_WM_NAME', 'WM_NAME'):
                prop = w.get_full_property(d.intern_atom(atom), X.AnyPropertyType)
                if prop and prop.value:
                    v = prop.value
                    return v.decode('utf-8', 'replace') if isinstance(v, bytes) else str(v)
            return ''

        return self._query(get, '')

    def active_window(self):
        """_NET_ACTIVE_WINDOW, or None."""

        def get(d):
            prop = d.screen().root.get_full_property(d.intern_atom('_NET_ACTIVE_WINDOW'),
                                                     Xatom.WINDOW)
            return prop.value[0] if prop and len(prop.value) else None

        return self._query(get)

    # -- input --------------------------------------------------------------

    def xdotool(self, *args, check=True, timeout=20):
        cmd = ' '.join(map(str, args))
        try:
            r = subprocess.run(['xdotool'] + [str(a) for a in args], env=self.env,
                               capture_output=True, text=True, timeout=timeout, check=False)
        except subprocess.TimeoutExpired:
            if check:
                raise HarnessError('xdotool %s timed out' % cmd) from None
            return ''
        if check and r.returncode != 0:
            raise HarnessError('xdotool %s: %s' % (cmd, r.stderr.strip()))
        return r.stdout

    def pointer(self):
        p = self.x().screen().root.query_pointer()
        return p.root_x, p.root_y

    def move(self, x, y):
        # Not xdotool's --sync: it waits for a motion event, and a move to
        # where the pointer already is makes none.
        self.xdotool('mousemove', x, y)
        if not poll(lambda: self.pointer() == (x, y), 5, 0.01):
            raise HarnessError('the pointer is at %s, not at %s' % (self.pointer(), (x, y)))

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdotool('click', button)

    def drag(self, x0, y0, x1, y1, steps=12):
        """Left-button drag in small moves, as a hand would."""
        self.move(x0, y0)
        self.xdotool('mousedown', 1)
        for i in range(1, steps + 1):
            self.move(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps))
        self.xdotool('mouseup', 1)

    def key(self, *keys):
        self.xdotool('key', *keys)

    def activate(self, xid):
        self.xdotool('windowactivate', '--sync', xid, check=False, timeout=10)


class Xvfb(Display):
    """Xvfb: one screen of width x height."""

    KIND = 'xvfb'

    def start_server(self):
        xvfb, self.name = spawn_server(
            ['Xvfb', '-screen', '0', '%dx%dx24' % (self.width, self.height), '-nolisten', 'tcp',
             '-noreset'], os.path.join(self.logdir, 'xvfb.log'))
        self.procs.append(xvfb)
        self.env = dict(os.environ, DISPLAY=self.name)


# The kinds of display a caller can ask for; tests/e2e/xorg_dummy.py adds
# Xorg with the dummy driver (two monitors, gamma ramps).
DISPLAY_KINDS = {Xvfb.KIND: Xvfb}


def start_display(kind='xvfb', **kwargs):
    """A started display of that kind (width, height, logdir as for Display)."""
    try:
        cls = DISPLAY_KINDS[kind]
    except KeyError:
        raise HarnessError('no display of kind %r (known: %s)' %
                           (kind, ', '.join(sorted(DISPLAY_KINDS)))) from None
    return cls(**kwargs).start()


def close(a, b, tol):
    return a is not None and all(abs(p - q) <= tol for p, q in zip(a, b))


def write_png(path, raw, width, height):
    """An 8-bit RGB PNG of raw (rows of r, g, b bytes, top to bottom)."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    stride = width * 3
    rows = b''.join(b'\0' + raw[i:i + stride] for i in range(0, stride * height, stride))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' +
                chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
                chunk(b'IDAT', zlib.compress(rows, 6)) + chunk(b'IEND', b''))


class Image:
    """An RGB screenshot in memory."""

    def __init__(self, raw, width, height):
        self.raw, self.width, self.height = raw, width, height

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def save(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_png(path, self.raw, self.width, self.height)
        SAVED_SHOTS.append(path)

    def run_length(self, x, y, dx, dy, rgb, tol):
        """How many pixels from (x, y) stepping (dx, dy) match rgb."""
        n = 0
        while 0 <= x < self.width and 0 <= y < self.height and close(self.pixel(x, y), rgb, tol):
            n += 1
            x += dx
            y += dy
        return n

    def extent(self, x, y, rgb, tol):
        """(left, top, width, height) of the pixels matching rgb along the
        row and column through (x, y); None when (x, y) does not match."""
        if not close(self.pixel(x, y), rgb, tol):
            return None
        left = x - self.run_length(x, y, -1, 0, rgb, tol) + 1
        right = x + self.run_length(x, y, 1, 0, rgb, tol) - 1
        top = y - self.run_length(x, y, 0, -1, rgb, tol) + 1
        bottom = y + self.run_length(x, y, 0, 1, rgb, tol) - 1
        return left, top, right - left + 1, bottom - top + 1
