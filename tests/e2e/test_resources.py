"""What the cross-built Windows executable carries, read from the file itself with pefile (no
Windows tool, no display): the version block, the icon group, the manifest, the two embedded
components and what they export, and the libraries it loads at start."""

import os
import struct

import pytest

import harness as h

pefile = pytest.importorskip('pefile', reason='python3-pefile is not installed (scripts/setup)')

RT = pefile.RESOURCE_TYPE
LANG_ZH_CN = 0x0804

EXPECTED_STRINGS = {
    'FileVersion': '1.00',
    'ProductVersion': '1.00',
    'ProductName': 'Morvane电脑夜间模式工具',
    'InternalName': 'Morvane电脑夜间模式工具V1.0',
    'OriginalFilename': 'Morvane电脑夜间模式工具V1.0.exe',
    'CompanyName': 'Morvane软件',
}
COMPONENTS = {'CMDLGCHS': ('DLL', 'CMDLGCHS.DLL'), 'COMDLG32': ('OCX', 'COMDLG32.ocx')}
COMDLG32_EXPORTS = {'DllRegisterServer', 'DllUnregisterServer', 'DllGetClassObject',
                    'DllCanUnloadNow', 'DLLGetDocumentation'}


def load(path):
    if not os.path.exists(path):
        where = os.path.relpath(path, h.REPO)
        pytest.skip('%s is not built (scripts/build windows-cross)' % where)
    return pefile.PE(path)


@pytest.fixture(scope='module')
def exe():
    return load(h.EXE)


@pytest.fixture(scope='module')
def res(exe):
    """{(type, name, language): bytes}; a type or name is an int or a str as the tree holds it."""
    def key(entry):
        return str(entry.name) if entry.name is not None else entry.id
    out = {}
    tree = getattr(exe, 'DIRECTORY_ENTRY_RESOURCE', None)
    for t in tree.entries if tree else []:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                data = lang.data.struct
                out[key(t), key(n), lang.id] = exe.get_data(data.OffsetToData, data.Size)
    return out


def exports(path):
    table = getattr(load(path), 'DIRECTORY_ENTRY_EXPORT', None)
    return {s.name.decode() for s in table.symbols if s.name} if table else set()


def test_version_block(exe, res):
    found = [k for k in res if k[0] == RT['RT_VERSION']]
    assert [k[1] for k in found] == [1], 'version resources: %s' % found
    assert [v.Key for v in exe.VS_VERSIONINFO] == [b'VS_VERSION_INFO']
    fixed = exe.VS_FIXEDFILEINFO[0]
    assert fixed.Signature == 0xFEEF04BD
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == (0x10000, 0), \
        'fixed file version is not 1.0.0.0'
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x10000, 0), \
        'fixed product version is not 1.0.0.0'

    infos = {i.Key: i for i in exe.FileInfo[0]}
    tables = infos[b'StringFileInfo'].StringTable
    # 0x0804 with code page 1200 (UTF-16)
    assert [t.LangID for t in tables] == [b'080404B0']
    strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
    assert {k: strings.get(k) for k in EXPECTED_STRINGS} == EXPECTED_STRINGS
    assert 'FileDescription' not in strings

    trans = [v.entry.get(b'Translation') for v in infos[b'VarFileInfo'].Var]
    assert trans == ['0x0804 0x04b0'], \
        'Translation %s, expected 0x0804 with code page 1200' % trans


def test_icon_group_holds_a_32_and_a_16_pixel_image_of_16_colours(res):
    groups = [v for k, v in res.items() if k[:2] == (RT['RT_GROUP_ICON'], 1)]
    assert len(groups) == 1, 'icon group 1: %d found' % len(groups)
    data = groups[0]
    _, kind, count = struct.unpack_from('<HHH', data)
    assert kind == 1, 'icon group 1 is of kind %d, not icons' % kind
    entries = []
    for i in range(count):
        w, hgt, colours, _, _, bits, _, icon_id = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
        entries.append(((w or 256, hgt or 256), colours, bits, icon_id))
    assert sorted(e[0] for e in entries) == [(16, 16), (32, 32)]
    assert [e[1:3] for e in entries] == [(16, 4)] * 2, '16 colours, 4 bpp'
    for (w, hgt), _, _, icon_id in entries:
        image = [v for k, v in res.items() if k[:2] == (RT['RT_ICON'], icon_id)]
        assert len(image) == 1 and len(image[0]) >= 40, 'icon %d missing' % icon_id
        # a bitmap's height counts the mask below the image as well
        assert struct.unpack_from('<iiHH', image[0], 4) == (w, 2 * hgt, 1, 4), 'icon %d' % icon_id


def test_manifest(res):
    found = [v for k, v in res.items() if k[:2] == (RT['RT_MANIFEST'], 1)]
    assert len(found) == 1, 'manifest id 1: %d found' % len(found)
    text = found[0].decode('utf-8', 'replace')
    for needle in ('asInvoker', 'PerMonitorV2', 'Microsoft.Windows.Common-Controls'):
        assert needle in text


@pytest.mark.parametrize('name', sorted(COMPONENTS))
def test_embedded_component_is_the_built_file(res, name):
    rtype, filename = COMPONENTS[name]
    # exact upper case: the installer finds it by type and name
    found = {k: v for k, v in res.items() if k[:2] == (rtype, name)}
    assert len(found) == 1, 'resource %s/%s: named resources are %s' % (
        rtype, name, sorted(k for k in res if isinstance(k[0], str)))
    (key, data), = found.items()
    assert key[2] == LANG_ZH_CN, 'language %#x' % key[2]
    path = os.path.join(h.COMPONENTS, filename)
    with open(path, 'rb') as f:
        assert data == f.read(), '%s/%s differs from %s' % (rtype, name, path)


def test_component_exports():
    assert exports(os.path.join(h.COMPONENTS, 'COMDLG32.ocx')) == COMDLG32_EXPORTS
    # the resource library cannot register: regsvr32 fails on it, silently
    assert 'DllRegisterServer' not in exports(os.path.join(h.COMPONENTS, 'CMDLGCHS.DLL'))


def test_no_colour_dialog_library_loaded_at_start(exe):
    # comdlg32 is loaded when the colour dialog is first shown: linked at load time it brings
    # shell32, ole32 and the print spooler into every start.
    imported = {i.dll.decode().lower() for i in getattr(exe, 'DIRECTORY_ENTRY_IMPORT', [])}
    assert imported, 'no import table read'
    assert 'comdlg32.dll' not in imported, sorted(imported)
