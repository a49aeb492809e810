#!/usr/bin/env python3
"""Measures the tool against the floor programs and prints one table.

    figures.py [--reps N] [--idle SECONDS] [--idle-rounds N] [--fresh]

bench/run builds everything and calls this. Two pairs run on one private
Xvfb display (openbox, xcompmgr, white desktop), one program at a time:

  Wine      the Windows executable against bench/floor.cpp under 64-bit
            Wine, each in its own copy of one booted prefix, kept warm by a
            do-nothing process so that wineserver, the desktop and the
            system services are already up when a program is started, as
            they are on Windows.
  native    build/linux/bin/morvane-night against bench/floor_gtk.cpp, the
            least the GTK side of the design can do, each with settings and
            a runtime folder of its own.

  start     process start to the first tinted pixel, read straight from the
            X server every few milliseconds at a point the splash does not
            cover; the two programs of a pair take turns, one warm-up run
            each, the median of --reps runs is reported.
  idle      CPU time over windows of --idle seconds, one program at a
            time, tool, floor, floor, tool (--idle-rounds each), each from
            the moment the tool's splash has gone (6 s after start for
            both): of the program's own process, and of what it keeps busy
            (Wine: every process of its prefix, wineserver, explorer and
            services included; native: the X server, the window manager and
            the compositor, which serve this display alone); the mean of the
            windows. Nanoseconds from /proc/<pid>/task/*/schedstat;
            utime+stime from /proc/<pid>/stat (10 ms ticks) are printed
            beside them.
  memory    VmHWM of the program's process at the end of its idle runs: the
            peak resident set (under Wine, of the Wine process, Wine's own
            libraries included; what GetProcessMemoryInfo calls
            PeakWorkingSetSize is a figure of the same kind).
  size      bytes of the executable as built, and of a stripped copy.
  slider    Google Benchmark on the headless runtime (nm_slider_move_bench):
            median CPU time per move of 5 repetitions.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, 'tests', 'e2e'))
sys.path.insert(0, os.path.join(HERE, os.pardir, 'scripts'))  # what harness builds on
import harness as h  # noqa: E402

BENCH = os.path.join(h.BUILD, 'bench')
# What the tool is measured against, built with the trees by scripts/build.
FLOOR = os.path.join(h.BUILD, 'windows-cross', 'bench', 'floor.exe')
KEEPWARM = os.path.join(h.BUILD, 'windows-cross', 'bench', 'keepwarm.exe')
NATIVE_FLOOR = os.path.join(h.BUILD, 'linux', 'bench', 'floor-gtk')
MICRO = os.path.join(h.BUILD, 'linux', 'bin', 'nm_slider_move_bench')
NATIVE = os.path.join(h.BUILD, 'linux', 'bin', 'morvane-night')
TINT = h.blend_over_white(150, 0x00004000)  # every program's default tint
TOL = 4
# The splash covers the centre for its first four seconds; a quarter of the
# way down the screen the tint shows from the first frame.
START_POINT = (h.SCREEN_W // 2, h.SCREEN_H // 4)
CENTRE = (h.SCREEN_W // 2, h.SCREEN_H // 2)
SETTLE_S = 6.0  # the splash closes 4 s after start
CLK_TCK = os.sysconf('SC_CLK_TCK')


def stripped_size(exe):
    out = os.path.join(BENCH, 'stripped-' + os.path.basename(exe))
    strip = shutil.which('x86_64-w64-mingw32-strip')
    if not strip:
        return None
    subprocess.run([strip, '-o', out, exe], check=True)
    return os.path.getsize(out)


# ---------------------------------------------------------------------------
# Reading one pixel of the screen, fast


class PixelReader:
    """Single pixels of the screen as shown, through the display's own
    python-xlib connection: well under a millisecond a read, where a full
    screenshot takes a tenth of a second."""

    def __init__(self, display):
        self.display = display

    def rgb(self, px, py):
        return h.pixel(self.display, px, py)

    def is_tint(self, point):
        return h.close(self.rgb(*point), TINT, TOL)

    def is_white(self, point):
        return h.close(self.rgb(*point), (255, 255, 255), TOL)


# ---------------------------------------------------------------------------
# CPU time and memory of processes, from /proc


def _read(path, binary=False):
    # latin-1: a process name may be cut in the middle of a UTF-8 character.
    try:
        with open(path, 'rb' if binary else 'r',
                  encoding=None if binary else 'latin-1') as f:
            return f.read()
    except OSError:
        return None


def cpu_ns(pid):
    """Time on CPU of all live threads of pid, in ns (schedstat)."""
    total = 0
    tasks = '/proc/%d/task' % pid
    try:
        tids = os.listdir(tasks)
    except OSError:
        return None
    for tid in tids:
        s = _read('%s/%s/schedstat' % (tasks, tid))
        if s:
            total += int(s.split()[0])
    return total


def cpu_ticks_ms(pid):
    """utime + stime of pid (live and ended threads), in ms."""
    s = _read('/proc/%d/stat' % pid)
    if not s:
        return None
    fields = s[s.rindex(')') + 2:].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / CLK_TCK


def vm_hwm_kb(pid):
    s = _read('/proc/%d/status' % pid) or ''
    for line in s.splitlines():
        if line.startswith('VmHWM:'):
            return int(line.split()[1])
    return None


def prefix_pids(prefix):
    """Every process started for this Wine prefix: Wine passes WINEPREFIX
    on to wineserver and to every process it starts."""
    want = b'WINEPREFIX=' + prefix.encode() + b'\0'
    pids = []
    for name in os.listdir('/proc'):
        if name.isdigit():
            env = _read('/proc/%s/environ' % name, binary=True)
            if env and want in env:
                pids.append(int(name))
    return pids


def cpu_snapshot(pids):
    return {p: (cpu_ns(p), cpu_ticks_ms(p)) for p in pids}


def cpu_delta(before, after):
    """(ns, ms of ticks) used between two snapshots; processes that came up
    in between count from zero."""
    ns = ticks = 0
    for pid, (a_ns, a_ticks) in after.items():
        if a_ns is None:
            continue
        b_ns, b_ticks = before.get(pid, (0, 0))
        ns += a_ns - (b_ns or 0)
        ticks += a_ticks - (b_ticks or 0)
    return ns, ticks


# ---------------------------------------------------------------------------
# One program in its own warm prefix


class Subject:
    """One program on the bench display: started, timed, left idle, ended.
    A subclass says how it starts and which other processes it keeps busy."""

    def __init__(self, name, exe, display):
        self.name, self.exe = name, exe
        self.display = display
        self.log = os.path.join(BENCH, name + '.log')

    def start(self):
        raise NotImplementedError

    def helper_pids(self):
        """The processes besides its own that work for it."""
        raise NotImplementedError

    def close(self):
        pass

    def stop(self, proc, pixels):
        proc.kill()
        proc.wait()
        if not h.poll(lambda: pixels.is_white(START_POINT)
                      and pixels.is_white(CENTRE), 15, 0.05):
            raise h.HarnessError('the screen stayed tinted after %s ended'
                                 % self.name)
        time.sleep(1.0)  # let the system settle before the next start

    def time_to_tint(self, pixels):
        """ms from starting the process to the tint on screen."""
        if not pixels.is_white(START_POINT):
            raise h.HarnessError('the screen is not white before %s starts'
                                 % self.name)
        t0 = time.monotonic()
        proc = self.start()
        seen = h.poll(lambda: pixels.is_tint(START_POINT) and
                      time.monotonic(), 30, 0.002)
        if not seen:
            rgb = pixels.rgb(*START_POINT)
            code = proc.poll()
            self.stop(proc, pixels)
            raise h.HarnessError('%s: no tint within 30 s (pixel %s, %s)' % (
                self.name, rgb, 'running' if code is None else
                'exited %s' % code))
        ms = (seen - t0) * 1000
        self.stop(proc, pixels)
        return ms

    def idle(self, pixels, seconds):
        proc = self.start()
        t0 = time.monotonic()
        # The tool's splash has gone when the centre shows the tint too.
        if not h.poll(lambda: pixels.is_tint(CENTRE), 30, 0.1):
            self.stop(proc, pixels)
            raise h.HarnessError('%s: the centre never showed the tint'
                                 % self.name)
        time.sleep(max(0.0, t0 + SETTLE_S - time.monotonic()))
        if proc.poll() is not None:
            raise h.HarnessError('%s exited (%s) before its idle run' %
                                 (self.name, proc.returncode))
        self.display.shot(os.path.join(BENCH, self.name + '-idle.png'))
        before_own = cpu_snapshot([proc.pid])
        before_all = cpu_snapshot(self.helper_pids() + [proc.pid])
        time.sleep(seconds)
        after_own = cpu_snapshot([proc.pid])
        after_all = cpu_snapshot(self.helper_pids() + [proc.pid])
        hwm = vm_hwm_kb(proc.pid)
        alive = proc.poll() is None
        self.stop(proc, pixels)
        if not alive:
            raise h.HarnessError('%s exited during its idle run' % self.name)
        return {'own': cpu_delta(before_own, after_own),
                'all': cpu_delta(before_all, after_all),
                'hwm_kb': hwm}


class WineSubject(Subject):
    """A Windows program in a warm copy of the template prefix."""

    def __init__(self, name, exe, display, template, keepwarm):
        super().__init__(name, exe, display)
        self.wine = template.copy(name)
        self.keepwarm = keepwarm

    def warm_up(self):
        self.wine.start(self.keepwarm, log_name=self.log)
        # wineserver, services and the desktop come up behind it.
        ready = h.poll(lambda: len(prefix_pids(self.wine.prefix)) >= 4,
                       60, 0.5)
        if not ready:
            raise h.HarnessError('the %s prefix did not come up' % self.name)
        # The services finish starting before the first timed run; a fixed
        # pause, so that the figures compare with those already published
        # in docs/performance.md.
        time.sleep(2.0)

    def start(self):
        return self.wine.start(self.exe, log_name=self.log)

    def helper_pids(self):
        return prefix_pids(self.wine.prefix)

    def close(self):
        self.wine.kill()
        shutil.rmtree(self.wine.prefix, ignore_errors=True)  # ~700 MB each


class NativeSubject(Subject):
    """An X client of the bench display, with folders of its own: settings
    start from the defaults and no instance lock is shared."""

    def __init__(self, name, exe, display):
        super().__init__(name, exe, display)
        self.base = os.path.join(BENCH, 'native', name)
        shutil.rmtree(self.base, ignore_errors=True)
        os.makedirs(os.path.join(self.base, 'config'))
        os.makedirs(os.path.join(self.base, 'runtime'), mode=0o700)
        self.env = dict(display.env,
                        XDG_CONFIG_HOME=os.path.join(self.base, 'config'),
                        XDG_RUNTIME_DIR=os.path.join(self.base, 'runtime'),
                        GDK_BACKEND='x11', NO_AT_BRIDGE='1',
                        GSETTINGS_BACKEND='memory', LANG=h.locale_name(),
                        LC_ALL=h.locale_name())
        self.env.pop('WAYLAND_DISPLAY', None)

    def start(self):
        with open(self.log, 'ab') as out:
            return subprocess.Popen([self.exe], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT)

    def helper_pids(self):
        # Xvfb, openbox and xcompmgr serve this display alone.
        return [p.pid for p in self.display.procs if p.poll() is None]

    def close(self):
        shutil.rmtree(self.base, ignore_errors=True)


# ---------------------------------------------------------------------------
# The slider benchmark


def slider_ns():
    if not os.path.exists(MICRO):
        return None
    r = subprocess.run([MICRO, '--benchmark_format=json',
                        '--benchmark_repetitions=5',
                        '--benchmark_report_aggregates_only=true',
                        '--benchmark_enable_random_interleaving=true'],
                       capture_output=True, text=True, check=False)
    if r.returncode != 0:
        raise h.HarnessError('nm_slider_move_bench failed: ' + r.stderr[-500:])
    out = {}
    for b in json.loads(r.stdout)['benchmarks']:
        if b.get('aggregate_name') == 'median':
            scale = {'ns': 1, 'us': 1e3, 'ms': 1e6}[b['time_unit']]
            out[b['run_name']] = b['cpu_time'] * scale
    return out


# ---------------------------------------------------------------------------
# The table


def ratio(a, b):
    return a / b if b else float('inf')


def print_table(rows):
    heads = ('Figure', 'Tool', 'Floor', 'Tool/floor', 'Aim', 'Met')
    cells = [heads] + [tuple(str(c) for c in r) for r in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(heads))]

    def line(r):
        return '| ' + ' | '.join(c.ljust(w) for c, w in zip(r, widths)) + ' |'
    print(line(heads))
    print('|' + '|'.join('-' * (w + 2) for w in widths) + '|')
    for r in cells[1:]:
        print(line(r))


def kb(n):
    return '%.1f KB' % (n / 1024)


def measure_pair(kind, subjects, pixels, args):
    """Start times and idle windows of one pair, {'tool': ..., 'floor':
    ...}: (starts, idle)."""
    h.log('bench: %s, start to tint, 1 + %d runs each, taking turns'
          % (kind, args.reps))
    starts = {k: [] for k in subjects}
    for rep in range(args.reps + 1):
        for name, s in subjects.items():
            ms = s.time_to_tint(pixels)
            # The first run of each is a warm-up: the tool installs its
            # components then, and caches fill.
            if rep > 0:
                starts[name].append(ms)
        if rep > 0:
            h.log('bench:   run %d: tool %.0f ms, floor %.0f ms' % (
                rep, starts['tool'][-1], starts['floor'][-1]))

    # Tool, floor, floor, tool...: a load that drifts while we measure
    # weighs on both alike.
    idle = {k: [] for k in subjects}
    for rnd in range(args.idle_rounds):
        order = ['tool', 'floor'] if rnd % 2 == 0 else ['floor', 'tool']
        for name in order:
            h.log('bench: %s, idle %s, %.0f s' % (kind, name, args.idle))
            idle[name].append(subjects[name].idle(pixels, args.idle))
    return starts, idle


def measure(args, wine_exes, native_exes, keepwarm):
    """Runs the Wine pair, then the native pair, on one display:
    {'Wine': (starts, idle), 'native': (starts, idle)}."""
    display = h.start_display('xvfb', logdir=BENCH)
    subjects = []
    results = {}
    try:
        template = h.TemplatePrefix(display, root=BENCH)
        if args.fresh or not os.path.exists(os.path.join(template.path,
                                                         'system.reg')):
            h.log('bench: booting a template prefix (once; --fresh again)')
            template.boot()
        pixels = PixelReader(display)
        wine = {}
        for name, exe in wine_exes.items():
            wine[name] = WineSubject('wine-' + name, exe, display, template,
                                     keepwarm)
            subjects.append(wine[name])
            wine[name].warm_up()
        results['Wine'] = measure_pair('Wine', wine, pixels, args)
        for s in wine.values():
            s.close()  # wineserver and the desktop stop using the CPU
        native = {}
        for name, exe in native_exes.items():
            native[name] = NativeSubject('native-' + name, exe, display)
            subjects.append(native[name])
        results['native'] = measure_pair('native', native, pixels, args)
        return results
    finally:
        for s in subjects:
            s.close()
        display.stop()


def pair_rows(kind, starts, idle, args, helpers):
    """The table's rows of one pair."""
    def mean_cpu(name, key):
        windows = idle[name]
        return (statistics.mean(w[key][0] for w in windows) / 1e6,
                statistics.mean(w[key][1] for w in windows))

    rows = []
    for key, label in (('own', 'the program\'s process'), ('all', helpers)):
        (t, t_ticks), (f, f_ticks) = mean_cpu('tool', key), mean_cpu('floor',
                                                                     key)
        r = ratio(t, f)
        rows.append(('%s: idle CPU per %.0f s, %s' % (kind, args.idle, label),
                     '%.1f ms (%.0f)' % (t, t_ticks),
                     '%.1f ms (%.0f)' % (f, f_ticks),
                     '%.2f' % r, '<= 1.10', 'yes' if r <= 1.10 else 'no'))
    mt = statistics.median(starts['tool'])
    mf = statistics.median(starts['floor'])
    r = ratio(mt, mf)
    rows.append(('%s: start to tinted screen, median of %d' % (kind,
                                                              args.reps),
                 '%.0f ms' % mt, '%.0f ms' % mf, '%.2f' % r,
                 '<= 1.20', 'yes' if r <= 1.20 else 'no'))
    ht = max(w['hwm_kb'] for w in idle['tool'])
    hf = max(w['hwm_kb'] for w in idle['floor'])
    rows.append(('%s: peak resident memory (VmHWM)' % kind,
                 '%.1f MB' % (ht / 1024), '%.1f MB' % (hf / 1024),
                 '%.2f' % ratio(ht, hf), '-', '-'))
    return rows


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    # Single starts under Wine swing by a fifth with the machine's load:
    # 15 make the medians steady to a few per cent.
    ap.add_argument('--reps', type=int, default=15,
                    help='timed starts of each program (default 15)')
    ap.add_argument('--idle', type=float, default=30.0,
                    help='seconds of one idle window (default 30)')
    ap.add_argument('--idle-rounds', type=int, default=2,
                    help='idle windows of each program, taking turns '
                    '(default 2)')
    ap.add_argument('--fresh', action='store_true',
                    help='boot a new template prefix even if one is kept')
    args = ap.parse_args(argv[1:])
    h.install_signal_exit()
    os.makedirs(BENCH, exist_ok=True)

    if not os.path.exists(h.EXE):
        raise h.HarnessError('the tool is not built: ' + h.EXE)
    for exe in (NATIVE, FLOOR, KEEPWARM, NATIVE_FLOOR):
        if not os.path.exists(exe):
            raise h.HarnessError('not built: ' + exe)
    exes = {'tool': h.EXE, 'floor': FLOOR}
    native_exes = {'tool': NATIVE, 'floor': NATIVE_FLOOR}
    size = {k: os.path.getsize(v) for k, v in exes.items()}
    size_stripped = {k: stripped_size(v) for k, v in exes.items()}

    h.log('bench: slider benchmark (headless)')
    slider = slider_ns()
    results = measure(args, exes, native_exes, KEEPWARM)

    # -- the table -----------------------------------------------------------
    rows = pair_rows('Wine', *results['Wine'], args,
                     'all processes of its prefix')
    rows += pair_rows('native', *results['native'], args,
                      'with the X server, window manager and compositor')
    rows.append(('Executable as built',
                 '%d B (%s)' % (size['tool'], kb(size['tool'])),
                 '%d B (%s)' % (size['floor'], kb(size['floor'])),
                 '%.2f' % ratio(size['tool'], size['floor']), '< 400 KB',
                 'yes' if size['tool'] < 400 * 1024 else 'no'))
    if size_stripped['tool']:
        st, sf = size_stripped['tool'], size_stripped['floor']
        rows.append(('Executable, stripped copy',
                     '%d B (%s)' % (st, kb(st)), '%d B (%s)' % (sf, kb(sf)),
                     '%.2f' % ratio(st, sf), '< 400 KB',
                     'yes' if st < 400 * 1024 else 'no'))
    if not slider:
        rows.append(('One slider move, headless', 'not built', '-', '-',
                     '-', '-'))
    else:
        rows.append(('One slider move, headless (DeliverMouse path)',
                     '%.1f ns' % slider['BM_SliderMove'], '-', '-',
                     '-', '-'))
        rows.append(('One slider move, headless (Form_MouseMove only)',
                     '%.1f ns' % slider['BM_SliderMoveHandler'],
                     '-', '-', '-', '-'))
    print()
    print_table(rows)
    print()
    print('Idle CPU: mean of %d windows each, time on CPU from schedstat; '
          'utime+stime (10 ms ticks) in brackets.' % args.idle_rounds)
    for kind, (starts, idle) in results.items():
        for name in ('tool', 'floor'):
            print('  %s %s windows: %s ms (process), %s ms (with helpers)' % (
                kind, name,
                ' '.join('%.1f' % (w['own'][0] / 1e6) for w in idle[name]),
                ' '.join('%.1f' % (w['all'][0] / 1e6) for w in idle[name])))
    for kind, (starts, idle) in results.items():
        print('%s start runs, ms: tool %s; floor %s.' % (
            kind, ' '.join('%.0f' % v for v in starts['tool']),
            ' '.join('%.0f' % v for v in starts['floor'])))
    tree = subprocess.run(['git', '-C', h.REPO, 'describe', '--always',
                           '--dirty'], capture_output=True, text=True,
                          check=False).stdout.strip()
    print('Tree %s; %s, GTK %s, %d CPUs, load average %s at the end.' % (
        tree or '?',
        subprocess.run([h.wine_loader(), '--version'], capture_output=True,
                       text=True, check=False).stdout.strip(),
        subprocess.run(['pkg-config', '--modversion', 'gtk+-3.0'],
                       capture_output=True, text=True,
                       check=False).stdout.strip() or '?',
        os.cpu_count(), ' '.join(_read('/proc/loadavg').split()[:3])))
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
    except h.HarnessError as e:
        sys.exit('bench: %s' % e)
