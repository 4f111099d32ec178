#!/usr/bin/env python3
"""Reads the resources of a Windows executable (PE32 or PE32+) back from its .rsrc section and
checks what vipcard.exe must carry: the application icon, the version information and the
manifest; or checks an executable's headers and imports. Prints what it read; exits 1 when
something is missing or wrong.

  pe-resources.py check EXE VERSION [PRODUCT_NAME]   the three resources of vipcard.exe
  pe-resources.py image EXE PE32|PE32+ [gui|console] the format and subsystem, and imports of
                                                     Windows' own DLLs only (no lib*.dll, no
                                                     Qt5*.dll: static runtimes and Qt)
  pe-resources.py ico FILE                           the sizes of an .ico file, one a line

VERSION is the CMake project version (1.0); PRODUCT_NAME is by default the main window's title
as ui/mainpage.ui sets it.
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SUBSYSTEMS = {2: 'gui', 3: 'console'}
ICON_SIZES = [16, 24, 32, 48, 256]
SUPPORTED_OS = {
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': 'Windows 7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': 'Windows 8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': 'Windows 8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': 'Windows 10/11',
}


class PeFile:
    def __init__(self, path):
        self.data = open(path, 'rb').read()
        data = self.data
        if data[:2] != b'MZ':
            raise ValueError('not an MZ executable')
        pe, = struct.unpack_from('<I', data, 0x3C)
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE header')
        sections, = struct.unpack_from('<H', data, pe + 6)
        optional_size, = struct.unpack_from('<H', data, pe + 20)
        optional = pe + 24
        magic, = struct.unpack_from('<H', data, optional)
        self.format = {0x10B: 'PE32', 0x20B: 'PE32+'}.get(magic, hex(magic))
        self.subsystem, = struct.unpack_from('<H', data, optional + 68)
        directories = optional + (96 if magic == 0x10B else 112)
        self.import_rva, = struct.unpack_from('<I', data, directories + 1 * 8)
        self.rsrc_rva, self.rsrc_size = struct.unpack_from('<II', data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
                '<IIII', data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError('RVA %#x lies in no section' % rva)

    def string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b'\0', at)].decode('ascii', 'replace')

    def imports(self):
        """The names of the DLLs in the import table."""
        names = []
        at = self.offset(self.import_rva) if self.import_rva else None
        while at is not None:
            descriptor = struct.unpack_from('<5I', self.data, at)
            if not any(descriptor):
                break
            names.append(self.string(descriptor[3]))
            at += 20
        return names

    def resources(self):
        """{type: {name or id: bytes}}, the first language of each."""
        if not self.rsrc_rva:
            return {}
        base = self.offset(self.rsrc_rva)
        data = self.data

        def entries(directory):
            named, ids = struct.unpack_from('<HH', data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from('<II', data, base + directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length, = struct.unpack_from('<H', data, at)
                    name = data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                yield name, target

        result = {}
        for kind, names in entries(0):
            result[kind] = {}
            for name, languages in entries(names & 0x7FFFFFFF):
                _, leaf = next(entries(languages & 0x7FFFFFFF))
                rva, size = struct.unpack_from('<II', data, base + leaf)
                at = self.offset(rva)
                result[kind][name] = data[at:at + size]
        return result


def image_size(image):
    """Width and height of an icon image: PNG, or a DIB of twice the height."""
    if image[:8] == b'\x89PNG\r\n\x1a\n':
        return struct.unpack_from('>II', image, 16)
    header, width, height = struct.unpack_from('<Iii', image, 0)
    if header != 40:
        raise ValueError('unknown icon image format')
    return width, height // 2


def utf16z(data, at):
    end = at
    while data[end:end + 2] != b'\0\0':
        end += 2
    return data[at:end].decode('utf-16-le'), end + 2


def align4(at):
    return (at + 3) & ~3


def version_block(data, at):
    """One node of VS_VERSIONINFO: (key, value bytes, value type, children, end)."""
    length, value_length, value_type = struct.unpack_from('<HHH', data, at)
    end = at + length
    key, after = utf16z(data, at + 6)
    value_at = align4(after)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[value_at:value_at + value_bytes]
    children = []
    child = align4(value_at + value_bytes)
    while child < end:
        node = version_block(data, child)
        children.append(node)
        child = align4(node[4])
    return key, value, value_type, children, end


def read_version(data):
    key, fixed, _, children, _ = version_block(data, 0)
    if key != 'VS_VERSION_INFO':
        raise ValueError('no VS_VERSION_INFO')
    signature, _, ms, ls, pms, pls = struct.unpack_from('<IIIIII', fixed, 0)
    if signature != 0xFEEF04BD:
        raise ValueError('no VS_FIXEDFILEINFO')
    numbers = lambda high, low: '%d.%d.%d.%d' % (high >> 16, high & 0xFFFF, low >> 16,
                                                 low & 0xFFFF)
    strings = {}
    for child_key, _, _, tables, _ in children:
        if child_key != 'StringFileInfo':
            continue
        for language, _, _, entries, _ in tables:
            for name, value, _, _, _ in entries:
                strings[name] = value.decode('utf-16-le').rstrip('\0')
            strings['(string table)'] = language
    return numbers(ms, ls), numbers(pms, pls), strings


class Checker:
    def __init__(self):
        self.failures = 0

    def __call__(self, what, ok, shown=''):
        print('%s %s%s' % ('PASS  ' if ok else 'FAIL! ', what, (': ' + shown) if shown else ''))
        if not ok:
            self.failures += 1


def check(path, version, product):
    resources = PeFile(path).resources()
    ok = Checker()
    quad = '.'.join((version.split('.') + ['0'] * 4)[:4])

    groups = resources.get(RT_GROUP_ICON, {})
    group = groups.get('IDI_ICON1')
    ok('icon group IDI_ICON1 (the one Qt gives its windows)', group is not None,
       ', '.join(str(name) for name in groups))
    if group is not None:
        count, = struct.unpack_from('<H', group, 4)
        sizes = []
        for i in range(count):
            width, height, _, _, _, bits, _, icon_id = struct.unpack_from(
                '<BBBBHHIH', group, 6 + 14 * i)
            image = resources.get(RT_ICON, {}).get(icon_id)
            actual = image_size(image) if image else None
            ok('icon %d: %dx%d, %d bits' % (icon_id, width or 256, height or 256, bits),
               actual == (width or 256, height or 256), 'image %s' % (actual,))
            sizes.append(width or 256)
        ok('icon sizes %s' % ICON_SIZES, sorted(sizes) == ICON_SIZES, str(sorted(sizes)))

    info = resources.get(RT_VERSION, {}).get(1)
    ok('version resource', info is not None)
    if info is not None:
        file_version, product_version, strings = read_version(info)
        ok('fixed file version ' + quad, file_version == quad, file_version)
        ok('fixed product version ' + quad, product_version == quad, product_version)
        for name, expected in (('CompanyName', 'Lessa'), ('ProductName', product),
                               ('FileDescription', product), ('FileVersion', version),
                               ('ProductVersion', version),
                               ('OriginalFilename', 'vipcard.exe')):
            ok('%s "%s"' % (name, expected), strings.get(name) == expected,
               '"%s"' % strings.get(name))
        print('       string table %s' % strings.get('(string table)'))

    manifest = resources.get(RT_MANIFEST, {}).get(1)
    ok('manifest (resource 1)', manifest is not None)
    if manifest is not None:
        root = ElementTree.fromstring(manifest)
        tags = {}
        for element in root.iter():
            tags.setdefault(element.tag.split('}')[-1], []).append(element)
        levels = [e.get('level') for e in tags.get('requestedExecutionLevel', [])]
        ok('requestedExecutionLevel asInvoker', levels == ['asInvoker'], str(levels))
        systems = sorted(e.get('Id').lower() for e in tags.get('supportedOS', []))
        ok('supportedOS Windows 7, 8, 8.1, 10/11', systems == sorted(SUPPORTED_OS),
           ', '.join(SUPPORTED_OS.get(s, s) for s in systems))
        aware = [e.text.strip() for e in tags.get('dpiAware', [])]
        awareness = [e.text.strip() for e in tags.get('dpiAwareness', [])]
        ok('dpiAware true/pm (per monitor from 8.1, system before)',
           [a.lower() for a in aware] == ['true/pm'], str(aware))
        ok('dpiAwareness PerMonitor (Windows 10 1607 and later)',
           awareness == ['PerMonitor'], str(awareness))
    return ok.failures == 0


def check_image(path, expected_format, expected_subsystem):
    pe = PeFile(path)
    ok = Checker()
    ok(expected_format, pe.format == expected_format, pe.format)
    if expected_subsystem:
        subsystem = SUBSYSTEMS.get(pe.subsystem, str(pe.subsystem))
        ok('%s subsystem' % expected_subsystem, subsystem == expected_subsystem, subsystem)
    dlls = sorted(pe.imports(), key=str.lower)
    foreign = [dll for dll in dlls if re.match(r'(lib|qt5).*\.dll$', dll, re.IGNORECASE)]
    ok("imports only Windows' own DLLs", dlls and not foreign, ' '.join(dlls))
    return ok.failures == 0


def ico_sizes(path):
    data = open(path, 'rb').read()
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError('not an icon file')
    sizes = []
    for i in range(count):
        _, _, _, _, _, _, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        sizes.append(image_size(data[offset:offset + size])[0])
    return sizes


def window_title():
    ui = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'ui', 'mainpage.ui')
    match = re.search(r'<property name="windowTitle">\s*<string>([^<]+)</string>',
                      open(ui, encoding='utf-8').read())
    return match.group(1)


def main(argv):
    if len(argv) in (4, 5) and argv[1] == 'check':
        product = argv[4] if len(argv) == 5 else window_title()
        return 0 if check(argv[2], argv[3], product) else 1
    if len(argv) in (4, 5) and argv[1] == 'image' and argv[3] in ('PE32', 'PE32+'):
        subsystem = argv[4] if len(argv) == 5 else None
        return 0 if check_image(argv[2], argv[3], subsystem) else 1
    if len(argv) == 3 and argv[1] == 'ico':
        for size in ico_sizes(argv[2]):
            print(size)
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
