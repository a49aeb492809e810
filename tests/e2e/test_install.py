"""Installed as a Linux desktop program: `cmake --install` into a staging folder; the package of
scripts/package checked by lintian, installed with dpkg (as root or through sudo -n, one run at a
time), used as a user would, and removed without a trace; purged at the end whatever happened."""

import configparser
import fcntl
import os
import re
import shutil
import struct
import subprocess
import time

import pytest

import harness as h
import native_target
from scenario_kit import DEFAULT_ALPHA, DEFAULT_COLOUR

pytestmark = pytest.mark.install

PACKAGE, ID = 'morvane-night', 'com.morvane.NightMode'
INSTALLED = '/usr/bin/morvane-night'
ENTRY, METAINFO = 'share/applications/%s.desktop' % ID, 'share/metainfo/%s.metainfo.xml' % ID
SYSTEM_PATH = '/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
LOCK = '/run/lock/morvane-night-install-test.lock'


def version_text():
    with open(os.path.join(h.REPO, 'resources', 'version.h'), encoding='utf-8') as f:
        return re.search(r'#define NM_VERSION_TEXT "(.*)"', f.read()).group(1)


def run(cmd, timeout=300, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, **kwargs)


def tool(name):
    if shutil.which(name) is None:
        pytest.skip('%s is not installed (scripts/setup installs it)' % name)
    return name


def validate_entry(path):
    r = run([tool('desktop-file-validate'), path])
    assert r.returncode == 0 and 'error' not in r.stdout, path + ':\n' + r.stdout


def manual(*args):
    # The page names a folder in Chinese, which only a UTF-8 locale shows.
    r = run(['man', '--warnings'] + list(args), env=dict(
        os.environ, PATH=SYSTEM_PATH, LC_ALL='C.UTF-8', MANPAGER='cat'))
    assert r.returncode == 0 and r.stderr == '', 'man %s:\n%s' % (args, r.stderr)
    return r.stdout


def dpkg(*args):
    """dpkg as root, waiting while another program holds its lock."""
    sudo = [] if os.geteuid() == 0 else ['sudo', '-n']
    deadline = time.monotonic() + 300
    while True:
        r = run(sudo + ['dpkg'] + list(args))
        if r.returncode == 0 or 'lock' not in r.stderr or time.monotonic() > deadline:
            return r
        time.sleep(2)


@pytest.fixture(scope='module')
def package():
    r = run([os.path.join(h.REPO, 'scripts', 'package')], timeout=1800)
    assert r.returncode == 0, 'scripts/package:\n' + r.stdout[-3000:] + r.stderr[-3000:]
    arch = run(['dpkg', '--print-architecture']).stdout.strip()
    path = r.stdout.split()[-1]
    assert path == os.path.join(h.BUILD, 'package', '%s_%s_%s.deb' % (
        PACKAGE, version_text(), arch))
    return path


@pytest.fixture(scope='module')
def installed(package):
    if os.geteuid() != 0 and run(['sudo', '-n', 'true']).returncode != 0:
        pytest.skip('installing the package needs root or sudo without a password')
    with open(LOCK, 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # a parallel run installs after us
        try:
            r = dpkg('-i', package)
            assert r.returncode == 0, 'dpkg -i:\n' + r.stderr
            yield run(['dpkg', '-L', PACKAGE]).stdout.split('\n')
        finally:
            if os.path.exists(INSTALLED):
                dpkg('--purge', PACKAGE)


def test_cmake_install_honours_prefix_and_destdir(tmp_path):
    if not os.path.exists(native_target.BIN):
        pytest.fail('program not built: %s' % native_target.BIN, pytrace=False)
    r = run(['cmake', '--install', os.path.join(h.BUILD, 'linux'), '--prefix',
             '/opt/night'], env=dict(os.environ, DESTDIR=str(tmp_path)))
    assert r.returncode == 0, r.stdout + r.stderr
    root = tmp_path / 'opt' / 'night'
    # The icon at each size of the executable's .ico.
    with open(os.path.join(h.REPO, 'resources', 'app.ico'), 'rb') as f:
        data = f.read()
    sizes = [data[6 + 16 * i] for i in range(struct.unpack_from('<H', data, 4)[0])]
    icons = ['share/icons/hicolor/%dx%d/apps/%s.png' % (s, s, ID) for s in sizes]
    got = sorted(str(p.relative_to(root)) for p in root.rglob('*') if p.is_file())
    assert got == sorted(icons + ['bin/morvane-night', ENTRY, METAINFO,
                                  'share/man/man1/morvane-night.1',
                                  'share/doc/morvane-night/copyright'])
    for size, icon in zip(sizes, icons):
        png = (root / icon).read_bytes()
        assert png[:4] == b'\x89PNG' and struct.unpack('>II', png[16:24]) == (size, size)
    validate_entry(str(root / ENTRY))
    r = run([tool('appstreamcli'), 'validate', '--no-net', str(root / METAINFO)])
    assert r.returncode == 0, r.stdout + r.stderr
    page = manual('-l', str(root / 'share/man/man1/morvane-night.1'))
    assert all(w in page for w in ('--autostart', 'Page Up', 'EXIT STATUS', 'bindsym F7'))


def test_package_passes_lintian(package, request):
    r = run([tool('lintian'), '--fail-on', 'error', package], timeout=600)
    tags = [line for line in r.stdout.splitlines() if line[:2] in ('E:', 'W:')]
    request.node.user_properties += [('note', t) for t in tags]
    assert r.returncode == 0 and not [t for t in tags if t[0] == 'E'], r.stdout + r.stderr


def test_installed_program_starts_at_login(installed, display, xclickprobe, monkeypatch):
    assert shutil.which('morvane-night', path=SYSTEM_PATH) == INSTALLED
    r = run(['morvane-night', '--version'], env=dict(os.environ, PATH=SYSTEM_PATH))
    assert r.stdout.startswith('morvane-night ') and r.stdout.split()[-1] == version_text()
    validate_entry('/usr/' + ENTRY)
    r = run([tool('appstreamcli'), 'validate', '--no-net', '/usr/' + METAINFO])
    assert r.returncode == 0, r.stdout + r.stderr
    assert 'morvane-night - dim and tint' in manual('morvane-night')

    app = native_target.NativeApp('test_installed_program_starts_at_login',
                                  display, xclickprobe)
    saved = os.path.join(app.config, 'autostart', ID + '.desktop')
    # Turned on and off with no display at all.
    env = dict({k: v for k, v in app.env.items() if k != 'DISPLAY'}, PATH=SYSTEM_PATH)
    r = run(['morvane-night', '--autostart', 'on'], env=env)
    assert r.returncode == 0 and saved in r.stdout, r.stdout + r.stderr
    validate_entry(saved)
    entry = configparser.ConfigParser(interpolation=None)
    entry.read(saved, encoding='utf-8')
    assert entry['Desktop Entry']['Exec'] == INSTALLED
    monkeypatch.setattr(native_target, 'BIN', entry['Desktop Entry']['Exec'])
    try:
        app.start_and_settle()
        app.expect_pixel(h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR),
                         'started as the start-at-login entry says')
    finally:
        app.stop()
    r = run(['morvane-night', '--autostart', 'off'], env=env)
    assert r.returncode == 0 and not os.path.lexists(saved), r.stdout + r.stderr


def test_removal_leaves_nothing(installed):
    files = [p for p in installed if os.path.isfile(p) or os.path.islink(p)]
    assert {INSTALLED, '/usr/' + ENTRY, '/usr/' + METAINFO} <= set(files)
    r = dpkg('-r', PACKAGE)
    assert r.returncode == 0, r.stderr
    assert [p for p in files if os.path.lexists(p)] == []
    assert not os.path.exists('/usr/share/doc/' + PACKAGE)
    assert run(['dpkg', '-s', PACKAGE]).returncode != 0
