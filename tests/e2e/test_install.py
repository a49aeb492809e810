"""The native program installed as a Linux desktop program: `cmake --install`
into a staging folder; the Debian package of scripts/package, checked by
lintian, installed with dpkg and used as a user would (the version from
PATH, the manual page, the desktop entry and AppStream data validated where
they were installed, start at login turned on, started on a test display
and turned off), then removed without a trace.

Installing needs root, or sudo without a password; the tests that install
skip without either. One run at a time installs (a lock under /run/lock),
and the package is removed at the end whatever happened.
"""

import fcntl
import os
import re
import shlex
import shutil
import struct
import subprocess
import time

import pytest

import harness as h
import native_target
from scenario_kit import DEFAULT_ALPHA, DEFAULT_COLOUR

pytestmark = pytest.mark.install

PACKAGE = 'morvane-night'
ID = 'com.morvane.NightMode'
INSTALLED = '/usr/bin/morvane-night'
ENTRY = '/usr/share/applications/%s.desktop' % ID
METAINFO = '/usr/share/metainfo/%s.metainfo.xml' % ID
MANUAL = '/usr/share/man/man1/morvane-night.1.gz'
SYSTEM_PATH = '/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
LOCK = os.path.join('/run/lock' if os.path.isdir('/run/lock') else '/tmp',
                    'morvane-night-install-test.lock')


def version_text():
    with open(os.path.join(h.REPO, 'resources', 'version.h'),
              encoding='utf-8') as f:
        return re.search(r'#define NM_VERSION_TEXT "(.*)"', f.read()).group(1)


def ico_sizes():
    with open(os.path.join(h.REPO, 'resources', 'app.ico'), 'rb') as f:
        data = f.read()
    count = struct.unpack_from('<H', data, 4)[0]
    return sorted(data[6 + 16 * i] or 256 for i in range(count))


def tool(name):
    path = shutil.which(name)
    if path is None:
        pytest.skip('%s is not installed (scripts/setup installs it)' % name)
    return path


def run(cmd, timeout=120, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, check=False,
                          timeout=timeout, **kwargs)


def validate_entry(path):
    r = run([tool('desktop-file-validate'), path])
    assert r.returncode == 0 and 'error' not in r.stdout, (
        'desktop-file-validate %s:\n%s' % (path, r.stdout + r.stderr))


def check_manual(path):
    # The page names a folder in Chinese, which only a UTF-8 locale shows.
    r = run(['man', '--warnings', '-l', path], env=dict(
        os.environ, LC_ALL='C.UTF-8', MANPAGER='cat', MANWIDTH='80'))
    assert r.returncode == 0 and r.stderr == '', (
        'man --warnings -l %s:\n%s' % (path, r.stderr))
    return r.stdout


def root_command():
    if os.geteuid() == 0:
        return []
    if shutil.which('sudo') and run(['sudo', '-n', 'true']).returncode == 0:
        return ['sudo', '-n']
    pytest.skip('installing the package needs root or sudo without a password')


def dpkg(*args):
    """dpkg as root, waiting while another program holds its lock."""
    deadline = time.monotonic() + 300
    while True:
        r = run(root_command() + ['dpkg'] + list(args), timeout=300)
        if r.returncode == 0 or 'lock' not in r.stderr or (
                time.monotonic() > deadline):
            return r
        time.sleep(2)


def installed_status():
    return run(['dpkg-query', '-W', '-f=${db:Status-Status}',
                PACKAGE]).stdout.strip()


@pytest.fixture(scope='module')
def package():
    r = run([os.path.join(h.REPO, 'scripts', 'package')], timeout=1800)
    assert r.returncode == 0, 'scripts/package failed:\n%s' % (
        r.stdout[-3000:] + r.stderr[-3000:])
    path = r.stdout.strip().splitlines()[-1]
    arch = run(['dpkg', '--print-architecture']).stdout.strip()
    assert path == os.path.join(h.BUILD, 'package', '%s_%s_%s.deb' % (
        PACKAGE, version_text(), arch)), 'scripts/package made %s' % path
    return path


@pytest.fixture(scope='module')
def installed(package):
    root_command()
    with open(LOCK, 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # a parallel run installs after us
        try:
            r = dpkg('-i', package)
            assert r.returncode == 0, 'dpkg -i failed:\n' + r.stderr
            yield run(['dpkg', '-L', PACKAGE]).stdout.split('\n')
        finally:
            if installed_status() not in ('', 'not-installed'):
                dpkg('--purge', PACKAGE)


def test_cmake_install_honours_prefix_and_destdir(tmp_path):
    tree = os.path.join(h.BUILD, 'linux')
    if not os.path.exists(native_target.BIN):
        pytest.fail('program not built: %s' % native_target.BIN, pytrace=False)
    r = run(['cmake', '--install', tree, '--prefix', '/opt/night'],
            env=dict(os.environ, DESTDIR=str(tmp_path)))
    assert r.returncode == 0, r.stdout + r.stderr
    root = tmp_path / 'opt' / 'night'
    got = sorted(str(p.relative_to(root)) for p in root.rglob('*')
                 if p.is_file())
    sizes = ico_sizes()
    icons = ['share/icons/hicolor/%dx%d/apps/%s.png' % (s, s, ID)
             for s in sizes]
    assert got == sorted([
        'bin/morvane-night', 'share/applications/%s.desktop' % ID,
        'share/metainfo/%s.metainfo.xml' % ID,
        'share/man/man1/morvane-night.1',
        'share/doc/morvane-night/copyright'] + icons)
    for size, icon in zip(sizes, icons):
        data = (root / icon).read_bytes()
        assert data[:8] == b'\x89PNG\r\n\x1a\n'
        assert struct.unpack('>II', data[16:24]) == (size, size), icon
    validate_entry(str(root / ('share/applications/%s.desktop' % ID)))
    page = check_manual(str(root / 'share/man/man1/morvane-night.1'))
    for words in ('--autostart', 'Page Up', 'EXIT STATUS', 'bindsym F7'):
        assert words in page, words


def test_package_passes_lintian(package, request):
    r = run([tool('lintian'), '--fail-on', 'error', package], timeout=600)
    tags = [line for line in r.stdout.splitlines() if line[:2] in ('E:', 'W:')]
    request.node.user_properties += [('note', t) for t in tags]
    assert r.returncode == 0 and not any(t.startswith('E:') for t in tags), (
        'lintian:\n' + r.stdout + r.stderr)


def test_installed_program_starts_at_login(installed, display, xclickprobe):
    env = dict(os.environ, PATH=SYSTEM_PATH)
    assert shutil.which('morvane-night', path=SYSTEM_PATH) == INSTALLED
    r = run(['morvane-night', '--version'], env=env)
    assert r.returncode == 0 and r.stdout.startswith('morvane-night ')
    assert r.stdout.split()[-1] == version_text(), r.stdout
    validate_entry(ENTRY)
    r = run([tool('appstreamcli'), 'validate', '--no-net', METAINFO])
    assert r.returncode == 0, r.stdout + r.stderr
    check_manual(MANUAL)
    r = run(['man', 'morvane-night'], env=dict(env, MANPAGER='cat',
                                                 LC_ALL='C.UTF-8'))
    assert r.returncode == 0 and 'morvane-night - dim and tint' in r.stdout, (
        r.stdout[:500] + r.stderr)

    app = InstalledApp('test_installed_program_starts_at_login', display,
                       xclickprobe)
    saved = os.path.join(app.config, 'autostart', ID + '.desktop')
    # No display is needed to turn start at login on or off.
    quiet = {k: v for k, v in app.env.items() if k != 'DISPLAY'}
    quiet['PATH'] = SYSTEM_PATH
    r = run(['morvane-night', '--autostart', 'on'], env=quiet)
    assert r.returncode == 0 and saved in r.stdout, r.stdout + r.stderr
    validate_entry(saved)
    app.command = exec_of(saved)
    assert app.command == [INSTALLED]
    try:
        app.start_and_settle()
        app.expect_pixel(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                         'started from the start-at-login entry')
    finally:
        app.stop()
    r = run(['morvane-night', '--autostart', 'off'], env=quiet)
    assert r.returncode == 0 and not os.path.lexists(saved), r.stdout
    r = run(['morvane-night', '--autostart'], env=quiet)
    assert r.stdout == 'morvane-night: night mode does not start at login\n'


def test_removal_leaves_nothing(installed):
    files = [p for p in installed if os.path.isfile(p) or os.path.islink(p)]
    assert INSTALLED in files and ENTRY in files and METAINFO in files
    r = dpkg('-r', PACKAGE)
    assert r.returncode == 0, r.stderr
    assert [p for p in files if os.path.lexists(p)] == []
    assert not os.path.exists('/usr/share/doc/' + PACKAGE)
    assert installed_status() in ('', 'not-installed'), installed_status()


def exec_of(path):
    """The command line of a desktop entry's main group."""
    group = None
    with open(path, encoding='utf-8') as f:
        for line in f.read().splitlines():
            if line.startswith('['):
                group = line
            elif group == '[Desktop Entry]' and line.startswith('Exec='):
                return shlex.split(line[len('Exec='):].replace('\\\\', '\\'))
    return None


class InstalledApp(native_target.NativeApp):
    """The program started as its start-at-login entry says."""

    command = None

    def start_app(self):
        log = open(os.path.join(self.base, 'app-%d.log' % len(self.procs)),
                   'wb')
        p = subprocess.Popen(self.command, env=self.env,
                             stdin=subprocess.DEVNULL, stdout=log,
                             stderr=subprocess.STDOUT)
        log.close()
        self.procs.append(p)
        if self.proc is None:
            self.proc = p
        return p
