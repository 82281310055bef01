#!/usr/bin/env python3
"""The shared walk against the one-thread walk on random trees.

Each seed draws a tree (live, stale, foreign and nested work areas, long
listings, links to folders, to ancestors, to areas removed before them and
dangling ones, folders that cannot be read or searched, a tmpfs and a bind
mount) and a condition: the user (root or nobody), a descriptor limit of 40,
the options (/MINAGE, /JSON, /SUMMARY, /verbose, /list, /XD), and a fault at
one kind of open (a worker's, the walk's, the owner probe's, the mount
table's; EMFILE or EACCES). /MT:1 and /MT:n (n from 2 to 16) must print the
same bytes, end with the same status and leave the same tree, and the peak
memory of a run stays under 8 MiB. A failure prints its seed; --seed S
reproduces it. The pinned cases first: each failed on an earlier walk; --pinned LABEL runs one.
Usage: random_walk.py BINARY INTERPOSER [--seconds N] [--seed S | --pinned LABEL] [--sanitized]
"""
import difflib, os, random, re, shutil, socket, subprocess, sys, tempfile, time

DEAD, LIMIT_KB = 4000000, 8 * 1024
HOST = socket.gethostname().split('.')[0][:15].upper()


def area_name(rng, i, live):
    return rng.choice(['_TD%d' % (DEAD + i), '#TD%d_%s_' % (DEAD + i, HOST), '_TD%d_OTHERPC_' % (DEAD + i),
                       'KEL_utilabcd%08Xx%s' % (DEAD + i, HOST), '_TD%d' % live, '_TD%d_%s_' % (live, HOST)])


def draw_tree(rng, live):
    """The tree as (path, kind, target) rows, made in order; kinds: d (folder), f, l (link), D (folder of mode)."""
    rows, dirs, areas = [], [''], []
    def fill(at, depth):
        long = rng.random() < 0.05  # a long listing: more than one piece, nothing deep below it
        count = rng.randint(150, 300) if long else rng.choice([0, 2, 5, 8] if depth else [12])
        for i in range(count):
            r, path = rng.random(), '%s/%s' % (at, 'n%d' % i)
            if r < 0.25:
                path = '%s/%s' % (at, area_name(rng, len(rows), live))
                rows.append((path, 'd', None))
                areas.append(path)
                for j in range(rng.randint(0, 4)):
                    rows.append(('%s/e%d' % (path, j), rng.choice('fd'), None))
                if rng.random() < 0.3 and depth < 4:  # nested: what is inside an area the walk may never see
                    rows.append(('%s/_TD%d' % (path, DEAD + len(rows)), 'd', None))
            elif r < 0.32:
                rows.append((path, 'f', None))
            elif r < 0.36:
                rows.append((path, 'D', rng.choice([0o000, 0o644, 0o311])))
                rows.append((path + '/_TD%d' % (DEAD + len(rows)), 'd', None))
            elif r < 0.45:
                target = rng.choice([rng.choice(dirs), rng.choice(areas or [None]), None])
                name = area_name(rng, len(rows), live) if rng.random() < 0.3 else 'l%d' % i
                rows.append(('%s/%s' % (at, name), 'l', target))
            else:
                rows.append((path, 'd', None))
                dirs.append(path)
                if depth < 5 and not long and len(rows) < 1500:
                    fill(path, depth + 1)
    fill('', 0)
    return rows


def make(root, rows, old):
    for path, kind, extra in rows:
        full = root + path
        if os.path.lexists(full) or not os.path.isdir(os.path.dirname(full)):
            continue
        if kind == 'l':
            os.symlink(root + (extra if extra is not None else '/nowhere'), full)
        elif kind == 'f':
            open(full, 'w').close()
        else:
            os.mkdir(full)
    for path, kind, extra in rows:  # the old ones first, then modes that would keep the test out
        if path in old and os.path.isdir(root + path):
            for at, subdirs, files in os.walk(root + path):
                for name in subdirs + files + ['.']:
                    os.utime(os.path.join(at, name), (time.time() - 10 * 86400,) * 2, follow_symlinks=False)
    for path, kind, extra in reversed(rows):
        if kind == 'D' and os.path.isdir(root + path):
            os.chmod(root + path, extra)


def windows(path):
    return 'C:' + path.replace('/', '\\')


class Run:
    def __init__(self, binary, interposer, work, sanitized):
        self.binary, self.interposer, self.work, self.sanitized = binary, interposer, work, sanitized

    def once(self, threads, setup, c):
        """One run in a private mount namespace: (output, status, tree left, peak KiB)."""
        root = self.work + '/tree'
        subprocess.run(['rm', '-rf', root, self.work + '/mnt'], check=True)
        os.mkdir(root)
        setup(root)
        if c.get('user'):
            subprocess.run(['chown', '-hR', 'nobody:nogroup', root], check=True)
        args = c['options'] + ['/v', windows(root), '/MT:%d' % threads]
        for x in c.get('exclude', []):
            args += ['/XD', windows(root + x)]
        # The mount's content is made in name order: the order of its listing is then the same in every run.
        mounts = ''.join(' && mount %s' % m.format(root) for m in c.get('mounts', []))
        if c.get('inside'):  # made inside the namespace, once the mounts are there
            mounts += ' && (%s)' % c['inside'].format(root)
        user = 'setpriv --reuid=65534 --regid=65534 --clear-groups ' if c.get('user') else ''
        script = ('true%s && %s && (%sexec /usr/bin/time -f %%M -o %s/rss %senv LD_PRELOAD=%s "$@" >%s/out); r=$?; '
                  'cd %s && find . -printf "%%p %%y\\n" | sort >%s/left; exit $r') % (
            mounts, 'tar -C %s/mnt --sort=name -cf - . | tar -C %s/m -xpf -' % (self.work, root) if c.get('mounts') else 'true',
            'ulimit -n %s; ' % c['limit'] if c.get('limit') else '', self.work, user, self.interposer, self.work, root,
            self.work)
        env = dict(os.environ, LC_ALL='C.UTF-8', ASAN_OPTIONS='verify_asan_link_order=0',
                   TSAN_OPTIONS='halt_on_error=1 exitcode=66', **c.get('env', {}))
        child = subprocess.Popen(['unshare', '-m', '--propagation', 'private', 'sh', '-c', script, 'sh',
                                  self.binary, *args], env=env, stderr=subprocess.PIPE)
        err = child.stderr.read()
        child.wait()
        out = open(self.work + '/out', 'rb').read()
        out = re.sub(rb',"finished_at":"[^"]*"', b'', out)
        out = b'\n'.join(l for l in out.split(b'\n') if b'AT TIME' not in l and b'"start"' not in l)
        count = self.work + '/count'
        opens = open(count).read().split() if os.path.exists(count) else None
        if opens:
            os.unlink(count)
        return (out, child.returncode, err, open(self.work + '/left').read(), int(open(self.work + '/rss').read().split()[-1]),
                opens)

    def compare(self, label, threads, setup, c, check=None):
        one = self.once(1, setup, c)
        many = self.once(threads, setup, c)
        faults = []
        for what, a, b in (('output', one[0], many[0]), ('status', one[1], many[1]), ('tree left', one[3], many[3])):
            if a != b:
                lines = [l.decode(errors='replace') if isinstance(l, bytes) else l for l in
                         difflib.unified_diff(str(a).split('\\n') if what == 'output' else str(a).split('\n'),
                                              str(b).split('\\n') if what == 'output' else str(b).split('\n'),
                                              '/MT:1', '/MT:%d' % threads, n=1, lineterm='')]
                faults.append('%s differs:\n%s' % (what, '\n'.join(lines[:40])))
        for n, run in ((1, one), (threads, many)):
            if run[2]:
                faults.append('standard error of /MT:%d: %s' % (n, run[2][:2000].decode(errors='replace')))
            if not self.sanitized and run[4] > LIMIT_KB:
                faults.append('/MT:%d peaked at %d KiB' % (n, run[4]))
        if check:
            faults += check(one, many)
        if faults:
            print('FAILED %s (/MT:%d, %s):\n%s' % (label, threads, c, '\n'.join(faults)))
        return not faults


def draw_condition(rng, rows):
    c = dict(user=rng.random() < 0.4, limit=rng.choice([None, 40]), options=[], env={})
    c['options'] = [o for o in ['/MINAGE:3', '/JSON', '/SUMMARY', '/verbose', '/list'] if rng.random() < 0.35]
    folders = [p for p, kind, _ in rows if kind == 'd' and os.path.basename(p).startswith('n')]
    if folders and rng.random() < 0.3:
        c['exclude'] = [rng.choice(folders)]
    if rng.random() < 0.5:
        c['mounts'] = ['-t tmpfs none {0}/m', '--bind {0}/b0 {0}/b1']
    who = rng.choice(['none', 'worker', 'walk', 'probe', 'mounts', 'every'])
    code = rng.choice([24, 13]) if who in ('probe', 'mounts') else 24
    if who == 'every':  # two worker opens in every few fail for want of descriptors; deny* never opens
        c['env'] = dict(SWEEPDIRS_TEST_FAIL='%d:deny' % rng.randint(3, 9))
    elif who != 'none':
        c['env'] = dict(SWEEPDIRS_TEST_FAULT='%s:%d:%d' % (who, 0 if who == 'mounts' else rng.randint(1, 12), code))
    return c


def pinned(runner, only=None):
    live = runner.live
    def tree(paths, modes={}):
        def setup(root):
            for p in paths:
                os.makedirs(root + '/' + p, exist_ok=True)
            for p, mode in modes.items():
                os.chmod(root + '/' + p, mode)
        return setup
    def kept_in_mount(one, many):  # a mount whose kind cannot be learnt is not entered
        return [] if all('./m/_TD%d d' % DEAD in run[3] for run in (one, many)) else ['the mount was entered']
    def unreadable(root):
        tree(['a/_TD%d/in' % live, 'b/_TD%d' % live, 'c/d', 'e'], {'a/_TD%d' % live: 0, 'c': 0})(root)
        os.symlink(root + '/c', root + '/e/l')
    def on_tmpfs(root):  # m, for a tmpfs made empty
        tree(['m'])(root)
        os.makedirs(runner.work + '/mnt', exist_ok=True)
    def mount_tree(root):
        tree(['n0/x', 'n1', 'm'])(root)
        os.makedirs(runner.work + '/mnt/_TD%d/in' % DEAD)
    def second_way(root):  # b/lx leads to a/x, and a/x/l to a, through which a/x is met again inside itself
        tree(['b'] + ['a/x/_TD%d' % (DEAD + i) for i in range(6)])(root)
        os.symlink(root + '/a/x', root + '/b/lx')
        os.symlink(root + '/a', root + '/a/x/l')
    def shared(one, many):  # the workers open most folders of a large tree, whatever it is ahead of the walk
        walk, workers = map(int, many[5])
        return [] if workers >= walk else ['the workers opened %d folders, the walk %d' % (workers, walk)]
    def wide_and_deep(root):
        for i in range(120):
            for j in range(64):
                os.makedirs('%s/a%d/b/c%d/d%d/e%d' % (root, i, j // 16, j // 4 % 4, j % 4))
    def link_into_later(root):  # p/l leads to the area p/_TD1x, whose nested area is removed through it first
        for i in range(8):
            tree(['p%d/_TD%d/_TD%d' % (i, DEAD + 10 + i, DEAD + 30 + i)])(root)
            os.symlink(root + '/p%d/_TD%d' % (i, DEAD + 10 + i), root + '/p%d/l' % i)
    cases = [
        # 120 folders of 85 below: the workers are woken, make room and list their share.
        ('workers-share', wide_and_deep, dict(options=['/list'], env=dict(SWEEPDIRS_TEST_COUNT=runner.work + '/count')),
         shared),
        # 100 stale areas of 20 folders each: the workers measure them, not the walk.
        ('workers-measure', lambda root: tree(['_TD%d/d%d' % (DEAD + i, j) for i in range(100) for j in range(20)])(root),
         dict(options=['/list', '/SUMMARY'], env=dict(SWEEPDIRS_TEST_COUNT=runner.work + '/count')), shared),
        # An area reached through a link lies inside one met later: that one is measured once it is gone.
        ('link-into-later-area', link_into_later, dict(options=['/JSON'], env=dict(SWEEPDIRS_TEST_SLOW='_TD400003:300'))),
        # The inner walk of a/x removes its areas; the outer listing of it, read before, still names them.
        ('second-way-inside-itself', second_way, dict(options=['/verbose'])),
        # A folder that can be read but not searched, as nobody: its area is judged, and fails, on any threads.
        ('unsearchable', tree(['a%d/_TD%d/inner' % (i, DEAD + i) for i in range(10)] + ['z/_TD%d' % (DEAD + 99)],
                              {'z': 0o644}), dict(user=True, options=['/verbose'])),
        # A live area and a link's folder that cannot be opened, as nobody: the walk enters both, and
        # fails, on any threads; an empty live area is counted.
        ('unreadable-live-area', unreadable, dict(user=True, options=['/verbose', '/SUMMARY'])),
        # Long listings of areas: what is read ahead stays within the bound. On a tmpfs, made fast.
        ('long-listing', on_tmpfs, dict(options=['/list'], mounts=['-t tmpfs none {0}/m'], inside=(
            'mkdir {0}/m/f && cd {0}/m/f && seq %d %d | sed s/^/_TD/ | xargs mkdir' % (DEAD, DEAD + 119999)))),
        # A worker gives a removal back while the walk's probe runs short: made after that judgement, in order.
        ('given-back-in-judgement', tree(['w/n%d/_TD%d/a/b' % (i, DEAD + 2 * i) for i in range(20)] +
                                         ['w/n%d/_TD%d' % (i, DEAD + 2 * i + 1) for i in range(20)]),
         dict(options=['/JSON', '/MINAGE:3'], env=dict(SWEEPDIRS_TEST_SHORT='_TD', SWEEPDIRS_TEST_FAULT='probe:3:24'))),
        # Every removal a worker takes it gives back: the walk goes alone at its next entry, makes them and
        # the rest, and holds no line of tasks behind the first.
        ('given-back-then-alone', on_tmpfs, dict(options=[], mounts=['-t tmpfs none {0}/m'], inside=(
            'mkdir {0}/m/f && cd {0}/m/f && seq %d %d | sed "s|.*|_TD&/x|" | xargs mkdir -p' % (DEAD, DEAD + 9999)),
            env=dict(SWEEPDIRS_TEST_SHORT='_TD'))),
        ('mount-table-unreadable', mount_tree, dict(options=['/verbose'], mounts=['-t tmpfs none {0}/m'],
                                                     env=dict(SWEEPDIRS_TEST_FAULT='mounts:0:24')), kept_in_mount),
    ]
    good = True
    for label, setup, c, *check in cases:
        if only and label != only:
            continue
        shutil.rmtree(runner.work + '/mnt', ignore_errors=True)
        good = runner.compare(label, 4 if label.startswith('workers-') else 2, setup, c, *check) and good
    return good


def main(argv):
    binary, interposer = argv[1:3]
    seconds = float(argv[argv.index('--seconds') + 1]) if '--seconds' in argv else 60
    seeds = [int(argv[argv.index('--seed') + 1])] if '--seed' in argv else None
    work = tempfile.mkdtemp(prefix='sweepdirs-random-')
    os.chmod(work, 0o755)
    kel = None
    try:
        shutil.copy(shutil.which('sleep'), work + '/KEL.EXE')
        kel = subprocess.Popen([work + '/KEL.EXE', 'infinity'])
        runner = Run(binary, interposer, work, '--sanitized' in argv)
        runner.live = kel.pid
        if '--pinned' in argv:
            return 0 if pinned(runner, argv[argv.index('--pinned') + 1]) else 1
        good, count, end = seeds is not None or pinned(runner), 0, time.time() + seconds
        seed = seeds[0] if seeds else random.randrange(1 << 30)
        while good or not seeds:
            rng = random.Random(seed)
            rows = draw_tree(rng, kel.pid)
            old = {p for p, kind, _ in rows if kind == 'd' and rng.random() < 0.5}
            c = draw_condition(rng, rows)
            def setup(root):
                make(root, rows, old)
                if c.get('mounts'):
                    for d in ('m', 'b0/_TD%d' % (DEAD + 7), 'b0/x/_TD%d' % (DEAD + 8), 'b1'):
                        os.makedirs(root + '/' + d)
                    os.makedirs(work + '/mnt')
                    make(work + '/mnt', draw_tree(random.Random(seed + 1), kel.pid)[:40], set())
            if not runner.compare('seed %d' % seed, rng.randint(2, 16), setup, c):
                good = False
            count += 1
            if seeds or time.time() > end:
                break
            seed += 1
        print('random walks: %d trees from seed %d, %s' % (count, seed - count + 1, 'all alike' if good else 'FAILED'))
        return 0 if good else 1
    finally:
        if kel:
            kel.kill()
            kel.wait()
        subprocess.run(['chmod', '-R', 'u+rwx', work], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
