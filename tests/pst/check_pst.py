#!/usr/bin/python3
"""Checks the messages of one folder of a .pst against the .eml files they were made from, with
pst-extractor, a reader we did not write (through pst_extractor_dump.js).

The .eml files are parsed with Python's email package and compared with what pst-extractor reads,
by the rules of tests/msg/check_msg.py: subject, sender, recipients, date, plain and HTML body and
attachments byte for byte (every leaf part of the .eml used exactly once). pst-extractor 1.12.0
hands out no embedded messages, so an attached mail is matched by its place among the parts only.

Usage: check_pst.py CHECKERS_DIR WORK_DIR FILE.pst FOLDER_PATH EML [EML ...]
FOLDER_PATH is as the dump names it, e.g. "/Top of Personal Folders/Inbox"; the EML files are in
the folder's message order. Exit status 0 when everything agrees.
"""
import datetime
import hashlib
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'msg'))
import check_msg  # noqa: E402


def find_folder(node, path):
    if node['name'] == path:
        return node
    for child in node['subfolders']:
        found = find_folder(child, path)
        if found:
            return found
    return None


def iso_to_unix(s):
    if not s:
        return None
    return int(datetime.datetime.fromisoformat(s.replace('Z', '+00:00')).timestamp())


def view(m, leaves):
    kinds = {1: 'to', 2: 'cc', 3: 'bcc'}
    v = {
        'subject': m['subject'] or '',
        'sender': (m['representingName'], m['representingEmail']),
        'actual_sender': (m['senderName'], m['senderEmail']),
        'date': iso_to_unix(m['submitTime']),
        'body': m['body'] or None,
        'html': m['html'].encode('utf-8') if m['html'] else None,
        'recipients': [(kinds.get(r['type'], '?'), (r['email'] or '').lower())
                       for r in m['recipients']],
        'attachments': [],
    }
    inner = iter([l.inner_subject for l in leaves if l.is_message])
    for a in m['attachments']:
        if a['method'] == 5:
            v['attachments'].append({'embedded': True, 'subject': next(inner, None)})
        else:
            with open(a['file'], 'rb') as f:
                data = f.read()
            v['attachments'].append({'embedded': False, 'name': a['name'],
                                     'sha256': hashlib.sha256(data).hexdigest()})
    return v


def main():
    checkers, work_dir, pst, folder_path = sys.argv[1:5]
    emls = sys.argv[5:]
    dump = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'pst_extractor_dump.js')
    out = subprocess.run(['node', dump, checkers, pst, work_dir], capture_output=True, check=True)
    data = json.loads(out.stdout)
    folder = find_folder(data['root'], folder_path)
    if folder is None:
        print('FAIL no folder %s' % folder_path)
        sys.exit(1)
    failed = 0
    if len(folder['messages']) != len(emls):
        print('FAIL %d messages, expected %d' % (len(folder['messages']), len(emls)))
        failed += 1
    for eml, m in zip(emls, folder['messages']):
        exp = check_msg.expected_view(eml)
        checker = check_msg.Checker()
        checker.compare('pst-extractor', exp, view(m, exp['leaves'] or []))
        name = os.path.basename(eml)
        if checker.errors:
            failed += 1
            for e in checker.errors:
                print('FAIL %s: %s' % (name, e))
        else:
            print('ok %s' % name)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
