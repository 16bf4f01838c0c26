// Prints what @kenjiuno/msgreader reads from one .msg file as JSON, attachments as SHA-256.
// Usage: node msgreader_dump.js NODE_MODULES_DIR FILE.msg...
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

// One JSON object per file, keyed by path; a file msgreader refuses maps to {error}.
const out = {};
for (const file of process.argv.slice(3)) {
  try {
    const reader = new MsgReader(fs.readFileSync(file));
    const data = reader.getFileData();
    out[file] = data.error ? { error: String(data.error) } : view(reader, data);
  } catch (e) {
    out[file] = { error: String(e) };
  }
}
process.stdout.write(JSON.stringify(out));
