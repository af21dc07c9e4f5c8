#!/usr/bin/env python3
"""Kill-and-rerun harness: is the silent installation crash-safe?

For every file-changing call k of one silent installation (counted by killpoint_preload.c in
every process of a private Wine prefix, the wineserver included) the harness copies the pristine
client, runs the installer killed at call k, runs the same installer again without a limit and
compares the client with the one an uninterrupted run leaves. It also records files of the
original client that the killed run left missing or torn ("lost"), and, with --recovery, kills
the second run too and compares after a third.

Exit code: 0 when every kill point converged and nothing was lost; 1 otherwise; 2 when the
harness could not do its job (reference not deterministic, k > N did not converge, Wine failed).

Environment (each also a command-line option):
  VEL_KILLPOINT_EVERY=n         test every n-th kill point only (default 1: all)
  VEL_KILLPOINT_ONLY=a,b-c      test only these kill points
  VEL_KILLPOINT_RECOVERY=m      also kill during the recovery, for every m-th first kill point
  VEL_KILLPOINT_RECOVERY_EVERY=n  ... and every n-th call of the second run (default 1)
  VEL_KILLPOINT_FULL_WINE=1     every run in a full Wine session (services, drivers, RPC, wineboot)
  VEL_KEEP_TEST_FOLDERS=1       keep the work folder
"""
import argparse
import hashlib
import mmap
import os
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import sample  # noqa: E402

MONITOR_TITLE = "VelmoraKillpointLauncher"
LEAN_OVERRIDES = "services.exe,winedevice.exe,plugplay.exe,svchost.exe,rpcss.exe,wineboot.exe=d"
# Not part of the client: the log lives beside the installer; "merge_call.txt" is written by the
# merge library's test double (it records a tick count, different in every run).
IGNORED = {"install.log", "merge_call.txt"}

# --- the shared block of killpoint_preload.c ------------------------------------------------
KP_MAGIC = 0x4B504C31
KP_MAX_PIDS = 256
# magic u32, pid_count u32, count u64, limit u64, killed_at u64, killed_pid i32, server_pid i32, pids
SHM_HEAD = struct.Struct("<IIQQQii")
SHM_SIZE = SHM_HEAD.size + 4 * KP_MAX_PIDS


class Shared:
    def __init__(self, path):
        self.path = path
        with open(path, "wb") as f:
            f.write(b"\0" * SHM_SIZE)
        self.fd = os.open(path, os.O_RDWR)
        self.map = mmap.mmap(self.fd, SHM_SIZE, mmap.MAP_SHARED)

    def reset(self, limit):
        self.map[:] = b"\0" * SHM_SIZE
        SHM_HEAD.pack_into(self.map, 0, KP_MAGIC, 0, 0, limit, 0, 0, 0)

    def set_limit(self, limit):
        struct.pack_into("<Q", self.map, 16, limit)

    def read(self):
        magic, pid_count, count, limit, killed_at, killed_pid, server_pid = SHM_HEAD.unpack_from(self.map, 0)
        n = min(pid_count, KP_MAX_PIDS)
        pids = list(struct.unpack_from("<%di" % n, self.map, SHM_HEAD.size)) if n else []
        return {"count": count, "limit": limit, "killed_at": killed_at, "killed_pid": killed_pid,
                "server_pid": server_pid, "pids": [p for p in pids if p > 0]}

    def close(self):
        self.map.close()
        os.close(self.fd)
        try:
            os.unlink(self.path)
        except FileNotFoundError:
            pass


# --- client snapshots and their comparison ----------------------------------------------------

def archive_signature(path):
    """A client archive as its entries: sorted (name, flags, size, sha1 of the inflated bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        tag, count, dir_off, dir_size = struct.unpack_from("<IIII", data, 0)
        if tag != 100 or dir_off + dir_size != len(data):
            raise ValueError("header")
        entries = []
        pos = dir_off
        for _ in range(count):
            (nlen,) = struct.unpack_from("<H", data, pos)
            name = data[pos + 2:pos + 2 + nlen]
            flags, off, size, stored = struct.unpack_from("<IIII", data, pos + 2 + nlen)
            pos += 2 + nlen + 16
            body = zlib.decompress(data[off:off + stored])
            if len(body) != size:
                raise ValueError("size")
            entries.append((name.decode("gbk", "replace"), flags, size, hashlib.sha1(body).hexdigest()[:16]))
        if pos != len(data):
            raise ValueError("directory")
        return ("archive", tuple(sorted(entries)))
    except (struct.error, ValueError, zlib.error):
        return ("damaged-archive", hashlib.sha1(data).hexdigest())


def snapshot(root):
    """relative path -> (kind, content signature, read-only, DOS attribute xattr)."""
    out = {}
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        rel_folder = os.path.relpath(folder, root)
        for name in dirs + files:
            rel = os.path.normpath(os.path.join(rel_folder, name))
            if rel in IGNORED:
                continue
            path = os.path.join(folder, name)
            st = os.lstat(path)
            try:
                attrib = os.getxattr(path, "user.DOSATTRIB", follow_symlinks=False)
            except OSError:
                attrib = None
            read_only = not (st.st_mode & stat.S_IWUSR)
            if stat.S_ISDIR(st.st_mode):
                sig = ("dir",)
            elif rel.lower().startswith("package" + os.sep) and rel.lower().endswith(".pkg"):
                sig = archive_signature(path)
            else:
                with open(path, "rb") as f:
                    sig = ("file", st.st_size, hashlib.sha1(f.read()).hexdigest())
            out[rel] = (sig, read_only, attrib)
    return out


def differences(got, want):
    """Paths where got differs from want, each with what differs."""
    diffs = []
    for rel in sorted(set(got) | set(want)):
        if rel not in got:
            diffs.append(rel + " (missing)")
        elif rel not in want:
            diffs.append(rel + " (extra)")
        else:
            g, w = got[rel], want[rel]
            what = []
            if g[0] != w[0]:
                what.append("entries" if w[0][0] == "archive" else "content")
            if g[1] != w[1]:
                what.append("read-only" if g[1] else "writable")
            if g[2] != w[2]:
                what.append("attributes")
            if what:
                diffs.append(rel + " (" + ",".join(what) + ")")
    return diffs


def lost_files(after_kill, pristine, reference):
    """Files of the original client that the reference keeps, missing or torn after a kill."""
    lost = []
    for rel, (sig, _, _) in pristine.items():
        if sig[0] == "dir" or rel not in reference:
            continue
        if rel not in after_kill:
            lost.append(rel + " (missing)")
            continue
        got = after_kill[rel][0]
        if got != sig and got != reference[rel][0]:
            if got[0] == "file" and sig[0] == "file" and got[1] < min(sig[1], reference[rel][0][1]):
                lost.append(rel + " (truncated)")
            else:
                lost.append(rel + " (torn)")
    return lost


# --- processes ---------------------------------------------------------------------------------

def wait_pids(pids, timeout):
    """Waits for the processes to end (pidfd, no polling); True when all ended in time."""
    deadline = time.monotonic() + timeout
    for pid in pids:
        try:
            fd = os.pidfd_open(pid)
        except ProcessLookupError:
            continue
        try:
            remaining = max(0.0, deadline - time.monotonic())
            r, _, _ = select.select([fd], [], [], remaining)
            if not r:
                return False
        finally:
            os.close(fd)
    return True


def our_processes(token, registered):
    """Live processes that carry this run's shared-block name in their environment: the
    registered pids, and (as a safety net) any process of this user with the token."""
    found = set()
    candidates = set(registered)
    for name in os.listdir("/proc"):
        if name.isdigit():
            candidates.add(int(name))
    me = os.getpid()
    needle = b"VEL_KP_SHM=" + token.encode() + b"\0"
    for pid in candidates:
        if pid == me:
            continue
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                env = f.read() + b"\0"
        except OSError:
            continue
        if needle in env:
            found.add(pid)
    return sorted(found)


def end_processes(token, registered, timeout=30):
    """SIGKILL every process of this run, by id, and wait for them."""
    pids = our_processes(token, registered)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return wait_pids(pids, timeout)


def to_windows(path):
    return "Z:" + path.replace("/", "\\")


# --- the harness -----------------------------------------------------------------------------------

class Harness:
    def __init__(self, args):
        self.args = args
        self.x64 = os.path.abspath(args.x64_bin)
        self.velpack = os.path.abspath(args.velpack)
        parent = os.path.abspath(args.work_parent)
        os.makedirs(parent, exist_ok=True)
        self.work = tempfile.mkdtemp(prefix="killpoint-", dir=parent)
        self.prefix = os.path.join(self.work, "prefix")
        self.lib = os.path.join(self.work, "killpoint_preload.so")
        self.token = "/dev/shm/vel-killpoint-%d-%s" % (os.getpid(), os.path.basename(self.work))
        self.shared = None
        self.xvfb = None
        self.display = os.environ.get("DISPLAY")
        self.wine = shutil.which("wine") or "/usr/lib/wine/wine64"
        self.run_seconds = []

    # setup -----------------------------------------------------------------------------------
    def base_env(self, lean=None):
        env = dict(os.environ)
        overrides = "mscoree,mshtml=;winemenubuilder.exe=d"
        if lean is None:
            lean = not self.args.full_wine
        if lean:
            # A Wine session without the processes that never touch the client (services and the
            # device drivers they host, plug and play, RPC, the session-start wineboot): a run
            # takes about half the time. The harness checks that the installer leaves the same
            # client with the same calls in a full session.
            overrides += ";" + LEAN_OVERRIDES
        env.update({
            "WINEPREFIX": self.prefix, "WINEARCH": "win64", "LC_ALL": "zh_CN.UTF-8", "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": overrides, "DISPLAY": self.display,
        })
        for k in ("LD_PRELOAD", "VEL_KP_SHM", "VEL_KP_ROOTS", "VEL_KP_LOG"):
            env.pop(k, None)
        return env

    def start_xvfb(self):
        if self.display:
            return
        r, w = os.pipe()
        self.xvfb_log = open(os.path.join(self.work, "xvfb.log"), "wb")
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
                                     pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=self.xvfb_log,
                                     stderr=self.xvfb_log, start_new_session=True)
        os.close(w)
        # The whole line: Xvfb writes the number and the newline separately, and dies of the
        # broken pipe if the reading end is closed in between.
        text = b""
        deadline = time.monotonic() + 30
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([r], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(r, 64) if ready else b""
            if not chunk:
                break
            text += chunk
        os.close(r)
        number = text.decode().strip() if text.endswith(b"\n") else ""
        if not number:
            raise RuntimeError("could not start Xvfb")
        self.display = ":" + number

    def build_library(self):
        cc = shutil.which("cc") or shutil.which("gcc")
        subprocess.run([cc, "-O2", "-Wall", "-Wextra", "-Werror", "-fPIC", "-shared", "-o", self.lib,
                        os.path.join(HERE, "killpoint_preload.c"), "-ldl"], check=True)

    def run_velpack(self, *argv):
        if self.velpack.endswith(".exe"):
            conv = [to_windows(a) if a.startswith("/") else a for a in argv]
            subprocess.run([self.wine, self.velpack] + conv, env=self.base_env(), check=True,
                           stdout=subprocess.DEVNULL)
        else:
            subprocess.run([self.velpack] + list(argv), check=True, stdout=subprocess.DEVNULL)

    def make_sample(self):
        s = os.path.join(self.work, "sample")
        self.pristine = os.path.join(s, "client")
        self.patch = os.path.join(s, "patch")
        os.makedirs(self.pristine)
        scratch = os.path.join(s, "scratch")
        if self.velpack.endswith(".exe"):
            velpack = [self.wine, self.velpack]
        else:
            velpack = [self.velpack]
        sample.make_client(self.pristine, velpack, scratch, env=self.base_env())
        sample.make_patch(self.patch)
        shutil.rmtree(scratch)
        self.inst_pristine = os.path.join(s, "inst")
        os.makedirs(self.inst_pristine)
        self.installer_name = "VelmoraPatch_%s.exe" % sample.TO_VERSION
        self.run_velpack("build", "--stub", os.path.join(self.x64, "VelmoraPatch.exe"), "--folder", self.patch,
                         "--from", sample.FROM_VERSION, "--to", sample.TO_VERSION, "--kind", "full",
                         "-o", os.path.join(self.inst_pristine, self.installer_name))
        # The merge library beside the installer, so that the resource index merge runs.
        shutil.copy2(os.path.join(self.x64, "RAVNMerge.dll"), self.inst_pristine)
        tools = os.path.join(self.work, "tools")
        os.makedirs(tools)
        self.monitor = os.path.join(tools, "vel-monitor.exe")
        shutil.copy2(os.path.join(self.x64, "vel-monitor.exe"), self.monitor)

    def make_prefix(self):
        env = self.base_env(lean=False)
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=180, check=False)
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=180, check=False)
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            raise RuntimeError("could not create the Wine prefix " + self.prefix)

    def setup(self):
        self.start_xvfb()
        self.build_library()
        self.make_sample()
        self.make_prefix()
        self.shared = Shared(self.token)
        self.run_dir = os.path.join(self.work, "run")
        self.pristine_snap = snapshot(self.pristine)

    def cleanup(self):
        if self.shared is not None:
            end_processes(self.token, self.shared.read()["pids"])
            self.shared.close()
        env = self.base_env()
        if os.path.isdir(self.prefix):
            try:
                subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=30)
                subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=30)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb is not None:
            self.xvfb.kill()
            self.xvfb.wait(timeout=30)
        if os.environ.get("VEL_KEEP_TEST_FOLDERS") == "1":
            print("killpoint: kept " + self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)

    # one installation ------------------------------------------------------------------------------
    def fresh(self, client_from=None):
        """A run folder: a copy of the client (pristine, or a given state) and of the installer."""
        if os.path.exists(self.run_dir):
            subprocess.run(["chmod", "-R", "u+w", self.run_dir], check=True)
            shutil.rmtree(self.run_dir)
        os.makedirs(self.run_dir)
        client = os.path.join(self.run_dir, "client")
        inst = os.path.join(self.run_dir, "inst")
        subprocess.run(["cp", "-a", client_from or self.pristine, client], check=True)
        subprocess.run(["cp", "-a", self.inst_pristine, inst], check=True)
        return client, inst

    def install(self, client, inst, limit, log=None, lean=None):
        """One silent run under the monitor, every Wine process with the library; limit 0: none.

        Now and then, on a loaded machine, a Wine start ends at once with nothing printed: the
        monitor then never ran, nor the installer, and the run is started again (twice at most)."""
        for attempt in range(3):
            res = self.install_once(client, inst, limit, log, lean)
            # A run the harness killed may end without a line: that is the kill, not Wine.
            if not res["no_output"] or res["timed_out"] or res["killed_at"]:
                break
            print("killpoint: the monitor ended with %s before printing anything (attempt %d); started again"
                  % (res["wine_rc"], attempt + 1), flush=True)
        return res

    def install_once(self, client, inst, limit, log=None, lean=None):
        started = time.monotonic()
        self.shared.reset(limit)
        env = self.base_env(lean)
        env.update({"LD_PRELOAD": self.lib, "VEL_KP_SHM": self.token,
                    "VEL_KP_ROOTS": os.path.realpath(client) + ":" + os.path.realpath(inst)})
        if log:
            env["VEL_KP_LOG"] = log
        # The wineserver of this run, with the library; its output (and so that of every helper it
        # might start) goes nowhere, never into a pipe someone waits on.
        subprocess.run(["wineserver", "-p0"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)
        out_path = os.path.join(self.run_dir, "monitor.txt")
        argv = [self.wine, self.monitor, "--title", MONITOR_TITLE, "--timeout", "60000", "--",
                to_windows(os.path.join(inst, self.installer_name)), "/S", "/D=" + to_windows(client),
                "/user", MONITOR_TITLE]
        timed_out = False
        with open(out_path, "wb") as out:
            proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
            try:
                rc = proc.wait(timeout=120)
            except subprocess.TimeoutExpired:
                timed_out = True
                rc = None
        state = self.shared.read()
        # Every process of this run ends here (the helpers would linger for seconds otherwise);
        # nothing of the installer is left by then, since the monitor waited for it.
        if not end_processes(self.token, state["pids"]):
            raise RuntimeError("processes of a run did not end")
        if timed_out:
            proc.wait(timeout=30)
        with open(out_path, "rb") as f:
            monitor = f.read().decode("utf-8", "replace")
        exit_code = None
        last_report = None
        for line in monitor.splitlines():
            if line.startswith("EXIT "):
                exit_code = int(line.split()[1])
            elif line.startswith("COPYDATA"):
                for part in line.split():
                    if part.startswith("data="):
                        last_report = int(part[5:])
        last_log = ""
        log_path = os.path.join(inst, "install.log")
        if os.path.exists(log_path):
            with open(log_path, "rb") as f:
                lines = [ln for ln in f.read().decode("gbk", "replace").replace("\r", "").split("\n") if ln.strip()]
            if lines:
                last_log = lines[-1]
        self.run_seconds.append(time.monotonic() - started)
        return {"wine_rc": rc, "exit": exit_code, "timed_out": timed_out, "no_output": not monitor.strip(),
                "count": state["count"],
                "killed_at": state["killed_at"], "killed_pid": state["killed_pid"],
                "server_pid": state["server_pid"], "last_log": last_log, "last_report": last_report}


def parse_only(text):
    ks = set()
    for part in text.split(","):
        part = part.strip()
        if not part:
            continue
        if "-" in part:
            a, b = part.split("-", 1)
            ks.update(range(int(a), int(b) + 1))
        else:
            ks.add(int(part))
    return ks


def read_ops(log):
    """The counted calls of a log: [(number, pid, role, call, path)]."""
    ops = []
    if not os.path.exists(log):
        return ops
    with open(log, "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            parts = line.split(" ", 4)
            if len(parts) == 5 and parts[0].isdigit():
                ops.append((int(parts[0]), int(parts[1]), parts[2], parts[3], parts[4]))
    return ops


def short_op(op, roots):
    if op is None:
        return "-"
    _, _, _, call, path = op
    for name, root in roots:
        path = path.replace(root + "/", name + "/").replace(root, name)
    return call + " " + path.replace(" KILLED", "")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    repo = os.path.dirname(os.path.dirname(HERE))
    ap.add_argument("--x64-bin", default=os.path.join(repo, "build", "x64", "bin"),
                    help="folder with VelmoraPatch.exe, RAVNMerge.dll, vel-monitor.exe")
    ap.add_argument("--velpack", default=os.path.join(repo, "build", "native", "bin", "velpack"),
                    help="the release tool (native, or velpack.exe run under Wine)")
    ap.add_argument("--work-parent", default=os.path.join(repo, "build", "killpoint"),
                    help="the work folder is made in here")
    ap.add_argument("--full-wine", action="store_true", default=os.environ.get("VEL_KILLPOINT_FULL_WINE") == "1",
                    help="run every installation in a full Wine session (slower)")
    ap.add_argument("--every", type=int, default=int(os.environ.get("VEL_KILLPOINT_EVERY", "1")))
    ap.add_argument("--only", default=os.environ.get("VEL_KILLPOINT_ONLY", ""))
    ap.add_argument("--recovery", type=int, default=int(os.environ.get("VEL_KILLPOINT_RECOVERY", "0")),
                    help="kill the second run too, for every m-th first kill point (0: no)")
    ap.add_argument("--recovery-every", type=int,
                    default=int(os.environ.get("VEL_KILLPOINT_RECOVERY_EVERY", "1")))
    args = ap.parse_args()

    wall = time.monotonic()
    h = Harness(args)
    try:
        return sweep(h, args)
    except (RuntimeError, subprocess.SubprocessError, OSError) as e:
        print("killpoint: harness failure: %s" % e)
        return 2
    finally:
        h.cleanup()
        print("killpoint: wall time %.0f s" % (time.monotonic() - wall))


def sweep(h, args):
    print("killpoint: setting up (sample, installer, library, Wine prefix) in " + h.work, flush=True)
    t = time.monotonic()
    h.setup()
    print("killpoint: setup took %.0f s" % (time.monotonic() - t), flush=True)

    # Reference: one uninterrupted run, twice, with the calls counted and logged.
    refs = []
    for i in (1, 2):
        client, inst = h.fresh()
        log = os.path.join(h.work, "reference%d.log" % i)
        res = h.install(client, inst, 0, log)
        refs.append((res, snapshot(client), read_ops(log), (os.path.realpath(client), os.path.realpath(inst))))
        if i == 1:
            ref_client = os.path.join(h.work, "reference-client")
            subprocess.run(["cp", "-a", client, ref_client], check=True)
    (res1, reference, ops1, roots1), (res2, snap2, ops2, roots2) = refs
    n = res1["count"]
    roots = [("client", roots1[0]), ("inst", roots1[1])]
    print("killpoint: reference run: exit %s, %d counted calls, last log line: %s"
          % (res1["exit"], n, res1["last_log"]))
    by_pid = {}
    for _, _, role, call, _ in ops1:
        who = "wineserver" if role == "server" else "Windows processes"
        by_pid.setdefault(who, {}).setdefault(call, 0)
        by_pid[who][call] += 1
    for who in sorted(by_pid):
        print("killpoint:   %s: %s" % (who, ", ".join("%s %d" % kv for kv in sorted(by_pid[who].items()))))
    if res1["exit"] != 0 or res1["last_report"] != 4294967295:
        print("killpoint: harness failure: the uninterrupted run did not complete")
        return 2
    seq1 = [(r, c, p.replace(roots1[0], "C").replace(roots1[1], "I")) for _, _, r, c, p in ops1]
    seq2 = [(r, c, p.replace(roots2[0], "C").replace(roots2[1], "I")) for _, _, r, c, p in ops2]
    det_diff = differences(snap2, reference)
    if det_diff or seq1 != seq2 or res2["count"] != n:
        print("killpoint: harness failure: the reference is not deterministic: %s; calls %d/%d, sequence %s"
              % (det_diff, n, res2["count"], "same" if seq1 == seq2 else "differs"))
        return 2
    print("killpoint: reference deterministic (second run: same files, same %d calls in the same order)" % n)
    if not args.full_wine:
        client, inst = h.fresh()
        log = os.path.join(h.work, "reference-full-session.log")
        res = h.install(client, inst, 0, log, lean=False)
        seq = [(r, c, p.replace(os.path.realpath(client), "C").replace(os.path.realpath(inst), "I"))
               for _, _, r, c, p in read_ops(log)]
        d = differences(snapshot(client), reference)
        if d or seq != seq1 or res["exit"] != 0:
            print("killpoint: harness failure: a full Wine session gives another reference: %s; calls %s"
                  % (d, "same" if seq == seq1 else "differ"))
            return 2
        print("killpoint: a full Wine session (services, drivers, RPC) gives the same client and calls")
    if not any(sig[0] == "archive" and len(sig[1]) for sig, _, _ in reference.values()):
        print("killpoint: harness failure: no client archive in the reference")
        return 2

    # k > N: the limit is never reached, so the run must converge trivially.
    client, inst = h.fresh()
    res = h.install(client, inst, n + 1)
    d = differences(snapshot(client), reference)
    if res["killed_at"] or res["exit"] != 0 or d:
        print("killpoint: harness failure: a run with k=%d > N did not converge: %s %s" % (n + 1, res, d))
        return 2
    print("killpoint: k=N+1 converges trivially")

    ks = list(range(1, n + 1))
    if args.only:
        wanted = parse_only(args.only)
        ks = [k for k in ks if k in wanted]
    ks = ks[::max(1, args.every)]
    print("killpoint: testing %d of %d kill points; per k: a killed run, a rerun, a comparison" % (len(ks), n),
          flush=True)
    print("%5s  %-58s %-8s %-6s %s" % ("k", "call killed (first run)", "verdict", "rerun", "details"))

    results = {}
    sweep_start = time.monotonic()
    for k in ks:
        # Wine's own background writes (the registry saved on a timer) can shift the count of a
        # busy machine's run by a call: a kill point not reached is tried again on a fresh copy.
        for _attempt in range(3):
            client, inst = h.fresh()
            killed = h.install(client, inst, k)
            if killed["killed_at"] == k:
                break
        after_kill = snapshot(client)
        lost = lost_files(after_kill, h.pristine_snap, reference)
        if killed["killed_at"] != k:
            verdict, detail = "harness", "not killed at %d (killed_at %d)" % (k, killed["killed_at"])
            results[k] = (verdict, lost)
            print("%5d  %-58s %-8s %-6s %s" % (k, short_op(ops1[k - 1], roots), verdict, "-", detail), flush=True)
            continue
        # Keep the killed state for the recovery kills.
        if args.recovery and (ks.index(k) % args.recovery == 0):
            keep = os.path.join(h.work, "after-kill-%d" % k)
            subprocess.run(["cp", "-a", client, keep], check=True)
        rerun = h.install(client, inst, 0)
        d = differences(snapshot(client), reference)
        if rerun["exit"] != 0:
            verdict = "failed"
        elif d:
            verdict = "differs"
        else:
            verdict = "ok"
        detail = []
        if d:
            detail.append("diff: " + "; ".join(d[:6]) + (" ..+%d" % (len(d) - 6) if len(d) > 6 else ""))
        if lost:
            detail.append("LOST: " + "; ".join(lost))
        if verdict != "ok":
            detail.append("log: " + rerun["last_log"])
        results[k] = (verdict, lost, rerun)
        print("%5d  %-58s %-8s %-6s %s" % (k, short_op(ops1[k - 1], roots)[:58], verdict, rerun["exit"],
                                            " | ".join(detail)), flush=True)
    sweep_time = time.monotonic() - sweep_start

    recovery_rows = []
    if args.recovery:
        recovery_rows = recovery_sweep(h, args, ks, reference, roots)

    a = sum(1 for v in results.values() if v[0] == "ok")
    b = sum(1 for v in results.values() if v[0] == "differs")
    c = sum(1 for v in results.values() if v[0] == "failed")
    e = sum(1 for v in results.values() if v[0] == "harness")
    lost_n = sum(1 for v in results.values() if v[1])
    runs = len(h.run_seconds)
    print("killpoint: %d runs, %.2f s per run on average; single-kill sweep %.0f s"
          % (runs, sum(h.run_seconds) / max(1, runs), sweep_time))
    if e:
        print("killpoint: harness failure: %d kill points were not reached" % e)
    line = "%d kill points: %d converged, %d differ, %d rerun failed, %d lost files between runs" % (
        len(results), a, b, c, lost_n)
    if len(results) != n:
        line += " (of N=%d)" % n
    if recovery_rows:
        ra = sum(1 for r in recovery_rows if r == "ok")
        line += "; kills during the recovery: %d pairs, %d converged" % (len(recovery_rows), ra)
    print(line)
    if e:
        return 2
    ok = a == len(results) and lost_n == 0 and all(r == "ok" for r in recovery_rows)
    return 0 if ok else 1


def recovery_sweep(h, args, ks, reference, roots):
    """Kills during the recovery: for sampled first kill points k, kill the second run at each
    (sampled) j of its calls, then run a third time and compare."""
    rows = []
    print("killpoint: kills during the recovery (first kill k, second kill j)")
    for k in ks[::max(1, args.recovery)]:
        keep = os.path.join(h.work, "after-kill-%d" % k)
        if not os.path.isdir(keep):
            continue
        # How many calls the recovery makes from this state.
        client, inst = h.fresh(keep)
        log = os.path.join(h.work, "recovery-%d.log" % k)
        probe = h.install(client, inst, 0, log)
        ops = read_ops(log)
        m = probe["count"]
        counts = {}
        for j in range(1, m + 1)[::max(1, args.recovery_every)]:
            client, inst = h.fresh(keep)
            second = h.install(client, inst, j)
            third = h.install(client, inst, 0)
            d = differences(snapshot(client), reference)
            verdict = "failed" if third["exit"] != 0 else ("differs" if d else "ok")
            if second["killed_at"] != j:
                verdict = "harness"
            counts[verdict] = counts.get(verdict, 0) + 1
            rows.append(verdict)
            if verdict != "ok":
                print("  k=%d j=%d (%s): %s %s" % (k, j, short_op(ops[j - 1] if j <= len(ops) else None, roots)[:50],
                                                   verdict, "; ".join(d[:4])), flush=True)
        print("  k=%d: recovery makes %d calls; %s" % (k, m, ", ".join("%s %d" % kv for kv in sorted(counts.items()))),
              flush=True)
    return rows


if __name__ == "__main__":
    sys.exit(main())
