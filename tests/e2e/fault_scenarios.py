"""Bad stored values and broken surroundings, end to end.

Stored values of the wrong registry type count as no value: the tint is the
default, and the next close of the panel writes both back as REG_SZ decimal
text. Around the tool, a missing regsvr32, an unset or empty `windir` and a
system folder that refuses new files each leave it running with its tint,
and each stored value is afterwards its old or its new valid text.

Wine fills in `windir` from the registry for every program started from
Linux, so the tool is started from a Windows parent (envprobe.exe) that
takes the variable out of, or empties it in, the environment it passes on;
envprobe then reads the tool's own environment block to show the variable
really was unset or empty. The system folder is made read-only with
`chattr +i` (Wine runs as root here, so permissions alone would not bite);
where chattr is refused that scenario says so and checks nothing.
"""

import json
import os
import signal
import subprocess
import time

from run_e2e import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, TRACK_X1, TRACK_X2,
                     TWIPS, expect_panel_layout, h, scenario, slider_alpha,
                     track_point)

COMPONENTS = ('CMDLGCHS.DLL', 'COMDLG32.ocx')
COMPONENTS_KEY = 'HKCU\\Software\\' + h.APP_TITLE + '\\Components'
# What a user had stored before the fault: opacity 200, pure red.
OLD = {'intLig': '200', 'lngColor': '255'}
OLD_TINT = h.blend_over_white(200, 255)
DEFAULT_TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)


# ---------------------------------------------------------------------------
# Helpers shared with the other scenario groups


def system32(s):
    return os.path.join(s.wine.prefix, 'drive_c', 'windows', 'system32')


def find_in(folder, name):
    """The file of that name in folder, whatever its case, or None."""
    if not os.path.isdir(folder):
        return None
    for f in os.listdir(folder):
        if f.lower() == name.lower():
            return os.path.join(folder, f)
    return None


def app_unix_pids(s):
    """The Unix processes of the tool in this scenario's prefix, however it
    was started (a Windows parent's children are not our Popen)."""
    r = subprocess.run(['pgrep', '-f', h.APP_TITLE + 'V1.0.exe'],
                       capture_output=True, text=True, check=False)
    pids = []
    for pid in r.stdout.split():
        try:
            with open('/proc/%s/environ' % pid, 'rb') as f:
                env = f.read().split(b'\0')
        except OSError:
            continue
        if ('WINEPREFIX=' + s.wine.prefix).encode() in env:
            pids.append(int(pid))
    return pids


def running(s):
    return bool(app_unix_pids(s))


def app_xids(s):
    """The tool's visible X windows."""
    xids = []
    for pid in app_unix_pids(s):
        xids += s.display.windows_by_pid(pid)
    return xids


def stop_tool(s):
    """Ends the tool's processes (ours, by pid) and waits until they are
    gone; notepad and the rest of the prefix stay up."""
    for pid in app_unix_pids(s):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    s.check(h.wait_until(lambda: not running(s), 10, 0.1),
            'the tool did not end')
    if s.app is not None:
        s.app.wait()
        s.app = None
    time.sleep(0.3)


def overlay_xid(s):
    """The X window of the overlay: the tool's one visible window while no
    splash or panel is up."""
    xids = h.wait_until(lambda: app_xids(s), 10, 0.2)
    s.check(xids and len(xids) == 1, 'expected the overlay alone on screen, '
            'the tool shows X windows %s' % xids)
    return xids[0]


def close_panel_alt_f4(s, overlay, timeout=5):
    """Alt+F4 on the panel: it closes through its normal unload, which
    stores both values."""
    panels = [x for x in app_xids(s) if x != overlay]
    s.check(panels, 'no panel window to close')
    # The panel may be gone before the key's release is sent: no check.
    s.display.xdotool('windowactivate', '--sync', panels[0], 'key', 'alt+F4',
                      check=False, timeout=10)
    gone = h.wait_until(lambda: all(x == overlay for x in app_xids(s)),
                        timeout, 0.05)
    s.check(gone, 'the panel is still up %d s after Alt+F4' % timeout)


def wait_settled(s, what):
    """After a start: the splash comes and goes, the tool stays."""
    seen = s.wait_splash()
    if not seen:
        s.note('%s: no splash seen' % what)
    elif not s.wait_splash_gone():
        s.fail('%s: the splash is still up 10 s after it showed' % what)
    time.sleep(0.6)
    s.check(running(s), '%s: the tool is not running after start-up' % what)


def start_with_environment(s, *changes):
    """Starts the tool from envprobe with the environment changed (-NAME
    removes a variable, NAME=VALUE sets one); returns its Windows pid."""
    out = s.wine.prefix + '-launch.json'
    if os.path.exists(out):
        os.remove(out)
    # Not s.wine.run: the tool inherits the launcher's output, and a reader
    # of those pipes would wait for the tool to end.
    subprocess.run([s.wine.loader, s.probes['envprobe'], s.wine.winpath(out),
                    'launch', s.wine.winpath(h.EXE)] + list(changes),
                   env=s.wine.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60, check=False)
    got = None
    if os.path.exists(out):
        with open(out, encoding='utf-8') as f:
            got = json.loads(f.read())
    s.check(got and 'pid' in got, 'envprobe could not start the tool: %s'
            % got)
    return got['pid']


def stored(s):
    return h.reg_values(s.wine, h.SETTINGS_KEY)


def is_decimal(text, lo, hi):
    body = text[1:] if text.startswith('-') else text
    return (body.isdigit() and (body == '0' or not body.startswith('0'))
            and lo <= int(text) <= hi)


def check_store(s, old, new, what):
    """Each value is REG_SZ decimal text and either its old or its new
    value; returns {name: 'old' | 'new'}."""
    got = stored(s)
    ranges = {'intLig': (0, 255), 'lngColor': (-2**31, 2**31 - 1)}
    which = {}
    for name, (lo, hi) in ranges.items():
        kind, data = got.get(name, (None, None))
        s.check(kind == 'REG_SZ' and is_decimal(data, lo, hi),
                '%s: stored %s is %s %r, not REG_SZ decimal text'
                % (what, name, kind, data))
        allowed = {v for v in (old.get(name), new.get(name)) if v is not None}
        s.check(data in allowed, '%s: stored %s is %r, neither the old nor '
                'the new value %s' % (what, name, data, sorted(allowed)))
        which[name] = 'new' if data == new.get(name) else 'old'
    return which


def adjust_and_close(s, overlay, colour):
    """F7 from notepad, a click on the slider, Alt+F4; returns the values
    the panel should have stored."""
    panel, _ = s.open_panel(step='panel')
    x_px = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS
    alpha = slider_alpha(x_px)
    s.display.click(*track_point(panel, x_px))
    time.sleep(0.5)
    want = h.blend_over_white(alpha, colour)
    got = s.shot('slider').pixel(*FREE)
    s.check(h.close(got, want, 4), 'after a slider click the tint is %s, '
            'expected %s (opacity %d)' % (got, want, alpha))
    close_panel_alt_f4(s, overlay)
    return {'intLig': str(alpha), 'lngColor': str(colour)}


def registration_record(s):
    return h.reg_values(s.wine, COMPONENTS_KEY).get('COMDLG32')


# ---------------------------------------------------------------------------
# Wrong registry types


@scenario('store-wrong-types-default-then-rewritten')
def wrong_types(s):
    # Chosen so that a reader ignoring the type would show something else:
    # opacity 255 (opaque), colour 255 (red), and as binary the UTF-16 text
    # "255" itself.
    text_255 = '320035003500' + '0000'
    rounds = (('REG_DWORD', '255', 'REG_BINARY', text_255),
              ('REG_BINARY', text_255, 'REG_DWORD', '255'))
    s.start_notepad()
    for i, (lig_kind, lig, col_kind, col) in enumerate(rounds):
        what = 'intLig %s, lngColor %s' % (lig_kind, col_kind)
        s.wine.reg_add(h.SETTINGS_KEY, 'intLig', lig, kind=lig_kind)
        s.wine.reg_add(h.SETTINGS_KEY, 'lngColor', col, kind=col_kind)
        types = {k: v[0] for k, v in stored(s).items()}
        s.check(types == {'intLig': lig_kind, 'lngColor': col_kind},
                'could not store the wrong types: %s' % types)
        s.start_app()
        wait_settled(s, what)
        s.expect_centre(DEFAULT_TINT, what, step='tint%d' % i)
        overlay = overlay_xid(s)
        panel, _ = s.open_panel(step='panel%d' % i)
        expect_panel_layout(s, panel, s.panel_shot, DEFAULT_ALPHA,
                            DEFAULT_COLOUR)
        if i == 0:
            # The panel's own idle close, once; Alt+F4 is quicker after.
            s.wait_panel_closed()
        else:
            close_panel_alt_f4(s, overlay)
        got = stored(s)
        want = {'intLig': ('REG_SZ', str(DEFAULT_ALPHA)),
                'lngColor': ('REG_SZ', str(DEFAULT_COLOUR))}
        s.check(got == want, '%s: after the panel closed the store holds %s, '
                'expected %s' % (what, got, want))
        s.check(running(s), '%s: the tool ended with its panel' % what)
        stop_tool(s)


# ---------------------------------------------------------------------------
# Faults around the tool


@scenario('fault-regsvr32-missing')
def regsvr32_missing(s):
    tool = find_in(system32(s), 'regsvr32.exe')
    s.check(tool, 'no regsvr32.exe in the fresh prefix')
    os.rename(tool, tool + '.missing')
    s.store(**OLD)
    s.start_app()
    wait_settled(s, 'without regsvr32')
    s.expect_centre(OLD_TINT, 'without regsvr32')
    for name in COMPONENTS:
        s.check(find_in(system32(s), name), name + ' not written')
    s.start_notepad()
    overlay = overlay_xid(s)
    new = adjust_and_close(s, overlay, 255)
    which = check_store(s, OLD, new, 'without regsvr32')
    s.check(which == {'intLig': 'new', 'lngColor': 'new'},
            'the panel\'s close did not store its values: %s' % which)
    s.check(running(s), 'the tool ended')
    # Nothing registered: the fault really was in force.
    s.check(registration_record(s) is None, 'COMDLG32 was registered although '
            'regsvr32.exe was not there')


def check_components_in_system32(s, what):
    for name in COMPONENTS:
        path = find_in(system32(s), name)
        s.check(path, '%s: %s not written to C:\\windows\\system32'
                % (what, name))
        slot = os.path.join(h.COMPONENTS, name)
        if os.path.exists(slot):
            with open(path, 'rb') as a, open(slot, 'rb') as b:
                s.check(a.read() == b.read(), '%s: %s differs from the '
                        'embedded file' % (what, name))
    # A path built from an empty windir would start at the current drive's
    # root: C:\system32, or Z:\system32 (/system32) from a Unix folder.
    for stray in (os.path.join(s.wine.prefix, 'drive_c', 'system32'),
                  '/system32'):
        for name in COMPONENTS:
            s.check(not find_in(stray, name), '%s: %s written to %s'
                    % (what, name, stray))


@scenario('fault-windir-unset-or-empty')
def windir_missing(s):
    s.check(not find_in('/system32', COMPONENTS[0]),
            '/system32 holds a component before the test')
    s.store(**OLD)
    for change, want_set in (('-windir', False), ('windir=', True)):
        what = 'windir empty' if want_set else 'windir unset'
        for name in COMPONENTS:
            path = find_in(system32(s), name)
            if path:
                os.remove(path)
        pid = start_with_environment(s, change)
        env = h.wait_until(lambda: h.probe_json(
            s.wine, s.probes['envprobe'], 'read', pid, 'windir'), 10, 0.5)
        s.check(env and 'set' in env, '%s: cannot read the tool\'s '
                'environment: %s' % (what, env))
        s.check(env['set'] == want_set
                and (not want_set or env['value'] == ''),
                '%s: the tool sees windir %s' % (what, env))
        wait_settled(s, what)
        now = {k: v[1] for k, v in stored(s).items()}
        s.expect_centre(h.blend_over_white(int(now['intLig']),
                                           int(now['lngColor'])),
                        what, step=what.split()[-1])
        check_components_in_system32(s, what)
        s.check(h.wait_until(lambda: registration_record(s), 10, 1.0),
                '%s: COMDLG32 was not registered' % what)
        if not want_set:
            s.start_notepad()
            overlay = overlay_xid(s)
            new = adjust_and_close(s, overlay, 255)
            which = check_store(s, OLD, new, what)
            s.note('%s: store %s' % (what, which))
            last = new
        else:
            check_store(s, last, last, what)
        s.check(running(s), '%s: the tool ended' % what)
        stop_tool(s)
        s.wine.run('reg', 'delete', COMPONENTS_KEY, '/f', check=False)


@scenario('fault-system32-read-only')
def system32_read_only(s):
    folder = system32(s)
    for name in COMPONENTS:
        s.check(not find_in(folder, name), name + ' in the fresh prefix')
    r = subprocess.run(['chattr', '+i', folder], capture_output=True,
                       text=True, check=False)
    if r.returncode != 0:
        s.note('SKIPPED: chattr +i refused here (%s); a read-only system '
               'folder cannot be shown' % (r.stderr.strip() or r.returncode))
        return
    try:
        probe = os.path.join(folder, 'nm-write-test')
        try:
            open(probe, 'wb').close()
            os.remove(probe)
            s.note('SKIPPED: the system folder stays writable after chattr +i')
            return
        except OSError:
            pass
        s.store(**OLD)
        s.start_app()
        wait_settled(s, 'read-only system folder')
        s.expect_centre(OLD_TINT, 'read-only system folder')
        for name in COMPONENTS:
            s.check(not find_in(folder, name), name + ' appeared in a '
                    'read-only folder')
        s.check(not [f for f in os.listdir(folder) if f.startswith('~nm')],
                'a temporary file was left in the system folder')
        s.start_notepad()
        overlay = overlay_xid(s)
        new = adjust_and_close(s, overlay, 255)
        which = check_store(s, OLD, new, 'read-only system folder')
        s.check(which == {'intLig': 'new', 'lngColor': 'new'},
                'the panel\'s close did not store its values: %s' % which)
        time.sleep(1.0)
        s.check(running(s), 'the tool ended')
        s.expect_centre(h.blend_over_white(int(new['intLig']), 255),
                        'after the panel closed', step='after', at=FREE)
    finally:
        subprocess.run(['chattr', '-i', folder], check=False)
