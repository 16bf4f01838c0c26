// Reads a PST with pst-extractor (an independent reader) and prints what it sees as JSON:
// folders with counts, messages with subject, sender, bodies, recipients, attachments, and the
// flags, importance, verb, icon and categories a user sees in a message list.
// Attachment bytes are written to OUTDIR/<message number>-<attachment number> for comparison.
// Usage: node pst_extractor_dump.js CHECKERS_DIR FILE.pst OUTDIR
const path = require('path');
const fs = require('fs');
const [checkers, file, outdir] = process.argv.slice(2);
const { PSTFile } = require(path.resolve(checkers, 'node_modules', 'pst-extractor'));

function readStream(stream) {
  const chunks = [];
  const buf = Buffer.alloc(8176);
  for (;;) {
    const n = stream.read(buf);
    if (n <= 0) break;
    chunks.push(Buffer.from(buf.subarray(0, n)));
  }
  return Buffer.concat(chunks);
}

// The categories (named property "Keywords"), found through pst-extractor's name-to-id map and
// property table. Its own colorCategories returns nothing (it fills a shadowed array), so the
// multi-valued string is decoded here: a count, that many offsets, then UTF-16LE strings.
function categories(m) {
  const item = m.pstTableItems.get(PSTFile.getPublicStringToIdMapItem('Keywords'));
  if (!item || item.data.length < 4) return [];
  const d = item.data;
  const n = d.readUInt32LE(0);
  const out = [];
  for (let i = 0; i < n; i++) {
    const start = d.readUInt32LE(4 + 4 * i);
    const end = i + 1 < n ? d.readUInt32LE(8 + 4 * i) : d.length;
    out.push(d.subarray(start, end).toString('utf16le'));
  }
  return out;
}

let counter = 0;
function message(m) {
  const out = {
    subject: m.subject, senderName: m.senderName, senderEmail: m.senderEmailAddress,
    body: m.body, html: m.bodyHTML, displayTo: m.displayTo,
    deliveryTime: m.messageDeliveryTime ? m.messageDeliveryTime.toISOString() : null,
    submitTime: m.clientSubmitTime ? m.clientSubmitTime.toISOString() : null,
    representingName: m.sentRepresentingName, representingEmail: m.sentRepresentingEmailAddress,
    read: m.isRead, unsent: m.isUnsent, importance: m.importance, priority: m.priority,
    lastVerb: m.lastVerbExecuted, icon: m.iconIndex,
    categories: categories(m),
    recipients: [], attachments: [],
  };
  for (let i = 0; i < m.numberOfRecipients; i++) {
    const r = m.getRecipient(i);
    out.recipients.push({ name: r.displayName, email: r.emailAddress, type: r.recipientType });
  }
  const id = counter++;
  for (let i = 0; i < m.numberOfAttachments; i++) {
    const a = m.getAttachment(i);
    const att = { name: a.longFilename || a.filename, method: a.attachMethod };
    if (a.attachMethod === 5) {
      // pst-extractor 1.12.0 never hands out embedded messages (its PSTAttachment lacks the
      // descriptor node it checks for), so only the method can be compared.
      const inner = a.embeddedPSTMessage;
      att.embedded = inner ? message(inner) : null;
    } else {
      const data = readStream(a.fileInputStream);
      const f = path.join(outdir, id + '-' + i);
      fs.writeFileSync(f, data);
      att.file = f;
      att.size = data.length;
    }
    out.attachments.push(att);
  }
  return out;
}

function folder(f, prefix) {
  const name = prefix === null ? '' : prefix + '/' + f.displayName;
  const out = { name, contentCount: f.contentCount, subfolders: [], messages: [] };
  if (f.hasSubfolders)
    for (const c of f.getSubFolders()) out.subfolders.push(folder(c, name));
  if (f.contentCount > 0) {
    let m = f.getNextChild();
    while (m != null) { out.messages.push(message(m)); m = f.getNextChild(); }
  }
  return out;
}

fs.mkdirSync(outdir, { recursive: true });
const pst = new PSTFile(path.resolve(file));
const store = pst.getMessageStore();
console.log(JSON.stringify({ store: store.displayName, root: folder(pst.getRootFolder(), null) }));
