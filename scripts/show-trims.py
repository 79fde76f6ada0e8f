#!/usr/bin/env python3
"""Reads Wine's relay trace of the program on standard input and prints each
trim as it happens: time, process name and process id.

Usage: show-trims.py NAME=PID ...   (the processes whose names are known)"""
import re
import sys
import time

CALL = re.compile(r'^([0-9a-f]+):Call KERNEL32\.(OpenProcess|SetProcessWorkingSetSize)\(([^)]*)\)')
RET = re.compile(r'^([0-9a-f]+):Ret  KERNEL32\.OpenProcess\(\) retval=([0-9a-f]+)')
OWN_PROCESS = 'ffffffffffffffff'


def main():
    names = {}
    for arg in sys.argv[1:]:
        name, pid = arg.rsplit('=', 1)
        names[int(pid)] = name
    opening = {}   # thread -> pid being opened
    handles = {}   # handle -> pid
    for line in sys.stdin:
        call = CALL.match(line)
        if call:
            thread, function, args = call.groups()
            args = args.split(',')
            if function == 'OpenProcess':
                opening[thread] = int(args[2], 16)
            elif args[0] == OWN_PROCESS:
                report('Quillmarsh.exe (its own working set)', None)
            else:
                pid = handles.get(args[0])
                report(names.get(pid, 'a watched process'), pid)
            continue
        ret = RET.match(line)
        if ret and ret.group(1) in opening:
            pid = opening.pop(ret.group(1))
            if int(ret.group(2), 16):
                handles[ret.group(2)] = pid


def report(name, pid):
    stamp = time.strftime('%H:%M:%S') + f'.{int(time.time() * 1000) % 1000:03d}'
    where = f'  pid {pid} (0x{pid:x})' if pid is not None else ''
    print(f'{stamp}  trimmed {name}{where}', flush=True)


if __name__ == '__main__':
    try:
        main()
    except KeyboardInterrupt:
        pass
