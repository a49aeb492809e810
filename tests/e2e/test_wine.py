"""The Windows executable under Wine, where no native test is written the
same way (those are in test_both.py): mostly the edges of its life."""

import os
import time

import pytest

import harness as h
from scenario_kit import (DEFAULT_ALPHA, DEFAULT_COLOUR, FREE, PANEL_W, TRACK_X1, TRACK_X2,
                          TWIPS, X_MOVED, slider_alpha, track_point)
from wine_target import COMPONENTS, COMPONENTS_KEY, find_in

pytestmark = pytest.mark.wine

DEFAULT_TINT = h.blend_over_white(DEFAULT_ALPHA, DEFAULT_COLOUR)


def expect_stored(app, alpha, what):
    got = app.settings()
    assert got == {'intLig': str(alpha), 'lngColor': str(DEFAULT_COLOUR)}, \
        'the settings key holds %s %s, expected the moved opacity %d and the colour, and ' \
        'nothing else' % (got, what, alpha)


STORED = {'first_run': {}, 'intLig_abc': {'intLig': 'abc'}}


@pytest.mark.parametrize('case', sorted(STORED))
def test_default_tint(app, case):
    stored = STORED[case]
    app.store(**stored)
    app.start_and_settle()
    app.expect_centre(DEFAULT_TINT, 'stored %s, over white' % stored)
    app.expect_centre(DEFAULT_TINT, 'the tint does not cover the screen', at=(5, 5), step='corner')


def test_second_instance_message(app):
    app.start_and_settle()
    second, box = app.start_second()
    assert box['text'] == h.APP_TITLE, \
        'message box caption is %r, expected %r' % (box['text'], h.APP_TITLE)
    buttons = [c for c in box['children'] if c['class'].lower() == 'button' and c['visible']]
    assert len(buttons) == 1, 'message box has %d buttons, expected one OK' % len(buttons)
    app.answer_message(box, second)
    time.sleep(0.5)  # fixed: the first instance must NOT end meanwhile
    assert app.proc.poll() is None, 'the first instance ended too'
    app.expect_centre(DEFAULT_TINT, 'tint after the second instance left', step='after')


def test_components_installed(app):
    for name in COMPONENTS:
        assert find_in(app.system32(), name) is None, name + ' already in the fresh prefix'
    app.start_and_settle()
    paths = app.expect_components()
    names = [os.path.basename(p) for p in paths]
    assert names == list(COMPONENTS), 'written as %s, expected %s' % (names, COMPONENTS)
    # Inode and time: a file rewritten, even in place, changes one of them.
    stamps = {p: (os.stat(p).st_ino, os.stat(p).st_mtime_ns) for p in paths}
    app.wait_registration('the first start')
    app.forget_app()
    # The record made anew shows the second start's step has run.
    app.wine.run('reg', 'delete', COMPONENTS_KEY, '/f')
    app.start_and_settle()
    app.wait_registration('the second start')
    for path, stamp in stamps.items():
        assert (os.stat(path).st_ino, os.stat(path).st_mtime_ns) == stamp, \
            os.path.basename(path) + ' was rewritten by the second start'


def test_panel_slider_sets_opacity(app):
    app.start_for_panel()
    panel, _ = app.open_panel()
    # A click at three quarters of the track brightens the screen; a drag
    # to the left end darkens it again.
    app.press_track(panel, X_MOVED, 'a click')
    x_end = TRACK_X1 // TWIPS + 2
    alpha = slider_alpha(x_end)
    app.display.drag(*track_point(panel, X_MOVED), *track_point(panel, x_end))
    app.expect_tint(alpha, 'after a drag to track x=%d' % x_end, step='drag')
    app.display.move(5, 5)
    app.wait_panel_closed()
    stored = app.settings().get('intLig')
    assert stored is not None and stored.strip().lstrip('-').isdigit() \
        and abs(int(stored) - alpha) <= 1, 'stored intLig %r, expected %d' % (stored, alpha)


def test_second_start_with_f7_during_its_box_leaves_the_stored_values(app):
    """Only the running instance may answer the F7 its box invites."""
    app.store(intLig='120', lngColor='255')
    app.start_and_settle()
    first_pid = app.overlay()['pid']
    app.start_notepad()
    second, box = app.start_second()
    assert box['pid'] != first_pid, 'the box came from the running tool'
    app.focus_notepad()
    app.display.key('F7')
    # Fixed: longer than the panel's idle close, so a panel of the second
    # instance would have opened, closed itself and stored by now.
    seen = h.poll(lambda: [
        w['hwnd'] for w in app.windows() if w['visible'] and w['text'] == ''
        and w['pid'] != first_pid and abs(w['client'][2] - PANEL_W) <= 3],
        8, 0.3)
    app.shot('box-and-f7')
    assert not seen, 'the second instance showed a panel: %s' % seen
    assert second.poll() is None, 'the second instance ended before its box was answered'
    app.answer_message(app.message_box(box['pid']) or box, second)
    got = app.settings()
    assert got == {'intLig': '120', 'lngColor': '255'}, 'the stored values changed: %s' % got
    # The next start, once the first has gone, shows the user's tint.
    app.stop_tool()
    app.forget_app()
    app.start_and_settle()
    app.expect_centre(h.blend_over_white(120, 255), 'the next start', at=FREE, step='next-start')


def test_typing_goes_on_in_the_other_program_after_the_panel(app):
    app.start_for_panel()
    app.focus_notepad()
    app.display.xdotool('type', '--delay', '80', 'abc')
    app.open_panel()
    app.wait_panel_closed()
    # The text typed next tells whether the keys came back to notepad.
    h.poll(app.notepad_active, 5)
    app.display.xdotool('type', '--delay', '80', 'xyz')
    assert h.poll(lambda: app.typed() == 'abcxyz', 5, 0.3), \
        'notepad holds %r, expected "abcxyz"' % app.typed()
    app.shot('typed')


def test_taskkill_stores_the_moved_opacity_and_the_next_start_runs(app):
    app.start_for_panel()
    panel, _ = app.open_panel()
    alpha = app.press_track(panel, X_MOVED)
    pid = app.overlay()['pid']
    t0 = time.monotonic()
    r = app.wine.run('taskkill', '/PID', str(pid), check=False)
    assert r.returncode == 0, 'taskkill failed: %s' % r.stdout[-200:]
    assert h.poll(lambda: not app.running(), 2, 0.05), \
        'the tool still runs 2 s after taskkill'
    app.note('ended %.2f s after taskkill' % (time.monotonic() - t0))
    app.shot('ended')
    expect_stored(app, alpha, 'after taskkill')
    app.forget_app()
    app.start_and_settle()
    app.expect_centre(h.blend_over_white(alpha, DEFAULT_COLOUR), 'the next start', at=FREE,
                      step='next-start')


def test_a_close_message_to_the_panel_closes_it_alone(app):
    """The panel goes as on its idle close; a close to the overlay ends."""
    app.start_for_panel()
    panel, _ = app.open_panel()
    alpha = app.press_track(panel, (TRACK_X1 + (TRACK_X2 - TRACK_X1) // 4) // TWIPS)
    app.wine.run(app.probes['closeprobe'], str(panel['hwnd']))
    assert h.poll(lambda: app.panel() is None, 3, 0.1), \
        'the panel is still up 3 s after its close message'
    time.sleep(0.5)  # fixed: night mode must NOT end meanwhile
    app.shot('panel-closed')
    assert app.running() and app.overlay(), 'night mode ended with the panel\'s close message'
    app.expect_centre(h.blend_over_white(alpha, DEFAULT_COLOUR), 'the tint after the panel closed',
                      at=FREE, step='tint-stays')
    expect_stored(app, alpha, 'after the panel closed')
    app.wine.run(app.probes['closeprobe'], str(app.overlay()['hwnd']))
    assert h.poll(lambda: not app.running(), 3, 0.05), \
        'the tool still runs 3 s after a close message to the overlay'


def test_a_hidden_system_component_of_another_program_is_never_replaced(app):
    system32 = app.system32()
    theirs = os.path.join(system32, 'COMDLG32.ocx')
    with open(theirs, 'wb') as f:
        f.write(b'another program\'s copy')
    app.wine.run('cmd', '/c', 'attrib', '+h', '+s', 'C:\\windows\\system32\\COMDLG32.ocx')
    # What an interrupted start leaves beside its target.
    partial = os.path.join(system32, 'CMDLGCHS.DLL.partial')
    with open(partial, 'wb') as f:
        f.write(b'MZ half')
    app.start_and_settle()
    # Both files present: the step has cleared the partial file and
    # written the language library (it runs beside the first frames).
    app.wait_components()
    with open(theirs, 'rb') as f:
        assert f.read() == b'another program\'s copy', \
            'the hidden system COMDLG32.ocx was replaced'
    assert not os.path.exists(partial), 'the left-over partial file is still there'
    sizes = [os.path.getsize(os.path.join(d, 'CMDLGCHS.DLL')) for d in (system32, h.COMPONENTS)]
    assert sizes[0] == sizes[1], \
        'CMDLGCHS.DLL was not written whole: %d of %d bytes' % tuple(sizes)
    leftovers = [n for n in os.listdir(system32) if n.endswith('.partial')]
    assert not leftovers, 'partial files left: %s' % leftovers


def test_windir_set_elsewhere_moves_nothing(app, tmp_path):
    decoy = tmp_path / 'decoy'
    (decoy / 'system32').mkdir(parents=True)
    app.start_with_environment('windir=' + app.wine.winpath(str(decoy)))
    assert h.poll(app.overlay, 25, 0.5), 'the tool did not start with windir elsewhere'
    app.wait_components('windir elsewhere')
    app.wait_registration('windir elsewhere')
    written = [str(p) for p in decoy.rglob('*') if p.is_file()]
    assert not written, 'files written under %%windir%%: %s' % written
    app.stop_tool()
