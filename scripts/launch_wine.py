#!/usr/bin/env python3
"""Starts the night-mode tool under Wine, for scripts/run --wine.

    launch_wine.py             on $DISPLAY when it answers, else on a
                               private one
    launch_wine.py --headless  always on a private display

On a real display the tool runs in the foreground until it is ended from
its settings panel (F7, then the exit label). Without one, it runs on a
private Xvfb display; once its splash has gone, screenshots of the splash
and the tinted screen are left under build/run/ and everything is stopped
again. Needs Debian's python3-xlib.
"""

import os
import sys

import xdisplay as xd
from launcher import RUN, launcher_main, show_started
from wineprefix import EXE, Wine


def prepared_prefix(path, display):
    wine = Wine(path, display)
    if not os.path.exists(os.path.join(path, 'system.reg')):
        xd.log('run: preparing the Wine prefix %s (once, under a minute)' %
               os.path.relpath(path, xd.REPO))
        wine.boot()
    return wine


def on_display():
    prefix = os.environ.get('WINEPREFIX') or os.path.join(RUN, 'wineprefix')
    wine = prepared_prefix(prefix, None)
    xd.log('run: starting the tool on %s (prefix %s)' % (os.environ['DISPLAY'], prefix))
    xd.log('run: press F7 for the settings panel; its "关闭夜间模式" ends the tool')
    p = wine.start(EXE)
    try:
        return p.wait()
    except KeyboardInterrupt:
        wine.kill()
        return 130


def headless():
    display = xd.start_display('xvfb', logdir=RUN)
    wine = None
    try:
        xd.log('run: the private display is %s' % display.name)
        wine = prepared_prefix(os.path.join(RUN, 'headless-prefix'), display)
        return show_started(wine.start(EXE), display, os.path.join(RUN, 'splash.png'),
                            os.path.join(RUN, 'screen.png'))
    finally:
        if wine:
            wine.kill()
        display.stop()


if __name__ == '__main__':
    sys.exit(launcher_main(sys.argv, EXE, 'build it with scripts/build', on_display, headless))
