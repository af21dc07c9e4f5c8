"""The sample of the kill-point harness: a client folder at 1.3.0.189 and a patch folder to
1.3.0.190, written from a fixed seed so that every run of the harness sees the same bytes."""
import os
import random
import stat
import subprocess

FROM_VERSION = "1.3.0.189"
TO_VERSION = "1.3.0.190"
ARCHIVE = "D010300BD.pkg"


def _text(rng, size):
    # Compressible but not trivial: words from a small vocabulary.
    words = ["sword", "shield", "velmora", "dragon", "tile", "grass", "stone", "water", "fire",
             "quest", "map", "npc", "sound", "click", "river", "tower", "gate", "bridge"]
    out = []
    n = 0
    while n < size:
        w = rng.choice(words) + ("\n" if rng.random() < 0.1 else " ")
        out.append(w)
        n += len(w)
    return "".join(out)[:size].encode("ascii")


def _binary(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size))


def _write(root, rel, data, read_only=False):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if read_only:
        os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


# Resource entries of the client archive: (folder, count, kind).
_CLIENT_RESOURCES = [
    ("Res/tdr", 8, "bin"), ("Res/ui", 6, "text"), ("sound", 6, "bin"), ("map", 6, "text"),
    ("effect", 5, "bin"), ("item", 5, "text"), ("skill", 4, "text"), ("tiles", 4, "bin"),
    ("script", 4, "text"), ("avatar", 2, "bin"),
]


def client_resource_names():
    names = []
    for folder, count, kind in _CLIENT_RESOURCES:
        ext = ".dat" if kind == "bin" else ".txt"
        for i in range(count):
            names.append((f"{folder}/{folder.split('/')[-1]}{i:02d}{ext}", kind))
    return names


def make_client(root, velpack, scratch, env=None):
    """The installed client at FROM_VERSION; velpack is the release tool's command (a list)."""
    rng = random.Random(189)
    _write(root, "update.cfg", f"realver={FROM_VERSION}\nver={FROM_VERSION}\nexe=velmora.exe\n".encode())
    _write(root, "LNCH/mmog_data.xml", f'<launcher version="{FROM_VERSION}"/>\n'.encode())
    _write(root, "velmora.exe", b"MZ" + _binary(rng, 4000))
    # Plain files, some read-only; a folder and a file the patch deletes.
    _write(root, "Config/system.ini", b"[video]\nwidth=1024\nheight=768\n", read_only=True)
    _write(root, "Config/server.ini", b"[server]\nhost=old.example\nport=7000\n", read_only=True)
    _write(root, "Config/user.ini", b"[user]\nname=player\n")
    _write(root, "data/quests.txt", _text(rng, 3000))
    _write(root, "data/items.txt", _text(rng, 5000))
    _write(root, "data/obsolete.txt", b"obsolete\n")
    _write(root, "old-maps/stale.map", _text(rng, 2000), read_only=True)
    _write(root, "old-maps/sub/stale2.map", _text(rng, 1500))
    # The resource index: a list with two patches and the patch files.
    _write(root, "RAVN/RAVNFileList.ini",
           b"[FileList]\r\nFileCount=3\r\n[FileItem1]\r\nFileName=base.vpk\r\n[FileItem2]\r\nFileName=p189.vpk\r\n")
    _write(root, "RAVN/RAVNDownload/base.vpk", _binary(rng, 6000))
    _write(root, "RAVN/RAVNDownload/p189.vpk", _binary(rng, 3000))
    # The client archive.
    src = os.path.join(scratch, "client-archive")
    for name, kind in client_resource_names():
        size = rng.randint(500, 12000)
        _write(src, name, _binary(rng, size) if kind == "bin" else _text(rng, size))
    os.makedirs(os.path.join(root, "package"), exist_ok=True)
    out = os.path.join(root, "package", ARCHIVE)
    if velpack[-1].endswith(".exe"):
        # velpack.exe under Wine takes Windows paths.
        src, out = ("Z:" + p.replace("/", "\\") for p in (os.path.abspath(src), os.path.abspath(out)))
    subprocess.run(velpack + ["pack", src, out], check=True, stdout=subprocess.DEVNULL, env=env)
    _write(root, "package/package.cfg", (ARCHIVE + "\n").encode())


def make_patch(root):
    """The patch folder to TO_VERSION."""
    rng = random.Random(190)
    _write(root, "update.cfg", f"realver={TO_VERSION}\nver={TO_VERSION}\nexe=velmora.exe\n".encode())
    _write(root, "LNCH/mmog_data.xml", f'<launcher version="{TO_VERSION}"/>\n'.encode())
    # Resource entries replacing entries of the client archive, and new ones.
    for name in ["Res/tdr/tdr00.dat", "Res/tdr/tdr05.dat", "Res/ui/ui01.txt", "sound/sound02.dat",
                 "map/map00.txt", "map/map05.txt", "effect/effect03.dat", "script/script01.txt"]:
        _write(root, name, _text(rng, rng.randint(800, 9000)))
    for name in ["Res/tdr/tdr90.dat", "sound/bell.wav", "map/newtown.map", "magic/fire01.dat",
                 "progeff/glow.dat"]:
        _write(root, name, _binary(rng, rng.randint(800, 6000)))
    # Plain files: new folders (one with a Chinese name), a replaced file, a replaced read-only file.
    _write(root, "interface/layout/main.xml", _text(rng, 4000))
    _write(root, "interface/skin.txt", _text(rng, 1200))
    _write(root, "说明/更新.txt", "更新说明：新增任务。\r\n".encode("gbk"))
    _write(root, "data/quests.txt", _text(rng, 3500))
    _write(root, "Config/server.ini", b"[server]\nhost=new.example\nport=7100\n")
    # What the patch deletes: a folder and a file.
    _write(root, "UpdateDelList.txt", b"old-maps\r\ndata\\obsolete.txt\r\n")
    # The resource index: exactly one new patch, so the merge library is called.
    _write(root, "RAVN/RAVNFileList.ini", b"[FileList]\r\nFileCount=2\r\n[FileItem1]\r\nFileName=p190.vpk\r\n")
    _write(root, "RAVN/RAVNDownload/p190.vpk", _binary(rng, 7000))
