#!/usr/bin/env python3
"""Starts the night-mode tool under Wine, for scripts/run --wine.

    launch_wine.py             on $DISPLAY when it answers, else on a
                               private one
    launch_wine.py --headless  always on a private display

On a real display the tool runs in the foreground until it is ended from
its settings panel (F7, then the exit label). Without one, it runs on a
private Xvfb display with a white desktop; once its splash has gone a
screenshot of the tinted screen is left under build/run/ and everything is
stopped again. Needs python-xlib (Debian's python3-xlib).
"""

import os
import sys

# The end-to-end tests' harness starts displays and Wine prefixes.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, 'tests', 'e2e'))
import harness as h  # noqa: E402
import scenario_kit as kit  # noqa: E402
import wine_target  # noqa: E402

RUN = os.path.join(h.BUILD, 'run')


def prepared_prefix(path, display):
    wine = h.Wine(path, display)
    if not os.path.exists(os.path.join(path, 'system.reg')):
        h.log('run: preparing the Wine prefix %s (once, under a minute)'
              % os.path.relpath(path, h.REPO))
        wine.boot()
    return wine


def on_display():
    prefix = os.environ.get('WINEPREFIX') or os.path.join(RUN, 'wineprefix')
    wine = prepared_prefix(prefix, None)
    h.log('run: starting the tool on %s (prefix %s)' % (
        os.environ['DISPLAY'], prefix))
    h.log('run: press F7 for the settings panel; its "关闭夜间模式" ends '
          'the tool')
    p = wine.start(h.EXE)
    try:
        return p.wait()
    except KeyboardInterrupt:
        wine.kill()
        return 130


def headless():
    display = h.start_display('xvfb', logdir=RUN)
    wine = None
    try:
        h.log('run: no usable $DISPLAY; using the private display %s'
              % display.name)
        wine = prepared_prefix(os.path.join(RUN, 'headless-prefix'), display)
        s = wine_target.WineApp('run', display, wine, {})
        s.proc = wine.start(h.EXE)
        return kit.show_started(s, display, os.path.join(RUN, 'splash.png'),
                                os.path.join(RUN, 'screen.png'))
    finally:
        if wine:
            wine.kill()
        display.stop()


def main(argv):
    os.makedirs(RUN, exist_ok=True)
    return h.launcher_main(argv, h.EXE, 'build it with scripts/build', on_display, headless)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
