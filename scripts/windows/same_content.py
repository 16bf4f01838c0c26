#!/usr/bin/python3
"""Compares two output trees of mbxvane-convert (the Linux and the Windows build's) by content.

Usage: same_content.py msg|pst LINUX_DIR WINDOWS_DIR

msg: every .msg holds the same streams with the same bytes, as olefile reads them, and msgconvert
     reads every .msg of the Windows tree.
pst: every data file, exported by pffexport, gives the same folders, messages and attachments
     with the same text; only the lines that name the file's own identity (its random record
     key) may differ.
The .msg run's own data file (Temp*.pst, named after the time) is left out. Exit status 0 when
everything agrees.
"""
import filecmp
import os
import subprocess
import sys
import tempfile

import olefile


def files(root, suffix):
    out = []
    for folder, _, names in os.walk(root):
        for name in names:
            if name.endswith(suffix) and not name.startswith('Temp'):
                out.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(out)


def streams(path):
    with olefile.OleFileIO(path) as ole:
        return {'/'.join(entry): ole.openstream(entry).read() for entry in ole.listdir()}


def compare_msg(linux, windows):
    problems = 0
    names = files(linux, '.msg')
    if names != files(windows, '.msg') or not names:
        print('the .msg files differ in number or names')
        return 1
    with tempfile.TemporaryDirectory() as work:
        for name in names:
            a, b = streams(os.path.join(linux, name)), streams(os.path.join(windows, name))
            if a != b:
                differ = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
                print(f'{name}: streams differ: {differ[:5]}')
                problems += 1
            run = subprocess.run(['msgconvert', '--outfile', os.path.join(work, 'out.eml'),
                                  os.path.join(windows, name)], capture_output=True, text=True)
            if run.returncode != 0:
                print(f'{name}: msgconvert cannot read it: {run.stderr[:300]}')
                problems += 1
    print(f'{len(names)} .msg files compared')
    return problems


def export(pst, target):
    subprocess.run(['pffexport', '-q', '-t', target, pst], check=True, capture_output=True)
    # pffexport writes into TARGET (older versions into TARGET.export).
    for folder in (target, target + '.export'):
        if os.path.isdir(folder) and os.listdir(folder):
            return folder
    raise SystemExit(f'pffexport exported nothing from {pst}')


IDENTITY = ('Record key', 'Identifier', 'Creation time', 'Modification time')


def same_text(a, b):
    with open(a, 'rb') as fa, open(b, 'rb') as fb:
        la, lb = fa.read().splitlines(), fb.read().splitlines()
    keep = lambda lines: [l for l in lines if not l.lstrip().startswith(tuple(k.encode() for k in IDENTITY))]
    return keep(la) == keep(lb)


def compare_tree(a, b):
    cmp = filecmp.dircmp(a, b)
    problems = []
    if cmp.left_only or cmp.right_only:
        problems.append(f'{a}: only on one side: {cmp.left_only} {cmp.right_only}')
    for name in cmp.diff_files + cmp.funny_files:
        if not same_text(os.path.join(a, name), os.path.join(b, name)):
            problems.append(os.path.join(a, name))
    for sub in cmp.common_dirs:
        problems += compare_tree(os.path.join(a, sub), os.path.join(b, sub))
    return problems


def compare_pst(linux, windows):
    names = files(linux, '.pst')
    if names != files(windows, '.pst') or not names:
        print('the .pst files differ in number or names')
        return 1
    problems = 0
    with tempfile.TemporaryDirectory() as work:
        for i, name in enumerate(names):
            a = export(os.path.join(linux, name), os.path.join(work, f'linux{i}'))
            b = export(os.path.join(windows, name), os.path.join(work, f'windows{i}'))
            differ = compare_tree(a, b)
            if differ:
                print(f'{name}: ' + '; '.join(differ[:5]))
                problems += 1
    print(f'{len(names)} .pst files compared')
    return problems


if __name__ == '__main__':
    kind, linux, windows = sys.argv[1:4]
    sys.exit(1 if (compare_msg if kind == 'msg' else compare_pst)(linux, windows) else 0)
