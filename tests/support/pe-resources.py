#!/usr/bin/env python3
"""Checks Windows executables with pefile; prints each check and what it found, exits 1 on a fault.
  pe-resources.py image EXE PE32|PE32+ [gui|console] [--cc CC]  format, subsystem, Windows' own
      DLLs only; with CC, a MinGW-w64 compiler, each import dated by its headers: Windows 7 SP1
  pe-resources.py check EXE VERSION [PRODUCT_NAME]    vipcard.exe's icon, version info, manifest
  pe-resources.py ico FILE                            an .ico file's image sizes, one a line"""
import os, re, struct, subprocess, sys, xml.etree.ElementTree as ElementTree

WINDOWS_7_TO_11 = '''{35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
    {1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'''.split()
# What Windows' own DLLs that Qt and the MinGW runtime link to declare, so that every import can
# be dated; a DLL missing here leaves its imports undated, which fails.
HEADERS = '''winsock2.h ws2tcpip.h windows.h shellapi.h shlobj.h uxtheme.h dwmapi.h wincrypt.h
    bcrypt.h ncrypt.h security.h iphlpapi.h windns.h imm.h userenv.h mmsystem.h ole2.h lm.h
    wtsapi32.h aclapi.h assert.h io.h locale.h math.h process.h signal.h stdio.h stdlib.h
    time.h'''.split()
# Windows 8 functions that MinGW-w64's headers declare without a version guard, so that the
# headers alone would date them to Windows 7.
UNGUARDED = '''GetSystemTimePreciseAsFileTime WaitOnAddress WakeByAddressSingle WakeByAddressAll
    GetOverlappedResultEx CopyFile2 CreateFileMappingFromApp InitializeSynchronizationBarrier
    EnterSynchronizationBarrier DeleteSynchronizationBarrier'''.split()
failures = []

def ok(what, actual, expected=True, shown=None):  # shows what it found: shown, else actual
    print('PASS  ' if actual == expected else 'FAIL! ', what + ':', shown or actual)
    failures.extend([] if actual == expected else [what])

def image_size(image):  # of an icon's image: a PNG, or a DIB twice as high (the mask below)
    if image[:8] == b'\x89PNG\r\n\x1a\n':
        return struct.unpack_from('>II', image, 16)
    return struct.unpack_from('<i', image, 4)[0], struct.unpack_from('<i', image, 8)[0] // 2

def declared(cc, version):  # every name the headers declare for this _WIN32_WINNT
    source = ''.join('#include <%s>\n' % header for header in HEADERS)
    flags = ['-D_WIN32_WINNT=' + version, '-DWINVER=' + version, '-DSECURITY_WIN32']
    return set(re.findall(r'\w+', subprocess.run([cc, '-E', '-P', '-x', 'c', '-'] + flags,
        input=source, capture_output=True, text=True, check=True).stdout))

def after_windows7(cc, imports):
    """Imports MinGW-w64's headers declare only for a later Windows, and those they do not date:
    not declared at all, or by ordinal. Undeclared msvcrt.dll names are MinGW's own start-up
    hooks and CRT data, which Windows' msvcrt.dll has exported since long before Windows 7.
    API sets (api-ms-win-*, ext-ms-*) are named by contract, not dated: they fail too."""
    windows7 = declared(cc, '0x0601') - set(UNGUARDED)
    windows10 = declared(cc, '0x0A00')
    for entry in imports:
        dll = entry.dll.decode().lower()
        if dll.startswith(('api-ms-win-', 'ext-ms-')):
            yield '%s (an API set)' % dll
            continue
        for name in (i.name.decode() if i.name else '#%d' % i.ordinal for i in entry.imports):
            if name not in windows7 and (name in windows10 or dll != 'msvcrt.dll'):
                yield '%s (%s%s)' % (name, dll, '' if name in windows10 else ', not dated')

mode, args = sys.argv[1] if len(sys.argv) > 1 else '', sys.argv[2:]
cc = args[-1] if args[-2:-1] == ['--cc'] else None
args = args[:-2] if cc else args
if mode == 'ico' and len(args) == 1:
    data = open(args[0], 'rb').read()
    count = struct.unpack_from('<H', data, 4)[0] if data[:4] == b'\0\0\1\0' else 0
    for size, offset in (struct.unpack_from('<II', data, 14 + 16 * i) for i in range(count)):
        print(image_size(data[offset:offset + size])[0])
    sys.exit(0)
if not (mode == 'image' and len(args) in (2, 3) and args[1] in ('PE32', 'PE32+')
        or mode == 'check' and len(args) in (2, 3)):
    print(__doc__, file=sys.stderr)
    sys.exit(2)
try:
    import pefile
except ImportError:  # Debian's python3-pefile is for Debian's python3, not a pyenv or venv one
    if sys.executable != '/usr/bin/python3' and os.path.exists('/usr/bin/python3'):
        os.execv('/usr/bin/python3', ['/usr/bin/python3'] + sys.argv)
    sys.exit('pe-resources.py needs pefile: apt-get install python3-pefile')
pe = pefile.PE(args[0], fast_load=True)
pe.parse_data_directories([1, 2])  # only imports and resources (with the version information)
if mode == 'image':
    header, imports = pe.OPTIONAL_HEADER, getattr(pe, 'DIRECTORY_ENTRY_IMPORT', ())
    ok(args[1], {0x10B: 'PE32', 0x20B: 'PE32+'}.get(header.Magic, 'neither'), args[1])
    for kind in args[2:]:
        ok(kind + ' subsystem', {2: 'gui', 3: 'console'}.get(header.Subsystem, 'another'), kind)
    dlls = sorted((entry.dll.decode() for entry in imports), key=str.lower)
    # The MinGW runtimes and Qt are linked in, so none of their DLLs may be needed.
    foreign = [dll for dll in dlls if re.match(r'(lib|qt5).*\.dll$', dll, re.IGNORECASE)]
    ok("imports only Windows' own DLLs", dlls and not foreign,
       shown="not Windows': " + ' '.join(foreign) if foreign else ' '.join(dlls) or 'none')
    if cc:
        later = sorted(after_windows7(cc, imports))
        ok('imports only what Windows 7 SP1 exports', later, [], 'not there: ' + ', '.join(later)
           if later else '%d functions' % sum(len(entry.imports) for entry in imports))
    sys.exit(1 if failures else 0)

ui = open(os.path.join(os.path.dirname(__file__), '../../ui/mainpage.ui'), encoding='utf-8')
version, product = (args + re.findall(r'"windowTitle">\s*<string>([^<]+)<', ui.read()))[1:3]
resources = {}  # {(type, name or id): the data in its first language}
for kind in getattr(getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None), 'entries', []):
    for entry in kind.directory.entries:
        leaf = entry.directory.entries[0].data.struct
        resources[kind.id, str(entry.name or entry.id)] = pe.get_data(leaf.OffsetToData, leaf.Size)
ok('icon group IDI_ICON1 (the one Qt gives its windows)', (14, 'IDI_ICON1') in resources,
   shown=' '.join(name for kind, name in resources if kind == 14) or 'none')  # RT_GROUP_ICON
group = resources.get((14, 'IDI_ICON1'), bytes(6))
entries = [struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
           for i in range(struct.unpack_from('<H', group, 4)[0])]
for width, height, _, _, _, bits, _, icon in entries:
    size, image = (width or 256, height or 256), resources.get((3, str(icon)))  # RT_ICON
    ok('icon %d: %dx%d, %d bits' % (icon, *size, bits), image and image_size(image), size)
ok('icon sizes 16, 24, 32, 48, 256', sorted(e[0] or 256 for e in entries), [16, 24, 32, 48, 256])
quad = '.'.join((version.split('.') + ['0'] * 4)[:4])
fixed = getattr(pe, 'VS_FIXEDFILEINFO', [None])[0]  # 0.0.0.0 without a resource
for what in ('file', 'product'):
    high, low = (getattr(fixed, what.title() + 'Version' + half, 0) for half in ('MS', 'LS'))
    got = '%d.%d.%d.%d' % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    ok('fixed %s version %s' % (what, quad), got, quad)
strings = {key.decode(): value.decode() for info in getattr(pe, 'FileInfo', [[]])[0]
           for table in getattr(info, 'StringTable', []) for key, value in table.entries.items()}
for name, want in dict(CompanyName='Lessa', ProductName=product, FileDescription=product,
                       FileVersion=version, ProductVersion=version,
                       OriginalFilename='vipcard.exe').items():
    ok('%s "%s"' % (name, want), strings.get(name), want, '"%s"' % strings.get(name))
manifest = resources.get((24, '1'))  # RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID
ok('manifest (resource 1)', manifest is not None, shown='%d bytes' % len(manifest or ''))
elements = list(ElementTree.fromstring(manifest).iter()) if manifest else []
for what, want in (('requestedExecutionLevel asInvoker', ['asInvoker']),
                   ('supportedOS Windows 7, 8, 8.1, 10/11', WINDOWS_7_TO_11),
                   ('dpiAware true/pm (per monitor from 8.1, system before)', ['true/pm']),
                   ('dpiAwareness PerMonitor (Windows 10 1607 and later)', ['PerMonitor'])):
    got = [e.get('level') or e.get('Id') or e.text.strip()  # an attribute's value, or the text
           for e in elements if e.tag.split('}')[-1] == what.split()[0]]
    ok(what, sorted(map(str.lower, got)), sorted(map(str.lower, want)), ' '.join(got) or 'none')
sys.exit(1 if failures else 0)
