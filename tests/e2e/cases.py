#!/usr/bin/env python3
"""End-to-end cases of sweepdirs: one table of cases, run against the POSIX
binary (cases.py posix BINARY INTERPOSER [--sanitized]) or against the Windows
build's sweepdirs.exe under Wine (cases.py wine WINDOWS_BUILD_DIR).

A case names its arguments, the tree built for it, the exact output lines,
the 32-bit run status, and what must be gone or must remain afterwards.
Tokens in braces are filled in per build: {T} the case's tree as the command
line names it, {dead} an id no process has, {live} a running KEL.EXE, {tid}
the id of one of its threads, {host} this computer's name, {U} {O} {S} the
LOGS folders of the current user, of another profile and of the system
account, {NOTFOUND} and the like the system's texts for its error codes.
Tree entries: "dir/", "file", "link->target" (inside the tree unless it
begins with "/" or "."), "file!" a file that cannot be removed; "entry@N"
(in tree order, once all is made) sets the last-write time of the entry and
of everything below it to N days ago, or for N from 1900 on to noon of the
local date N (YYYYMMDD). An expected
line with "*" is a pattern; out=None leaves the output unchecked. Options:
sort (compare sorted lines), only ('posix' or 'wine'), exe (Wine: the program
run instead of sweepdirs.exe, in the Windows build folder), nosan (not under the
sanitizers), prelude (POSIX: shell run in the private mount namespace, "$@"
the command), race (POSIX: when the preloaded interposer swaps), timeout,
and posix=/wine= dictionaries that override the case's fields on that build.
json= expects JSON Lines: one event a line, each matching the next dict given
(only the keys given; "*" any value; path_raw the path's own bytes). pty=
runs with standard error on a terminal (under Wine: a console) whose screen
must hold that text ("*": any text within a row) and no control or format character that the arguments or
the tree plant; with tty=True standard output goes there too, and the
screen must show the out lines in order. {ctl} is a control character that
the build can put in a name. events= expects what /EVENTLOG wrote, standard error
apart: on POSIX the journal's fields of each event, read by the test on a
socket where log= says ('journal', 'syslog', or 'none'), and stderr= that
text; under Wine each event's type, id and strings as Wine traces them.
Adding a case is adding one C(...) line to CASES.
"""
import fnmatch, glob, json, os, pwd, re, shlex, shutil, socket, subprocess, sys, tempfile, time, unicodedata

DEAD = 5000000
USAGE = [
    'sweepdirs [/userlog]|[/alllogs] [/v volume(s)] [/d dir(s)] [/list] [/verbose]',
    '/v volume     Volume to search for removal of KEL generated directories. When',
    '              specifying more than one volume separate them with spaces.',
    '/userlog      Clean any KEL generated log files in current',
    '              users Application Data\\KEL\\LOGS directory.',
    '/alllogs      Cleans all users Application Data\\KEL\\LOGS directories.',
    '              This option will require administrator privileges.',
    '/list         List all files to be deleted. This option will not',
    '              delete any files or folders.',
    '/d dir(s)     Clean any KEL generated directories in the specified directory(s)',
    '              where dir(s) are Windows or UNC paths to one or more directories.',
    '              Paths need to be separated by a space i.e. /d path1 path2...',
    '/verbose      Shows a trace of program\'s activity.',
    '/XD dir(s)    Folders that the /v walks never enter, given like /d paths.',
    '/SUMMARY      Ends with what the run removed, kept and failed, in numbers.',
    '/JSON         Writes one JSON object a line (JSON Lines) instead of text.',
    '/MT:n         Walks /v volumes with n threads, 1 to 64 (default: cores, max 8).',
    '/MINAGE:n     Keeps what changed in the last n days or since date n (YYYYMMDD).',
    '/EVENTLOG     Records removals, failures and the run\'s end in the event log.',
    '/VERSION      Prints the program\'s version and the commit it was built from.',
]
VERSION = 'sweepdirs 0.* (commit *)'
LONGER = '/'.join('%03d' % i + 'd' * 197 for i in range(22))  # longer than a path the system takes in one call
BAD, NODIR, NOVOL, ONLY, NOXD, THREADS = 0xC0020001, 0xC0020011, 0xC0020010, 0xC002001B, 0xC002001E, 0xC002002D
MINAGE, INTERRUPTED = 0xC002002F, 0xC002003B
NONE = 'No files were deleted.'
STOPPED = 'ERROR: The run was interrupted: nothing after the lines above was looked at.'


def E(text):  # an error line and the empty line after it
    return ['ERROR: ' + text, '']


def C(name, args, out=(), code=0, tree='', gone='', kept='', **more):
    return dict(name=name, args=args, out=out, code=code, tree=tree, gone=gone, kept=kept, **more)


def verdict(path, text):  # a FOUND line completed by its verdict
    return 'FOUND: %s   %s' % (path, text)


# n areas, the last of which holds "stop": on POSIX the removal of that entry is where a stop or a kill comes.
def stops(n):
    return ['w/_TD{dead}_%d/%s' % (i, f) for i in range(n) for f in (('f', 'g') if i < n - 1 else ('stop',))]


def told(stopped, n=12):  # a check: each area gone has its REMOVED line, none kept has; a stop says so, then sums up
    def check(lines, root, shown):
        fails = ['told wrongly: ' + a for a in ('_TD%d_%d' % (DEAD, i) for i in range(n))
                 if os.path.lexists(root + '/w/' + a) == (r'REMOVED: {T}\w\{a}'.format(a=a, **shown) in lines)]
        if stopped and (lines[-4:-2] != [STOPPED, ''] or not lines[-2].startswith('Removed ')):
            fails.append('ends %r' % lines[-4:])
        return fails
    return check


GONE, LIVE, HOST = 'This process is not active.', 'This process is currently active and cannot be deleted.', \
    'Host name does not match.'
YOUNG = 'This item changed within the minimum age and is kept.'
NOID = 'w/_TDocs/ w/_TDaily_reports/ w/#TD_notes/ w/_TD-x/ w/KEL_utilities_backup_{host}/ {U}/app.log {U}/a..log ' \
    '{U}/notes.x.y.log'
WITHID = 'w/_TD{dead}ocs/ w/#TD{dead}_notes/ w/KEL_util0000{H8}_{host}/ {U}/notes.{hdead}.y.log'
LOGS = '{U}/app.{hdead}.x.log {U}/app.{hlive}.x.log {U}/notes.txt {U}/app.{hdead}.x.LOG'
VICTIM = 'victim/precious.txt victim/_TD{dead}/inside.txt victim/app.{hdead}.x.log'
RACE = VICTIM + ' hold/ w/_TD{dead}/top.txt w/_TD{dead}/sub/file.txt w/_TD{dead}/sub/deeper/file.txt'
LONG = '/'.join('a-rather-long-directory-name-%d' % i for i in range(12))
DEEP = '/'.join('directory-level-%d' % i for i in range(40))
ARGS = ['/X', '/WITH BLANK', '/QUOTE"INSIDE', '/TRAILING\\', '/BLANK AND TRAILING\\', '/\\\\"', '/TÉST€😀']
SMALL_STACK = 'helpers/sweepdirs_small_stack.exe'  # the Windows build whose run has a small stack


def summed(n):  # the /summary of one work area of n entries removed
    return ['Removed 1 work area and 0 log files: %d files and folders, 5 B.' % n,
            'Kept 0 (owner running), 0 (another computer), 0 (owner unknown). Failed 0.']


# Stale items that only a walk into /sys or /proc would meet: one on a mount
# over a folder of /sys, one in the working folder of a process (seen as
# /proc/<pid>/cwd); then sweepdirs runs. Only in a private mount namespace.
def pseudo(sys_dir, command):
    return ('mount -t tmpfs none %s/fs/cgroup && mkdir %s/fs/cgroup/_TD{dead} && {{ (cd out && exec sleep 60) & }} && '
            '%s "$@"; r=$?; kill $!; exit $r') % (sys_dir, sys_dir, command)


# A folder of the tree served over SSHFS at w/mnt: sshd on the loopback address with keys of the run's own,
# then sweepdirs; the mount and sshd go whatever happens (sshd within two minutes at the latest).
SSHFS = ('S=$PWD/ssh && mkdir -m 700 $S && ssh-keygen -q -t ed25519 -N "" -f $S/host && ssh-keygen -q -t ed25519 -N "" '
         '-f $S/id && port=$(python3 -c "import socket; s = socket.socket(); s.bind((\'127.0.0.1\', 0)); '
         'print(s.getsockname()[1])") && mount -t tmpfs -o mode=755 none /run && mkdir /run/sshd && '
         '{{ timeout 120 /usr/sbin/sshd -D -f /dev/null -h $S/host -o ListenAddress=127.0.0.1 -o Port=$port -o UsePAM=no '
         '-o AuthorizedKeysFile=$S/id.pub -o StrictModes=no -o "Subsystem sftp internal-sftp" & }} && '
         'trap "fusermount -u w/mnt; kill $!" EXIT && for i in $(seq 300); do sshfs -o IdentityFile=$S/id,BatchMode=yes,'
         'StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,port=$port root@127.0.0.1:$PWD/srv w/mnt 2>/dev/null '
         '&& break; sleep 0.1; done && "$@"')

# The whole drive on POSIX: a private root with its own /proc, /sys and /dev.
CHROOT = ('mount -t proc none root/proc && mount -t sysfs none root/sys && mount -t tmpfs none root/dev && '
          'mkdir root/dev/_TD{dead} && cp --parents $(ldd "$1" | grep -o "/[^ ]*") root && cp "$1" root/sweepdirs && '
          'shift && ' + pseudo('root/sys', 'chroot root /sweepdirs'))

# Names that would rewrite a terminal: a right-to-left override, an erased line, a cursor moved up, a name that
# would read as an escape. planted(RAW) are the lines with the names as they are, planted(SHOWN) as a terminal
# shows them. The progress line (80 columns) is cut inside the first escape: it shows none of it.
RAW = dict(ctl='{ctl}', rlo='\u202e', dl='\x7f', bs='/')
SHOWN = dict(ctl='\\x{{{ctlx}}}', rlo='\\x{{202E}}', dl='\\x{{7F}}', bs='\\x{{5C}}')
ROOT, AREA = '%(rlo)sabc%(ctl)s[2K%(rlo)sdefg', '%(bs)sx{{41}}/_TD{dead}%(rlo)s%(ctl)s[1A%(dl)s'
PLANT = dict(args=['/verbose', '/v', '{T}\\' + ROOT % RAW, '/userlog'], tree=['{U}/x{{1B}}.{hdead}.x.log',
             (ROOT + AREA) % RAW + '/'], gone=['{U}/x{{1B}}.{hdead}.x.log', (ROOT + AREA) % RAW],
             pty='B  ...abc\\x{{{ctlx}}}[2K\\x{{202E}}defg')


def planted(s):
    log, area = ('{U}%(bs)sx{{1B}}.{hdead}.x.log' % s).replace('/', '\\'), ('{T}/' + ROOT + AREA) % s
    area = area.replace('/', '\\')
    return [verdict(area, GONE), 'REMOVED: ' + area, 'FOUND LOG: %s   %s' % (log, GONE), 'REMOVED: ' + log]


CASES = [
    # The command line: usage, refusals, time lines, arguments passed whole.
    C('usage-without-arguments', '', USAGE, 1),
    C('usage-asked', '/?', USAGE, 1),
    C('usage-verbose', '/verbose /?', USAGE, 1),
    C('invalid-option', '/x', E('Invalid parameter detected: /x'), BAD),
    C('invalid-option-upper-cased', '/a`z{{', E('Invalid parameter detected: /A`Z{{'), BAD),
    C('invalid-path-characters', '/d C:/temp', E('Invalid parameter detected: C:/temp'), BAD),
    C('invalid-after-list', '/list /x', E('Invalid parameter detected: /x'), BAD),
    C('invalid-verbose', '/verbose /x', E('Invalid parameter detected: /x'), BAD),
    C('no-directory', '/d', E('No directory specified.'), NODIR),
    C('no-volume', '/v /list', E('No volume specified.'), NOVOL),
    # --help, -h and --version on POSIX, /VERSION on both; any other '-' argument stays refused.
    *[C('posix' + a, a, USAGE, 0, only='posix') for a in ('--help', '-h')],
    C('posix--version', '/list --version', [VERSION], only='posix'),
    C('version-asked', '/json /Version /x', [VERSION]),
    C('dash-refused', '-x', E('Invalid parameter detected: -x'), BAD, wine=dict(args=['--help'],
      out=E('Invalid parameter detected: --help'))),
    # POSIX paths after /d, /v and /XD: walked, printed and reported with '/'; options and mistyped options win.
    C('native-absolute', '/verbose /d {N}/w', [verdict('{N}/w/_TD{dead}', GONE), 'REMOVED: {N}/w/_TD{dead}'],
      tree='w/_TD{dead}/a/b', gone='w/_TD{dead}', only='posix'),
    C('native-relative-final-slash', '/list /verbose /d w/ ./w// /v w/', only='posix', tree='w/_TD{dead}/',
      out=[verdict('w/_TD{dead}', GONE), verdict('./w/_TD{dead}', GONE), verdict('w/_TD{dead}', GONE), NONE]),
    C('native-beside-options', '/v {N}/w /list /XD ./w/skip/ /verbose', [verdict('{N}/w/a/_TD{dead}', GONE), NONE],
      tree='w/a/_TD{dead}/ w/skip/_TD{dead}/', only='posix'),
    C('native-json', '/json /d {N}/w/', out=None, gone='w/_TD{dead}', tree='w/_TD{dead}/f', only='posix', json=[
        dict(event='start'), dict(event='item', path='{N}/w/_TD{dead}', action='removed', entries=2, bytes=5),
        dict(event='summary', status=0)]),
    C('native-missing-is-not-found', '/d {N}/nope /v /nope-{dead}/x', E('{N}/nope : {NOTFOUND}') +
      E('/nope-{dead}/x : {NOTFOUND}'), 'NOTFOUND', only='posix'),
    C('mistyped-option-after-a-place', r'/d {T}\w /bogus', E('Invalid parameter detected: /bogus'), BAD),
    C('native-longer-than-one-call', ['/list', '/d', '{N}/l/' + LONGER, '/XD', '{N}/l/' + LONGER],
      ['FOUND: {N}/l/' + LONGER + '/_TD{dead}   ', NONE], tree=['l/' + LONGER + '/_TD{dead}/'], only='posix'),
    C('only-list', '/list', E('Program cannot run with just the /list or /verbose option.'), ONLY),
    C('only-verbose', '/verbose', E('Program cannot run with just the /list or /verbose option.'), ONLY),
    *[C('argument-arrives-whole-%d' % i, [a], E('Invalid parameter detected: ' + a), BAD) for i, a in enumerate(ARGS)],
    # /d: the verdicts, both work-area forms, the live KEL.EXE, list mode.
    C('d-removes-exactly-the-stale', r'/d {T}\w',
      tree='w/_TD{dead}_{host}_/sub/file.txt w/KEL_util0000{H8}_{host}/ w/#TD{dead}x/ w/_TD{live}_{host}_/ '
           'w/KEL_util0000{L8}_{host}/ w/_TD{dead}_NOT{host}_/ w/_TD{dead} w/plain/_TD{dead}/',
      gone='w/_TD{dead}_{host}_ w/KEL_util0000{H8}_{host} w/#TD{dead}x',
      kept='w/_TD{live}_{host}_ w/KEL_util0000{L8}_{host} w/_TD{dead}_NOT{host}_ w/_TD{dead} w/plain/_TD{dead}'),
    C('d-verbose-verdicts', r'/verbose /d {T}\a {T}\b {T}\c',
      [verdict(r'{T}\a\_TD{dead}_{host}_', GONE), r'REMOVED: {T}\a\_TD{dead}_{host}_',
       verdict(r'{T}\b\_TD{live}', LIVE), verdict(r'{T}\c\KEL_util0000{H8}_ELSEWHERE', HOST)],
      tree='a/_TD{dead}_{host}_/inner/ b/_TD{live}/ c/KEL_util0000{H8}_ELSEWHERE/', gone='a/_TD{dead}_{host}_',
      kept='b/_TD{live} c/KEL_util0000{H8}_ELSEWHERE'),
    C('d-list', r'/list /d {T}\a {T}\b', [r'FOUND: {T}\a\_TD{dead}   ', NONE], tree='a/_TD{dead}/ b/_TD{live}/',
      kept='a/_TD{dead}'),
    C('d-list-verbose', r'/list /verbose /d {T}\a', [verdict(r'{T}\a\_TD{dead}', GONE), NONE],
      tree='a/_TD{dead}/', kept='a/_TD{dead}'),
    C('d-missing-folder-and-the-run-goes-on', r'/verbose /d {T}\missing {T}\b',
      E(r'{T}\missing : {NOTFOUND}') + [verdict(r'{T}\b\_TD{dead}', GONE), r'REMOVED: {T}\b\_TD{dead}'],
      tree='b/_TD{dead}/', gone='b/_TD{dead}'),
    C('d-trailing-separator-kept', ['/verbose', '/d', '{T}\\a\\'],
      [verdict(r'{T}\a\\_TD{dead}', GONE), r'REMOVED: {T}\a\\_TD{dead}'], tree='a/_TD{dead}/', gone='a/_TD{dead}'),
    C('d-deep-stale-tree-goes-whole', r'/d {T}\w', tree=['w/_TD{dead}/' + DEEP + '/file.txt'], gone='w/_TD{dead}'),
    # The run's own stack is what a deep tree needs: a test build that leaves the run 32 KiB of it works on a
    # shallow tree and is cut off at 200 levels (Wine ends only the thread; the program then fails), where
    # sweepdirs.exe removes the tree.
    *[C('stack-%s-%d-levels' % (name, depth), r'/summary /d {T}\w', out, code, only='wine', wine=dict(exe=exe),
        tree=['w/_TD{dead}/' + 'd/' * depth + 'file'], gone='' if code else 'w/_TD{dead}',
        kept='w/_TD{dead}/' + 'd/' * depth + 'file' if code else '') for name, exe, depth, out, code in [
        ('small', SMALL_STACK, 20, summed(22), 0), ('small', SMALL_STACK, 200, [], 0xC0000144),
        ('run', None, 200, summed(202), 0)]],
    C('d-thread-id-names-no-process', r'/d {T}\w', tree='w/_TD{tid}/f w/_TD{live}/f', gone='w/_TD{tid}',
      kept='w/_TD{live}/f'),
    C('utf8-output', r'/list /verbose /d {T}\wé€😀', [verdict(r'{T}\wé€😀\_TD{dead}_{host}_', GONE), NONE],
      tree='wé€😀/_TD{dead}_{host}_/'),
    # Removal: links where stale items are and inside them, locked entries, mounts, races, awkward trees.
    C('links-where-stale-items-are', r'/d {T}\w /v {T}\v', tree=VICTIM + ' w/_TD{dead}->victim v/x/_TD{dead}->victim',
      gone='w/_TD{dead} v/x/_TD{dead}', kept=VICTIM,
      wine=dict(out=E(r'{T}\w\_TD{dead} : {NOTSUP}') + E(r'{T}\v\x\_TD{dead} : {NOTSUP}'), gone='',
                kept=VICTIM + ' w/_TD{dead} v/x/_TD{dead}')),
    C('links-inside-stale-areas', r'/d {T}\w', sort=True, kept=VICTIM + ' e',
      tree=VICTIM + ' e/ w/_TD{dead}/a->e w/#TD{dead}/b->victim w/_TD{dead}_{host}_/c->victim/precious.txt '
                    'w/KEL_util0000{H8}_{host}->e',
      gone='w/_TD{dead} w/#TD{dead} w/_TD{dead}_{host}_ w/KEL_util0000{H8}_{host}',
      wine=dict(out=E(r'{T}\w\_TD{dead}\a : {NOTSUP}') + E(r'{T}\w\#TD{dead}\b : {NOTSUP}') +
                E(r'{T}\w\_TD{dead}_{host}_\c : {NOTSUP}') + E(r'{T}\w\KEL_util0000{H8}_{host} : {NOTSUP}'),
                gone='', kept=VICTIM + ' e w/_TD{dead}/a w/#TD{dead}/b w/_TD{dead}_{host}_/c '
                                       'w/KEL_util0000{H8}_{host}')),
    C('removal-stops-at-a-locked-entry', r'/d {T}\w', E(r'{T}\w\_TD{dead}\sub\locked.txt : {LOCKED}'),
      tree='w/_TD{dead}/sub/locked.txt!', kept='w/_TD{dead}/sub/locked.txt'),
    C('mount-point-never-crossed', r'/d {T}\w', E(r'{T}\w\_TD{dead}\sub\mnt : {BUSY}'), only='posix',
      tree=VICTIM + ' w/_TD{dead}/sub/mnt/ w/_TD{dead}/top.txt', kept=VICTIM + ' w/_TD{dead}/sub/mnt',
      prelude='mount --bind victim w/_TD{dead}/sub/mnt && exec "$@"'),
    *[C('race-' + m.replace('_TD{dead}', 'area').replace(':', '-'), r'/d {T}\w', None, tree=RACE, race=m, gone=g,
        kept=VICTIM + ' hold/*', only='posix') for m, g in [
        ('fstatat:_TD{dead}:1', 'w/_TD{dead}'), ('unlinkat:_TD{dead}:1', ''), ('openat:_TD{dead}:1', ''),
        ('unlinkat:_TD{dead}:2', ''), ('unlinkat:sub:1', ''), ('openat:sub:1', ''), ('openat:deeper:1', ''),
        ('unlinkat:file.txt:1', '')]],
    C('awkward-names-and-depths', r'/d {T}\w', only='posix', gone='w/_TD{dead}', tree=[
        'w/_TD{dead}/bad-\udcff\udcfe-utf8/x', 'w/_TD{dead}/new\nline/x', 'w/_TD{dead}/' + 'n' * 255 + '/x',
        'w/_TD{dead}/long/' + ('d' * 200 + '/') * 22 + 'file', 'w/_TD{dead}/deep/' + 'd/' * 10000 + 'file']),
    C('non-utf8-name-printed-byte-for-byte', r'/verbose /v {T}\w', only='posix',
      out=[verdict('{T}\\w\\bad\udcff\\_TD{dead}', GONE), 'REMOVED: {T}\\w\\bad\udcff\\_TD{dead}'],
      tree='w/bad\udcff/_TD{dead}/', gone='w/bad\udcff/_TD{dead}'),
    C('hidden-process-table-keeps-every-item', r'/d {T}\w', E('{NOFILE}') + E('{NOFILE}'), only='posix', nosan=1,
      tree='w/_TD{dead}/top.txt w/_TD{live}/keep/', kept='w/_TD{dead}/top.txt w/_TD{live}/keep',
      prelude='mount -t tmpfs none /proc && exec "$@"'),
    C('entries-coming-and-going-during-a-walk', r'/v {T}\w', None, only='posix',
      tree=' '.join('w/a%d/_TD{dead}/sub/f' % i for i in range(50)) + ' w/_TD{live}/keep/', kept='w/_TD{live}/keep',
      gone=' '.join('w/a%d/_TD{dead}' % i for i in range(50)),
      prelude='(while :; do mkdir -p w/c/_TD{dead}; rm -rf w/c; done) & "$@"; r=$?; kill $!; exit $r'),
    # /v: depth, spellings, missing paths and the run status, links, pseudo file systems, the whole drive.
    # A small descriptor limit: what the threads hold open stays within it, and nothing is passed over.
    C('v-few-descriptors', r'/v {T}\w', None, only='posix', prelude='ulimit -n 100 && exec "$@"',
      tree=['w/%d/%d/_TD{dead}.%d/' % (i, j, j) for i in range(10) for j in range(100)],
      gone=' '.join('w/%d/%d/_TD{dead}.%d' % (i, j, j) for i in range(10) for j in range(100))),
    # Listings read in many parts: a walk and a removal see every entry of a long directory.
    C('v-long-listings', r'/v {T}\w', None, gone=' '.join('w/big/_TD{dead}.%d' % i for i in range(8)) + ' w/_TD{dead}',
      tree=['w/big/%s%d/' % ('d' * 200, i) for i in range(1200)] + ['w/big/_TD{dead}.%d/' % i for i in range(8)]
      + ['w/_TD{dead}/%s%d' % ('f' * 200, i) for i in range(1200)], kept='w/big/%s7' % ('d' * 200)),
    C('v-removes-at-any-depth', r'/v {T}\t',
      tree='t/a/b/_TD{dead}/#TD{dead}/ t/_TD{dead}_{host}_/x/ t/c/_TD{live}/ t/c/_TD{dead}_ELSEWHERE_/ t/d/keep.txt',
      gone='t/a/b/_TD{dead} t/_TD{dead}_{host}_', kept='t/c/_TD{live} t/c/_TD{dead}_ELSEWHERE_ t/d/keep.txt'),
    # A link is looked at after the removals before it: its target went, so it is passed over, however many threads.
    C('v-link-to-an-area-removed-before-it', r'/verbose /v {T}\t', out=[verdict(r'{T}\t\x\_TD{dead}', GONE),
      r'REMOVED: {T}\t\x\_TD{dead}'], tree=['t/x/_TD{dead}/sub/', 't/y/_TD{dead}_{host}_->t/x/_TD{dead}']
      + ['t/y/p%d/q/' % i for i in range(40)], gone='t/x/_TD{dead}', kept='t/y/p39/q'),
    C('v-list-never-enters-stale-areas', r'/list /v {T}\t', sort=True,
      out=[r'FOUND: {T}\t\a\b\_TD{dead}   ', r'FOUND: {T}\t\c\_TD{dead}   ', NONE],
      tree='t/a/b/_TD{dead}/_TD{dead}0/ t/c/_TD{dead}/', kept='t/a/b/_TD{dead}/_TD{dead}0'),
    C('v-long-paths-printed-whole', r'/verbose /v {T}\t', tree=['t/' + LONG + '/_TD{dead}/content/'],
      out=[verdict(r'{T}\t\%s\_TD{dead}' % LONG.replace('/', '\\'), GONE),
           r'REMOVED: {T}\t\%s\_TD{dead}' % LONG.replace('/', '\\')]),
    C('v-typed-root', r'/list /v {T}\t', [r'FOUND: {T}\t\_TD{dead}   ', r'FOUND: {T}\t\s\_TD{dead}   ', NONE],
      tree='t/_TD{dead}/ t/s/_TD{dead}/', sort=True),
    C('v-typed-root-with-separator', ['/list', '/v', '{T}\\t\\'],
      [r'FOUND: {T}\t\\_TD{dead}   ', r'FOUND: {T}\t\s\_TD{dead}   ', NONE], tree='t/_TD{dead}/ t/s/_TD{dead}/',
      sort=True),
    *[C('v-drive-%d' % i, '/list /v ' + a, [r'FOUND: %s\_TD{dead}   ' % a, r'FOUND: Y:\s\_TD{dead}   ', NONE],
        tree='_TD{dead}/ s/_TD{dead}/', sort=True, only='wine') for i, a in enumerate(['Y', 'Y:', 'Y:\\'])],
    C('v-missing', r'/list /v {T}\missing', E(r'{T}\missing : {NOTFOUND}'), 'NOTFOUND'),
    C('v-missing-then-found', r'/v {T}\missing /v {T}\t', E(r'{T}\missing : {NOTFOUND}'), tree='t/'),
    C('v-missing-then-d', r'/v {T}\missing /d {T}\t', E(r'{T}\missing : {NOTFOUND}'), 'NOTFOUND', tree='t/'),
    C('v-empty-argument-first', ['/v', '', '{T}\\t'], E(' : {NOTFOUND}'), tree='t/'),
    C('v-empty-argument-last', ['/v', '{T}\\t', ''], E(' : {NOTFOUND}'), 'NOTFOUND', tree='t/'),
    C('v-link-cycles-end-other-links-walked', r'/list /v {T}\t', sort=True,
      out=[r'FOUND: {T}\t\a\_TD{dead}   ', r'FOUND: {T}\t\out\_TD{dead}   ', NONE],
      tree='t/a/_TD{dead}/ t/a/keep.txt elsewhere/_TD{dead}/ t/a/loop->t t/a/up->.. t/out->elsewhere',
      kept='t/a/keep.txt'),
    # A folder on the path whose identity cannot be had: no link below it is followed, as a possible cycle.
    C('v-link-below-a-folder-of-unknown-identity', r'/list /v {T}\t', [r'FOUND: {T}\t\a\_TD{dead}   ', NONE],
      only='posix', noid='noid', tree='t/a/_TD{dead}/ t/noid/in->elsewhere elsewhere/_TD{dead}/'),
    C('v-never-into-sys-or-proc', r'/list /v {T}\w', [r'FOUND: {T}\w\_TD{dead}   ', NONE], only='posix',
      tree='w/ out/_TD{dead}/', timeout=20,
      prelude='mount -t tmpfs none w && mkdir w/_TD{dead} && ln -s /sys w/sys && ln -s /proc w/proc && ' +
              pseudo('/sys', '')),
    # Excluded places are matched by whole paths: deep down, a folder "X:" with "sys" in it is no drive's root.
    C('v-root-exclusions-only-at-roots', r'/list /v {T}\t', [r'FOUND: {T}\t\a\X:\sys\_TD{dead}   ', NONE],
      only='posix', tree='t/a/X:/sys/_TD{dead}/'),
    # Links to folders the walk has left are followed; each folder holds a link back to the other.
    C('v-links-to-folders-left', r'/list /v {T}\t', sort=True, tree='t/a/_TD{dead}/ t/a/l->t/b t/b/_TD{dead}/ t/b/l->t/a',
      out=[r'FOUND: {T}\t\%s\_TD{dead}   ' % d for d in ('a', r'a\l', 'b', r'b\l')] + [NONE]),
    # A top on a pseudo file system is walked as named; its subfolders there are not entered.
    C('v-top-on-a-pseudo-file-system', r'/list /v {T}\w', [r'FOUND: {T}\w\_TD{dead}   ', NONE], only='posix',
      tree='w/', prelude='mount -t bpf none w && mkdir -p w/_TD{dead} w/sub/_TD{dead} && exec "$@"'),
    # A network file system met inside a walk, by its mount point or a link, is left; named, it is walked.
    C('v-never-onto-a-network-file-system', r'/verbose /v {T}\w /v {t}\w\mnt', only='posix', sort=True, timeout=60,
      out=[verdict(r'{T}\w\a\_TD{dead}', GONE), r'REMOVED: {T}\w\a\_TD{dead}', verdict(r'{t}\w\mnt\_TD{dead}', GONE),
           r'REMOVED: {t}\w\mnt\_TD{dead}', verdict(r'{t}\w\mnt\in\_TD{dead}', GONE), r'REMOVED: {t}\w\mnt\in\_TD{dead}'],
      tree='w/a/_TD{dead}/ w/mnt/ w/l->w/mnt srv/_TD{dead}/f srv/in/_TD{dead}/', prelude=SSHFS,
      gone='w/a/_TD{dead} srv/_TD{dead} srv/in/_TD{dead}'),
    C('v-link-graph-walked-once', r'/verbose /v {T}\g', only='posix', timeout=10,
      out=[verdict(r'{T}\g\*\_TD{dead}', GONE), r'REMOVED: {T}\g\*\_TD{dead}'],
      tree=['g/l22/_TD{dead}/'] + ['g/l%d/%s->g/l%d' % (i, x, i + 1) for i in range(22) for x in 'ab']),
    # Twice in one run: the second walk excludes as the first did.
    C('v-whole-drive-exclusions', '/list /v C: /v C:', sort=True,
      out=[r'FOUND: C:\walked\_TD{dead}   ', r'FOUND: C:\{WIN}x\_TD{dead}   ',
           r'FOUND: C:\data\$RECYCLE.BIN\_TD{dead}   '] * 2 + [NONE],
      tree='{C}/walked/_TD{dead}/ {C}/{WIN}/_TD{dead}/ {C}/{WIN}x/_TD{dead}/ {C}/$Recycle.Bin/_TD{dead}/ '
           '{C}/data/$RECYCLE.BIN/_TD{dead}/',
      posix=dict(prelude=CHROOT, extra=['root/proc/', 'root/sys/', 'root/dev/', 'out/_TD{dead}/'])),
    # The same from "/", and a root folder named like an option: in Windows form a folder, alone the option.
    C('native-whole-drive-exclusions', r'/v / /d \list /list', sort=True, only='posix',
      out=['FOUND: /walked/_TD{dead}   ', 'FOUND: /var/lib/kelx/_TD{dead}   ', 'FOUND: /list/_TD{dead}   ',
           r'FOUND: \list\_TD{dead}   ', 'FOUND: /data/$RECYCLE.BIN/_TD{dead}   ', NONE],
      tree='{C}/walked/_TD{dead}/ {C}/{WIN}/_TD{dead}/ {C}/{WIN}x/_TD{dead}/ {C}/$Recycle.Bin/_TD{dead}/ '
           '{C}/data/$RECYCLE.BIN/_TD{dead}/ {C}/list/_TD{dead}/',
      prelude=CHROOT, extra=['root/proc/', 'root/sys/', 'root/dev/', 'out/_TD{dead}/']),
    # /XD: folders the walks never enter, matched by identity wherever /XD stands.
    C('xd-by-path-and-through-links-met', r'/list /v {T}\t /XD {T}\t\data', [r'FOUND: {T}\t\a\_TD{dead}   ', NONE],
      tree='t/a/_TD{dead}/ t/data/_TD{dead}/ t/in->t/data'),
    C('xd-another-spelling-before-v', ['/list', '/xd', '{t}\\t\\data\\', '/v', '{T}\\t'],
      [r'FOUND: {T}\t\a\_TD{dead}   ', NONE], tree='t/a/_TD{dead}/ t/data/_TD{dead}/'),
    C('xd-given-as-a-link', r'/list /v {T}\t /XD {T}\lnk', [r'FOUND: {T}\t\a\_TD{dead}   ', NONE],
      tree='t/a/_TD{dead}/ t/data/_TD{dead}/ lnk->t/data'),
    C('xd-missing-path', r'/list /v {T}\t /XD {T}\nope', tree='t/_TD{dead}/',
      out=E(r'{T}\nope : {NOFILE}') + [r'FOUND: {T}\t\_TD{dead}   ', NONE]),
    C('xd-leaves-d-alone', r'/d {T}\t /XD {T}\t', tree='t/_TD{dead}/', gone='t/_TD{dead}'),
    *[C('mt-count-refused-%d' % i, ['/list', a, '/v', '{T}'], E('Invalid thread count: %s (give /MT:n with n from 1 to 64).' % a),
        THREADS) for i, a in enumerate(['/MT:0', '/MT:65', '/MT:', '/mt:x', '/MT:064', '/MT:-1', '/MT:2 '])],
    C('mt-two-digits-any-case', r'/list /mt:09 /v {T}\t', [r'FOUND: {T}\t\a\_TD{dead}   ', NONE], tree='t/a/_TD{dead}/'),
    # Many removals at once, on the most threads: each one's lines right after its verdict.
    C('mt-removal-lines-in-their-places', r'/verbose /MT:64 /v {T}\w', [verdict(r'{T}\w\*\_TD{dead}', GONE),
      r'REMOVED: {T}\w\*\_TD{dead}'] * 12, tree=['w/%d/_TD{dead}/f%d' % (i, j) for i in range(12) for j in range(100)]),
    # A worker short of descriptors while it measures an area: the walk takes the removal back and makes it.
    C('mt-short-while-measuring', r'/summary /v {T}\w', ['Removed 1 work area and 0 log files: 3 files and folders, '
      '0 B.', 'Kept 0 (owner running), 0 (another computer), 0 (owner unknown). Failed 0.'], only='posix',
      short='short', tree='w/_TD{dead}/short/in/', gone='w/_TD{dead}'),
    C('mt-short-while-removing', r'/v {T}\w', [], only='posix', short='short', tree='w/_TD{dead}/short/in/',
      gone='w/_TD{dead}'),
    # One stale area in two folders (a bind mount), listed before either is reached: found and removed once.
    C('mt-one-area-in-two-folders', r'/verbose /v {T}\t', [verdict(r'{T}\t\*\_TD{dead}', GONE), r'REMOVED: {T}\t\*\_TD{dead}'],
      only='posix', tree='t/x/_TD{dead}/f t/y/', prelude='mount --bind t/x t/y && exec "$@"'),
    # One stale area reached plainly and through a link: found and removed once, whichever comes first.
    C('mt-one-area-by-two-ways', r'/verbose /v {T}\t', [verdict(r'{T}\t\a\*\_TD{dead}', GONE), r'REMOVED: {T}\t\a\*\_TD{dead}'],
      tree='t/a/b/_TD{dead}/x/y/ t/a/b/keep/ t/a/l->t/a/b', kept='t/a/b/keep'),
    # /MINAGE: what changed within n days, or since a date, is kept whatever its name says; a link by its own time.
    C('minage-days', r'/verbose /MINAGE:3 /v {T}\w', sort=True,
      out=[verdict(r'{T}\w\a\_TD{dead}', GONE), r'REMOVED: {T}\w\a\_TD{dead}', verdict(r'{T}\w\b\_TD{dead}', YOUNG),
           verdict(r'{T}\w\c\_TD{dead}', YOUNG)], gone='w/a/_TD{dead}', kept='w/b/_TD{dead}/f w/c/_TD{dead}/x/y/z/f',
      tree='w/a/_TD{dead}/s/f w/b/_TD{dead}/f w/c/_TD{dead}/x/y/z/f w/@10 w/b/_TD{dead}/new@0 w/c/_TD{dead}/x/y/z/new@0'),
    C('minage-days-young-not-listed', r'/list /MINAGE:20 /d {T}\w', [NONE], tree='w/_TD{dead}/s/f w/@10',
      kept='w/_TD{dead}/s/f'),
    C('minage-date-and-summary', r'/summary /list /MINAGE:20200615 /d {T}\w', kept='w/_TD{dead} w/#TD{dead}',
      tree='w/_TD{dead}/f w/#TD{dead}/f w/_TD{dead}/@20200514 w/#TD{dead}/@20200615',
      out=[r'FOUND: {T}\w\_TD{dead}   ', NONE, 'Would remove 1 work area and 0 log files: 2 files and folders, 5 B.',
           'Kept 0 (owner running), 0 (another computer), 0 (owner unknown), 1 (young). Failed 0.']),
    C('minage-json', r'/json /MINAGE:3 /d {T}\w', out=None, gone='w/_TD{dead}', kept='w/#TD{dead}/f',
      tree='w/_TD{dead}/f w/#TD{dead}/f w/_TD{live}/ w/@10 w/#TD{dead}/f@0', sort_events=True, json=[
          dict(event='start'), dict(event='item', path=r'{T}\w\_TD{dead}', verdict='stale', action='removed', entries=2),
          dict(event='item', path=r'{T}\w\#TD{dead}', verdict='young', action='kept', entries=None, bytes=None),
          dict(event='item', path=r'{T}\w\_TD{live}', verdict='running', action='kept'),
          dict(event='summary', work_areas=1, kept=dict(running=1, other_host=0, owner_unknown=0, young=1))]),
    C('minage-userlog', '/verbose /MINAGE:3 /userlog', sort=True, tree='{U}/old.{hdead}.x.log@10 {U}/new.{hdead}.x.log',
      out=[r'FOUND LOG: {U}\old.{hdead}.x.log   ' + GONE, r'REMOVED: {U}\old.{hdead}.x.log',
           r'FOUND LOG: {U}\new.{hdead}.x.log   ' + YOUNG], gone='{U}/old.{hdead}.x.log', kept='{U}/new.{hdead}.x.log'),
    C('minage-link-by-its-own-time', r'/MINAGE:3 /d {T}\w', tree='new/f w/_TD{dead}/l->new w/@10', gone='w/_TD{dead}',
      kept='new/f', only='posix'),
    C('minage-never-across-a-mount', r'/MINAGE:3 /d {T}\w', E(r'{T}\w\_TD{dead}\sub\mnt : {BUSY}'), only='posix',
      tree=VICTIM + ' w/_TD{dead}/sub/mnt/ w/@10 victim@10 victim/precious.txt@0', kept=VICTIM + ' w/_TD{dead}/sub/mnt',
      prelude='mount --bind victim w/_TD{dead}/sub/mnt && exec "$@"'),
    *[C('minage-refused-%d' % i, ['/list', a, '/d', '{T}'], E('Invalid minimum age: %s (give /MINAGE:n with n days '
        'under 1900, or a date YYYYMMDD not after today).' % a), MINAGE) for i, a in enumerate(
        ['/MINAGE', '/MINAGE:', '/minage:x', '/MINAGE:-1', '/MINAGE:20251301', '/MINAGE:20230229', '/MINAGE:29991231'])],
    C('xd-without-path', r'/list /v {T} /XD', E('No folder to exclude specified.'), NOXD),
    C('xd-without-path-before-option', r'/XD /list /v {T}', E('No folder to exclude specified.'), NOXD),
    # Logs: the user's, every profile's, the system account's; never through a link.
    C('userlog-removes-only-stale-logs', '/userlog', tree=LOGS + ' {U}/old.{hdead}.t.log/inner/',
      gone='{U}/app.{hdead}.x.log {U}/old.{hdead}.t.log',
      kept='{U}/app.{hlive}.x.log {U}/notes.txt {U}/app.{hdead}.x.LOG'),
    C('userlog-list', '/list /userlog', [r'FOUND LOG: {U}\app.{hdead}.x.log   ', NONE], tree=LOGS,
      kept='{U}/app.{hdead}.x.log'),
    C('userlog-verbose', '/verbose /userlog', tree=LOGS, sort=True,
      out=[r'FOUND LOG: {U}\app.{hdead}.x.log   ' + GONE, r'REMOVED: {U}\app.{hdead}.x.log',
           r'FOUND LOG: {U}\app.{hlive}.x.log   ' + LIVE]),
    C('userlog-missing-folder', '/list /userlog', E(r'The path {U} cannot be found.') + [NONE]),
    C('alllogs-profiles-then-system', '/list /alllogs', tree='{O}/app.{hdead}.x.log {S}/app.{hdead}.x.log',
      out=[r'FOUND LOG: {O}\app.{hdead}.x.log   ', r'FOUND LOG: {S}\app.{hdead}.x.log   ', NONE]),
    C('alllogs-and-userlog-remove', '/userlog /alllogs',
      tree=' '.join('{%s}/app.{hdead}.x.log {%s}/app.{hlive}.x.log' % (p, p) for p in 'UOS'),
      gone=' '.join('{%s}/app.{hdead}.x.log' % p for p in 'UOS'),
      kept=' '.join('{%s}/app.{hlive}.x.log' % p for p in 'UOS')),
    C('alllogs-without-logs-folders', '/alllogs'),
    C('alllogs-kel-folder-a-link', '/verbose /alllogs',
      E(r'{O} : {LOOP}') + [r'FOUND LOG: {S}\app.{hdead}.x.log   ' + GONE, r'REMOVED: {S}\app.{hdead}.x.log'],
      tree='{O}/..->k k/LOGS/app.{hdead}.x.log {S}/app.{hdead}.x.log', kept='k/LOGS/app.{hdead}.x.log'),
    C('userlog-kel-folder-a-link', '/userlog', E(r'{U} : {LOOP}'), tree='{U}/..->k k/LOGS/app.{hdead}.x.log',
      kept='k/LOGS/app.{hdead}.x.log'),
    C('userlog-logs-folder-a-link', '/userlog', E(r'{U} : {LOOP}'), tree=VICTIM + ' {U}->victim', kept=VICTIM),
    C('userlog-linked-log-file', '/userlog', tree=VICTIM + ' {U}/app.{hdead}.x.log->victim', kept=VICTIM,
      gone='{U}/app.{hdead}.x.log',
      wine=dict(out=E(r'{U}\app.{hdead}.x.log : {NOTSUP}'), gone='', kept=VICTIM + ' {U}/app.{hdead}.x.log')),
    # What a run did: /SUMMARY, /JSON, progress.
    C('summary-list', r'/summary /list /d {T}\w /userlog',
      [r'FOUND: {T}\w\_TD{dead}   ', r'FOUND LOG: {U}\app.{hdead}.x.log   ', NONE,
       'Would remove 1 work area and 1 log file: 302 files and folders, 1.5 KB.',
       'Kept 1 (owner running), 1 (another computer), 0 (owner unknown). Failed 0.'],
      tree=['w/_TD{dead}/f%d' % i for i in range(300)] + ['w/_TD{live}/', 'w/_TD{dead}_ELSE_/', '{U}/app.{hdead}.x.log']),
    C('summary-removed-and-failed', r'/summary /d {T}\w', sort=True, tree='w/_TD{dead}/a w/#TD{dead}x/ w/_TD{dead}_{host}_/s/x!',
      out=E(r'{T}\w\_TD{dead}_{host}_\s\x : {LOCKED}') + [
          'Removed 2 work areas and 0 log files: 3 files and folders, 5 B.',
          'Kept 0 (owner running), 0 (another computer), 0 (owner unknown). Failed 1.'],
      gone='w/_TD{dead} w/#TD{dead}x', kept='w/_TD{dead}_{host}_/s/x'),
    C('summary-not-after-a-refusal', '/summary /x', E('Invalid parameter detected: /x'), BAD),
    C('json-every-event', r'/verbose /d {T}\w {T}\nope /json', out=None, gone='w/_TD{dead} w/KEL_util0000{H8}_{host}',
      tree='w/_TD{dead}/a w/_TD{live}/ w/_TD{dead}_ELSE_/ w/_TD{dead}_{host}_/s/x! w/KEL_util0000{H8}_{host}/', json=[
          dict(event='start', list_only=False, host='{host}', time='*', started_at='*'),
          dict(event='item', kind='work_area', path=r'{T}\w\_TD{dead}', owner_pid='{dead}', host=None,
               verdict='stale', action='removed', entries=2, bytes=5),
          dict(event='item', path=r'{T}\w\KEL_util0000{H8}_{host}', owner_pid='{dead}', host='{host}', entries=1),
          dict(event='item', path=r'{T}\w\_TD{live}', verdict='running', action='kept', entries=None),
          dict(event='item', path=r'{T}\w\_TD{dead}_ELSE_', host='ELSE', verdict='other_host', action='kept'),
          dict(event='item', path=r'{T}\w\_TD{dead}_{host}_', verdict='stale', action='failed', entries=3,
               error=dict(code='{#LOCKED}', message='{LOCKED}', path=r'{T}\w\_TD{dead}_{host}_\s\x')),
          dict(event='error', code='{#NOTFOUND}', message='{NOTFOUND}', path=r'{T}\nope'),
          dict(event='summary', list_only=False, work_areas=2, logs=0, entries=3, bytes=5, failed=1,
               kept=dict(running=1, other_host=1, owner_unknown=0), status=0, finished_at='*')],
      sort_events=True),
    C('json-list-a-log', '/json /list /userlog', out=None, tree='{U}/app.{hdead}.x.log', json=[
        dict(event='start', list_only=True),
        dict(event='item', kind='log', path=r'{U}\app.{hdead}.x.log', owner_pid='{dead}', host=None,
             action='would_remove', entries=1, bytes=5),
        dict(event='summary', logs=1, status=0, exit_code=0)]),
    C('json-refused-wherever-it-stands', '/x /json', code=BAD, out=None, json=[
        dict(event='error', code=BAD, message='Invalid parameter detected: /x'), dict(event='summary', status=BAD)]),
    C('json-name-that-is-no-utf8', r'/json /list /v {T}\w', only='posix', out=None, tree='w/b\udcff/_TD{dead}/', json=[
        dict(event='start'), dict(event='item', path='{T}\\w\\b\ufffd\\_TD{dead}', path_raw='{T}\\w\\b\udcff\\_TD{dead}'),
        dict(event='summary', work_areas=1)]),
    # /EVENTLOG: the output unchanged; the events in order, whatever the threads.
    C('eventlog-removed-failed-error-end', r'/eventlog /v {T}\w /d {T}\f /v {T}\nope',
      E(r'{T}\f\_TD{dead}\s\x : {LOCKED}') + E(r'{T}\nope : {NOTFOUND}'), 'NOTFOUND', tree='w/_TD{dead}/a f/_TD{dead}/s/x!',
      gone='w/_TD{dead}', kept='f/_TD{dead}/s/x', posix=dict(log='journal', events=[
          dict(PRIORITY=6, SYSLOG_IDENTIFIER='sweepdirs', MESSAGE_ID='1ee0afcc2f904d5f9b767e1a87df427f',
               MESSAGE=r'REMOVED: {T}\w\_TD{dead} (owner process {dead}, files and folders: 2, bytes: 5)',
               SWEEPDIRS_PATH=r'{T}\w\_TD{dead}', SWEEPDIRS_OWNER_PID='{dead}', SWEEPDIRS_VERDICT='stale',
               SWEEPDIRS_ENTRIES=2, SWEEPDIRS_BYTES=5),
          dict(PRIORITY=3, MESSAGE_ID='ee39d4b94d6241ab8578c4bf64106318', SWEEPDIRS_CODE='{#LOCKED}',
               MESSAGE=r'NOT REMOVED: {T}\f\_TD{dead} (owner process {dead}): ERROR: {T}\f\_TD{dead}\s\x : {LOCKED}'),
          dict(PRIORITY=3, MESSAGE_ID='acff27a2638444cd923bb876cc3d369b', MESSAGE=r'ERROR: {T}\nope : {NOTFOUND}',
               SWEEPDIRS_PATH=r'{T}\nope'),
          dict(PRIORITY=3, MESSAGE_ID='a810c53737194c4c8edac0f7709ae93f', SWEEPDIRS_STATUS='{#NOTFOUND}',
               MESSAGE='Run ended with status {#NOTFOUND} (exit code 3).\nRemoved 1 work area and 0 log files: 2 '
                       'files and folders, 5 B.\nKept 0 (owner running), 0 (another computer), 0 (owner '
                       'unknown). Failed 1.')]), wine=dict(events=[
          r'4 40020035 {T}\w\_TD{dead}|{dead}|2|5',
          r'1 c0020036 {T}\f\_TD{dead}|{dead}|ERROR: {T}\f\_TD{dead}\s\x : {LOCKED}|{#LOCKED}|{T}\f\_TD{dead}\s\x|'
          r'{LOCKED}|3|5', r'1 c0020037 ERROR: {T}\nope : {NOTFOUND}|{#NOTFOUND}|{T}\nope|{NOTFOUND}',
          '1 c0020039 {#NOTFOUND}|{#NOTFOUND}|Removed 1 work area and 0 log files: 2 files and folders, 5 B.\r\n'
          'Kept 0 (owner running), 0 (another computer), 0 (owner unknown). Failed 1.\r\n|1|0|2|5|0|0|0|1'])),
    C('eventlog-to-syslog-where-no-journal', r'/eventlog /d {T}\w', tree='w/_TD{dead}/', gone='w/_TD{dead}',
      only='posix', log='syslog', events=[
          dict(PRIORITY=6, MESSAGE=r'REMOVED: {T}\w\_TD{dead} (owner process {dead}, files and folders: 1, bytes: 0)'),
          dict(PRIORITY=6, MESSAGE='Run ended with status 0 (exit code 0).\nRemoved 1 work area and 0 log files: 1 '
                                   'file or folder, 0 B.\nKept 0 (owner running), 0 (another computer), 0 (owner '
                                   'unknown). Failed 0.')]),
    C('eventlog-nowhere-told-once', r'/eventlog /d {T}\w {T}\nope', E(r'{T}\nope : {NOTFOUND}'), tree='w/_TD{dead}/',
      gone='w/_TD{dead}', only='posix', log='none', events=[],
      stderr='Events cannot be written to the event log: {NOTFOUND}\n'),
    C('progress-on-a-terminal-only', r'/list /v {T}\w', [r'FOUND: {T}\w\b\_TD{dead}   ', NONE],
      tree='w/a/ w/b/_TD{dead}/', pty='Folders walked: 1; stale found: 0; would free 0 B  '),
    # A clock that moves 250 ms a look: a row for every folder, each counted once, empty or not.
    C('progress-a-row-a-folder', r'/list /v {T}\w', [NONE], only='posix', clock='250', tree='w/a/b/c/',
      pty='\rFolders walked: 1; stale found: 0; would free 0 B  *\\w\\\rFolders walked: 2* *\\a\\\rFolders walked: 3* *\\b\\\r'
          'Folders walked: 4; stale found: 0; would free 0 B  *\\w\\a\\b\\c\\\r     '),
    C('names-as-they-are-in-a-file', out=planted(RAW), **PLANT),
    C('names-escaped-on-a-terminal', out=planted(SHOWN), tty=True, **PLANT),
    # A stopped or killed run: every area gone has its line; a stop lets the removal under way end, then sums up.
    C('stop-ends-what-is-under-way', r'/verbose /summary /v {T}\w', None, INTERRUPTED, stops(12), stop='stop:15',
      check=told(True), only='posix'),
    C('ctrl-c-ends-what-is-under-way', r'/verbose /summary /d {T}\w', None, INTERRUPTED, stops(300), ctrlc=True,
      check=told(True, 300), pty='Folders walked: 1; stale found: 0; freed 0 B  *', only='wine'),
    C('kill-leaves-a-line-for-each-removal', r'/verbose /d {T}\w', None, tree=stops(12), stop='stop:9', check=told(False),
      only='posix', prelude='"$@"; r=$?; echo "FINISHED AT TIME: (killed)"; [ $r = 137 ]'),
    C('two-runs-at-once', r'/v {T}\w', None, tree=['w/_TD{dead}_%d/a/b/f%d' % (i, j) for i in range(300) for j in (1, 2)],
      gone='w/_TD{dead}_0 w/_TD{dead}_299', check=lambda lines, *_: lines, only='posix',
      prelude='"$@" & "$@" /MT:1; r=$?; wait $! && exit $r'),
    # A KEL.EXE run by an interpreter (its executable is the interpreter's) is active for root and for another user.
    C('interpreted-kel-active-for-everyone', r'/list /summary /d {T}\w', [NONE, 'Would remove 0 work areas and 0 log '
      'files: 0 files and folders, 0 B.', 'Kept 1 (owner running), 0 (another computer), 0 (owner unknown). '
      'Failed 0.'] * 2, tree='w/', kept='w/_TD*', only='posix', prelude='printf "#!$(command -v python3)\\nimport '
      'time\\ntime.sleep(60)\\n" >KEL.EXE && chmod +x KEL.EXE && {{ ./KEL.EXE & }} && until grep -q KEL /proc/$!/comm; '
      'do sleep 0.01; done && mkdir w/_TD$! && chmod a+x .. && "$@"; setpriv --reuid=65534 --regid=65534 '
      '--clear-groups "$@"; r=$?; kill $!; exit $r'),
    # A folder the walk cannot list, as an ordinary user: plain text passes over it; the numbers and JSON count it.
    *[C('unread-folder-counted' + k, r'/list %s /v {T}\w' % o, out, only='posix', tree='w/a/_TD{dead}/ w/locked/_TD{dead}/',
        **j, sort=True, prelude='chmod a+x .. && chmod 0 w/locked && setpriv --reuid=65534 --regid=65534 --clear-groups "$@"')
      for k, o, out, j in (('', '/summary', [r'FOUND: {T}\w\a\_TD{dead}   ', NONE, 'Would remove 1 work area and 0 log '
                            'files: 1 file or folder, 0 B.', 'Kept 0 (owner running), 0 (another computer), 0 (owner '
                            'unknown). Failed 0.', 'Folders that could not be read, and were not looked into: 1.'], {}),
                           ('-json', '/json', None, dict(json=[dict(event='start'), dict(event='item', path=r'{T}\w\a\_TD{dead}'),
                            dict(event='unread', path=r'{T}\w\locked', code=13, message='Permission denied'),
                            dict(event='summary', work_areas=1, unread=1)], sort_events=True)))],
    # Names without an id beside the same with one: only those with an id are work areas or logs.
    C('names-without-an-id-kept', r'/verbose /d {T}\w /userlog', sort=True, tree=NOID + ' ' + WITHID, kept=NOID,
      gone=WITHID, out=[line for a in WITHID.split() for line in (
          ('FOUND LOG: {U}\\%s   ' % a[4:] if a[1] == 'U' else 'FOUND: {T}\\w\\%s   ' % a[2:-1]) + GONE,
          'REMOVED: ' + ('{U}\\' + a[4:] if a[1] == 'U' else '{T}\\w\\' + a[2:-1]))]),
    # /list counts an item met twice, through a link, once: as the real run does.
    *[C('link-counted-once' + m.replace('/', '-'), r'/summary /v {T}\w ' + m, sort=True, tree='w/a/_TD{dead}/ w/a/_TD{live}/ w/l->w/a',
        out=o + ['%s 1 work area and 0 log files: 1 file or folder, 0 B.' % v, 'Kept 1 (owner running), 0 (another '
                 'computer), 0 (owner unknown). Failed 0.']) for m, v, o in (('', 'Removed', []), ('/list', 'Would remove',
        [r'FOUND: {T}\w\a\_TD{dead}   ', r'FOUND: {T}\w\l\_TD{dead}   ', NONE]))],
]

# A KEL.EXE with a second thread: a copy of the Python interpreter under that name.
KEL = ('import os, threading, time\nt = threading.Thread(target=time.sleep, args=(1e6,), daemon=True)\nt.start()\n'
       'print(os.getpid(), t.native_id, flush=True)\ntime.sleep(1e6)')
DEVNULL, LOGS_PATH = subprocess.DEVNULL, '/AppData/Roaming/KEL/LOGS'


def received(data):
    """The fields of a journal datagram (FIELD=value lines, or FIELD, a 64-bit length and the value), or of a
    syslog one (<priority>time identifier[pid]: message)."""
    syslog = re.fullmatch(rb'<(\d+)>.*? (\w+)\[\d+\]: (.*)', data, re.S)
    if syslog:
        return dict(PRIORITY=str(int(syslog[1]) & 7), SYSLOG_IDENTIFIER=syslog[2].decode(), MESSAGE=syslog[3].decode())
    fields, at = {}, 0
    while at < len(data):
        end = data.index(b'\n', at)
        name, equals, value = data[at:end].partition(b'=')
        if equals:
            at = end + 1
        else:
            size = int.from_bytes(data[end + 1:end + 9], 'little')
            value, at = data[end + 9:end + 9 + size], end + 10 + size
        fields[name.decode()] = value.decode('utf-8', 'surrogateescape')
    return fields


def windows_form(path, drive='C:'):
    return drive + path.replace('/', '\\')


class Posix:
    """The native binary, each run in a private mount namespace whose /home and root's home are folders of the run."""
    name, eol, kel, ctl = 'posix', '\n', None, '\x1b'

    def start(self, base, binary, interposer, sanitized):
        self.base, self.binary, self.interposer, self.sanitized = base, binary, interposer, sanitized
        self.home, errno = pwd.getpwuid(0).pw_dir, __import__('errno')
        for d in ('home', 'root'):
            os.mkdir(os.path.join(base, d))
        self.codes = dict(NOTFOUND=errno.ENOENT, NOFILE=errno.ENOENT, LOOP=errno.ELOOP, LOCKED=errno.EPERM,
                          BUSY=errno.EBUSY, NOTSUP=errno.ENOTSUP)
        self.texts = {k: os.strerror(v) for k, v in self.codes.items()}
        user, tree = (base + '/root' + LOGS_PATH, windows_form(self.home + LOGS_PATH)), base + '/t'
        other = '/home/other' + LOGS_PATH
        self.places = dict(U=user, S=user, O=(base + other, windows_form(other)),
                           T=(tree, windows_form(tree)), t=(tree, windows_form(tree, 'c:')), C=('root', 'C:'), N=(tree, tree),
                           WIN=('var/lib/kel', r'var\lib\kel'))
        shutil.copy(os.path.realpath(sys.executable), base + '/KEL.EXE')
        self.kel = subprocess.Popen([base + '/KEL.EXE', '-c', KEL], stdin=DEVNULL, stdout=subprocess.PIPE)
        self.live, self.tid = map(int, self.kel.stdout.readline().split())

    def run(self, args, case, out):
        env, prelude = dict(os.environ, LC_ALL='C.UTF-8'), case.get('prelude', 'exec "$@"')
        if {'race', 'noid', 'clock', 'short', 'stop'} & case.keys():
            env.update(SWEEPDIRS_TEST_RACE=case.get('race', ''), SWEEPDIRS_TEST_VICTIM=self.base + '/t/victim',
                       SWEEPDIRS_TEST_STOP=case.get('stop', ''),
                       SWEEPDIRS_TEST_HOLD=self.base + '/t/hold', SWEEPDIRS_TEST_NOID=case.get('noid', ''),
                       SWEEPDIRS_TEST_CLOCK=case.get('clock', ''), SWEEPDIRS_TEST_SHORT=case.get('short', ''),
                       ASAN_OPTIONS='verify_asan_link_order=0')
            prelude = prelude.replace('"$@"', 'env LD_PRELOAD=%s "$@"' % self.interposer, 1)
            if 'pty' in case:
                env.update(LD_PRELOAD=self.interposer)
        if 'pty' in case:  # standard error on a terminal, standard output into a file unless tty
            tail = '' if case.get('tty') else ' >%s/stdout' % self.base
            command = shlex.quote(' '.join(map(shlex.quote, [self.binary, *args])) + tail)
            prelude = 'script -qec {0} {1}/screen >/dev/null; r=$?; {2}exit $r'.format(
                command, self.base, 'cat %s/stdout; ' % self.base if tail else '')
        listener, err = None, out
        if 'log' in case:  # the test listens where the journal or syslog would, in the namespace's own /run and /dev
            listener, err = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM), open(self.base + '/stderr', 'w+b')
            listener.bind(self.base + '/log')
            place = dict(journal='mkdir -p /run/systemd/journal && ln -s {0}/log /run/systemd/journal/socket',
                         syslog='mount -t tmpfs none /dev && ln -s {0}/log /dev/log', none='mount -t tmpfs none /dev')
            prelude = 'mount -t tmpfs none /run && %s && %s' % (place[case['log']].format(self.base), prelude)
        script = 'mount --bind {0}/home /home && mount --bind {0}/root {1} && cd {0}/t && {2}'.format(
            self.base, self.home, prelude)
        command = ['unshare', '-m', '--propagation', 'private', 'sh', '-c', script, 'sh', self.binary, *args]
        try:
            return subprocess.run(command, stdin=DEVNULL, stdout=out, stderr=err, env=env,
                                  timeout=case.get('timeout', 300)).returncode
        finally:
            if listener:
                listener.setblocking(False)
                self.events = []
                while True:
                    try:
                        self.events.append(received(listener.recv(1 << 20)))
                    except BlockingIOError:
                        break
                listener.close()
                os.unlink(self.base + '/log')
                err.seek(0)
                self.stderr = err.read().decode()
                err.close()
                os.unlink(self.base + '/stderr')

    def exit(self, status):  # the 8-bit mapping of the run status
        return status if status in (0, 1) else 4 if status == INTERRUPTED else 2 if status > 0xC0020000 else 3

    def lock(self, path, on=True):
        subprocess.run(['chattr', '+i' if on else '-i', path], check=True)

    def close(self):
        if self.kel:
            self.kel.kill()
            self.kel.wait()


class Wine:
    """sweepdirs.exe in one temporary prefix served by one wineserver; outputs go to files, never pipes."""
    name, eol, kel, env = 'wine', '\r\n', None, None
    ctl = '\x9b'  # Wine lists no name that holds a C0 control: the C1 one that starts a sequence

    def start(self, base, windows):
        self.base, self.exe, helpers = base, windows + '/sweepdirs.exe', windows + '/helpers/'
        self.windows = windows
        self.launch, root = helpers + 'launch.exe', base + '/wine'
        self.prefix, drive = root + '/prefix', root + '/prefix/drive_c'
        for d in ('prefix', 'home', 'tmp'):
            os.makedirs(root + '/' + d)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(('WINE', 'DISPLAY', 'WAYLAND'))}
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG='-all', HOME=root + '/home', TMPDIR=root + '/tmp',
                        WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d', LC_ALL='C.UTF-8')
        self.call('wineserver', '-p')
        self.call('wineboot', '-i')
        self.codes = dict(NOTFOUND=3, NOFILE=2, LOOP=1920, LOCKED=5, NOTSUP=50)
        texts = self.call('wine', helpers + 'winfacts.exe', *map(str, self.codes.values())).split('\0')
        self.texts = {k: text.strip() for k, text in zip(self.codes, texts)}
        os.symlink(base + '/t', self.prefix + '/dosdevices/y:')
        me, tree = [u for u in os.listdir(drive + '/users') if u != 'Public'][0], base + '/t'
        system = '/windows/system32/config/systemprofile' + LOGS_PATH
        self.places = dict(U=(drive + '/users/' + me + LOGS_PATH, windows_form('/users/' + me + LOGS_PATH)),
                           O=(drive + '/users/other' + LOGS_PATH, windows_form('/Users/other' + LOGS_PATH)),
                           S=(drive + system, windows_form(system)), C=(drive, 'C:'), WIN=('windows', 'windows'),
                           T=(tree, windows_form(tree, 'Z:')), t=(tree, windows_form(tree, 'z:')))
        with open(root + '/kel', 'w') as f:  # KEL.EXE prints its process and thread ids once it runs
            self.kel = subprocess.Popen(['wine', helpers + 'KEL.EXE'], stdin=DEVNULL, stdout=f, stderr=DEVNULL,
                                        env=self.env)
        for _ in range(6000):
            ids = open(root + '/kel').read()
            if ids.endswith('\n'):
                break
            time.sleep(0.01)
        self.live, self.tid = map(int, ids.split())

    def call(self, *argv):
        with tempfile.TemporaryFile(dir=self.base) as f:
            subprocess.run(argv, stdin=DEVNULL, stdout=f, stderr=DEVNULL, env=self.env, check=True, timeout=300)
            f.seek(0)
            return f.read().decode()

    def run(self, args, case, out):
        if 'pty' in case:  # Wine gives a program run on a terminal a console of its own; ctrlc: Ctrl+C on it
            tail, launch = '' if case.get('tty') else ' >%s/stdout' % self.base, [self.launch] * bool(case.get('ctrlc'))
            command = ' '.join(map(shlex.quote, ['wine', *launch, self.exe, *args])) + tail
            subprocess.run(['script', '-qec', command, self.base + '/screen'], stdin=DEVNULL, stdout=DEVNULL,
                           env=dict(self.env, SWEEPDIRS_TEST_CTRL_C=self.places['T'][1] + '\\w'),
                           timeout=case.get('timeout', 300))
            out.write(open(self.base + '/stdout', 'rb').read() if tail else b'')
            if not launch:
                return 0
        else:
            # With events= Wine traces each event: its type and id (a fixme of advapi), then its strings.
            env, err = self.env, out
            if 'events' in case:
                env, err = dict(self.env, WINEDEBUG='-all,+eventlog,fixme+advapi'), open(self.base + '/stderr', 'w+b')
            for _ in range(2):  # a launcher that Wine did not start at all (it wrote nothing) is started once more
                exe = os.path.join(self.windows, case['exe']) if case.get('exe') else self.exe
                subprocess.run(['wine', self.launch, exe, *args], stdin=DEVNULL, stdout=out, stderr=err,
                               env=env, timeout=case.get('timeout', 300))
                if out.tell():
                    break
            if err is not out:
                events = []
                err.seek(0)
                for line in err.read().decode('utf-8', 'replace').splitlines():
                    event = re.search(r':fixme:advapi:ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),', line)
                    if event:
                        events.append((int(event[1], 16), event[2], []))
                    text = re.search(r':eventlog:ReportEventW L"(.*)"$', line)
                    if text and events:
                        events[-1][2].append(text[1].encode().decode('unicode_escape'))
                self.events = ['%x %s %s' % (kind, id, '|'.join(strings)) for kind, id, strings in events]
                err.close()
                os.unlink(self.base + '/stderr')
        out.seek(0)
        text = out.read()
        at = text.rfind(b'\0')  # the launcher ends the output with a NUL and the exit code
        if at < 0:
            return None
        out.seek(0)
        out.truncate()
        out.write(text[:at])
        return int(text[at + 1:])

    def exit(self, status):
        return status

    def lock(self, path, on=True):  # a read-only file cannot be deleted on Windows
        os.chmod(path, 0o444 if on else 0o644)

    def close(self):
        if self.kel:
            self.kel.kill()
            self.kel.wait()
        if self.env:
            self.call('wineserver', '-k')
            self.call('wineserver', '-w')


def make(entry, target, tree, made, locked):
    """Creates one tree entry, one level at a time (paths may be far longer than the system allows in one call)."""
    entry, _, link = entry.partition('->')
    path = os.path.normpath(os.path.join(tree, entry.rstrip('!')))
    parts, fd = path.split('/')[1:], os.open('/', os.O_RDONLY)
    try:
        for i, name in enumerate(parts):
            here, leaf = '/' + '/'.join(parts[:i + 1]), i == len(parts) - 1 and not entry.endswith('/')
            try:
                if leaf and link:
                    os.symlink(link if link[0] in '/.' else os.path.join(tree, link), name, dir_fd=fd)
                elif leaf:
                    with open(os.open(name, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644, dir_fd=fd), 'w') as f:
                        f.write('data\n')
                else:
                    os.mkdir(name, dir_fd=fd)
                # What is made outside the tree is removed afterwards.
                if not any((here + '/').startswith(m + '/') for m in [tree] + made):
                    made.append(here)
            except FileExistsError:
                pass
            if leaf:
                break
            next_fd = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = next_fd
    finally:
        os.close(fd)
    if entry.endswith('!'):
        target.lock(path)
        locked.append(path)


def fill(value, shown):
    """The expected events with the build's tokens filled in: '{#X}' is the code of X, '{dead}' a number."""
    if isinstance(value, (dict, list)):
        return {k: fill(v, shown) for k, v in value.items()} if isinstance(value, dict) else [fill(v, shown) for v in value]
    if isinstance(value, str) and value.startswith('{#'):
        return shown[value[1:-1]]
    return shown[value[1:-1]] if value in ('{dead}', '{live}') else value.format(**shown) if isinstance(value, str) else value


def matches(event, want):
    for key, value in want.items():
        if key == 'path_raw':
            ok = bytes.fromhex(event.get('path_bytes', '')).decode('utf-8', 'surrogateescape') == value
        elif isinstance(value, dict):
            ok = isinstance(event.get(key), dict) and matches(event[key], value)
        else:
            ok = key in event and (value == '*' or event[key] == value)
        if not ok:
            return False
    return True


def run_case(target, case):
    case = {**case, **case.get(target.name, {})}
    for key in 'args', 'tree', 'gone', 'kept':  # a text holds words, a list the items themselves
        case[key] = case[key].split() if isinstance(case[key], str) else case[key]
    tokens = dict(dead=DEAD, hdead='%x' % DEAD, H8='%08X' % DEAD, live=target.live, hlive='%x' % target.live,
                  L8='%08X' % target.live, tid=target.tid, host=socket.gethostname().split('.')[0].upper()[:15],
                  ctl=target.ctl, ctlx='%02X' % ord(target.ctl))
    tree, shown = {**tokens, **{k: v[0] for k, v in target.places.items()}}, {**tokens, **target.texts}
    shown.update({k: v[1] for k, v in target.places.items()})
    shown.update({'#' + k: v for k, v in target.codes.items()})
    made, locked, fails = [], [], []
    os.mkdir(tree['T'])
    try:
        for entry in case['tree'] + case.get('extra', []):
            make(entry.format(**tree).partition('@')[0], target, tree['T'], made, locked)
        for entry, _, n in (e.format(**tree).partition('@') for e in case['tree'] if '@' in e):
            stamp = time.time() - int(n) * 86400 if int(n) < 1900 else time.mktime(time.strptime(n + '12', '%Y%m%d%H'))
            top = os.path.join(tree['T'], entry.partition('->')[0].rstrip('!/'))
            for p in [top] + [os.path.join(d, x) for d, ds, fs in os.walk(top) for x in ds + fs]:
                os.utime(p, (stamp, stamp), follow_symlinks=False)
        case['prelude'] = case.get('prelude', 'exec "$@"').format(**tree)
        if 'race' in case:
            case['race'] = case['race'].format(**tree)
        args = [a.format(**shown) for a in case['args']]
        if THREAD_OPTION and any(a.lower() == '/v' for a in args):
            args.append(THREAD_OPTION)
        with tempfile.TemporaryFile(dir=target.base) as out:
            code = target.run(args, case, out)
            out.seek(0)
            text = out.read().decode('utf-8', 'surrogateescape')
        want = case['code'] if isinstance(case['code'], int) else target.codes[case['code']]
        if code != target.exit(want):
            fails.append('exit code %s, expected %s' % (code, target.exit(want)))
        rest = text.replace(target.eol, '')
        if '\r' in rest or '\n' in rest or (text and not text.endswith(target.eol)):
            fails.append('line ends')
        lines = text.split(target.eol)[:-1]
        screen = open(target.base + '/screen', encoding='utf-8', errors='surrogateescape', newline='').read() \
            if 'pty' in case else ''
        screen = screen.split('\n', 1)[1] if screen.startswith('Script started') else screen  # names the command
        if '/verbose' in (a.lower() for a in args) and 'json' not in case and not case.get('tty'):
            if lines[:1] and fnmatch.fnmatchcase(lines[0], 'STARTED AT TIME: ?*') and \
                    fnmatch.fnmatchcase(lines[-1], 'FINISHED AT TIME: ?*'):
                lines = lines[1:-1]
            else:
                fails.append('no STARTED and FINISHED lines')
        if case.get('tty'):  # the terminal's own sequences, line breaks and blanks left out
            seen, at = re.sub('\x1b\\[[0-9;?]*[A-Za-z]|\\s', '', screen), 0
            for line in case['out']:
                at = seen.find(re.sub('\\s', '', line.format(**shown)), at)
                if at < 0:
                    fails.append('not on the screen: %r' % line.format(**shown))
                    break
        elif case['out'] is not None:
            expected = [line.format(**shown) for line in case['out']]
            if case.get('sort'):
                lines, expected = sorted(lines), sorted(expected)
            if len(lines) != len(expected) or not all(
                    a == e or '*' in e and fnmatch.fnmatchcase(a, e) for a, e in zip(lines, expected)):
                fails.append('output\n  ' + '\n  '.join(map(repr, lines)) + '\nexpected\n  ' +
                             '\n  '.join(map(repr, expected)))
        if 'check' in case:
            fails += case['check'](lines, tree['T'], shown)
        if 'json' in case:
            events, expected = [json.loads(line) for line in lines], fill(case['json'], shown)
            if case.get('sort_events'):  # the listing's order: items matched in any order
                items = [e for e in events if e['event'] == 'item']
                events = [e for e in events if e['event'] != 'item']
                events[1:1] = [next((e for e in items if matches(e, w)), {}) for w in expected if w['event'] == 'item']
            if len(events) != len(expected) or not all(matches(e, w) for e, w in zip(events, expected)):
                fails.append('events\n  ' + '\n  '.join(map(repr, events)))
        if 'events' in case:
            want = [e.format(**shown) if isinstance(e, str) else {k: str(fill(v, shown)) for k, v in e.items()}
                    for e in case['events']]
            got = target.events
            if len(got) != len(want) or not all(g == w if isinstance(w, str) else matches(g, w)
                                                for g, w in zip(got, want)):
                fails.append('events\n  ' + '\n  '.join(map(repr, got)))
        if 'stderr' in case and target.stderr != case['stderr'].format(**shown):
            fails.append('standard error %r' % target.stderr)
        if 'pty' in case:
            raw = {c for c in ''.join(args + [e.format(**tree) for e in case['tree']])
                   if unicodedata.category(c)[0] == 'C'}
            if raw & set(screen):
                fails.append('raw on the screen: %r' % (raw & set(screen)))
            # drawn, then erased
            drawn = '[^\r]*'.join(map(re.escape, case['pty'].format(**shown).split('*')))
            if not re.search(drawn, screen) or not re.search('\r( {40}|\x1b\\[K)', screen):
                fails.append('screen %r' % screen)
        for p in case['gone']:
            if os.path.lexists(os.path.join(tree['T'], p.format(**tree))):
                fails.append('still there: ' + p)
        for p in case['kept']:
            p = os.path.join(tree['T'], p.format(**tree))
            if not (os.path.lexists(p) or glob.glob(p)):
                fails.append('gone: ' + p)
    except Exception as error:  # a failure to stage or run is the case's failure
        fails.append(repr(error))
    finally:
        for path in locked:
            target.lock(path, False)
        subprocess.run(['rm', '-rf', tree['T'], *made])
    return fails


# --threads N adds /MT:N to every case that walks, and runs only those.
THREAD_OPTION = None


def walks(case):
    args = case['args'].split() if isinstance(case['args'], str) else case['args']
    # A case that names its threads keeps them.
    return any(a.lower() == '/v' for a in args) and not any(a.lower().startswith('/mt:') for a in args)


def main(argv):
    global THREAD_OPTION
    if argv[1:2] == ['list']:
        return print('\n'.join(c['name'] for c in CASES if c.get('only') != 'wine'))
    only = [argv[i + 1] for i, a in enumerate(argv) if a == '--case']
    if '--threads' in argv:
        THREAD_OPTION = '/MT:' + argv[argv.index('--threads') + 1]
        only = only or [c['name'] for c in CASES if walks(c)]
    base = tempfile.mkdtemp(prefix='sweepdirs-e2e-')
    failed = 0
    try:
        target = Wine() if argv[1] == 'wine' else Posix()
        try:
            if argv[1] == 'wine':
                target.start(base, os.path.abspath(argv[2]))
            else:
                target.start(base, *map(os.path.abspath, argv[2:4]), '--sanitized' in argv)
            for case in CASES:
                if case.get('only', target.name) != target.name or only and case['name'] not in only or \
                        case.get('nosan') and getattr(target, 'sanitized', False):
                    continue
                fails = run_case(target, case)
                failed += bool(fails)
                print(('FAIL ' if fails else 'ok   ') + case['name'] + ''.join('\n  ' + f for f in fails), flush=True)
        finally:
            target.close()
    finally:
        subprocess.run(['rm', '-rf', base])
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
