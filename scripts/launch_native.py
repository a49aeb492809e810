#!/usr/bin/env python3
"""Starts the native Linux program, for scripts/run.

    launch_native.py             on $DISPLAY when it answers, else on a
                                 private one
    launch_native.py --headless  always on a private display

On a real display build/linux/bin/morvane-night runs in the foreground
until it is ended from its settings panel (F7, then the exit label).
Without one, it runs on a private Xvfb display with settings and an
instance lock of its own under build/run/native/; once its splash has gone,
screenshots of the splash and the tinted screen are left under build/run/
and everything is stopped again. Needs Debian's python3-xlib.
"""

import os
import shutil
import subprocess
import sys

import xdisplay as xd
from launcher import RUN, launcher_main, show_started

BIN = os.path.join(xd.BUILD, 'linux', 'bin', 'morvane-night')


def on_display():
    xd.log('run: starting %s on %s' % (os.path.relpath(BIN, xd.REPO), os.environ['DISPLAY']))
    xd.log('run: press F7 for the settings panel; its "关闭夜间模式" ends the tool')
    p = subprocess.Popen([BIN], env=dict(os.environ, GDK_BACKEND='x11'))
    try:
        return p.wait()
    except KeyboardInterrupt:
        xd.stop_all([p])
        return 130


def headless():
    display = xd.start_display('xvfb', logdir=RUN)
    home = os.path.join(RUN, 'native')
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(os.path.join(home, 'config'))
    os.makedirs(os.path.join(home, 'runtime'), mode=0o700)
    env = dict(display.env, XDG_CONFIG_HOME=os.path.join(home, 'config'),
               XDG_RUNTIME_DIR=os.path.join(home, 'runtime'), GDK_BACKEND='x11',
               NO_AT_BRIDGE='1', GSETTINGS_BACKEND='memory', LANG=xd.locale_name(),
               LC_ALL=xd.locale_name())
    env.pop('WAYLAND_DISPLAY', None)
    p = None
    try:
        xd.log('run: the private display is %s' % display.name)
        with open(os.path.join(home, 'app.log'), 'wb') as out:
            p = subprocess.Popen([BIN], env=env, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT)
        return show_started(p, display, os.path.join(RUN, 'native-splash.png'),
                            os.path.join(RUN, 'native-screen.png'))
    finally:
        if p:
            xd.stop_all([p])
        display.stop()


if __name__ == '__main__':
    sys.exit(launcher_main(sys.argv, BIN, 'build it with scripts/build linux (needs libgtk-3-dev)',
                           on_display, headless))
