#!/usr/bin/env python3
"""Generates the data of the installation benchmark (scripts/bench-install.sh).

Writes under OUT:
  client-src/  the files of the client's resource archive (packed by velpack into client/package)
  client/      an installed full client 1.3.0.189: update.cfg, package/package.cfg,
               LNCH/mmog_data.xml and a few plain files
  patch/       the files of the 1.3.0.190 patch: resource files under the archive folders,
               plain files in nested folders, and the new update.cfg and LNCH/mmog_data.xml

Contents are pseudo-random from a fixed seed, so every run builds the same bytes: half the files
are random bytes (compressed media), half text-like (scripts, tables, xml). Prints the totals as
KEY=VALUE lines for the calling script.
"""
import argparse
import os
import random
import sys
import zlib

# The folders whose files the installer puts into the client archive (any letter case counts).
RESOURCE_DIRS = ["avatar", "effect", "item", "magic", "map", "object", "peffect", "Res",
                 "skill", "smallnum", "tiles", "script", "sound", "progeff"]
# How often each appears: a patch mostly touches the big folders.
RESOURCE_WEIGHTS = [8, 10, 8, 6, 10, 8, 3, 20, 8, 1, 4, 5, 8, 1]
# Plain-file folders of a client (none of them is a resource folder).
PLAIN_ROOTS = ["data\\ui", "data\\config", "interface\\skin", "interface\\font", "Config",
               "bin\\plugins", "html\\news", "locale\\zh_CN"]
RESOURCE_EXTS = [".bmp", ".dds", ".ani", ".dat", ".wav", ".ogg", ".map", ".lua", ".xml", ".ini"]
PLAIN_EXTS = [".xml", ".ini", ".txt", ".dat", ".dll", ".png", ".lua", ".htm"]

ARCHIVE_HEADER = 16
ENTRY_RECORD = 2 + 4 * 4  # name length, flags, dataOffset, size, storedSize (plus the name)


class Content:
    """Random and text-like file bodies from one seeded generator."""

    def __init__(self, rng):
        self.rng = rng
        def word():
            return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 10)))
        # Few tags and keys, values with a skewed frequency: text compresses about 3:1 as a
        # client's scripts and tables do.
        tags = [word() for _ in range(24)]
        keys = [word() for _ in range(300)]
        values = [word() for _ in range(1500)]
        drawn = iter(rng.choices(values, [1.0 / (i + 1) for i in range(len(values))], k=1 << 21))
        lines = []
        size = 0
        # A few MiB of blocks shaped like a client's tables, ini files and xml; text files are
        # slices of it (zlib's 32 KiB window sees no repeats across slices).
        while size < 4 << 20:
            kind = rng.randrange(3)
            tag = rng.choice(tags)
            for _ in range(rng.randint(20, 300)):
                if kind == 0:
                    line = "%s=%d,%s\r\n" % (rng.choice(keys), rng.randint(0, 999), next(drawn))
                elif kind == 1:
                    line = '  <%s id="%d" name="%s" type="%d"/>\r\n' % (
                        tag, rng.randint(0, 9999), next(drawn), rng.randrange(8))
                else:
                    line = "\t".join(next(drawn) if rng.random() < 0.7
                                     else str(rng.randint(0, 99)) for _ in range(6)) + "\r\n"
                lines.append(line)
                size += len(line)
        self.pool = "".join(lines).encode("ascii")

    def body(self, size, text):
        if not text:
            return self.rng.randbytes(size)
        start = self.rng.randrange(0, len(self.pool) - size) if size < len(self.pool) else 0
        data = self.pool[start:start + size]
        while len(data) < size:
            data += self.pool[:size - len(data)]
        return data


def file_size(rng, median, cap):
    """Log-normal sizes: many small files, a few large ones."""
    return max(16, min(cap, int(rng.lognormvariate(0, 1.1) * median)))


def write(root, name, data):
    path = os.path.join(root, *name.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def resource_name(rng, serial):
    top = rng.choices(RESOURCE_DIRS, RESOURCE_WEIGHTS)[0]
    parts = [top] + ["d%02d" % rng.randrange(12) for _ in range(rng.randint(1, 3))]
    return "\\".join(parts) + "\\r%05d%s" % (serial, rng.choice(RESOURCE_EXTS))


def make_client(out, content, rng, archive_limit, archive_name):
    """Files whose archive (as velpack packs them) stays within archive_limit bytes."""
    src = os.path.join(out, "client-src")
    names = []
    total = ARCHIVE_HEADER
    raw = 0
    serial = 0
    while True:
        serial += 1
        name = resource_name(rng, serial)
        text = rng.random() < 0.5
        data = content.body(file_size(rng, 2600, 256 << 10), text)
        # velpack stores each file as one zlib stream at the default level; so does this.
        cost = len(zlib.compress(data, 6)) + ENTRY_RECORD + len(name)
        if total + cost > archive_limit:
            break
        total += cost
        raw += len(data)
        write(src, name, data)
        names.append(name)

    client = os.path.join(out, "client")
    write(client, "update.cfg", b"ver=1.3.0.189\r\nrealver=1.3.0.189\r\nexe=Velmora.exe\r\nport=7001\r\n")
    write(client, "package\\package.cfg", (archive_name + "\r\n").encode("ascii"))
    write(client, "LNCH\\mmog_data.xml", b'<?xml version="1.0"?>\r\n<mmog version="1.3.0.189"/>\r\n')
    write(client, "Config\\MiniClient.ini", b"[Version]\r\nVer=0\r\n")
    write(client, "data\\config\\client.ini", content.body(4000, True))
    return names, total, raw


def make_patch(out, content, rng, client_names, entries, total_bytes, resource_share, replace_share):
    root = os.path.join(out, "patch")
    fixed = {
        "update.cfg": b"ver=1.3.0.190\r\nrealver=1.3.0.190\r\nexe=Velmora.exe\r\nport=7001\r\n",
        "LNCH\\mmog_data.xml": b'<?xml version="1.0"?>\r\n<mmog version="1.3.0.190"/>\r\n',
    }
    resources = int(round(entries * resource_share))
    plains = entries - resources - len(fixed)
    replaced = rng.sample(client_names, min(len(client_names), int(resources * replace_share)))
    serial = 100000

    plan = []  # (name, text, size before scaling)
    for name in replaced:
        plan.append((name, rng.random() < 0.5, file_size(rng, 4000, 1 << 20)))
    taken = set(replaced)
    while len(plan) < resources:
        serial += 1
        name = resource_name(rng, serial)
        if name not in taken:
            taken.add(name)
            plan.append((name, rng.random() < 0.5, file_size(rng, 4000, 1 << 20)))
    for i in range(plains):
        depth = rng.randint(0, 2)
        parts = [rng.choice(PLAIN_ROOTS)] + ["s%d" % rng.randrange(6) for _ in range(depth)]
        name = "\\".join(parts) + "\\p%04d%s" % (i, rng.choice(PLAIN_EXTS))
        plan.append((name, rng.random() < 0.5, file_size(rng, 4000, 1 << 20)))

    # Scale the sizes so that the patch holds total_bytes in all.
    fixed_bytes = sum(len(v) for v in fixed.values())
    scale = (total_bytes - fixed_bytes) / sum(size for _, _, size in plan)
    written = fixed_bytes
    text_bytes = 0
    for name, text, size in plan:
        data = content.body(max(16, int(size * scale)), text)
        write(root, name, data)
        written += len(data)
        text_bytes += len(data) if text else 0
    for name, data in fixed.items():
        write(root, name, data)
    return {"PATCH_ENTRIES": len(plan) + len(fixed), "PATCH_RESOURCE_ENTRIES": resources,
            "PATCH_PLAIN_ENTRIES": plains + len(fixed), "PATCH_REPLACED_ENTRIES": len(replaced),
            "PATCH_BYTES": written, "PATCH_TEXT_BYTES": text_bytes}


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("--seed", type=int, default=190)
    p.add_argument("--archive-bytes", type=int, default=16 << 20,
                   help="length the client archive must stay within")
    p.add_argument("--archive-name", default="D010300BD.pkg")
    p.add_argument("--patch-entries", type=int, default=2000)
    p.add_argument("--patch-bytes", type=int, default=20_000_000)
    p.add_argument("--resource-share", type=float, default=0.75)
    p.add_argument("--replace-share", type=float, default=0.25,
                   help="share of the patch's resource files that replace files of the client archive")
    a = p.parse_args()
    if os.path.exists(a.out) and os.listdir(a.out):
        sys.exit("bench-data: %s is not empty" % a.out)

    rng = random.Random(a.seed)
    content = Content(rng)
    names, archive, raw = make_client(a.out, content, rng, a.archive_bytes, a.archive_name)
    stats = make_patch(a.out, content, rng, names, a.patch_entries, a.patch_bytes,
                       a.resource_share, a.replace_share)
    print("CLIENT_ENTRIES=%d" % len(names))
    print("CLIENT_RAW_BYTES=%d" % raw)
    print("CLIENT_ARCHIVE_BYTES=%d" % archive)
    for key, value in stats.items():
        print("%s=%d" % (key, value))


if __name__ == "__main__":
    main()
