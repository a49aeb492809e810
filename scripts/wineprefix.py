"""The Windows executable's Wine side, for scripts/run --wine, the
end-to-end tests and the bench: a 64-bit Wine prefix on a display, its
registry, and its window list.
"""

import json
import os
import shutil
import subprocess
import sys

from xdisplay import BUILD, HarnessError, locale_name

APP_TITLE = 'Morvane电脑夜间模式工具'
EXE = os.path.join(BUILD, 'windows-cross', 'bin', APP_TITLE + 'V1.0.exe')
SETTINGS_KEY = 'HKCU\\Software\\' + APP_TITLE + '\\Settings'

# Chinese faces the program asks for, and what this machine has instead.
FONT_REPLACEMENTS = {
    '宋体': 'WenQuanYi Zen Hei',
    'SimSun': 'WenQuanYi Zen Hei',
    '新宋体': 'WenQuanYi Zen Hei',
    'NSimSun': 'WenQuanYi Zen Hei',
    '黑体': 'WenQuanYi Micro Hei',
    'SimHei': 'WenQuanYi Micro Hei',
    '微软雅黑': 'WenQuanYi Micro Hei',
    'Microsoft YaHei': 'WenQuanYi Micro Hei',
}


def wine_loader():
    # Debian's /usr/bin/wine wrapper nags about wine32 unless WINELOADER is
    # set; name the 64-bit loader ourselves where it is.
    for cand in ('/usr/lib/wine/wine64', shutil.which('wine64'), shutil.which('wine')):
        if cand and os.access(cand, os.X_OK):
            return cand
    raise HarnessError('wine is not installed')


def three_times(attempt, what):
    """attempt() until it gives something other than None, at most three
    times: under load a Wine helper now and then fails for no reason of
    the program's. attempt returns (value, failure text)."""
    for _ in range(3):
        value, failure = attempt()
        if value is not None:
            return value
        print('%s failed (%s), once more' % (what, failure), file=sys.stderr)
    raise HarnessError('%s failed three times (last: %s)' % (what, failure))


class Wine:
    """One Wine prefix on one display (None: on $DISPLAY)."""

    def __init__(self, prefix, display):
        self.prefix = prefix
        self.display = display
        self.loader = wine_loader()
        self.env = dict(display.env if display else os.environ, WINEPREFIX=prefix,
                        WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=',
                        WINELOADER=self.loader, LANG=locale_name(), LC_ALL=locale_name())
        self.env.pop('WINEARCH', None)
        self.children = []

    def run(self, *args, timeout=60, check=True):
        r = subprocess.run([self.loader] + list(args), env=self.env, capture_output=True,
                           timeout=timeout, check=False)
        if check and r.returncode != 0:
            raise HarnessError('wine %s exited %d: %s' % (' '.join(args), r.returncode,
                                                          r.stderr.decode('utf-8',
                                                                          'replace')[-500:]))
        return r

    def start(self, *args, log_name=None):
        """A Windows program's Popen: the Unix process is the Windows one."""
        out = open(log_name, 'ab') if log_name else subprocess.DEVNULL
        try:
            p = subprocess.Popen([self.loader] + list(args), env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        finally:
            if log_name:
                out.close()
        self.children.append(p)
        return p

    def boot(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        r = subprocess.run([self.loader, 'wineboot', '-i'], env=self.env, capture_output=True,
                           timeout=300, check=False)
        self.wait_server(timeout=120)
        if not os.path.exists(os.path.join(self.prefix, 'system.reg')):
            raise HarnessError('wineboot failed (%d): %s' % (
                r.returncode, r.stderr.decode('utf-8', 'replace')[-800:]))
        # One regedit import rather than a wine process per value.
        lines = ['Windows Registry Editor Version 5.00', '',
                 '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]']
        lines += ['"%s"="%s"' % kv for kv in FONT_REPLACEMENTS.items()]
        # A crash must fail a test, not wait for someone to close a dialog.
        lines += ['', '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]',
                  '"ShowCrashDialog"=dword:00000000', '']
        regfile = self.prefix + '-setup.reg'
        with open(regfile, 'w', encoding='utf-16', newline='\r\n') as f:
            f.write('\n'.join(lines))
        self.run('regedit', '/S', self.winpath(regfile))
        os.remove(regfile)
        self.wait_server(timeout=60)

    def wait_server(self, timeout=60):
        subprocess.run(['wineserver', '-w'], env=self.env, timeout=timeout, check=False)

    def kill(self):
        subprocess.run(['wineserver', '-k'], env=self.env, timeout=30, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for p in self.children:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.children = []
        self.wait_server(timeout=30)

    def winpath(self, unix_path):
        return 'Z:' + os.path.abspath(unix_path).replace('/', '\\')

    def reg(self, *args):
        """A `reg` run that ended or that `reg` itself answered (after "reg: ",
        in the prefix's language). A run that failed without a word from
        `reg` is Wine's, under load, and goes again."""
        def attempt():
            r = self.run('reg', *args, check=False)
            if r.returncode == 0 or b'reg: ' in r.stdout + r.stderr:
                return r, None
            return None, 'exit code %d: %s' % (r.returncode, r.stderr.decode(
                'utf-8', 'replace')[-300:])

        return three_times(attempt, 'reg ' + ' '.join(args[:2]))

    def reg_add(self, key, name, data, kind='REG_SZ'):
        r = self.reg('add', key, '/v', name, '/t', kind, '/d', str(data), '/f')
        if r.returncode != 0:
            raise HarnessError('reg add %s /v %s refused: %s' % (key, name, (
                r.stdout + r.stderr).decode('utf-8', 'replace')[-300:]))

    def reg_query(self, key):
        """{value name: data} of one key, {} when the key does not exist."""
        return {name: data for name, (_, data) in reg_values(self, key).items()}

    def windows(self, winlist_exe):
        """The top-level windows of this prefix's desktop (winlist.exe)."""
        out = self.prefix + '-winlist.json'

        # A run that leaves no list failed (the list is written whole, then
        # renamed); read as "no windows" it would pass for a closed panel.
        def attempt():
            if os.path.exists(out):
                os.remove(out)
            r = self.run(winlist_exe, self.winpath(out), timeout=30, check=False)
            if not os.path.exists(out):
                return None, 'exit code %d: %s' % (r.returncode, r.stderr.decode(
                    'utf-8', 'replace')[-300:])
            with open(out, encoding='utf-8') as f:
                return [json.loads(line) for line in f if line.strip()], None

        return three_times(attempt, 'winlist.exe')


def reg_values(wine, key):
    """{value name: (type, data)} of one key as `reg query` prints them
    (REG_DWORD as 0x..., REG_BINARY as hex digits); {} when the key does
    not exist."""

    # Only a key that is not there counts as no values: `reg` says so. Any
    # other failed run, read as "nothing stored", would pass for a lost
    # setting.
    r = wine.reg('query', key)
    if r.returncode not in (0, 1):
        raise HarnessError('reg query %s exited %d' % (key, r.returncode))
    values = {}
    for line in (r.stdout.decode('utf-8', 'replace') if r.returncode == 0 else '').splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith('REG_'):
            values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else '')
    return values
