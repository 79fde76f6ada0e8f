#!/usr/bin/env python3
"""Checks the built image files themselves: machine, image header, imports
and resources. Usage: check_images.py X86_IMAGE [X64_IMAGE]

Each failed check prints what was expected and what the file holds."""
import struct
import sys

failures = []


def check(what, expected, got):
    if expected != got:
        failures.append(f'{what}: expected {expected!r}, got {got!r}')


class Image:
    def __init__(self, path):
        self.path = path
        with open(path, 'rb') as f:
            self.data = f.read()
        pe = struct.unpack_from('<I', self.data, 0x3C)[0]
        assert self.data[pe:pe + 4] == b'PE\0\0', 'not a PE image'
        (self.machine, self.nsections, self.timestamp, _, _, self.optsize,
         self.characteristics) = struct.unpack_from('<HHIIIHH', self.data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', self.data, opt)[0]
        wide = self.magic == 0x20B
        (self.os_major, self.os_minor, _, _, self.sub_major, self.sub_minor) = \
            struct.unpack_from('<HHHHHH', self.data, opt + 40)
        self.subsystem = struct.unpack_from('<H', self.data, opt + 68)[0]
        fmt, at = ('<QQQQ', opt + 72) if wide else ('<IIII', opt + 72)
        self.stack_reserve, self.stack_commit, self.heap_reserve, self.heap_commit = \
            struct.unpack_from(fmt, self.data, at)
        dirs = opt + (112 if wide else 96)
        self.dirs = [struct.unpack_from('<II', self.data, dirs + 8 * i) for i in range(16)]
        sec = opt + self.optsize
        self.sections = []
        for i in range(self.nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from('<8sIIII', self.data, sec + 40 * i)
            self.sections.append((name.rstrip(b'\0').decode(), va, max(vsize, rawsize), rawptr))
        self.wide = wide

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f'rva {rva:#x} outside every section')

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b'\0', at)].decode('ascii')

    def imports(self):
        result = {}
        rva = self.dirs[1][0]
        while True:
            lookup, _, _, name, first = struct.unpack_from('<IIIII', self.data, self.offset(rva))
            if name == 0:
                return result
            names = []
            thunk = self.offset(lookup or first)
            size, flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
            while True:
                value = struct.unpack_from('<Q' if self.wide else '<I', self.data, thunk)[0]
                if value == 0:
                    break
                names.append(f'#{value & 0xFFFF}' if value & flag else self.cstring((value & 0x7FFFFFFF) + 2))
                thunk += size
            result[self.cstring(name).upper()] = sorted(names)
            rva += 20

    def resources(self):
        """{(type, name, language): bytes} for integer-identified resources."""
        base_rva = self.dirs[2][0]
        base = self.offset(base_rva)
        found = {}

        def entries(at):
            named, ids = struct.unpack_from('<HH', self.data, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from('<II', self.data, at + 16 + 8 * i)
                yield ident, target

        for type_id, t in entries(base):
            for name_id, n in entries(base + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(base + (n & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    found[(type_id, name_id, lang)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


RT_ICON, RT_MENU, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 4, 6, 14, 24
JAPANESE, ENGLISH_US = 1041, 1033

EXPECTED_IMPORTS = {
    'KERNEL32.DLL': sorted([
        'CloseHandle', 'CreateToolhelp32Snapshot', 'ExitProcess', 'FreeLibrary', 'GetCommandLineA',
        'GetCurrentProcess', 'GetModuleFileNameA', 'GetPrivateProfileIntA', 'GetPrivateProfileStringA',
        'GetProcAddress', 'LoadLibraryA', 'OpenProcess', 'Process32First',
        'Process32Next', 'SetProcessWorkingSetSize', 'Sleep', 'lstrcpyA', 'lstrcpynA']),
    'USER32.DLL': sorted([
        'CreateWindowExA', 'DefWindowProcA', 'DestroyMenu', 'DestroyWindow', 'DispatchMessageA',
        'FindWindowA', 'GetCursorPos', 'GetMessageA', 'GetSubMenu', 'KillTimer', 'LoadCursorA',
        'LoadIconA', 'LoadImageA', 'LoadMenuA', 'LoadStringA', 'PeekMessageA', 'PostMessageA',
        'PostQuitMessage', 'RegisterClassExA', 'SendMessageA', 'SetForegroundWindow', 'SetTimer',
        'ShowWindow', 'TrackPopupMenu', 'TranslateMessage', 'wsprintfA']),
}

# The menu template: header, the popup "TRAY_MENU", its one item IDM_EXIT.
MENU_TEMPLATE = (struct.pack('<HH', 0, 0)
                 + struct.pack('<H', 0x0090) + 'TRAY_MENU\0'.encode('utf-16-le')
                 + struct.pack('<HH', 0x0080, 57665) + '終了(&X)\0'.encode('utf-16-le'))


MAX_X86_SIZE = 8192


def check_image(path, machine, magic, subsystem_version):
    img = Image(path)
    if machine == 0x14C:
        check(f'{path}: at most {MAX_X86_SIZE} bytes', True, len(img.data) <= MAX_X86_SIZE)
    name = path.rsplit('/', 1)[-1]
    check(f'{path}: machine', hex(machine), hex(img.machine))
    check(f'{path}: optional header magic', hex(magic), hex(img.magic))
    check(f'{path}: time stamp', 0, img.timestamp)
    check(f'{path}: subsystem (Windows GUI)', 2, img.subsystem)
    check(f'{path}: subsystem version', subsystem_version, (img.sub_major, img.sub_minor))
    check(f'{path}: operating system version', (5, 0), (img.os_major, img.os_minor))
    check(f'{path}: stack reserve, stack commit, heap reserve, heap commit', (4096, 4096, 4096, 4096),
          (img.stack_reserve, img.stack_commit, img.heap_reserve, img.heap_commit))

    imports = img.imports()
    for dll, names in EXPECTED_IMPORTS.items():
        check(f'{path}: imports from {dll}', names, imports.get(dll))
    others = set(imports) - set(EXPECTED_IMPORTS)
    check(f'{path}: other imported DLLs', set(), others)

    res = img.resources()
    check(f'{path}: resource identifiers', sorted([
        (RT_ICON, 1, JAPANESE), (RT_ICON, 2, JAPANESE), (RT_MENU, 130, JAPANESE),
        (RT_STRING, 109 // 16 + 1, JAPANESE), (RT_GROUP_ICON, 107, JAPANESE),
        (RT_MANIFEST, 1, ENGLISH_US)]), sorted(res))

    group = res.get((RT_GROUP_ICON, 107, JAPANESE), b'\0' * 6)
    count = struct.unpack_from('<H', group, 4)[0]
    sizes = []
    for i in range(count):
        w, h, colours, _, planes, bits, _, ident = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
        sizes.append((w or 256, h or 256, colours, bits))
    check(f'{path}: icon group 107 images (width, height, colours, bits)', [(32, 32, 16, 4), (16, 16, 16, 4)], sizes)

    table = res.get((RT_STRING, 109 // 16 + 1, JAPANESE), b'')
    at, strings = 0, []
    while at < len(table):
        length = struct.unpack_from('<H', table, at)[0]
        strings.append(table[at + 2:at + 2 + 2 * length].decode('utf-16-le'))
        at += 2 + 2 * length
    check(f'{path}: string 109', 'TROVEX', strings[109 % 16] if len(strings) > 109 % 16 else None)

    check(f'{path}: menu 130 template', MENU_TEMPLATE.hex(), res.get((RT_MENU, 130, JAPANESE), b'').hex())
    check(f'{path}: menu 130 size', 44, len(res.get((RT_MENU, 130, JAPANESE), b'')))

    manifest = res.get((RT_MANIFEST, 1, ENGLISH_US), b'').decode('utf-8', 'replace')
    for needle in ('manifestVersion="1.0"', 'level="asInvoker"', 'uiAccess="false"'):
        check(f'{path}: manifest holds {needle}', True, needle in manifest)
    check(f'{path}: manifest declares no dependency', False, 'dependency' in manifest)
    print(f'{name}: {len(img.data)} bytes, {len(imports)} DLLs imported, {len(res)} resources')


def main():
    x86, *rest = sys.argv[1:]
    check_image(x86, 0x14C, 0x10B, (5, 0))
    for x64 in rest:
        check_image(x64, 0x8664, 0x20B, (5, 2))
    for failure in failures:
        print('FAIL ' + failure)
    print(f'{0 if failures else 1} passed, {1 if failures else 0} failed: image files')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
