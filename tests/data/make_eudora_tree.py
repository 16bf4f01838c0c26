#!/usr/bin/python3
"""Writes the Eudora-style mailbox tree under tests/data/eudora/ (our own fixtures).

The tree is what a user's mail folder holds: mailboxes whose messages start at "From ???@???"
lines, CR LF line ends, with the index (.toc), backup (.bak) and folder-description (.pce)
files the client keeps beside them, and a sub-folder. Running this again rewrites the same bytes.

Usage: make_eudora_tree.py [TARGET_DIR]   (default: eudora/ beside this script)
"""
import base64
import os
import random
import shutil
import sys

SEP = 'From ???@??? {}\r\n'


def crlf(text):
    return text.replace('\r\n', '\n').replace('\n', '\r\n').encode('latin-1')


def message(sep_date, headers, body):
    """One message: separator, headers, blank line, body. `body` is bytes or text."""
    head = SEP.format(sep_date) + ''.join('%s: %s\n' % kv for kv in headers) + '\n'
    return crlf(head) + (body if isinstance(body, bytes) else crlf(body))


def plain(frm, to, subject, date, msgid, charset='us-ascii'):
    return [('From', frm), ('To', to), ('Subject', subject), ('Date', date),
            ('Message-ID', msgid), ('MIME-Version', '1.0'),
            ('Content-Type', 'text/plain; charset="%s"' % charset)]


def qp(text):
    """Quoted-printable of ASCII text, soft line breaks before 76 characters."""
    out = []
    for line in text.split('\n'):
        enc = ''.join(c if (c == ' ' or 33 <= ord(c) <= 126) and c != '=' else '=%02X' % ord(c)
                      for c in line)
        while len(enc) > 75:
            cut = 75
            while enc[cut - 1] == '=' or (cut >= 2 and enc[cut - 2] == '='):
                cut -= 1
            out.append(enc[:cut] + '=')
            enc = enc[cut:]
        out.append(enc)
    return '\n'.join(out)


def in_box():
    msgs = [
        message('Mon Mar 04 09:15:02 2002',
                plain('Ann Lee <ann@example.org>', 'Bob Hart <bob@example.org>', 'Paddle order',
                      'Mon, 4 Mar 2002 09:14:51 -0800', '<1001.ann@example.org>'),
                'Bob,\n\nThe two paddles arrived today. One blade has a chip near the tip.\n\n'
                'Ann\n'),
        # UTF-8 bytes under an ISO-8859-1 label, as some clients wrote them.
        message('Tue Mar 05 18:02:44 2002',
                plain('Carl Vogt <carl@example.net>', 'Ann Lee <ann@example.org>',
                      'Invoice for the workshop', 'Tue, 5 Mar 2002 18:01:10 +0100',
                      '<1002.carl@example.net>', 'iso-8859-1'),
                'Hello Ann,\n\nthe fee is 45 \u20ac, paid at the caf\u00e9 on the na\u00efve '
                'rate.\n\nCarl\n'.encode('utf-8').replace(b'\n', b'\r\n')),
        # Genuine ISO-8859-1 bytes.
        message('Wed Mar 06 07:30:00 2002',
                plain('Dora Blum <dora@example.de>', 'Ann Lee <ann@example.org>',
                      'Kanu-Ausflug', 'Wed, 6 Mar 2002 07:29:31 +0100',
                      '<1003.dora@example.de>', 'iso-8859-1'),
                'Liebe Ann,\n\nam Sonntag fahren wir zum See. Die Br\u00fccke ist gesperrt, '
                'wir nehmen die F\u00e4hre.\nNa\u00efve Frage: kommst du mit?\n\nDora\n'
                .encode('latin-1').replace(b'\n', b'\r\n')),
        message('Thu Mar 07 12:00:00 2002',
                [('From', 'Bob Hart <bob@example.org>'), ('To', 'Ann Lee <ann@example.org>'),
                 ('Cc', 'Carl Vogt <carl@example.net>'), ('Subject', 'Re: Paddle order'),
                 ('Date', 'Thu, 7 Mar 2002 11:58:02 -0800'),
                 ('Message-ID', '<1004.bob@example.org>'),
                 ('In-Reply-To', '<1001.ann@example.org>'), ('MIME-Version', '1.0'),
                 ('Content-Type', 'multipart/alternative; boundary="=====alt_1004"')],
                '--=====alt_1004\nContent-Type: text/plain; charset="us-ascii"\n\n'
                'Send it back; a new one goes out Monday.\n\n'
                '--=====alt_1004\nContent-Type: text/html; charset="us-ascii"\n\n'
                '<html><body><p>Send it back; a <b>new one</b> goes out Monday.</p>'
                '</body></html>\n\n--=====alt_1004--\n'),
        message('Fri Mar 08 16:45:09 2002',
                [('From', 'Carl Vogt <carl@example.net>'), ('To', 'Ann Lee <ann@example.org>'),
                 ('Subject', 'Plans and price list'),
                 ('Date', 'Fri, 8 Mar 2002 16:44:40 +0100'),
                 ('Message-ID', '<1005.carl@example.net>'), ('MIME-Version', '1.0'),
                 ('Content-Type', 'multipart/mixed; boundary="=====mix_1005"')],
                '--=====mix_1005\nContent-Type: text/plain; charset="us-ascii"\n\n'
                'Two files attached.\n\n'
                '--=====mix_1005\nContent-Type: text/plain; charset="us-ascii"; name="prices.txt"\n'
                'Content-Disposition: attachment; filename="prices.txt"\n\n'
                'Paddle  120\nSpray deck  80\n\n'
                '--=====mix_1005\nContent-Type: application/octet-stream; name="frame.bin"\n'
                'Content-Transfer-Encoding: base64\n'
                'Content-Disposition: attachment; filename="frame.bin"\n\n'
                + base64.encodebytes(bytes(range(256)) * 3).decode('ascii') +
                '\n--=====mix_1005--\n'),
        # A body line that starts with "From " but is no separator.
        message('Sat Mar 09 10:10:10 2002',
                plain('Ann Lee <ann@example.org>', 'Dora Blum <dora@example.de>', 'Sunday',
                      'Sat, 9 Mar 2002 10:09:55 -0800', '<1006.ann@example.org>'),
                'Dora,\n\nyes, I will come.\nFrom the bridge it is a short walk.\n\nAnn\n'),
    ]
    # No blank line between messages: each separator follows the last body line directly.
    return b''.join(msgs)


def out_box(final_line_end):
    first = message('Sun Mar 10 20:20:20 2002',
                    plain('Ann Lee <ann@example.org>', 'Carl Vogt <carl@example.net>',
                          'Re: Invoice for the workshop', 'Sun, 10 Mar 2002 20:20:01 -0800',
                          '<1007.ann@example.org>'),
                    'Carl,\n\npaid today.\n\nAnn\n')
    if not final_line_end:
        # The last message ends without a line end.
        return first + message('Mon Mar 11 08:00:00 2002',
                               plain('Ann Lee <ann@example.org>', 'Bob Hart <bob@example.org>',
                                     'Chipped blade', 'Mon, 11 Mar 2002 07:59:12 -0800',
                                     '<1008.ann@example.org>'),
                               'Bob,\n\nsent back today.\n\ntest')
    return first


def junk_box():
    return message('Tue Mar 12 03:03:03 2002',
                   plain('Winner <prize@example.com>', 'ann@example.org', 'You have won',
                         'Tue, 12 Mar 2002 03:02:59 +0000', '<1009.prize@example.com>'),
                   'Click here.\n')


def trash_box():
    """One long message: many folded headers and a quoted-printable text + HTML pair that is
    many times longer than one read chunk."""
    rnd = random.Random(1010)
    words = ('kayak frame skin paddle river bridge lake trip spring summer season offer '
             'club member price order weekend course guide').split()
    text = '\n'.join(' '.join(rnd.choice(words) for _ in range(rnd.randint(6, 30)))
                     for _ in range(300))
    html = '<html><body>' + ''.join('<p style="margin:0;font-family:Arial">%s</p>\n' % line
                                    for line in text.split('\n')) + '</body></html>'
    received = [('Received', 'from relay%d.example.net (relay%d.example.net [192.0.2.%d])\n'
                 '\tby mx.example.org with ESMTPS id %08x\n\tfor <ann@example.org>;'
                 ' Wed, 13 Mar 2002 05:0%d:00 +0000' % (i, i, i + 10, rnd.getrandbits(32), i))
                for i in range(5)]
    headers = received + [
        ('From', 'Paddle Club News <news@example.com>'), ('To', 'ann@example.org'),
        ('Subject', 'Spring season: courses, trips and the club price list'),
        ('Date', 'Wed, 13 Mar 2002 05:00:00 +0000'),
        ('Message-ID', '<1010.news@example.com>'),
        ('List-Unsubscribe', '=?utf-8?Q?=3Cmailto=3Aleave=40example=2Ecom=3E?=,\n'
         ' =?utf-8?Q?=3Chttps=3A=2F=2Fexample=2Ecom=2Fleave=3F?=\n'
         ' =?utf-8?Q?id=3D1010=3E?='),
        ('MIME-Version', '1.0'),
        ('Content-Type', 'multipart/alternative;\n boundary="=====news_1010"')]
    body = ('--=====news_1010\nContent-Type: text/plain; charset="utf-8"\n'
            'Content-Transfer-Encoding: quoted-printable\n\n' + qp(text) + '\n'
            '--=====news_1010\nContent-Type: text/html; charset="utf-8"\n'
            'Content-Transfer-Encoding: quoted-printable\n\n' + qp(html) + '\n'
            '--=====news_1010--\n')
    return message('Wed Mar 13 05:00:05 2002', headers, body)


def music_box():
    return b''.join([
        message('Thu Mar 14 19:00:00 2002',
                plain('Eve Moss <eve@example.org>', 'Ann Lee <ann@example.org>',
                      'Rehearsal', 'Thu, 14 Mar 2002 18:59:00 -0800', '<1011.eve@example.org>'),
                'Rehearsal moves to Thursday.\n'),
        message('Fri Mar 15 09:00:00 2002',
                plain('Ann Lee <ann@example.org>', 'Eve Moss <eve@example.org>',
                      'Re: Rehearsal', 'Fri, 15 Mar 2002 08:58:30 -0800',
                      '<1012.ann@example.org>'),
                'Fine with me.\n'),
    ])


def baidarka_box():
    # Content-Type without MIME-Version.
    return message('Sat Mar 16 11:11:11 2002',
                   [('From', 'george@example.org'), ('To', 'ann@example.org'),
                    ('Subject', 'Skin-on-frame drawings'),
                    ('Date', 'Sat, 16 Mar 2002 11:10:00 -0600'),
                    ('Content-Type', 'text/plain; charset=us-ascii')],
                   'The drawings are in the club room.\n')


def toc(name, count):
    """Binary index bytes beside a mailbox (not a mailbox: the folder scan must skip it)."""
    rnd = random.Random(name)
    head = name.encode('ascii').ljust(32, b'\0') + bytes([count, 0, 0, 0])
    return head + bytes(rnd.getrandbits(8) for _ in range(64 + 96 * count))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'eudora')
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(os.path.join(target, 'Projects'))
    files = {
        'In.mbx': in_box(),
        'In.mbx.bak': in_box(),
        'In.toc': toc('In', 6),
        'Out.mbx': out_box(False),
        'Out.mbx.bak': out_box(True),
        'Out.toc': toc('Out', 2),
        'Junk.mbx': junk_box(),
        'Junk.toc': toc('Junk', 1),
        'Trash.mbx': trash_box(),
        'Trash.mbx.bak': junk_box(),
        'Trash.toc': toc('Trash', 1),
        'descmap.pce': crlf('In,In.mbx,S,N\nOut,Out.mbx,S,N\nJunk,Junk.mbx,S,N\n'
                            'Trash,Trash.mbx,S,N\nProjects,Projects,F,N\n'),
        'Projects/Music.mbx': music_box(),
        'Projects/Baidarka.mbx': baidarka_box(),
        'Projects/Baidarka.toc': toc('Baidarka', 1),
        'Projects/descmap.pce': crlf('Music,Music.mbx,S,N\nBaidarka,Baidarka.mbx,S,N\n'),
    }
    for name, data in files.items():
        with open(os.path.join(target, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
