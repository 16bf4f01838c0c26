// Prints what @kenjiuno/msgreader reads from one .msg file as JSON, attachments as SHA-256.
// Usage: node msgreader_dump.js NODE_MODULES_DIR FILE.msg
'use strict';
const path = require('path');
const fs = require('fs');
const crypto = require('crypto');
const MsgReader = require(path.join(process.argv[2], '@kenjiuno/msgreader')).default;

function view(reader, d) {
  const out = {
    subject: d.subject ?? null,
    senderName: d.senderName ?? null,
    senderEmail: d.senderEmail ?? null,
    representingName: d.sentRepresentingName ?? null,
    representingEmail: d.sentRepresentingSmtpAddress ?? null,
    clientSubmitTime: d.clientSubmitTime ?? null,
    messageDeliveryTime: d.messageDeliveryTime ?? null,
    body: d.body ?? null,
    html: d.html ? Buffer.from(d.html).toString('base64') : null,
    recipients: (d.recipients || []).map(r => ({ type: r.recipType ?? 'to', name: r.name ?? null,
                                                 email: r.email ?? r.smtpAddress ?? null })),
    attachments: [],
  };
  for (const a of d.attachments || []) {
    if (a.innerMsgContent) {
      out.attachments.push({ embedded: true, name: a.name ?? null,
                             inner: view(reader, a.innerMsgContentFields) });
    } else {
      const content = Buffer.from(reader.getAttachment(a).content);
      out.attachments.push({ embedded: false, name: a.fileName ?? a.name ?? null,
                             mime: a.attachMimeTag ?? null, cid: a.pidContentId ?? null,
                             hidden: a.attachmentHidden ?? null, size: content.length,
                             sha256: crypto.createHash('sha256').update(content).digest('hex') });
    }
  }
  return out;
}

const reader = new MsgReader(fs.readFileSync(process.argv[3]));
const data = reader.getFileData();
if (data.error) {
  console.error('msgreader: ' + data.error);
  process.exit(2);
}
process.stdout.write(JSON.stringify(view(reader, data)));
