#!/usr/bin/env python3
"""Starts the native Linux program, for scripts/run.

    launch_native.py             on $DISPLAY when it answers, else on a
                                 private one
    launch_native.py --headless  always on a private display

On a real display build/linux/bin/morvane-night runs in the foreground
until it is ended from its settings panel (F7, then the exit label).
Without one, it runs on a private Xvfb display (openbox, xcompmgr, white
desktop) with settings and an instance lock of its own under
build/run/native/; once its splash has gone, screenshots of the splash and
the tinted screen are left under build/run/ and everything is stopped
again. Needs python-xlib (Debian's python3-xlib).
"""

import os
import subprocess
import sys

# The end-to-end tests' harness starts displays and drives the program.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, 'tests', 'e2e'))
import harness as h  # noqa: E402
import scenario_kit as kit  # noqa: E402
from native_target import BIN, NativeApp  # noqa: E402

RUN = os.path.join(h.BUILD, 'run')


def on_display():
    h.log('run: starting %s on %s' % (os.path.relpath(BIN, h.REPO),
                                      os.environ['DISPLAY']))
    h.log('run: press F7 for the settings panel; its "关闭夜间模式" ends '
          'the tool')
    p = subprocess.Popen([BIN], env=dict(os.environ, GDK_BACKEND='x11'))
    try:
        return p.wait()
    except KeyboardInterrupt:
        p.terminate()
        p.wait()
        return 130


def headless():
    os.makedirs(RUN, exist_ok=True)
    display = h.start_display('xvfb', logdir=RUN)
    s = None
    try:
        h.log('run: no usable $DISPLAY; using the private display %s'
              % display.name)
        # Settings and lock of its own, under build/run/native/.
        s = NativeApp('native', display, None, root=RUN)
        s.start_app()
        return kit.show_started(s, display,
                                os.path.join(RUN, 'native-splash.png'),
                                os.path.join(RUN, 'native-screen.png'))
    finally:
        if s:
            s.stop()
        display.stop()


def main(argv):
    return h.launcher_main(argv, BIN, 'build it with scripts/build linux '
                           '(needs libgtk-3-dev)', on_display, headless)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
