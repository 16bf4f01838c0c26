#!/usr/bin/python3
"""Checks one .msg file against the .eml it was made from, with three readers we did not write.

The .eml is parsed here with Python's email package. The .msg is read by
  * olefile (strict: any incorrect compound-file structure raises),
  * @kenjiuno/msgreader (node), and
  * msgconvert (Email::Outlook::Message), whose MIME output is parsed with the email package.
Each reader's view must agree with the .eml on subject, sender, recipients, date, plain and HTML
body and attachments (byte-exact; attached mails by subject). Every leaf part of the .eml must
end up as the plain body, the HTML body or an attachment, exactly once.

Usage: check_msg.py NODE_MODULES_DIR WORK_DIR EML MSG [EML MSG ...]
An EML written as !EML marks a source whose parts or recipients cannot map one to one: MIME
damaged in a way Python reads differently, or more recipients than a .msg holds (see check_pair).
Exit status 0 when all readers agree on every pair; otherwise the differences are printed and the
status is 1.
"""
import base64
import codecs
import email
import email.header
import email.policy
import email.utils
import hashlib
import json
import os
import re
import struct
import subprocess
import sys

import olefile

sys.setrecursionlimit(20000)  # the email package recurses per token of pathological headers

# ------------------------------------------------------------------------------------------------
# Text rules shared by both sides: the documented fallback for bytes without a usable charset is
# UTF-8 when valid, else Windows-1252; ISO-8859-1 and US-ASCII labels are read as Windows-1252,
# except that bytes which are valid UTF-8 with a multi-byte sequence are UTF-8 under those labels
# (Eudora wrote such mail), and bytes labelled UTF-8 that are not UTF-8 are Windows-1252.


# The five bytes Windows-1252 leaves undefined are kept as C1 controls.
codecs.register_error('c1', lambda e: (e.object[e.start:e.end].decode('latin-1'), e.end))


def cp1252(data):
    return data.decode('cp1252', errors='c1')


def unlabelled(data):
    try:
        return data.decode('utf-8')
    except UnicodeDecodeError:
        return cp1252(data)


def decode_text(data, charset):
    cs = (charset or '').strip().strip('"').lower()
    if cs in ('', 'utf-8', 'utf8', 'us-ascii', 'ascii'):
        return unlabelled(data)
    if cs in ('iso-8859-1', 'latin1', 'iso_8859-1', 'windows-1252', 'cp1252'):
        return unlabelled(data) if any(b >= 0x80 for b in data) else cp1252(data)
    try:
        return data.decode(cs, errors='replace')
    except LookupError:
        return unlabelled(data)


def norm_text(s):
    # NUL characters cannot live in a MAPI string; the import writes U+FFFD for them.
    return (s or '').replace('\x00', '\ufffd').replace('\r\n', '\n').replace('\r', '\n').rstrip()


def header_text(raw, from_bytes=unlabelled):
    """Decoded header value: bare 8-bit text by the fallback rule (or `from_bytes`), then RFC 2047
    words."""
    if raw is None:
        return ''
    if isinstance(raw, email.header.Header):
        return str(email.header.make_header(email.header.decode_header(raw)))
    # Raw 8-bit bytes arrive as surrogate escapes; text decoded by RFC 2231 as real characters.
    text = from_bytes(raw.encode('utf-8', 'surrogateescape'))
    try:
        return str(email.header.make_header(email.header.decode_header(text)))
    except Exception:
        return text


def raw_all(msg, name):
    """Header values as they stand (8-bit bytes as surrogate escapes), not as compat32 wraps
    them, so that the fallback rule decides their charset."""
    return [v for k, v in msg.raw_items() if k.lower() == name.lower()]


def raw_get(msg, name):
    values = raw_all(msg, name)
    return values[0] if values else None


def unfold(s):
    return ' '.join(s.replace('\r', '').replace('\n', ' ').split())


def addresses(values):
    texts = [header_text(v) for v in values]
    try:
        pairs = email.utils.getaddresses(texts)
    except RecursionError:  # pathological headers
        pairs = []
    out = [(n.strip(), a.strip()) for n, a in pairs if a or n]
    if not any(a for _, a in out) and any('@' in t for t in texts):
        # Python 3.11 gives up on some damaged lists (e.g. a trailing comma); pick the
        # bare addresses out of the text instead.
        out = [('', a) for a in re.findall(r'[^\s<>,;:"()]+@[^\s<>,;:"()]+', ' '.join(texts))]
    return out


# ------------------------------------------------------------------------------------------------
# The expected view, from the .eml


class Leaf:
    def __init__(self, part):
        self.part = part
        self.ctype = part.get_content_type()
        self.used = False
        self.is_message = self.ctype == 'message/rfc822' and part.is_multipart()
        if self.is_message:
            inner = attached_mail(part)
            self.inner_subject = unfold(header_text(raw_get(inner, 'Subject')))
            self.data = None
        elif (part.get('Content-Transfer-Encoding') or '').strip().lower() == 'base64':
            self.data = strict_base64(part.get_payload())
        else:
            payload = part.get_payload(decode=True)
            self.data = payload if payload is not None else b''
        fn = part.get_filename()
        self.filename = unfold(header_text(fn)) if isinstance(fn, str) else None
        if self.filename and '\ufffd' in self.filename:
            # Raw 8-bit parameter text, which the email package replaces: read it directly.
            for k, value in part.raw_items():
                m = re.search(r'(?:file)?name="?([^";\r\n]+)', value)
                if k.lower() in ('content-type', 'content-disposition') and m:
                    self.filename = unfold(header_text(m.group(1)))


def attached_mail(part):
    """The message inside a message/rfc822 part, also when it starts with an mbox envelope line
    (">From ..."), which the email package takes for body text."""
    inner = part.get_payload(0)
    if not inner.keys() and isinstance(inner.get_payload(), str):
        text = inner.get_payload()
        if text.lstrip('>').startswith('From '):
            inner = email.message_from_string(text.split('\n', 1)[-1],
                                              policy=email.policy.compat32)
    return inner


def strict_base64(text):
    """Decodes up to the end of the encoded data: text after the '=' padding (a stray boundary
    line, say) is not data, though the email package decodes it too."""
    chars = [c for c in text if c.isalnum() or c in '+/=']
    data = ''.join(chars)
    pad = data.find('=')
    if pad >= 0:
        end = pad + 1
        while end < len(data) and data[end] == '=':
            end += 1
        data = data[:end]
    data = data.rstrip('=')
    rest = len(data) % 4
    data = data[:-1] if rest == 1 else data + '=' * ((4 - rest) % 4)
    return base64.b64decode(data)


def leaf_parts(part):
    """The parts that hold content, in order; an attached mail is one leaf."""
    if part.is_multipart() and part.get_content_type() != 'message/rfc822':
        for sub in part.get_payload():
            yield from leaf_parts(sub)
    else:
        yield part


def parse_eml(path):
    data = open(path, 'rb').read()
    if data.startswith(b'\xef\xbb\xbf'):
        data = data[3:]
    if data.startswith(b'From '):
        data = data[data.find(b'\n') + 1:] if b'\n' in data else b''
    return data, email.message_from_bytes(data, policy=email.policy.compat32)


def expected_view(path):
    raw, msg = parse_eml(path)
    first = raw.split(b'\n', 1)[0]
    has_headers = b':' in first and b' ' not in first.split(b':', 1)[0] and len(msg.keys()) > 0
    exp = {'raw_body': None}
    if not has_headers:
        exp.update(subject='', sender=None, actual_sender=None, recipients=[], date=None, leaves=[],
                   raw_body=unlabelled(raw))
        return exp
    exp['subject'] = unfold(header_text(raw_get(msg, 'Subject'))).strip()
    frm = addresses(raw_all(msg, 'From'))
    exp['sender'] = frm[0] if frm else None
    sender = addresses(raw_all(msg, 'Sender'))
    exp['actual_sender'] = sender[0] if sender else exp['sender']
    recips = []
    for kind, name in (('to', 'To'), ('cc', 'Cc'), ('bcc', 'Bcc')):
        for n, a in addresses(raw_all(msg, name)):
            recips.append((kind, a.lower()))
    exp['recipients'] = sorted(recips)
    date = raw_get(msg, 'Date')
    exp['date'] = None
    if date:
        try:
            exp['date'] = int(email.utils.parsedate_to_datetime(header_text(date)).timestamp())
        except Exception:
            pass
    exp['leaves'] = [Leaf(p) for p in leaf_parts(msg)]
    # A multipart without readable parts: the import keeps the raw text.
    if msg.is_multipart() and not exp['leaves']:
        exp['raw_body'] = raw.split(b'\n\n', 1)[-1].decode('utf-8', 'replace')
    if not msg.is_multipart() and isinstance(msg.get_payload(), str) and \
            msg.get_content_maintype() == 'multipart':
        exp['leaves'] = []
        exp['raw_body'] = unlabelled(msg.get_payload().encode('utf-8', 'surrogateescape'))
    return exp


# ------------------------------------------------------------------------------------------------
# Reader 1: olefile, reading the property streams directly


def filetime_to_unix(ft):
    return (ft - 116444736000000000) // 10000000


class OleMsg:
    def __init__(self, path):
        self.ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
        root_clsid = self.ole.root.clsid
        if root_clsid.upper() != '00020D0B-0000-0000-C000-000000000046':
            raise AssertionError('root CLSID is %r' % root_clsid)
        if not self.ole.exists('__nameid_version1.0/__substg1.0_00020102'):
            raise AssertionError('named-property storage missing')
        self.check_trees()

    def check_trees(self):
        """Each storage's children: in-order sequence sorted as [MS-CFB] 2.6.4 orders names
        (shorter first, then by upper-cased UTF-16 units), a valid red-black colouring, and a
        depth fit for readers that search or recurse."""
        entries = self.ole.direntries
        for storage in entries:
            if storage is None or storage.entry_type not in (1, 5) or storage.sid_child >= 0xFFFFFFFA:
                continue
            order, stack, node, black_heights = [], [], storage.sid_child, set()
            depth_of = {storage.sid_child: (1, 1 if entries[storage.sid_child].color else 0)}
            max_depth = 0
            while stack or node < 0xFFFFFFFA:
                while node < 0xFFFFFFFA:
                    stack.append(node)
                    depth, blacks = depth_of[node]
                    max_depth = max(max_depth, depth)
                    e = entries[node]
                    for kid in (e.sid_left, e.sid_right):
                        if kid < 0xFFFFFFFA:
                            k = entries[kid]
                            if e.color == 0 and k.color == 0:
                                raise AssertionError('red node with a red child in %r' % storage.name)
                            depth_of[kid] = (depth + 1, blacks + (1 if k.color else 0))
                        else:
                            black_heights.add(blacks)
                    node = e.sid_left
                node = stack.pop()
                order.append(entries[node].name)
                node = entries[node].sid_right
            keys = [(len(n), n.upper()) for n in order]
            if keys != sorted(keys) or len(set(keys)) != len(keys):
                raise AssertionError('children of %r are not in [MS-CFB] order' % storage.name)
            if len(black_heights) > 1:
                raise AssertionError('unequal black heights under %r' % storage.name)
            if max_depth > 2 * (len(order) + 1).bit_length():
                raise AssertionError('sibling tree of %r is %d deep for %d children'
                                     % (storage.name, max_depth, len(order)))

    def props(self, prefix, header):
        data = self.ole.openstream(prefix + '__properties_version1.0').read()
        if (len(data) - header) % 16 != 0:
            raise AssertionError('%sproperty stream size %d' % (prefix, len(data)))
        out = {}
        for off in range(header, len(data), 16):
            tag, flags = struct.unpack_from('<II', data, off)
            ptype = tag & 0xFFFF
            value = data[off + 8:off + 16]
            if ptype in (0x001F, 0x0102):
                # A string's size counts the terminator its stream leaves out; none is empty.
                size = struct.unpack_from('<I', value)[0]
                s = self.ole.openstream('%s__substg1.0_%08X' % (prefix, tag)).read()
                text = ptype == 0x001F
                if size != len(s) + 2 * text or (text and not s):
                    raise AssertionError('%08X: size %d, stream %d' % (tag, size, len(s)))
                out[tag] = s.decode('utf-16-le') if text else s
            elif ptype == 0x0003:
                out[tag] = struct.unpack_from('<i', value)[0]
            elif ptype == 0x0040:
                out[tag] = struct.unpack_from('<Q', value)[0]
            elif ptype == 0x000D:
                out[tag] = prefix + '__substg1.0_%08X/' % tag
            else:
                out[tag] = value
        return out, data[:header]

    def view(self, prefix='', header=32):
        p, head = self.props(prefix, header)
        if header >= 24:
            nrecip, natt = struct.unpack_from('<II', head, 16)
            if struct.unpack_from('<II', head, 8) != (nrecip, natt):
                raise AssertionError('next-id fields differ from counts')
        mask = p.get(0x340D0003, 0)
        if not mask & 0x00040000:
            raise AssertionError('PidTagStoreSupportMask lacks the Unicode bit')
        flags = p.get(0x0E070003, 0)
        if flags & 0x08:
            raise AssertionError('message is flagged unsent')
        v = {
            'subject': p.get(0x0037001F, ''),
            'sender': (p.get(0x0042001F), p.get(0x0065001F)),
            'actual_sender': (p.get(0x0C1A001F), p.get(0x0C1F001F)),
            'date': filetime_to_unix(p[0x00390040]) if 0x00390040 in p else None,
            'body': p.get(0x1000001F),
            'html': p.get(0x10130102),
            'recipients': [],
            'attachments': [],
        }
        for i in range(nrecip):
            rp, _ = self.props('%s__recip_version1.0_#%08X/' % (prefix, i), 8)
            kind = {1: 'to', 2: 'cc', 3: 'bcc'}[rp[0x0C150003]]
            v['recipients'].append((kind, (rp.get(0x3003001F) or '').lower()))
        for i in range(natt):
            ap_prefix = '%s__attach_version1.0_#%08X/' % (prefix, i)
            ap, _ = self.props(ap_prefix, 8)
            if ap.get(0x37050003) == 5:
                inner = self.view(ap[0x3701000D], 24)
                v['attachments'].append({'embedded': True, 'subject': inner['subject'],
                                         'inner': inner})
            else:
                data = ap.get(0x37010102, b'')
                v['attachments'].append({'embedded': False, 'name': ap.get(0x3707001F),
                                         'sha256': hashlib.sha256(data).hexdigest(),
                                         'data': data})
        if (flags & 0x10 != 0) != (natt > 0) and header == 32:
            raise AssertionError('has-attachments flag %x with %d attachments' % (flags, natt))
        return v


# ------------------------------------------------------------------------------------------------
# Reader 2: msgreader (node)


def msgreader_views(msg_paths, node_modules):
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run(['node', os.path.join(here, 'msgreader_dump.js'), node_modules]
                         + msg_paths, capture_output=True, check=True)
    return json.loads(out.stdout)


def parse_js_date(s):
    if not s:
        return None
    return int(email.utils.parsedate_to_datetime(s).timestamp())


def convert_msgreader(d):
    if 'error' in d:
        raise AssertionError(d['error'])
    v = {
        'subject': d['subject'] or '',
        'sender': (d['representingName'], d['representingEmail']),
        'actual_sender': (d['senderName'], d['senderEmail']),
        'date': parse_js_date(d['clientSubmitTime']),
        'body': d['body'],
        'html': base64.b64decode(d['html']) if d['html'] else None,
        'recipients': [(r['type'], (r['email'] or '').lower()) for r in d['recipients']],
        'attachments': [],
    }
    for a in d['attachments']:
        if a['embedded']:
            v['attachments'].append({'embedded': True, 'subject': a['inner']['subject'] or '',
                                     'inner': convert_msgreader(a['inner'])})
        else:
            v['attachments'].append({'embedded': False, 'name': a['name'], 'sha256': a['sha256']})
    return v


# ------------------------------------------------------------------------------------------------
# Reader 3: msgconvert, output parsed as MIME


def run_msgconvert(msg_paths, work_dir):
    """Converts all files in one run (perl starts once); returns path -> written .eml path."""
    out = {}
    by_dir = os.path.join(work_dir, 'msgconvert')
    os.makedirs(by_dir, exist_ok=True)
    links = []
    for i, p in enumerate(msg_paths):
        link = os.path.join(by_dir, 'm%d.msg' % i)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.abspath(p), link)
        links.append(link)
        target = os.path.join(by_dir, 'm%d.eml' % i)
        if os.path.exists(target):
            os.remove(target)
        out[p] = target
    subprocess.run(['msgconvert'] + [os.path.basename(l) for l in links], cwd=by_dir,
                   capture_output=True)
    return out


def msgconvert_view(eml_path):
    if not os.path.exists(eml_path):
        raise AssertionError('msgconvert wrote no output')
    msg = email.message_from_bytes(open(eml_path, 'rb').read(), policy=email.policy.compat32)
    return mime_view(msg)


def latin1_header(raw):
    # msgconvert writes non-ASCII header text as raw ISO-8859-1 bytes.
    return header_text(raw, lambda b: b.decode('latin-1'))


def mime_view(msg, decode=latin1_header, html_utf8=False):
    """What a reader's MIME output holds. `decode` reads its header text; html_utf8 turns the
    HTML body into UTF-8 by its charset (readpst keeps the stored charset)."""
    frm = addresses([decode(v) for v in raw_all(msg, 'From')])
    v = {
        'subject': unfold(decode(raw_get(msg, 'Subject'))).strip(),
        'sender': (frm[0][0], frm[0][1]) if frm else (None, None),
        'date': None,
        'body': None,
        'html': None,
        'recipients': [],
        'attachments': [],
    }
    if msg.get('Date'):
        v['date'] = int(email.utils.parsedate_to_datetime(msg.get('Date')).timestamp())
    for kind, name in (('to', 'To'), ('cc', 'Cc'), ('bcc', 'Bcc')):
        for n, a in addresses([decode(x) for x in raw_all(msg, name)]):
            if a:
                v['recipients'].append((kind, a.lower()))
    for part in leaf_parts(msg):
        ctype = part.get_content_type()
        disp = (part.get('Content-Disposition') or '').split(';')[0].strip().lower()
        if ctype == 'message/rfc822':
            inner = mime_view(attached_mail(part), decode, html_utf8)
            v['attachments'].append({'embedded': True, 'subject': inner['subject'],
                                     'inner': inner})
            continue
        if part.get_content_maintype() == 'message':
            continue
        payload = part.get_payload(decode=True) or b''
        if ctype == 'text/plain' and disp != 'attachment' and v['body'] is None:
            v['body'] = payload.decode(part.get_content_charset() or 'utf-8', 'replace')
        elif ctype == 'text/html' and disp != 'attachment' and v['html'] is None:
            v['html'] = decode_text(payload, part.get_content_charset()).encode('utf-8') \
                if html_utf8 else payload
        else:
            fn = part.get_filename()
            v['attachments'].append({'embedded': False,
                                     'name': decode(fn) if fn else None,
                                     'sha256': hashlib.sha256(payload).hexdigest()})
    return v


# ------------------------------------------------------------------------------------------------
# Comparison


class Checker:
    def __init__(self):
        self.errors = []

    def fail(self, reader, what, got, want):
        self.errors.append('%s: %s: got %r, expected %r' % (reader, what, short(got), short(want)))

    def compare(self, reader, exp, v, latin1_headers=False):
        subject_ok = True
        if latin1_headers:
            try:
                exp['subject'].encode('latin-1')
            except UnicodeEncodeError:
                subject_ok = False  # msgconvert cannot write this subject at all
        if subject_ok and unfold(v['subject']) != exp['subject']:
            self.fail(reader, 'subject', v['subject'], exp['subject'])
        if exp['sender'] and exp['sender'][1]:
            if (v['sender'][1] or '').lower() != exp['sender'][1].lower():
                self.fail(reader, 'sender address', v['sender'][1], exp['sender'][1])
        if 'actual_sender' in v and exp['actual_sender'] and exp['actual_sender'][1]:
            if (v['actual_sender'][1] or '').lower() != exp['actual_sender'][1].lower():
                self.fail(reader, 'Sender address', v['actual_sender'][1],
                          exp['actual_sender'][1])
        got = sorted(r for r in v['recipients'] if r[1])
        want = sorted(r for r in exp['recipients'] if r[1])
        if got != want:
            self.fail(reader, 'recipients', got, want)
        if exp['date'] is not None and v['date'] != exp['date']:
            self.fail(reader, 'date', v['date'], exp['date'])
        self.compare_content(reader, exp, v, latin1_headers)

    def compare_content(self, reader, exp, v, ascii_names_only=False):
        if exp['raw_body'] is not None:
            if norm_text(exp['raw_body']).strip() not in norm_text(v['body']):
                self.fail(reader, 'raw text kept in body', v['body'], exp['raw_body'])
            return
        leaves_ = exp['leaves']
        for leaf in leaves_:
            leaf.used = False
        if v['body'] is not None:
            match = None
            for leaf in leaves_:
                if not leaf.used and leaf.ctype == 'text/plain' and norm_text(
                        decode_text(leaf.data, leaf.part.get_content_charset())) == norm_text(
                        v['body']):
                    match = leaf
                    break
            if match is None and any(l.ctype == 'text/plain' for l in leaves_):
                self.fail(reader, 'plain body', v['body'], [
                    decode_text(l.data, l.part.get_content_charset()) for l in leaves_
                    if l.ctype == 'text/plain'])
            if match:
                match.used = True
        if v['html'] is not None:
            match = None
            for leaf in leaves_:
                if leaf.used or leaf.ctype != 'text/html':
                    continue
                if leaf.data == v['html'] or norm_text(
                        decode_text(leaf.data, leaf.part.get_content_charset())) == norm_text(
                        v['html'].decode('utf-8', 'replace')):
                    match = leaf
                    break
            if match is None:
                self.fail(reader, 'html body', v['html'], [l.data for l in leaves_
                                                           if l.ctype == 'text/html'])
            else:
                match.used = True
        for att in v['attachments']:
            match = None
            for leaf in leaves_:
                if leaf.used:
                    continue
                if att['embedded'] and leaf.is_message:
                    if unfold(att['subject']) == leaf.inner_subject:
                        match = leaf
                        break
                elif not att['embedded'] and not leaf.is_message and \
                        hashlib.sha256(leaf.data).hexdigest() == att['sha256']:
                    # Parts with the same bytes (an image both inline and attached): the one of
                    # the same name, else the first.
                    if match is None or (att.get('name') and leaf.filename and names_agree(
                            unfold(att['name']), leaf.filename)):
                        match = leaf
            if match is None:
                self.fail(reader, 'attachment matches no part', att.get('name') or att.get(
                    'subject'), [l.filename for l in leaves_ if not l.used])
                continue
            match.used = True
            # msgconvert spells non-ASCII file names in ASCII; its bytes must still match.
            if ascii_names_only and match.filename and not match.filename.isascii():
                continue
            if not att['embedded'] and match.filename and att['name'] is not None and \
                    not names_agree(unfold(att['name']), match.filename):
                self.fail(reader, 'attachment name', att['name'], match.filename)
        for leaf in leaves_:
            if not leaf.used and not (leaf.data is not None and not leaf.data.strip()):
                self.fail(reader, 'part lost', leaf.ctype, leaf.filename)


def names_agree(got, want):
    bad = '/\\:*?"<>|'
    clean = ''.join('_' if (c in bad or ord(c) < 32) else c for c in want.strip())
    return got == clean


def short(x):
    s = repr(x)
    return s if len(s) < 300 else s[:300] + '...'


def content_signature(v):
    atts = sorted((a['embedded'], a.get('sha256') or unfold(a.get('subject') or ''))
                  for a in v['attachments'])
    return norm_text(v['body']), v['html'], atts


def check_pair(eml, msg_path, reader_data, converted, malformed):
    """malformed: MIME that Python's parser reads differently from any lenient reader (e.g. a
    part header continued without indentation). Headers are still checked against the .eml; the
    content is checked for agreement between the three readers and for not being empty."""
    exp = expected_view(eml)
    checker = Checker()
    views = {}
    readers = (('olefile', lambda: OleMsg(msg_path).view()),
               ('msgreader', lambda: convert_msgreader(reader_data[msg_path])),
               ('msgconvert', lambda: msgconvert_view(converted[msg_path])))
    for name, read in readers:
        try:
            views[name] = read()
        except Exception as e:  # e.g. a structure the strict reader refuses
            checker.errors.append('%s: %s: %s' % (name, type(e).__name__, e))
            continue
        if malformed:
            saved = exp['raw_body'], exp['leaves']
            exp['raw_body'], exp['leaves'] = None, []
            checker.compare(name, dict(exp, recipients=[]),
                            dict(views[name], body=None, html=None, attachments=[],
                                 recipients=[]),
                            latin1_headers=name == 'msgconvert')
            exp['raw_body'], exp['leaves'] = saved
        else:
            checker.compare(name, exp, views[name], latin1_headers=name == 'msgconvert')
    if malformed and len(views) == 3:
        sigs = {name: content_signature(v) for name, v in views.items()}
        if len({repr(x) for x in sigs.values()}) != 1:
            checker.errors.append('readers disagree on content: %s' % short(sigs))
        body, html, atts = sigs['olefile']
        # msgconvert copies the To text of the transport headers, so only these two compare.
        if sorted(views['olefile']['recipients']) != sorted(views['msgreader']['recipients']):
            checker.errors.append('olefile and msgreader disagree on recipients')
        if not body and not html and not atts:
            checker.errors.append('malformed message lost all its content')
    return checker.errors


def main():
    node_modules, work_dir = sys.argv[1:3]
    pairs = [(sys.argv[i], sys.argv[i + 1]) for i in range(3, len(sys.argv) - 1, 2)]
    msgs = [m for _, m in pairs]
    reader_data = msgreader_views(msgs, node_modules)
    converted = run_msgconvert(msgs, work_dir)
    failed = 0
    for eml, msg_path in pairs:
        errors = check_pair(eml.lstrip('!'), msg_path, reader_data, converted,
                            eml.startswith('!'))
        name = os.path.basename(msg_path)
        if errors:
            failed += 1
            for e in errors:
                print('FAIL %s: %s' % (name, e))
        else:
            print('ok %s' % name)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
