# Reads a compound file with olefile (strict) and checks it against the streams written beside it:
# every stream of EXPECTED (a folder, one file per stream, storages as folders) is in the compound
# file with the same bytes and nothing else is. Then checks from the raw directory what olefile
# does not: in every storage the siblings are in the format's name order (shorter first, then
# upper-cased) and form a red-black tree (black root, no red node with a red child, the same
# number of black nodes on every path). Prints "ok N streams, M entries" and exits 0 when all hold.
import os, struct, sys
import olefile

path, expected = sys.argv[1], sys.argv[2]
ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
faults = []

want = {}
for folder, _, files in os.walk(expected):
    for f in files:
        full = os.path.join(folder, f)
        want[os.path.relpath(full, expected).replace(os.sep, "/")] = full
got = {"/".join(e) for e in ole.listdir(streams=True, storages=False)}
if got != set(want):
    faults.append("streams differ: missing %s, extra %s" % (sorted(set(want) - got)[:5], sorted(got - set(want))[:5]))
for name in sorted(got & set(want)):
    with open(want[name], "rb") as f:
        data = f.read()
    if ole.get_size(name) != len(data) or ole.openstream(name).read() != data:
        faults.append("stream %s differs" % name)

# The directory as olefile loaded it while walking the tree (unused entries stay None).
NOSTREAM, RED = 0xFFFFFFFF, 0
entries = ole.direntries

def key(e):
    return (len(e.name), e.name.upper())

def check_tree(sid, lo, hi, parent_red):
    """Returns the black height of the subtree at sid; checks order and colours."""
    if sid == NOSTREAM:
        return 1
    e = entries[sid]
    k = key(e)
    if (lo is not None and not k > lo) or (hi is not None and not k < hi):
        faults.append("%s out of order" % e.name)
    red = e.color == RED
    if red and parent_red:
        faults.append("red %s under a red node" % e.name)
    left = check_tree(e.sid_left, lo, k, red)
    right = check_tree(e.sid_right, k, hi, red)
    if left != right:
        faults.append("black heights differ under %s" % e.name)
    return left + (0 if red else 1)

for e in entries:
    if e is not None and e.entry_type in (olefile.STGTY_STORAGE, olefile.STGTY_ROOT) and e.sid_child != NOSTREAM:
        if entries[e.sid_child].color == RED:
            faults.append("red tree root under %s" % e.name)
        check_tree(e.sid_child, None, None, False)

for f in faults[:20]:
    print("FAULT", f)
if faults:
    sys.exit(1)
print("ok %d streams, %d entries" % (len(got), sum(e is not None for e in entries)))
