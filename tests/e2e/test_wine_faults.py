"""Bad stored values and broken surroundings. Values of the wrong registry
type count as none, and the panel's close writes both back as REG_SZ text.
A missing regsvr32, an unset or empty `windir` and a system folder made
read-only each leave the tool running, each value its old or new text."""

import contextlib
import os
import subprocess
import time

import pytest

import harness as h
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, X_MOVED, expect_panel_layout,
                          slider_alpha, track_point)
from wine_target import COMPONENTS, COMPONENTS_KEY, find_in

pytestmark = pytest.mark.wine

# What a user had stored before the fault: opacity 200, pure red.
OLD = {'intLig': '200', 'lngColor': '255'}
OLD_TINT = h.blend_over_white(200, 255)
DEFAULT_TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)


def wait_settled(app, what):
    """The splash comes and goes, the tool stays."""
    if not app.wait_splash():
        app.note('%s: no splash seen' % what)
    else:
        assert app.wait_splash_gone(), '%s: the splash is still up 10 s after it showed' % what
    time.sleep(0.6)  # fixed: the tool must NOT end meanwhile
    assert app.running(), '%s: the tool is not running after start-up' % what


def stored(app):
    return h.reg_values(app.wine, h.SETTINGS_KEY)


def is_decimal(text, lo, hi):
    body = text[1:] if text.startswith('-') else text
    return body.isdigit() and (body == '0' or not body.startswith('0')) and lo <= int(text) <= hi


def check_store(app, old, new, what):
    """Each value is REG_SZ decimal text, old or new: {name: 'old'|'new'}."""
    got = stored(app)
    ranges = {'intLig': (0, 255), 'lngColor': (-2**31, 2**31 - 1)}
    which = {}
    for name, (lo, hi) in ranges.items():
        kind, data = got.get(name, (None, None))
        assert kind == 'REG_SZ' and is_decimal(data, lo, hi), \
            '%s: stored %s is %s %r, not REG_SZ decimal text' % (what, name, kind, data)
        allowed = {v for v in (old.get(name), new.get(name)) if v is not None}
        assert data in allowed, '%s: stored %s is %r, neither the old nor the new value %s' % (
            what, name, data, sorted(allowed))
        which[name] = 'new' if data == new.get(name) else 'old'
    return which


def start_with_old_values(app, what):
    app.store(**OLD)
    app.start_app()
    wait_settled(app, what)
    app.expect_centre(OLD_TINT, what)


def adjust_and_close(app, what, all_new=True):
    """F7, a slider click, Alt+F4: the values the panel should store."""
    colour = 255
    app.start_notepad()
    overlay = app.overlay_xid()
    panel, _ = app.open_panel(step='panel')
    alpha = slider_alpha(X_MOVED)
    app.display.click(*track_point(panel, X_MOVED))
    app.expect_centre(h.blend_over_white(alpha, colour),
                      'after a slider click (opacity %d)' % alpha, at=FREE, tol=4, step='slider')
    app.close_panel_alt_f4(overlay)
    new = {'intLig': str(alpha), 'lngColor': str(colour)}
    which = check_store(app, OLD, new, what)
    app.note('%s: store %s' % (what, which))
    assert not all_new or which == {'intLig': 'new', 'lngColor': 'new'}, \
        '%s: the panel\'s close did not store its values: %s' % (what, which)
    return new


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
        assert types == {'intLig': lig_kind, 'lngColor': col_kind}, \
            'could not store the wrong types: %s' % types
        app.start_app()
        wait_settled(app, what)
        app.expect_centre(DEFAULT_TINT, what, step='tint%d' % i)
        overlay = app.overlay_xid()
        panel, _ = app.open_panel(step='panel%d' % i)
        expect_panel_layout(app, panel, app.panel_shot, DEFAULT_ALPHA, DEFAULT_COLOUR)
        if i == 0:
            # The panel's own idle close, once; Alt+F4 is quicker after.
            app.wait_panel_closed()
        else:
            app.close_panel_alt_f4(overlay)
        got = stored(app)
        want = {'intLig': ('REG_SZ', str(DEFAULT_ALPHA)),
                'lngColor': ('REG_SZ', str(DEFAULT_COLOUR))}
        assert got == want, \
            '%s: after the panel closed the store holds %s, expected %s' % (what, got, want)
        assert app.running(), '%s: the tool ended with its panel' % what
        app.stop_tool()


def test_fault_regsvr32_missing(app):
    tool = find_in(app.system32(), 'regsvr32.exe')
    assert tool, 'no regsvr32.exe in the fresh prefix'
    os.rename(tool, tool + '.missing')
    start_with_old_values(app, 'without regsvr32')
    app.wait_components('without regsvr32')
    adjust_and_close(app, 'without regsvr32')
    assert app.running(), 'the tool ended'
    # Nothing registered: the fault really was in force.
    assert app.registration() is None, \
        'COMDLG32 was registered although regsvr32.exe was not there'


def test_fault_windir_unset_or_empty(app):
    assert not find_in('/system32', COMPONENTS[0]), '/system32 holds a component before the test'
    app.store(**OLD)
    for change, want_set in (('-windir', False), ('windir=', True)):
        what = 'windir empty' if want_set else 'windir unset'
        for path in filter(None, (find_in(app.system32(), n) for n in COMPONENTS)):
            os.remove(path)
        pid = app.start_with_environment(change)
        env = h.poll(lambda: h.probe_json(
            app.wine, app.probes['envprobe'], 'read', pid, 'windir'), 10, 0.5)
        assert env and 'set' in env, '%s: cannot read the tool\'s environment: %s' % (what, env)
        assert env['set'] == want_set and (not want_set or env['value'] == ''), \
            '%s: the tool sees windir %s' % (what, env)
        wait_settled(app, what)
        now = {k: v[1] for k, v in stored(app).items()}
        app.expect_centre(h.blend_over_white(int(now['intLig']), int(now['lngColor'])), what,
                          step=what.split()[-1])
        app.expect_components(what)
        # A path built from an empty windir would start at the current drive's root:
        # C:\system32, or Z:\system32 (/system32) from a Unix folder.
        for stray in (os.path.join(app.wine.prefix, 'drive_c', 'system32'), '/system32'):
            for name in COMPONENTS:
                assert not find_in(stray, name), '%s: %s written to %s' % (what, name, stray)
        app.wait_registration(what)
        if not want_set:
            last = adjust_and_close(app, what, all_new=False)
        else:
            check_store(app, last, last, what)
        assert app.running(), '%s: the tool ended' % what
        app.stop_tool()
        app.wine.run('reg', 'delete', COMPONENTS_KEY, '/f', check=False)


def test_fault_system32_read_only(app):
    folder = app.system32()
    for name in COMPONENTS:
        assert not find_in(folder, name), name + ' in the fresh prefix'
    r = subprocess.run(['chattr', '+i', folder], capture_output=True, text=True, check=False)
    if r.returncode != 0:
        pytest.skip('chattr +i refused here (%s); a read-only system folder cannot be shown'
                    % (r.stderr.strip() or r.returncode))
    try:
        probe = os.path.join(folder, 'nm-write-test')
        with contextlib.suppress(OSError):
            open(probe, 'wb').close()
            os.remove(probe)
            pytest.skip('the system folder stays writable after chattr +i')
        start_with_old_values(app, 'read-only system folder')
        new = adjust_and_close(app, 'read-only system folder')
        time.sleep(1.0)  # fixed: the tool must NOT end meanwhile
        assert app.running(), 'the tool ended'
        app.expect_centre(h.blend_over_white(int(new['intLig']), 255), 'after the panel closed',
                          step='after', at=FREE)
        # The component step runs beside the first frames; by now, seconds
        # after the panel, it has long tried and failed.
        for name in COMPONENTS:
            assert not find_in(folder, name), name + ' appeared in a read-only folder'
        partial = [f for f in os.listdir(folder) if f.endswith('.partial')]
        assert not partial, 'a partial file was left in the system folder: %s' % partial
    finally:
        subprocess.run(['chattr', '-i', folder], check=False)
