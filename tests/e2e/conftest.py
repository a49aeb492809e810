"""Fixtures of the end-to-end tests. `display` is the shared Xvfb (openbox,
xcompmgr, white desktop), parametrised indirectly for another kind
('xorg-dummy'); `wine` copies the session's booted template prefix; an `app`
test marked neither wine nor native runs on both (test_x[wine], test_x[native]).
Nothing starts while tests are collected. Each pytest-xdist worker has its
own displays, template prefix and build/e2e/<worker>/; the tests marked
install stay on one worker (--dist loadgroup).
"""

import glob
import itertools
import os
import shutil
import threading
import time

import pytest

import harness as h
import native_target
import sway_session
import wine_target
import xorg_dummy

TARGETS = ('wine', 'native')
# What one pytest process (one xdist worker) keeps apart from the others.
WORKER = os.environ.get('PYTEST_XDIST_WORKER')
WORKER_ROOT = os.path.join(h.E2E, WORKER) if WORKER else h.E2E


def pytest_configure(config):
    # SIGTERM ends the run like Ctrl-C, so fixtures stop their displays and
    # Wine servers instead of leaving them behind.
    if threading.current_thread() is threading.main_thread():
        h.install_signal_exit()


def pytest_collection_modifyitems(items):
    for item in items:
        if item.get_closest_marker('install'):
            item.add_marker(pytest.mark.xdist_group('install'))
    # The longest first (the package build, the soak runs), so two workers
    # do not end with one of them alone on a long test.
    items.sort(key=lambda item: not (item.get_closest_marker('install')
                                     or item.get_closest_marker('soak')))


def pytest_generate_tests(metafunc):
    """Runs an `app` test marked with no target on every target."""
    if 'app' not in metafunc.fixturenames or any(
            metafunc.definition.get_closest_marker(t) for t in TARGETS):
        return
    metafunc.parametrize('app', [pytest.param(t, marks=getattr(pytest.mark, t), id=t)
                                 for t in TARGETS], indirect=True)


def name_of_test(node):
    """The name of a test's screenshots, logs and prefix: the function and
    its parameters but the target (test_dpi_splash_panel_slider-120)."""
    params = node.callspec.params.items() if hasattr(node, 'callspec') else ()
    parts = [node.originalname] + [str(v) for k, v in params if k not in ('app', 'display')]
    return '-'.join(parts).replace(os.sep, '_')


def forget_old_shots(shots, name):
    base = os.path.join(glob.escape(shots), glob.escape(name))
    for path in glob.glob(base + '.png') + glob.glob(base + '-*.png'):
        os.remove(path)


class Displays:
    def __init__(self):
        self.started, self.shared = [], {}
        self.count = itertools.count()

    def start(self, kind='xvfb', **kwargs):
        kwargs.setdefault('logdir', os.path.join(WORKER_ROOT, 'displays',
                                                 '%s-%d' % (kind, next(self.count))))
        d = h.start_display(kind, **kwargs)
        self.started.append(d)
        return d

    def shared_display(self, kind):
        if kind not in self.shared:
            self.shared[kind] = self.start(kind)
            h.log('e2e: %s display %s' % (kind, self.shared[kind].name))
        return self.shared[kind]

    def stop_all(self):
        for d in reversed(self.started):
            d.stop()
        self.started, self.shared = [], {}


@pytest.fixture(scope='session')
def displays():
    pool = Displays()
    yield pool
    pool.stop_all()


@pytest.fixture(scope='session')
def display(request, displays):
    return displays.shared_display(getattr(request, 'param', 'xvfb'))


@pytest.fixture(scope='module')
def bare_xorg():
    d = xorg_dummy.XorgDummyDisplay(compositor=False,
                                    logdir=os.path.join(WORKER_ROOT, 'xorg-dummy'))
    try:
        d.start()
    except xorg_dummy.XorgUnavailable as e:
        pytest.skip('Xorg with the dummy driver cannot run here: %s' % e)
    yield d
    d.stop()


@pytest.fixture
def new_display(displays):
    """new_display(kind='xvfb', width=..., height=...): a display for this test."""
    made = []

    def make(kind='xvfb', **kwargs):
        made.append(displays.start(kind, **kwargs))
        return made[-1]
    yield make
    for d in made:
        d.stop()
        displays.started.remove(d)


WINDOWS_PROBES = ('clickprobe', 'winlist', 'resprobe', 'envprobe', 'closeprobe')


@pytest.fixture(scope='session')
def probes():
    return {name: h.built('windows-cross', 'e2e/%s.exe' % name)
            for name in WINDOWS_PROBES}


@pytest.fixture(scope='session')
def xclickprobe():
    return h.built('linux', 'e2e/gtkclickprobe')


@pytest.fixture(scope='session')
def wine_template(request, displays):
    # Booted on the shared Xvfb whatever display a test asks for: a prefix
    # does not keep the display it was made on.
    display = displays.shared_display('xvfb')
    h.log('e2e: booting the template prefix')
    t = time.monotonic()
    template = h.TemplatePrefix(display, root=WORKER_ROOT).boot()
    h.log('e2e: template booted in %.0f s' % (time.monotonic() - t))
    yield template
    if not request.config.getoption('--keep-prefixes'):
        shutil.rmtree(template.path, ignore_errors=True)


@pytest.fixture
def wine(request, display, wine_template):
    w = wine_template.copy(name_of_test(request.node), display)
    yield w
    w.kill()
    if not request.config.getoption('--keep-prefixes'):
        shutil.rmtree(w.prefix, ignore_errors=True)


def _fresh_start(request, display, shots):
    """The test's name, once its old screenshots are gone and the pointer is
    away from everything the tests look at or click."""
    name = name_of_test(request.node)
    forget_old_shots(shots, name)
    display.xdotool('mousemove', display.width - 1, display.height - 1, check=False)
    return name


@pytest.fixture
def wine_app(request, display, wine, probes):
    name = _fresh_start(request, display, wine_target.SHOTS)
    app = wine_target.WineApp(name, display, wine, probes)
    yield app
    request.node.user_properties += [('note', n) for n in app.notes]


@pytest.fixture
def native_app(request, display, xclickprobe):
    if not os.path.exists(native_target.BIN):
        pytest.fail('program not built: %s (GTK 3 development files '
                    'missing?)' % native_target.BIN, pytrace=False)
    name = _fresh_start(request, display, native_target.SHOTS)
    app = native_target.NativeApp(name, display, xclickprobe)
    yield app
    request.node.user_properties += [('note', n) for n in app.notes]
    pids = [p.pid for p in app.procs]
    app.stop()
    # The next test starts on a desktop without this one's windows.
    h.wait_until(lambda: not any(display.windows_by_pid(p, False) for p in pids), 10,
                 'the stopped program\'s windows gone')
    centre = (display.width // 2, display.height // 2)
    h.wait_until(lambda: display.pixel_rgb(*centre) == (255, 255, 255), 10,
                 'the desktop white again after the program stopped')


@pytest.fixture(scope='session')
def wayland_tools():
    return {'probe': h.built('linux', 'e2e/gtkclickprobe'),
            'pointer': h.built('linux', 'e2e/wlpointer')}


@pytest.fixture
def sway(request, wayland_tools):
    if not os.path.exists(native_target.BIN):
        pytest.fail('program not built: %s' % native_target.BIN, pytrace=False)
    name = name_of_test(request.node)
    forget_old_shots(sway_session.SHOTS, name)
    session = None
    try:
        session = sway_session.SwaySession(name, wayland_tools)
        session.start()
    except BaseException as e:
        if session is not None:
            session.stop()
        if isinstance(e, sway_session.Unavailable):
            pytest.skip('sway cannot run here: %s' % e)
        raise
    yield session
    session.stop()


@pytest.fixture
def app(request):
    target = getattr(request, 'param', None) or next(
        (t for t in TARGETS if request.node.get_closest_marker(t)), None)
    if target is None:
        pytest.fail('the app fixture needs a test marked wine or native', pytrace=False)
    return request.getfixturevalue(target + '_app')


@pytest.fixture(autouse=True)
def _screenshots_of_this_test():
    del h.SAVED_SHOTS[:]


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failure names the test's last screenshot: in its message when the
    test's own checks failed, else in a section of its report."""
    shot = h.SAVED_SHOTS and os.path.relpath(h.SAVED_SHOTS[-1], h.REPO)
    exc = call.excinfo.value if call.excinfo else None
    if (shot and isinstance(exc, (h.HarnessError, AssertionError)) and exc.args
            and isinstance(exc.args[0], str) and shot not in exc.args[0]):
        exc.args = ('%s [last screenshot: %s]' % (exc.args[0], shot),) + exc.args[1:]
    rep = (yield).get_result()
    crash = getattr(rep.longrepr, 'reprcrash', None)
    if not rep.failed or not shot or (crash is not None and shot in crash.message):
        return
    if hasattr(rep.longrepr, 'addsection'):
        rep.longrepr.addsection('last screenshot', shot)
    elif isinstance(rep.longrepr, str):
        rep.longrepr = '%s\nlast screenshot: %s' % (rep.longrepr, shot)
