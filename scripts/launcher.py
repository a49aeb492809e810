"""What the two launchers of scripts/run share: the program on $DISPLAY
when one answers, else on a private display, where its splash and the
tinted screen are left as screenshots."""

import argparse
import os

import xdisplay as xd

RUN = os.path.join(xd.BUILD, 'run')
SPLASH_RED = (64, 0, 0)


def splash_up(img):
    """Whether the middle row crosses the splash's dark red."""
    row = [img.pixel(x, img.height // 2) for x in range(0, img.width, 2)]
    return sum(xd.close(p, SPLASH_RED, 6) for p in row) > 25


def show_started(proc, display, splash_png, screen_png):
    """Waits out the splash of a started program, leaves both screenshots
    and says whether it still runs; the exit status for the caller."""

    def splash_or_exit():
        if proc.poll() is not None:
            return 'exited'
        img = display.shot()
        return img if splash_up(img) else None

    splash = xd.poll(splash_or_exit, 25)
    if isinstance(splash, xd.Image):
        splash.save(splash_png)
        xd.log('run: splash up; waiting for it to close')
        if not xd.poll(lambda: not splash_up(display.shot()), 10):
            xd.log('run: the splash did not close within 10 s')
    else:
        xd.log('run: no splash seen within 25 s')
    # Settled once two reads in a row agree on something other than white.
    centre = (display.width // 2, display.height // 2)
    seen = []
    xd.poll(lambda: seen.append(display.pixel_rgb(*centre)) or
            (len(seen) > 1 and seen[-1] == seen[-2] != xd.WHITE), 5, 0.2)
    img = display.shot(screen_png)
    running = proc.poll() is None
    xd.log('run: the tool is %s; screen centre reads RGB %s' % (
        'running' if running else 'NOT running (exit code %s)' % proc.returncode,
        img.pixel(*centre)))
    xd.log('run: screenshot of the tinted screen: %s' % screen_png)
    if isinstance(splash, xd.Image):
        xd.log('run: screenshot of the splash: %s' % splash_png)
    return 0 if running else 1


def launcher_main(argv, program, build_hint, on_display, headless):
    """The program on $DISPLAY when it answers (unless --headless), else on
    a private display; an exit status for sys.exit."""
    ap = argparse.ArgumentParser(description='Starts the night-mode tool.')
    ap.add_argument('--headless', action='store_true', help='always on a private display')
    args = ap.parse_args(argv[1:])
    if not os.path.exists(program):
        xd.log('run: %s is missing; %s' % (program, build_hint))
        return 1
    os.makedirs(RUN, exist_ok=True)
    xd.install_signal_exit()
    try:
        if not args.headless and xd.display_works():
            return on_display()
        xd.log('run: no usable $DISPLAY; using a private display')
        return headless()
    except KeyboardInterrupt:
        return 130
    except xd.HarnessError as e:
        return 'run: %s' % e
