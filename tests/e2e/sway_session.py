"""A headless sway (pixman, two white 1024x768 outputs, F7 bound to `morvane-night --settings`
as a user would bind it) with its own D-Bus bus, run as a test user when we are root (sway
refuses root). grim shoots, wtype types, wlpointer points: sway's own cursor commands send no
pointer frame. It lives under /tmp, where the test user can reach it and a socket's path fits
108 bytes; logs and settings go to build/wayland-e2e/<test>/ at stop."""

import json
import os
import pathlib
import pwd
import re
import shutil
import subprocess
import tempfile

import harness as h
import native_target

ROOT = os.path.join(h.BUILD, 'wayland-e2e')
SHOTS = os.path.join(ROOT, 'shots')
USER = 'morvane-e2e'
WIDTH, HEIGHT = 1024, 768


class Unavailable(Exception):
    """sway cannot run here: the tests skip."""


def _test_user():
    """(uid, gid) of the test user when we are root (made the first time)."""
    if os.geteuid() != 0:
        return None
    try:
        entry = pwd.getpwnam(USER)
    except KeyError:
        useradd = shutil.which('useradd') or '/usr/sbin/useradd'
        if not os.path.exists(useradd):
            raise Unavailable('no useradd to make the test user') from None
        r = subprocess.run([useradd, '--system', '--no-create-home', '--home-dir', '/nonexistent',
                            '--shell', '/usr/sbin/nologin', USER],
                           capture_output=True, text=True, check=False)
        try:  # made meanwhile by a test run beside this one, or not at all
            entry = pwd.getpwnam(USER)
        except KeyError:
            raise Unavailable('cannot make the test user %s: %s' % (USER, r.stderr.strip()))
    return entry.pw_uid, entry.pw_gid


def parse_ppm(data):
    """An h.Image from grim's binary PPM (P6, maxval 255, no comments)."""
    m = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
    if not m:
        raise h.HarnessError('grim gave no 8-bit PPM: %r' % data[:20])
    width, height = int(m.group(1)), int(m.group(2))
    raw = data[m.end():m.end() + width * height * 3]
    if len(raw) != width * height * 3:
        raise h.HarnessError('short screenshot from grim')
    return h.Image(raw, width, height)


class SwaySession:
    def __init__(self, name, tools):
        self.name = name
        self.tools = tools
        self.base = None
        self.logs = os.path.join(ROOT, name)
        self.procs = []
        self.pointer = None
        self.ids = _test_user()
        for tool in ('sway', 'swaymsg', 'grim', 'wtype', 'dbus-daemon'):
            if not shutil.which(tool):
                raise Unavailable('%s is not installed' % tool)

    def _as_user(self):
        return dict(user=self.ids[0], group=self.ids[1], extra_groups=[]) if self.ids else {}

    def spawn(self, argv, log, pipes=False):
        """Runs argv logging to `log`; with `pipes`, its standard input and output are ours."""
        with open(os.path.join(self.base, log), 'ab') as out:
            p = subprocess.Popen(argv, env=self.env, cwd=self.base, stderr=out,
                                 stdin=subprocess.PIPE if pipes else subprocess.DEVNULL,
                                 stdout=subprocess.PIPE if pipes else out, **self._as_user())
        self.procs.append(p)
        return p

    def run(self, argv, check=False):
        r = subprocess.run(argv, env=self.env, capture_output=True, timeout=10, check=False,
                           **self._as_user())
        if check and r.returncode != 0:
            out = (r.stdout + r.stderr).decode(errors='replace')
            raise h.HarnessError('%s: %s' % (' '.join(argv), out[-600:]))
        return r

    def focused_pid(self):
        """The pid of the view sway gives the keyboard, or None."""
        todo = [json.loads(self.swaymsg('-t', 'get_tree'))]
        while todo:
            node = todo.pop()
            if node.get('focused') and node.get('pid'):
                return node['pid']
            todo += node.get('nodes', []) + node.get('floating_nodes', [])
        return None

    def start(self):
        shutil.rmtree(self.logs, ignore_errors=True)
        self.base = tempfile.mkdtemp(prefix='nm-wl-')
        bin_dir, self.config, cache, self.runtime = (
            os.path.join(self.base, d) for d in ('bin', 'config', 'cache', 'rt'))
        for d in (self.base, bin_dir, self.config, cache, self.runtime):
            os.makedirs(d, exist_ok=True)
            os.chmod(d, 0o700 if d == self.runtime else 0o755)
            if self.ids:
                os.chown(d, *self.ids)
        self.bin = shutil.copy(native_target.BIN, bin_dir)
        self.tools = {k: shutil.copy(v, bin_dir) for k, v in self.tools.items()}
        conf = os.path.join(self.base, 'sway.conf')
        with open(conf, 'w') as f:
            f.write('\n'.join([
                'xwayland disable', 'default_border none', 'default_floating_border none',
                'focus_follows_mouse no'] + [
                'output HEADLESS-%d resolution %dx%d position %d 0 bg #ffffff solid_color'
                % (i + 1, WIDTH, HEIGHT, i * WIDTH) for i in range(2)] + [
                'bindsym F7 exec %s --settings' % self.bin, '']))
        locale = h.locale_name()
        bus = os.path.join(self.runtime, 'bus')
        self.env = {
            'PATH': '/usr/bin:/bin', 'HOME': self.base, 'XDG_RUNTIME_DIR': self.runtime,
            'XDG_CONFIG_HOME': self.config, 'XDG_CACHE_HOME': cache,
            'DBUS_SESSION_BUS_ADDRESS': 'unix:path=' + bus, 'XDG_SESSION_TYPE': 'wayland',
            'WLR_BACKENDS': 'headless', 'WLR_RENDERER': 'pixman', 'WLR_LIBINPUT_NO_DEVICES': '1',
            'LANG': locale, 'LC_ALL': locale, 'NO_AT_BRIDGE': '1', 'GSETTINGS_BACKEND': 'memory'}
        self.spawn(['dbus-daemon', '--session', '--nofork', '--address=unix:path=' + bus],
                   log='dbus.log')
        if not h.poll(lambda: os.path.exists(bus), 5, 0.05):
            raise Unavailable('dbus-daemon did not start (%s)' % self.log('dbus.log'))
        sway = self.spawn(['sway', '-c', conf], log='sway.log')

        def ready():
            names = os.listdir(self.runtime)
            socks = [n for n in names if n.startswith('wayland-') and not n.endswith('.lock')]
            ipc = [n for n in names if n.startswith('sway-ipc.')]
            return (socks[0], ipc[0]) if socks and ipc else None
        found = h.poll(ready, 10, 0.05)
        if not found or sway.poll() is not None:
            raise Unavailable('sway did not start: %s' % self.log('sway.log')[-600:])
        self.env['WAYLAND_DISPLAY'] = found[0]
        self.env['SWAYSOCK'] = os.path.join(self.runtime, found[1])
        if not h.poll(lambda: self.run(['swaymsg', '-t', 'get_outputs'])
                      .returncode == 0, 5, 0.1):
            raise Unavailable('sway does not answer: %s' % self.log('sway.log')[-600:])
        # A pointer for the seat, held while its standard input is open.
        self.pointer = self.spawn([self.tools['pointer']], 'pointer.log', pipes=True)
        if self.pointer.stdout.readline().strip() != b'ready':
            raise h.HarnessError('no virtual pointer: ' + self.log('pointer.log'))
        # And a keyboard, the same way: each `wtype -k` brings a keyboard of
        # its own, which a client that had none would bind too late for the
        # key; with this one held, every client has its keyboard already.
        self.spawn(['wtype', '-s', '3600000'], log='keyboard.log')
        if not h.poll(lambda: any(i['type'] == 'keyboard' for i in json.loads(
                self.swaymsg('-t', 'get_inputs'))), 5, 0.05):
            raise h.HarnessError('sway shows no keyboard of wtype: ' + self.log('keyboard.log'))
        return self

    def stop(self):
        if self.pointer and self.pointer.stdin:
            self.pointer.stdin.close()
        h.stop_all(reversed(self.procs))
        self.procs = []
        if self.base is None:
            return
        shutil.copytree(self.base, self.logs, dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns('bin', 'cache', 'rt', '.*'))
        shutil.rmtree(self.base, ignore_errors=True)
        self.base = None

    def log(self, name):
        path = pathlib.Path(self.base, name)
        return path.read_text(errors='replace') if path.exists() else ''

    def swaymsg(self, *args):
        return self.run(['swaymsg'] + list(args), check=True).stdout

    def key(self, name, mod=None):
        """Presses a key by its XKB name, with a modifier (ctrl, alt) held."""
        held = ['-M', mod] if mod else []
        self.run(['wtype'] + held + ['-k', name] + (['-m', mod] if mod else []), check=True)

    def type(self, text):
        self.run(['wtype', text], check=True)

    def _pointer(self, command):
        self.pointer.stdin.write(command.encode() + b'\n')
        self.pointer.stdin.flush()
        if self.pointer.stdout.readline().strip() != b'ok':
            raise h.HarnessError('the virtual pointer did not take %r' % command)

    def layout(self):
        """(width, height) of all outputs together."""
        outputs = json.loads(self.swaymsg('-t', 'get_outputs'))
        return (max(o['rect']['x'] + o['rect']['width'] for o in outputs),
                max(o['rect']['y'] + o['rect']['height'] for o in outputs))

    def move(self, x, y):
        self._pointer('move %d %d %d %d' % ((x, y) + self.layout()))

    # Each pointer command returns once sway has it (wlpointer waits for a
    # round trip), and a client gets the motion before the button.
    def click(self, x, y):
        self.drag(x, y, x, y, steps=0)

    def drag(self, x0, y0, x1, y1, steps=10):
        self.move(x0, y0)
        self._pointer('press')
        for i in range(1, steps + 1):
            self.move(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps))
        self._pointer('release')

    def shot(self, step=None):
        """The whole layout as an h.Image; saved when `step` names it."""
        img = parse_ppm(self.run(['grim', '-t', 'ppm', '-'], check=True).stdout)
        if step:
            img.save(os.path.join(SHOTS, '%s-%s.png' % (self.name, step)))
        return img

    def start_program(self, *args):
        n = sum(1 for _ in os.scandir(self.base) if _.name.startswith('app-'))
        return self.spawn([self.bin] + list(args), 'app-%d.log' % n)

    def start_probe(self):
        """The white client beneath the tint, which logs what reaches it."""
        path = os.path.join(self.base, 'probe.log')
        probe = self.spawn([self.tools['probe'], path], log='probe.out')
        if not h.poll(lambda: 'ready' in self.log('probe.log')
                      and self.focused_pid() == probe.pid, 10, 0.1):
            raise h.HarnessError('the Wayland click probe did not start with the keyboard '
                                 '(focused pid %s): %s' % (self.focused_pid(),
                                                           self.log('probe.out')))
        return path

    def settings(self):
        return native_target.read_settings(
            os.path.join(self.config, native_target.SETTINGS_DIR, 'settings.ini'))
