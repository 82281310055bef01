#!/usr/bin/env python3
"""Seeded tree generator for the sweepdirs benchmarks.

Every tree is made with mkdir/open relative to an open directory (dir_fd), so
paths longer than PATH_MAX (the deep tree) are no problem and no path is
resolved twice.  The same kind, size and seed always give the same tree.

Kinds:
  balanced  fan-out F, depth D, directories only
  wide      one directory holding N subdirectories
  deep      C chains of L levels each (paths far past 4,096 bytes)
  files     fan-out F, depth D, K small files in every directory
  mix       fan-out F, depth D, one file per directory, plus stale work areas
            (a fraction of the ordinary directories, some with a nested stale
            one inside), live work areas owned by a running KEL.EXE, foreign
            ones (another host), directory symlinks into a shared subtree, a
            symlink back to an ancestor and one unreadable directory
  probe     one directory holding N dead-owner work areas (every one of them
            is probed by a list run)
  probectl  the same N names, as plain files: the same directory read, no
            candidate at all

Each call returns a Manifest that says what the walkers must report and,
for the mix tree, exactly which entries must survive a sweep.

CLI: gen_tree.py KIND ROOT [--seed S] [--live-pid P] [--size quick|full]
"""
import argparse
import os
import random
import socket
import stat
import subprocess
import sys

DEAD_BASE = 5_000_000      # above any Linux pid_max: never a running process
PAYLOAD = b"x" * 64        # content of every generated file
DIR_FLAGS = os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC
FILE_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC


def host_name():
    """This machine's name as sweepdirs compares it: up to the first dot,
    at most 15 characters, upper case."""
    return socket.gethostname().split(".")[0][:15].upper()


def foreign_host():
    return "FOREIGNPC" if host_name() != "FOREIGNPC" else "OTHERPC"


# Sizes per kind: "full" for the timed runs, "quick" for the CI check.
SIZES = {
    "full": {
        "balanced": dict(fanout=10, depth=5),
        "wide": dict(count=100_000),
        "deep": dict(chains=100, levels=1000),
        "files": dict(fanout=10, depth=4, files=20),
        "mix": dict(fanout=6, depth=6),
        "probe": dict(count=2000),
    },
    "quick": {
        "balanced": dict(fanout=4, depth=3),
        "wide": dict(count=500),
        "deep": dict(chains=3, levels=700),
        "files": dict(fanout=4, depth=2, files=5),
        "mix": dict(fanout=4, depth=4),
        "probe": dict(count=100),
    },
}


class Manifest:
    """What a generated tree holds and what each tool must make of it."""

    def __init__(self, kind, root):
        self.kind = kind
        self.root = root
        self.dirs = 0            # every directory, the root included
        self.files = 0
        self.links = 0
        # Directories a non-following walker that prunes at every work-area
        # *name* opens (find, fd, the floor walker): none inside a name match.
        self.opened = 0
        # Top-most name matches (what find -prune / fd --prune / the floor report).
        self.name_roots = 0
        # Stale work areas the walk meets (relative paths): what sweepdirs
        # /list must print and sweepdirs must remove.  Nested stale ones
        # inside a stale one are not in here: they go with their parent.
        self.stale_roots = []
        # Mix only: every entry, "d:rel", "f:rel" or "l:rel->target", with
        # whether it lies inside (or is) a stale work area.
        self.entries = None
        self.gone = None
        self.locked = None       # relative path of the chmod 000 directory
        self.stale_count = 0     # every stale-named dead-owner directory
        self.live_count = 0
        self.foreign_count = 0

    def expected_after_sweep(self):
        return {e for e, g in zip(self.entries, self.gone) if not g}


class Builder:
    """Creates entries under an open directory and keeps the books."""

    def __init__(self, manifest, record):
        self.m = manifest
        self.record = record
        if record:
            manifest.entries = []
            manifest.gone = []

    def _note(self, entry, gone):
        if self.record:
            self.m.entries.append(entry)
            self.m.gone.append(gone)

    def mkdir(self, pfd, name, rel, *, opened, gone=False):
        os.mkdir(name, 0o755, dir_fd=pfd)
        self.m.dirs += 1
        if opened:
            self.m.opened += 1
        self._note("d:" + rel, gone)
        return os.open(name, DIR_FLAGS, dir_fd=pfd)

    def file(self, pfd, name, rel, *, gone=False):
        fd = os.open(name, FILE_FLAGS, 0o644, dir_fd=pfd)
        os.write(fd, PAYLOAD)
        os.close(fd)
        self.m.files += 1
        self._note("f:" + rel, gone)

    def link(self, pfd, name, rel, target, *, gone=False):
        os.symlink(target, name, dir_fd=pfd)
        self.m.links += 1
        self._note("l:%s->%s" % (rel, target), gone)


def join(rel, name):
    return name if not rel else rel + "/" + name


def open_root(root):
    os.makedirs(root, exist_ok=False)
    return os.open(root, DIR_FLAGS)


# ---------------------------------------------------------------- simple kinds

def gen_balanced(root, fanout, depth, files=0, seed=0):
    m = Manifest("files" if files else "balanced", root)
    b = Builder(m, record=False)
    rfd = open_root(root)
    m.dirs = m.opened = 1
    names = ["dir%d" % i for i in range(fanout)]
    fnames = ["file%02d.dat" % i for i in range(files)]

    def fill(fd, level):
        for f in fnames:
            fd2 = os.open(f, FILE_FLAGS, 0o644, dir_fd=fd)
            os.write(fd2, PAYLOAD)
            os.close(fd2)
        m.files += len(fnames)
        if level == depth:
            return
        for n in names:
            cfd = b.mkdir(fd, n, "", opened=True)
            fill(cfd, level + 1)
            os.close(cfd)

    fill(rfd, 0)
    os.close(rfd)
    return m


def gen_wide(root, count, seed=0):
    m = Manifest("wide", root)
    rfd = open_root(root)
    for i in range(count):
        os.mkdir("w%06d" % i, 0o755, dir_fd=rfd)
    os.close(rfd)
    m.dirs = m.opened = count + 1
    return m


def gen_deep(root, chains, levels, seed=0):
    m = Manifest("deep", root)
    rfd = open_root(root)
    for c in range(chains):
        os.mkdir("chain%03d" % c, 0o755, dir_fd=rfd)
        fd = os.open("chain%03d" % c, DIR_FLAGS, dir_fd=rfd)
        for level in range(1, levels):
            name = "lvl%04d" % level
            os.mkdir(name, 0o755, dir_fd=fd)
            nfd = os.open(name, DIR_FLAGS, dir_fd=fd)
            os.close(fd)
            fd = nfd
        os.close(fd)
    os.close(rfd)
    m.dirs = m.opened = 1 + chains * levels
    return m


def stale_names(pid, host):
    """The spellings of a stale work area for one (dead) owner id."""
    return [
        "_TD%d" % pid,
        "_TD%d_%s_" % (pid, host),
        "#TD%d" % pid,
        "#TD%d_%s_" % (pid, host),
        "KEL_utilWk%02X%08X_%s" % (pid & 0xFF, pid, host),
    ]


def gen_probe(root, count, seed=0, as_files=False):
    """count dead-owner work areas side by side; as_files makes the same
    names plain files, which no walk probes or enters."""
    m = Manifest("probectl" if as_files else "probe", root)
    b = Builder(m, record=False)
    rfd = open_root(root)
    m.dirs = m.opened = 1
    host = host_name()
    for i in range(count):
        name = stale_names(DEAD_BASE + i, host)[i % 5]
        if as_files:
            b.file(rfd, name, "")
        else:
            os.mkdir(name, 0o755, dir_fd=rfd)
            m.dirs += 1
            m.name_roots += 1
            m.stale_roots.append(name)
    os.close(rfd)
    return m


# ------------------------------------------------------------------ mix kind

def gen_mix(root, fanout, depth, stale_fraction, live_pid, seed=1):
    """An ordinary tree with every kind of work area in it; see the module
    text.  live_pid must be a running KEL.EXE."""
    if live_pid is None:
        raise ValueError("the mix tree needs the pid of a running KEL.EXE")
    rng = random.Random(seed * 1000 + int(stale_fraction * 1000))
    host, other = host_name(), foreign_host()
    m = Manifest("mix", root)
    b = Builder(m, record=True)

    # Plan first: the ordinary directories, breadth first, as relative paths.
    ordinary = [""]
    frontier = [""]
    for _ in range(depth):
        nxt = []
        for rel in frontier:
            for i in range(fanout):
                nxt.append(join(rel, "d%d" % i))
        ordinary.extend(nxt)
        frontier = nxt
    n_ord = len(ordinary)

    extras = {}            # ordinary rel -> list of (kind, ...)

    def add(rel, item):
        extras.setdefault(rel, []).append(item)

    n_stale = max(3, round(stale_fraction * n_ord))
    n_live = max(2, round(0.005 * n_ord))
    n_foreign = max(2, round(0.005 * n_ord))
    for _ in range(n_stale):
        add(rng.choice(ordinary), ("stale", rng.random() < 0.2))
    for _ in range(n_live):
        add(rng.choice(ordinary), ("live", rng.random() < 0.3))
    for _ in range(n_foreign):
        add(rng.choice(ordinary), ("foreign", rng.random() < 0.3))
    # Links into the shared subtree (it has no work area, so the walk through
    # a link meets nothing new), one link back to an ancestor.
    n_links = max(2, round(0.002 * n_ord))
    for _ in range(n_links):
        add(rng.choice(ordinary[1:]), ("link",))
    deepest = [r for r in ordinary if r.count("/") == depth - 1]
    add(rng.choice(deepest), ("uplink",))
    locked_parent = ordinary[1]
    if os.geteuid() == 0:  # a plain user could not walk or remove it at all
        add(locked_parent, ("locked",))

    rfd = open_root(root)
    m.dirs = m.opened = 1
    m.entries.append("d:")
    m.gone.append(False)

    # The shared subtree the links point at.
    sfd = b.mkdir(rfd, "shared", "shared", opened=True)
    for i in range(3):
        r1 = "shared/s%d" % i
        fd1 = b.mkdir(sfd, "s%d" % i, r1, opened=True)
        for j in range(3):
            fd2 = b.mkdir(fd1, "t%d" % j, r1 + "/t%d" % j, opened=True)
            b.file(fd2, "data.bin", r1 + "/t%d/data.bin" % j)
            os.close(fd2)
        os.close(fd1)
    os.close(sfd)

    def payload(fd, rel, gone, opened, nested_stale):
        """Contents of a work area: a file, a subdirectory with files, and
        maybe a nested stale work area."""
        b.file(fd, "kel.lock", join(rel, "kel.lock"), gone=gone)
        sub = join(rel, "scratch")
        sfd = b.mkdir(fd, "scratch", sub, opened=opened, gone=gone)
        for k in range(3):
            b.file(sfd, "part%d.tmp" % k, join(sub, "part%d.tmp" % k), gone=gone)
        os.close(sfd)
        if nested_stale:
            name = "_TD%d" % (DEAD_BASE + 999)
            nrel = join(rel, name)
            nfd = b.mkdir(fd, name, nrel, opened=False, gone=True)
            m.stale_count += 1
            b.file(nfd, "kel.lock", join(nrel, "kel.lock"), gone=True)
            os.close(nfd)
            return nrel
        return None

    def specials(fd, rel):
        used = set()
        k_stale = k_foreign = 0
        for item in extras.get(rel, ()):
            kind = item[0]
            if kind == "stale":
                pid = DEAD_BASE + k_stale
                k_stale += 1
                name = rng.choice(stale_names(pid, host))
                srel = join(rel, name)
                sfd = b.mkdir(fd, name, srel, opened=False, gone=True)
                m.stale_count += 1
                m.name_roots += 1
                m.stale_roots.append(srel)
                payload(sfd, srel, True, False, item[1])
                os.close(sfd)
            elif kind in ("live", "foreign"):
                if kind == "live":
                    forms = ["_TD%d" % live_pid, "_TD%d_%s_" % (live_pid, host),
                             "#TD%d" % live_pid,
                             "KEL_util0000%08X_%s" % (live_pid, host)]
                else:
                    pid = DEAD_BASE + 500 + k_foreign
                    k_foreign += 1
                    forms = ["_TD%d_%s_" % (pid, other), "#TD%d_%s_" % (pid, other),
                             "KEL_util0000%08X_%s" % (pid, other)]
                forms = [f for f in forms if f not in used]
                if not forms:
                    continue
                name = rng.choice(forms)
                used.add(name)
                if kind == "live":
                    m.live_count += 1
                else:
                    m.foreign_count += 1
                wrel = join(rel, name)
                wfd = b.mkdir(fd, name, wrel, opened=False)
                m.name_roots += 1
                nested = payload(wfd, wrel, False, False, item[1])
                if nested:   # sweepdirs enters live and foreign areas: it is met
                    m.stale_roots.append(nested)
                os.close(wfd)
            elif kind == "link" and "lnk" not in used:
                used.add("lnk")
                target = os.path.relpath("shared/s%d" % rng.randrange(3), rel)
                b.link(fd, "lnk", join(rel, "lnk"), target)
            elif kind == "uplink":
                up = "../" * (rel.count("/") + 1)
                b.link(fd, "up", join(rel, "up"), up.rstrip("/"))
            elif kind == "locked":
                lrel = join(rel, "locked")
                lfd = b.mkdir(fd, "locked", lrel, opened=True)
                b.file(lfd, "secret.dat", join(lrel, "secret.dat"))
                os.close(lfd)
                os.chmod("locked", 0, dir_fd=fd)
                m.locked = lrel

    def fill(fd, rel, level):
        b.file(fd, "readme.txt", join(rel, "readme.txt"))
        specials(fd, rel)
        if level == depth:
            return
        for i in range(fanout):
            crel = join(rel, "d%d" % i)
            cfd = b.mkdir(fd, "d%d" % i, crel, opened=True)
            fill(cfd, crel, level + 1)
            os.close(cfd)

    fill(rfd, "", 0)
    os.close(rfd)
    return m


# ------------------------------------------------------------ whole trees

def generate(kind, root, size="full", seed=1, live_pid=None, stale_fraction=None):
    p = SIZES[size]
    if kind == "balanced":
        return gen_balanced(root, **p["balanced"])
    if kind == "wide":
        return gen_wide(root, **p["wide"])
    if kind == "deep":
        return gen_deep(root, **p["deep"])
    if kind == "files":
        return gen_balanced(root, **p["files"])
    if kind == "mix":
        return gen_mix(root, stale_fraction=stale_fraction, live_pid=live_pid,
                       seed=seed, **p["mix"])
    if kind == "probe":
        return gen_probe(root, **p["probe"])
    if kind == "probectl":
        return gen_probe(root, as_files=True, **p["probe"])
    raise ValueError("unknown tree kind " + kind)


def remove_tree(root, manifest=None):
    """Deletes a generated tree (what is left of it)."""
    if not os.path.lexists(root):
        return
    if manifest is not None and manifest.locked:
        try:
            os.chmod(os.path.join(root, manifest.locked), 0o755)
        except OSError:
            pass
    subprocess.run(["rm", "-rf", "--", root], check=True)


def snapshot(root):
    """Every entry under root as in Manifest.entries, links not followed."""
    out = {"d:"}
    stack = [("", os.open(root, DIR_FLAGS))]
    while stack:
        rel, fd = stack.pop()
        try:
            with os.scandir(fd) as it:
                children = [(e.name, e.is_dir(follow_symlinks=False), e.is_symlink())
                            for e in it]
            for name, is_dir, is_link in children:
                crel = join(rel, name)
                if is_link:
                    out.add("l:%s->%s" % (crel, os.readlink(name, dir_fd=fd)))
                elif is_dir:
                    out.add("d:" + crel)
                    stack.append((crel, os.open(name, DIR_FLAGS, dir_fd=fd)))
                else:
                    out.add("f:" + crel)
        finally:
            os.close(fd)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("kind", choices=["balanced", "wide", "deep", "files", "mix1", "mix10",
                                     "probe", "probectl"])
    ap.add_argument("root")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--live-pid", type=int)
    ap.add_argument("--size", choices=["full", "quick"], default="full")
    a = ap.parse_args()
    kind, frac = a.kind, None
    if kind.startswith("mix"):
        frac = int(kind[3:]) / 100
        kind = "mix"
    m = generate(kind, a.root, a.size, a.seed, a.live_pid, frac)
    print("%s: %d directories, %d files, %d links, %d stale work areas met, %d name matches"
          % (a.root, m.dirs, m.files, m.links, len(m.stale_roots), m.name_roots))


if __name__ == "__main__":
    sys.exit(main())
