#!/usr/bin/env python3
"""Checks Windows executables with pefile; prints each check and what it found, exits 1 on a fault.
  pe-resources.py image EXE PE32|PE32+ [gui|console]  format, subsystem, Windows' own DLLs only
  pe-resources.py check EXE VERSION [PRODUCT_NAME]    vipcard.exe's icon, version info, manifest
  pe-resources.py ico FILE                            an .ico file's image sizes, one a line
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

WINDOWS_7_TO_11 = '''{35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
    {1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'''.split()
failures = []


def ok(what, passed, shown):
    print('%s %s: %s' % ('PASS  ' if passed else 'FAIL! ', what, shown))
    failures.extend([] if passed else [what])


def load(path):
    try:
        import pefile
    except ImportError:  # Debian's python3-pefile is for Debian's python3, not a pyenv or venv one
        if sys.executable != '/usr/bin/python3' and os.path.exists('/usr/bin/python3'):
            os.execv('/usr/bin/python3', ['/usr/bin/python3'] + sys.argv)
        sys.exit('pe-resources.py needs pefile: apt-get install python3-pefile')
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([1, 2])  # only imports and resources (with the version information)
    return pe


def image_size(image):  # of an icon's image: a PNG, or a DIB twice as high (the mask below)
    if image[:8] == b'\x89PNG\r\n\x1a\n':
        return struct.unpack_from('>II', image, 16)
    width, height = struct.unpack_from('<ii', image, 4)
    return width, height // 2


def check_image(pe, expected_format, expected_subsystem=None):
    actual = {0x10B: 'PE32', 0x20B: 'PE32+'}.get(pe.OPTIONAL_HEADER.Magic, 'neither')
    ok(expected_format, actual == expected_format, actual)
    if expected_subsystem:
        actual = {2: 'gui', 3: 'console'}.get(pe.OPTIONAL_HEADER.Subsystem, 'another')
        ok(expected_subsystem + ' subsystem', actual == expected_subsystem, actual)
    dlls = sorted((entry.dll.decode() for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])),
                  key=str.lower)
    # The MinGW runtimes and Qt are linked in, so none of their DLLs may be needed.
    foreign = [dll for dll in dlls if re.match(r'(lib|qt5).*\.dll$', dll, re.IGNORECASE)]
    ok("imports only Windows' own DLLs", dlls and not foreign,
       "not Windows': " + ' '.join(foreign) if foreign else ' '.join(dlls) or 'none')


def check_resources(pe, version, product):
    found, directory = {}, getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    for kind in directory.entries if directory else []:  # {type: {name or id: first language}}
        for entry in kind.directory.entries:
            leaf = entry.directory.entries[0].data.struct
            name = str(entry.name) if entry.name else entry.id
            found.setdefault(kind.id, {})[name] = pe.get_data(leaf.OffsetToData, leaf.Size)
    groups, icons = found.get(14, {}), found.get(3, {})  # RT_GROUP_ICON, RT_ICON
    ok('icon group IDI_ICON1 (the one Qt gives its windows)', 'IDI_ICON1' in groups,
       ' '.join(map(str, groups)) or 'none')
    group, sizes = groups.get('IDI_ICON1', bytes(6)), []
    for i in range(struct.unpack_from('<H', group, 4)[0]):
        width, height, _, _, _, bits, _, icon = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
        size, image = (width or 256, height or 256), icons.get(icon)
        actual = image_size(image) if image else None
        ok('icon %d: %dx%d, %d bits' % (icon, *size, bits), actual == size, 'image %s' % (actual,))
        sizes.append(size[0])
    ok('icon sizes 16, 24, 32, 48, 256', sorted(sizes) == [16, 24, 32, 48, 256], str(sorted(sizes)))

    quad = '.'.join((version.split('.') + ['0'] * 4)[:4])
    fixed = getattr(pe, 'VS_FIXEDFILEINFO', [None])[0]
    for what, high, low in (('file', 'FileVersionMS', 'FileVersionLS'),
                            ('product', 'ProductVersionMS', 'ProductVersionLS')):
        high, low = getattr(fixed, high, 0), getattr(fixed, low, 0)  # 0.0.0.0 without a resource
        actual = '%d.%d.%d.%d' % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
        ok('fixed %s version %s' % (what, quad), actual == quad, actual)
    strings = {key.decode(): value.decode() for info in getattr(pe, 'FileInfo', [[]])[0]
               for table in getattr(info, 'StringTable', [])
               for key, value in table.entries.items()}
    for name, expected in (('CompanyName', 'Lessa'), ('ProductName', product),
                           ('FileDescription', product), ('FileVersion', version),
                           ('ProductVersion', version), ('OriginalFilename', 'vipcard.exe')):
        ok('%s "%s"' % (name, expected), strings.get(name) == expected, '"%s"' % strings.get(name))

    manifest = found.get(24, {}).get(1)  # RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID
    ok('manifest (resource 1)', manifest is not None, '%d bytes' % len(manifest or ''))
    root = ElementTree.fromstring(manifest) if manifest else ElementTree.Element('none')
    for what, attribute, expected in (
            ('requestedExecutionLevel asInvoker', 'level', ['asInvoker']),
            ('supportedOS Windows 7, 8, 8.1, 10/11', 'Id', WINDOWS_7_TO_11),
            ('dpiAware true/pm (per monitor from 8.1, system before)', None, ['true/pm']),
            ('dpiAwareness PerMonitor (Windows 10 1607 and later)', None, ['PerMonitor'])):
        actual = [e.get(attribute) if attribute else e.text.strip()
                  for e in root.iter() if e.tag.split('}')[-1] == what.split()[0]]
        ok(what, sorted(map(str.lower, actual)) == sorted(map(str.lower, expected)),
           ' '.join(actual) or 'none')


if __name__ == '__main__':
    mode, args = sys.argv[1] if len(sys.argv) > 1 else '', sys.argv[2:]
    if mode == 'image' and len(args) in (2, 3) and args[1] in ('PE32', 'PE32+'):
        check_image(load(args[0]), *args[1:])
    elif mode == 'check' and len(args) == 3:
        check_resources(load(args[0]), *args[1:])
    elif mode == 'check' and len(args) == 2:  # the product's name is the main window's title
        ui = open(os.path.join(os.path.dirname(__file__), '../../ui/mainpage.ui'), encoding='utf-8')
        title = re.search(r'"windowTitle">\s*<string>([^<]+)<', ui.read()).group(1)
        check_resources(load(args[0]), args[1], title)
    elif mode == 'ico' and len(args) == 1:
        data = open(args[0], 'rb').read()
        count = struct.unpack_from('<H', data, 4)[0] if data[:4] == b'\0\0\1\0' else 0
        for size, offset in (struct.unpack_from('<II', data, 14 + 16 * i) for i in range(count)):
            print(image_size(data[offset:offset + size])[0])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(1 if failures else 0)
