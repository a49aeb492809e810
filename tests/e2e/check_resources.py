#!/usr/bin/env python3
"""Checks the resources linked into the Windows executable.

    check_resources.py EXE [CMDLGCHS_FILE COMDLG32_FILE]

The two component files default to ../components/ beside the executable's
folder, where the build puts them. Prints one PASS/FAIL line per check and
a closing "N passed, M failed"; exits 0 only when everything passed.
Pure python3: reads the PE headers, the resource tree and the export table
itself, so it runs on any host without Windows tools.
"""

import os
import struct
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_ZH_CN = 0x0804

EXPECTED_STRINGS = {
    'FileVersion': '1.00',
    'ProductVersion': '1.00',
    'ProductName': 'Morvane电脑夜间模式工具',
    'InternalName': 'Morvane电脑夜间模式工具V1.0',
    'OriginalFilename': 'Morvane电脑夜间模式工具V1.0.exe',
    'CompanyName': 'Morvane软件',
}
COMDLG32_EXPORTS = {'DllRegisterServer', 'DllUnregisterServer',
                    'DllGetClassObject', 'DllCanUnloadNow',
                    'DLLGetDocumentation'}


class PEError(Exception):
    pass


class PE:
    """Just enough of a PE image: sections, data directories, reads by RVA."""

    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b'MZ':
            raise PEError('no MZ header')
        pe = struct.unpack_from('<I', d, 0x3C)[0]
        if d[pe:pe + 4] != b'PE\0\0':
            raise PEError('no PE signature')
        _, nsect, _, _, _, optsize, _ = struct.unpack_from('<HHIIIHH', d,
                                                           pe + 4)
        opt = pe + 24
        magic = struct.unpack_from('<H', d, opt)[0]
        if magic == 0x10B:
            dirs = opt + 96
        elif magic == 0x20B:
            dirs = opt + 112
        else:
            raise PEError('unknown optional header magic %#x' % magic)
        ndirs = struct.unpack_from('<I', d, dirs - 4)[0]
        self.dirs = [struct.unpack_from('<II', d, dirs + 8 * i)
                     for i in range(min(ndirs, 16))]
        self.sections = []
        sect = opt + optsize
        for i in range(nsect):
            vsize, va, rawsize, rawptr = struct.unpack_from(
                '<IIII', d, sect + 40 * i + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))

    def offset(self, rva):
        for va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise PEError('RVA %#x lies in uninitialised data' % rva)
                return rawptr + rva - va
        raise PEError('RVA %#x outside every section' % rva)

    def read(self, rva, size):
        off = self.offset(rva)
        return self.data[off:off + size]

    def directory(self, index):
        if index >= len(self.dirs):
            return 0, 0
        return self.dirs[index]

    def resources(self):
        """{(type, name, lang): bytes}; type and name are int or str."""
        rva, size = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)
        d = self.data
        out = {}

        def name_of(field):
            if field & 0x80000000:
                off = base + (field & 0x7FFFFFFF)
                n = struct.unpack_from('<H', d, off)[0]
                return d[off + 2:off + 2 + 2 * n].decode('utf-16-le')
            return field

        def walk(off, path):
            nnamed, nid = struct.unpack_from('<HH', d, off + 12)
            for i in range(nnamed + nid):
                field, target = struct.unpack_from('<II', d, off + 16 + 8 * i)
                key = path + (name_of(field),)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    drva, dsize = struct.unpack_from('<II', d, base + target)
                    out[key] = self.read(drva, dsize)

        walk(base, ())
        return out

    def exports(self):
        rva, size = self.directory(0)
        if not rva:
            return set()
        (_, _, _, _, _, _, _, nnames, _, names_rva, _) = struct.unpack(
            '<IIHHIIIIIII', self.read(rva, 40))
        names = set()
        for i in range(nnames):
            name_rva = struct.unpack('<I', self.read(names_rva + 4 * i, 4))[0]
            off = self.offset(name_rva)
            names.add(self.data[off:self.data.index(b'\0', off)].decode())
        return names


def version_blocks(data, off=0, end=None):
    """Parses the nested version blocks: [(key, value_bytes, children)]."""
    end = len(data) if end is None else end
    blocks = []
    while off + 6 <= end:
        length, vlen, vtype = struct.unpack_from('<HHH', data, off)
        if length == 0:
            break
        stop = off + length
        k = off + 6
        kend = k
        while data[kend:kend + 2] != b'\0\0':
            kend += 2
        key = data[k:kend].decode('utf-16-le')
        p = (kend + 2 + 3) & ~3
        vbytes = vlen * 2 if vtype == 1 else vlen
        value = data[p:min(p + vbytes, stop)]
        children_at = (p + vbytes + 3) & ~3
        children = (version_blocks(data, children_at, stop)
                    if children_at < stop else [])
        blocks.append((key, value, children))
        off = (stop + 3) & ~3
    return blocks


def text(value):
    return value.decode('utf-16-le', 'replace').rstrip('\0')


class Checker:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what, detail=''):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        line = '%s %s' % ('PASS' if ok else 'FAIL', what)
        if detail and not ok:
            line += ': ' + detail
        print(line)
        return ok


def check_version(c, res):
    found = [(k, v) for k, v in res.items() if k[0] == RT_VERSION]
    if not c.check(len(found) == 1 and found[0][0][1] == 1,
                   'one version resource, id 1',
                   str([k for k, _ in found])):
        return
    blocks = version_blocks(found[0][1])
    if not c.check(len(blocks) == 1 and blocks[0][0] == 'VS_VERSION_INFO',
                   'version resource parses as VS_VERSION_INFO'):
        return
    _, fixed, children = blocks[0]
    ok = len(fixed) >= 52 and struct.unpack_from('<I', fixed)[0] == 0xFEEF04BD
    if c.check(ok, 'fixed file info present'):
        fms, fls, pms, pls = struct.unpack_from('<IIII', fixed, 8)
        fv = (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF)
        pv = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
        c.check(fv == (1, 0, 0, 0), 'fixed file version 1.0.0.0', str(fv))
        c.check(pv == (1, 0, 0, 0), 'fixed product version 1.0.0.0', str(pv))

    sfi = [ch for k, _, ch in children if k == 'StringFileInfo']
    tables = sfi[0] if sfi else []
    c.check([k for k, _, _ in tables] == ['080404B0'],
            'one string table, "080404B0" (0x0804, code page 1200)',
            str([k for k, _, _ in tables]))
    strings = {}
    for _, _, entries in tables:
        for k, v, _ in entries:
            strings[k] = text(v)
    for key, want in EXPECTED_STRINGS.items():
        got = strings.get(key)
        c.check(got == want, '%s = "%s"' % (key, want), repr(got))
    c.check('FileDescription' not in strings, 'no FileDescription',
            repr(strings.get('FileDescription')))

    vfi = [ch for k, _, ch in children if k == 'VarFileInfo']
    trans = [v for k, v, _ in (vfi[0] if vfi else []) if k == 'Translation']
    pairs = []
    if trans:
        raw = trans[0]
        pairs = [struct.unpack_from('<HH', raw, i)
                 for i in range(0, len(raw) - 3, 4)]
    c.check(pairs == [(LANG_ZH_CN, 1200)], 'Translation 0x0804, 1200',
            str([(hex(a), b) for a, b in pairs]))


def check_icon(c, res):
    groups = {k: v for k, v in res.items() if k[:2] == (RT_GROUP_ICON, 1)}
    if not c.check(len(groups) == 1, 'icon group 1 present'):
        return
    data = next(iter(groups.values()))
    _, kind, count = struct.unpack_from('<HHH', data)
    entries = []
    for i in range(count):
        w, h, colors, _, planes, bits, size, icon_id = struct.unpack_from(
            '<BBBBHHIH', data, 6 + 14 * i)
        entries.append(((w or 256), (h or 256), colors, planes, bits, icon_id))
    sizes = sorted((w, h) for w, h, *_ in entries)
    c.check(kind == 1 and sizes == [(16, 16), (32, 32)],
            'icon group 1 holds a 32x32 and a 16x16 image', str(sizes))
    c.check(all(colors == 16 and bits == 4
                for _, _, colors, _, bits, _ in entries),
            'icon group entries are 16 colours, 4 bpp',
            str([(colors, bits) for _, _, colors, _, bits, _ in entries]))
    images_ok, detail = True, []
    for w, h, _, _, _, icon_id in entries:
        image = [v for k, v in res.items() if k[:2] == (RT_ICON, icon_id)]
        if len(image) != 1 or len(image[0]) < 40:
            images_ok = False
            detail.append('icon %d missing' % icon_id)
            continue
        _, bw, bh, _, bpp = struct.unpack_from('<IiiHH', image[0])
        if (bw, bh, bpp) != (w, 2 * h, 4):
            images_ok = False
            detail.append('icon %d is %dx%d at %d bpp' % (icon_id, bw, bh // 2,
                                                          bpp))
    c.check(images_ok, 'icon images are 4 bpp bitmaps of the listed sizes',
            '; '.join(detail))


def check_manifest(c, res):
    found = [v for k, v in res.items() if k[:2] == (RT_MANIFEST, 1)]
    ok = len(found) == 1
    if c.check(ok, 'manifest, id 1'):
        m = found[0].decode('utf-8', 'replace')
        for needle in ('asInvoker', 'PerMonitorV2',
                       'Microsoft.Windows.Common-Controls'):
            c.check(needle in m, 'manifest mentions %s' % needle)


def check_component(c, res, rtype, name, path):
    label = 'resource %s/%s' % (rtype, name)
    found = {k: v for k, v in res.items() if k[:2] == (rtype, name)}
    if not c.check(len(found) == 1, label + ' present (exact upper case)',
                   str(sorted(k for k in res if isinstance(k[0], str)))):
        return
    (key, data), = found.items()
    c.check(key[2] == LANG_ZH_CN, label + ' language 0x0804', hex(key[2]))
    try:
        with open(path, 'rb') as f:
            slot = f.read()
    except OSError as e:
        c.check(False, label + ' matches ' + path, str(e))
        return
    c.check(data == slot, '%s byte-identical to %s (%d bytes)'
            % (label, path, len(slot)),
            'resource has %d bytes' % len(data))


def check_exports(c, path, want, unwanted):
    try:
        names = PE(path).exports()
    except (OSError, PEError, struct.error) as e:
        c.check(False, 'exports of ' + path, str(e))
        return
    base = os.path.basename(path)
    if want:
        c.check(names == want,
                '%s exports exactly %s' % (base, ', '.join(sorted(want))),
                'has ' + ', '.join(sorted(names)))
    for n in unwanted:
        c.check(n not in names, '%s has no %s export' % (base, n))


def main(argv):
    if len(argv) not in (2, 4):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    exe = argv[1]
    if len(argv) == 4:
        cmdlgchs, comdlg32 = argv[2], argv[3]
    else:
        comp = os.path.join(os.path.dirname(os.path.abspath(exe)), os.pardir,
                            'components')
        cmdlgchs = os.path.join(comp, 'CMDLGCHS.DLL')
        comdlg32 = os.path.join(comp, 'COMDLG32.ocx')

    c = Checker()
    try:
        res = PE(exe).resources()
    except (OSError, PEError, struct.error) as e:
        c.check(False, 'read resources of ' + exe, str(e))
        res = None
    if res is not None:
        check_version(c, res)
        check_icon(c, res)
        check_manifest(c, res)
        check_component(c, res, 'DLL', 'CMDLGCHS', cmdlgchs)
        check_component(c, res, 'OCX', 'COMDLG32', comdlg32)
    check_exports(c, comdlg32, COMDLG32_EXPORTS, ())
    check_exports(c, cmdlgchs, set(), ('DllRegisterServer',))
    print('%d passed, %d failed' % (c.passed, c.failed))
    return 0 if c.failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
