#!/usr/bin/python3
"""Checks the messages of one folder of a .pst against the .eml files they were made from, with two
readers we did not write: pst-extractor (node, through pst_extractor_dump.js) and readpst (libpst,
Debian's pst-utils), whose MIME output is parsed with Python's email package.

The .eml files are parsed with Python's email package and compared with what each reader reads,
by the rules of tests/msg/check_msg.py: subject, sender, recipients, date, plain and HTML body and
attachments byte for byte (every leaf part of the .eml used exactly once). pst-extractor 1.12.0
hands out no embedded messages, so an attached mail is matched by its place among the parts only.
readpst writes a message's stored Internet headers as they are, so its subject, sender, recipients
and date are those headers; its bodies and attachments come from the message's properties.

Usage: check_pst.py CHECKERS_DIR WORK_DIR FILE.pst FOLDER_PATH EML [EML ...]
FOLDER_PATH is as the dump names it, e.g. "/Top of Personal Folders/Inbox"; the EML files are in
the folder's message order. Exit status 0 when every reader agrees on every message.
"""
import datetime
import email
import email.policy
import hashlib
import json
import os
import shutil
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


def pst_extractor_views(checkers, work_dir, pst, folder_path, expected):
    dump = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'pst_extractor_dump.js')
    out = subprocess.run(['node', dump, checkers, pst, work_dir], capture_output=True, check=True)
    folder = find_folder(json.loads(out.stdout)['root'], folder_path)
    if folder is None:
        return None
    return [view(m, exp['leaves'] or []) for m, exp in zip(folder['messages'], expected)]


def readpst_views(work_dir, pst, folder_path):
    """readpst -e writes every message as numbered .eml files under a folder per PST folder.
    One job (-j 0): parallel jobs race on the output names under load."""
    out = os.path.join(work_dir, 'readpst')
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    subprocess.run(['readpst', '-q', '-j', '0', '-e', '-b', '-o', out, pst], capture_output=True,
                   check=True)
    # The top folder is written under the data file's display name.
    below_top = folder_path.strip('/').split('/')[1:]
    folders = [os.path.join(out, top, *below_top) for top in os.listdir(out)]
    folders = [f for f in folders if os.path.isdir(f)]
    if len(folders) != 1:
        return None
    folder = folders[0]
    names = sorted((f for f in os.listdir(folder) if f.endswith('.eml')),
                   key=lambda f: int(f.split('.')[0]))
    views = []
    for name in names:
        with open(os.path.join(folder, name), 'rb') as f:
            # Header text is written as UTF-8, the HTML body in its stored charset.
            views.append(check_msg.mime_view(email.message_from_bytes(
                f.read(), policy=email.policy.compat32), check_msg.header_text, True))
    return views


def main():
    checkers, work_dir, pst, folder_path = sys.argv[1:5]
    emls = sys.argv[5:]
    expected = [check_msg.expected_view(eml) for eml in emls]
    readers = {
        'pst-extractor': pst_extractor_views(checkers, work_dir, pst, folder_path, expected),
        'readpst': readpst_views(work_dir, pst, folder_path),
    }
    failed = 0
    for reader, views in readers.items():
        if views is None:
            print('FAIL %s: no folder %s' % (reader, folder_path))
            failed += 1
            continue
        if len(views) != len(emls):
            print('FAIL %s: %d messages, expected %d' % (reader, len(views), len(emls)))
            failed += 1
        for eml, exp, v in zip(emls, expected, views):
            checker = check_msg.Checker()
            checker.compare(reader, exp, v)
            name = os.path.basename(eml)
            if checker.errors:
                failed += 1
                for e in checker.errors:
                    print('FAIL %s: %s' % (name, e))
            else:
                print('ok %s (%s)' % (name, reader))
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
