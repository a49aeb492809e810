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
where chattr is refused that test is skipped.
"""

import json
import os
import subprocess
import time

import pytest

import harness as h
from shared import pixel, wait_until
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, TRACK_X1,
                          TRACK_X2, TWIPS, expect_panel_layout, slider_alpha,
                          track_point)
from wine_target import COMPONENTS, find_in

pytestmark = pytest.mark.wine

COMPONENTS_KEY = 'HKCU\\Software\\' + h.APP_TITLE + '\\Components'
# What a user had stored before the fault: opacity 200, pure red.
OLD = {'intLig': '200', 'lngColor': '255'}
OLD_TINT = h.blend_over_white(200, 255)
DEFAULT_TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)


# ---------------------------------------------------------------------------
# Helpers


def wait_settled(app, what):
    """After a start: the splash comes and goes, the tool stays."""
    seen = app.wait_splash()
    if not seen:
        app.note('%s: no splash seen' % what)
    elif not app.wait_splash_gone():
        app.fail('%s: the splash is still up 10 s after it showed' % what)
    # Fixed: what is checked is that the tool does NOT end meanwhile.
    time.sleep(0.6)
    app.check(app.running(), '%s: the tool is not running after start-up'
              % what)


def start_with_environment(app, *changes):
    """Starts the tool from envprobe with the environment changed (-NAME
    removes a variable, NAME=VALUE sets one); returns its Windows pid."""
    out = app.wine.prefix + '-launch.json'
    if os.path.exists(out):
        os.remove(out)
    # Not app.wine.run: the tool inherits the launcher's output, and a reader
    # of those pipes would wait for the tool to end.
    subprocess.run([app.wine.loader, app.probes['envprobe'],
                    app.wine.winpath(out), 'launch',
                    app.wine.winpath(h.EXE)] + list(changes),
                   env=app.wine.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60, check=False)
    got = None
    if os.path.exists(out):
        with open(out, encoding='utf-8') as f:
            got = json.loads(f.read())
    app.check(got and 'pid' in got, 'envprobe could not start the tool: %s'
              % got)
    return got['pid']


def stored(app):
    return h.reg_values(app.wine, h.SETTINGS_KEY)


def is_decimal(text, lo, hi):
    body = text[1:] if text.startswith('-') else text
    return (body.isdigit() and (body == '0' or not body.startswith('0'))
            and lo <= int(text) <= hi)


def check_store(app, old, new, what):
    """Each value is REG_SZ decimal text and either its old or its new
    value; returns {name: 'old' | 'new'}."""
    got = stored(app)
    ranges = {'intLig': (0, 255), 'lngColor': (-2**31, 2**31 - 1)}
    which = {}
    for name, (lo, hi) in ranges.items():
        kind, data = got.get(name, (None, None))
        app.check(kind == 'REG_SZ' and is_decimal(data, lo, hi),
                  '%s: stored %s is %s %r, not REG_SZ decimal text'
                  % (what, name, kind, data))
        allowed = {v for v in (old.get(name), new.get(name)) if v is not None}
        app.check(data in allowed, '%s: stored %s is %r, neither the old nor '
                  'the new value %s' % (what, name, data, sorted(allowed)))
        which[name] = 'new' if data == new.get(name) else 'old'
    return which


def adjust_and_close(app, overlay, colour):
    """F7 from notepad, a click on the slider, Alt+F4; returns the values
    the panel should have stored."""
    panel, _ = app.open_panel(step='panel')
    x_px = (TRACK_X1 + (TRACK_X2 - TRACK_X1) * 3 // 4) // TWIPS
    alpha = slider_alpha(x_px)
    app.display.click(*track_point(panel, x_px))
    want = h.blend_over_white(alpha, colour)
    wait_until(lambda: h.close(pixel(app.display, *FREE), want, 4), 5,
               'the tint %s after a slider click' % (want,))
    got = app.shot('slider').pixel(*FREE)
    app.check(h.close(got, want, 4), 'after a slider click the tint is %s, '
              'expected %s (opacity %d)' % (got, want, alpha))
    app.close_panel_alt_f4(overlay)
    return {'intLig': str(alpha), 'lngColor': str(colour)}


def registration_record(app):
    return h.reg_values(app.wine, COMPONENTS_KEY).get('COMDLG32')


# ---------------------------------------------------------------------------
# Wrong registry types


def test_store_wrong_types_default_then_rewritten(app):
    # Chosen so that a reader ignoring the type would show something else:
    # opacity 255 (opaque), colour 255 (red), and as binary the UTF-16 text
    # "255" itself.
    text_255 = '320035003500' + '0000'
    rounds = (('REG_DWORD', '255', 'REG_BINARY', text_255),
              ('REG_BINARY', text_255, 'REG_DWORD', '255'))
    app.start_notepad()
    for i, (lig_kind, lig, col_kind, col) in enumerate(rounds):
        what = 'intLig %s, lngColor %s' % (lig_kind, col_kind)
        app.wine.reg_add(h.SETTINGS_KEY, 'intLig', lig, kind=lig_kind)
        app.wine.reg_add(h.SETTINGS_KEY, 'lngColor', col, kind=col_kind)
        types = {k: v[0] for k, v in stored(app).items()}
        app.check(types == {'intLig': lig_kind, 'lngColor': col_kind},
                  'could not store the wrong types: %s' % types)
        app.start_app()
        wait_settled(app, what)
        app.expect_centre(DEFAULT_TINT, what, step='tint%d' % i)
        overlay = app.overlay_xid()
        panel, _ = app.open_panel(step='panel%d' % i)
        expect_panel_layout(app, panel, app.panel_shot, DEFAULT_ALPHA,
                            DEFAULT_COLOUR)
        if i == 0:
            # The panel's own idle close, once; Alt+F4 is quicker after.
            app.wait_panel_closed()
        else:
            app.close_panel_alt_f4(overlay)
        got = stored(app)
        want = {'intLig': ('REG_SZ', str(DEFAULT_ALPHA)),
                'lngColor': ('REG_SZ', str(DEFAULT_COLOUR))}
        app.check(got == want, '%s: after the panel closed the store holds '
                  '%s, expected %s' % (what, got, want))
        app.check(app.running(), '%s: the tool ended with its panel' % what)
        app.stop_tool()


# ---------------------------------------------------------------------------
# Faults around the tool


def test_fault_regsvr32_missing(app):
    tool = find_in(app.system32(), 'regsvr32.exe')
    app.check(tool, 'no regsvr32.exe in the fresh prefix')
    os.rename(tool, tool + '.missing')
    app.store(**OLD)
    app.start_app()
    wait_settled(app, 'without regsvr32')
    app.expect_centre(OLD_TINT, 'without regsvr32')
    app.wait_components('without regsvr32')
    app.start_notepad()
    overlay = app.overlay_xid()
    new = adjust_and_close(app, overlay, 255)
    which = check_store(app, OLD, new, 'without regsvr32')
    app.check(which == {'intLig': 'new', 'lngColor': 'new'},
              'the panel\'s close did not store its values: %s' % which)
    app.check(app.running(), 'the tool ended')
    # Nothing registered: the fault really was in force.
    app.check(registration_record(app) is None, 'COMDLG32 was registered '
              'although regsvr32.exe was not there')


def check_components_in_system32(app, what):
    for name, path in zip(COMPONENTS, app.wait_components(what)):
        slot = os.path.join(h.COMPONENTS, name)
        if os.path.exists(slot):
            with open(path, 'rb') as a, open(slot, 'rb') as b:
                app.check(a.read() == b.read(), '%s: %s differs from the '
                          'embedded file' % (what, name))
    # A path built from an empty windir would start at the current drive's
    # root: C:\system32, or Z:\system32 (/system32) from a Unix folder.
    for stray in (os.path.join(app.wine.prefix, 'drive_c', 'system32'),
                  '/system32'):
        for name in COMPONENTS:
            app.check(not find_in(stray, name), '%s: %s written to %s'
                      % (what, name, stray))


def test_fault_windir_unset_or_empty(app):
    app.check(not find_in('/system32', COMPONENTS[0]),
              '/system32 holds a component before the test')
    app.store(**OLD)
    for change, want_set in (('-windir', False), ('windir=', True)):
        what = 'windir empty' if want_set else 'windir unset'
        for name in COMPONENTS:
            path = find_in(app.system32(), name)
            if path:
                os.remove(path)
        pid = start_with_environment(app, change)
        env = h.wait_until(lambda: h.probe_json(
            app.wine, app.probes['envprobe'], 'read', pid, 'windir'), 10, 0.5)
        app.check(env and 'set' in env, '%s: cannot read the tool\'s '
                  'environment: %s' % (what, env))
        app.check(env['set'] == want_set
                  and (not want_set or env['value'] == ''),
                  '%s: the tool sees windir %s' % (what, env))
        wait_settled(app, what)
        now = {k: v[1] for k, v in stored(app).items()}
        app.expect_centre(h.blend_over_white(int(now['intLig']),
                                             int(now['lngColor'])),
                          what, step=what.split()[-1])
        check_components_in_system32(app, what)
        app.check(h.wait_until(lambda: registration_record(app), 10, 1.0),
                  '%s: COMDLG32 was not registered' % what)
        if not want_set:
            app.start_notepad()
            overlay = app.overlay_xid()
            new = adjust_and_close(app, overlay, 255)
            which = check_store(app, OLD, new, what)
            app.note('%s: store %s' % (what, which))
            last = new
        else:
            check_store(app, last, last, what)
        app.check(app.running(), '%s: the tool ended' % what)
        app.stop_tool()
        app.wine.run('reg', 'delete', COMPONENTS_KEY, '/f', check=False)


def test_fault_system32_read_only(app):
    folder = app.system32()
    for name in COMPONENTS:
        app.check(not find_in(folder, name), name + ' in the fresh prefix')
    r = subprocess.run(['chattr', '+i', folder], capture_output=True,
                       text=True, check=False)
    if r.returncode != 0:
        pytest.skip('chattr +i refused here (%s); a read-only system folder '
                    'cannot be shown' % (r.stderr.strip() or r.returncode))
    try:
        probe = os.path.join(folder, 'nm-write-test')
        try:
            open(probe, 'wb').close()
            os.remove(probe)
            pytest.skip('the system folder stays writable after chattr +i')
        except OSError:
            pass
        app.store(**OLD)
        app.start_app()
        wait_settled(app, 'read-only system folder')
        app.expect_centre(OLD_TINT, 'read-only system folder')
        app.start_notepad()
        overlay = app.overlay_xid()
        new = adjust_and_close(app, overlay, 255)
        which = check_store(app, OLD, new, 'read-only system folder')
        app.check(which == {'intLig': 'new', 'lngColor': 'new'},
                  'the panel\'s close did not store its values: %s' % which)
        time.sleep(1.0)  # fixed: the tool must NOT end meanwhile
        app.check(app.running(), 'the tool ended')
        app.expect_centre(h.blend_over_white(int(new['intLig']), 255),
                          'after the panel closed', step='after', at=FREE)
        # The component step runs beside the first frames; by now, seconds
        # after the panel, it has long tried and failed.
        for name in COMPONENTS:
            app.check(not find_in(folder, name), name + ' appeared in a '
                      'read-only folder')
        app.check(not [f for f in os.listdir(folder)
                       if f.endswith('.partial')],
                  'a partial file was left in the system folder')
    finally:
        subprocess.run(['chattr', '-i', folder], check=False)
