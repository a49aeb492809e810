"""Self-test of the two-monitor Xorg display (xorg_dummy.py):

    /usr/bin/python3 -m pytest -m xorg tests/e2e/test_xorg_dummy.py

Skipped where Xorg with the dummy driver cannot start on the machine.
"""

import pytest

import xorg_dummy
from xorg_dummy import PRIMARY, SECOND

pytestmark = pytest.mark.xorg

TWO = [(PRIMARY, 0, 0, 1024, 768, True), (SECOND, 1024, 0, 800, 600, False)]


@pytest.fixture(scope='module')
def display(bare_xorg):
    return bare_xorg


def test_two_monitors_on_a_white_desk(display):
    assert display.monitors() == TWO
    assert (display.width, display.height) == (1824, 768)
    img = display.shot()
    assert img.pixel(512, 384) == img.pixel(1424, 300) == (255, 255, 255)


def test_second_monitor_off_and_on(display):
    display.set_second_monitor(False)
    assert display.monitors() == TWO[:1]
    assert (display.width, display.height) == (1024, 768)
    display.set_second_monitor(True)
    assert display.monitors() == TWO


def test_xtest_pointer_reaches_the_second_monitor(display):
    display.move(1500, 300)
    assert display.xdotool('getmouselocation').startswith('x:1500 y:300 ')


def test_gamma_ramps_per_crtc(display):
    pytest.importorskip('Xlib')
    for output in (PRIMARY, SECOND):
        red, green, blue = display.gamma(output)
        assert len(red) == len(green) == len(blue) > 0
        assert red == green == blue  # the identity ramps at start
    identity = display.gamma(SECOND)
    display.set_gamma(SECOND, 1.0, 0.8, 0.5)
    try:
        red, green, blue = display.gamma(SECOND)
        mid = len(red) // 2
        # xrandr writes a ramp of its own for 1.0: i*65535/(size-1) against
        # the server's i*256, so the same curve within 256
        assert near(red, identity[0])
        assert blue[mid] < green[mid] < red[mid] - 4000
        assert display.gamma(PRIMARY) == identity  # the other CRTC keeps its
    finally:
        display.set_gamma(SECOND)
    assert all(near(a, b) for a, b in zip(display.gamma(SECOND), identity))


def near(ramp, other):
    return len(ramp) == len(other) and all(
        abs(a - b) <= 256 for a, b in zip(ramp, other))

def test_parse_monitors():
    text = ('Monitors: 2\n'
            ' 0: +*DUMMY0 1024/271x768/203+0+0  DUMMY0\n'
            ' 1: +DUMMY1 800/212x600/159+1024+0  DUMMY1\n')
    assert xorg_dummy.parse_monitors(text) == TWO
