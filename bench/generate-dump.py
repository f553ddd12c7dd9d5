#!/usr/bin/env python3
"""Writes a Subversion dump file (format 2, full texts) of a synthetic
repository to standard output, the same bytes for the same arguments.

Standard layout: trunk/, branches/NAME/, tags/NAME/.  The default repository
has 5,000 revisions: 10,000 text files imported into trunk over ten
revisions (some executable, some symbolic links), a set of large binary
files, then revisions that change, add and delete files on trunk and on the
branches, 20 branches and 50 tags made by copy (some names with blanks), two
of the branches deleted again, and now and then a large binary rewritten.

With --merge-every N, every Nth of those revisions is instead a merge as
"svn merge" makes it: the target branch root's svn:mergeinfo grows and a few
files of the source are written into the target. Two merges in three are
full (trunk into a branch or a branch into trunk, every revision of the
source so far), every third one a cherry-pick of a single earlier revision.
Without the option the output is the same as before it existed.

With --huge-mib N the repository is instead a small one whose trunk holds a
single file of N MiB beside a README (used for the 1 GiB variant).

With --scale N it is instead a long history of N revisions, all of them
small: 300 small text files imported into trunk, then revisions that edit one
to three files on trunk or on a live branch; every 50th revision starts a
branch from trunk, every 100th tags trunk or a branch, every 500th deletes a
branch; --merge-every N makes merges there as well.

A summary (revisions, file content bytes written, files) goes to the file
named by --summary as "key value" lines.
"""

import argparse
import random
import sys

WORDS = ("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu "
         "nu xi omicron pi rho sigma tau upsilon phi chi psi omega convert "
         "branch merge commit revision subversion git tree blob mark stream "
         "import export rule match repository path file line text").split()
AUTHORS = ("alice", "bob", "carol", "dave")
CHUNK = 4 << 20


class Dump:
    def __init__(self, out):
        self.out = out
        self.content_bytes = 0
        self.revision = 0
        self.merges = 0
        self.extra = {}

    def write(self, data):
        self.out.write(data)

    @staticmethod
    def props(pairs):
        block = bytearray()
        for key, value in pairs:
            k = key.encode()
            v = value.encode() if isinstance(value, str) else value
            block += b"K %d\n%s\nV %d\n%s\n" % (len(k), k, len(v), v)
        block += b"PROPS-END\n"
        return bytes(block)

    def header(self, uuid):
        self.write(b"SVN-fs-dump-format-version: 2\n\nUUID: %s\n\n" % uuid.encode())
        props = self.props([("svn:date", "2020-01-01T00:00:00.000000Z")])
        self.write(b"Revision-number: 0\nProp-content-length: %d\nContent-length: %d\n\n%s\n"
                   % (len(props), len(props), props))

    def begin_revision(self, revision, author, log):
        self.revision = revision
        seconds = revision * 97
        date = "2020-01-%02dT%02d:%02d:%02d.000000Z" % (
            1 + seconds // 86400, seconds // 3600 % 24, seconds // 60 % 60, seconds % 60)
        props = self.props([("svn:author", author), ("svn:date", date), ("svn:log", log)])
        self.write(b"Revision-number: %d\nProp-content-length: %d\nContent-length: %d\n\n%s\n"
                   % (revision, len(props), len(props), props))

    def node(self, path, action, kind=None, props=None, text=None, copy_from=None):
        """text: bytes, or (length, iterable of chunks)."""
        lines = [b"Node-path: %s" % path.encode()]
        if kind:
            lines.append(b"Node-kind: %s" % kind.encode())
        lines.append(b"Node-action: %s" % action.encode())
        if copy_from:
            lines.append(b"Node-copyfrom-rev: %d" % copy_from[1])
            lines.append(b"Node-copyfrom-path: %s" % copy_from[0].encode())
        prop_block = self.props(props) if props is not None else b""
        if isinstance(text, bytes):
            text_length, chunks = len(text), (text,)
        elif text is not None:
            text_length, chunks = text
        else:
            text_length, chunks = None, ()
        if props is not None:
            lines.append(b"Prop-content-length: %d" % len(prop_block))
        if text_length is not None:
            lines.append(b"Text-content-length: %d" % text_length)
        if props is not None or text_length is not None:
            lines.append(b"Content-length: %d" % (len(prop_block) + (text_length or 0)))
        self.write(b"\n".join(lines) + b"\n\n")
        self.write(prop_block)
        written = 0
        for chunk in chunks:
            self.write(chunk)
            written += len(chunk)
        if text_length is not None:
            assert written == text_length, (path, written, text_length)
            self.content_bytes += text_length
        self.write(b"\n\n")


class Branch:
    """The files of one branch: relative path -> kind ("text", "exec",
    "link", "binary"), with a list for picking at random."""

    def __init__(self, root):
        self.root = root
        self.kinds = {}
        self.paths = []
        self.index = {}

    def copy(self, root):
        other = Branch(root)
        other.kinds = dict(self.kinds)
        other.paths = list(self.paths)
        other.index = dict(self.index)
        return other

    def add(self, path, kind):
        self.kinds[path] = kind
        self.index[path] = len(self.paths)
        self.paths.append(path)

    def remove(self, path):
        position = self.index.pop(path)
        last = self.paths.pop()
        if position < len(self.paths):
            self.paths[position] = last
            self.index[last] = position
        del self.kinds[path]


def text_content(rng, path, version):
    count = rng.randint(3, 60)
    lines = ["%s version %d" % (path, version)]
    for _ in range(count):
        lines.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12))))
    return ("\n".join(lines) + "\n").encode()


def binary_content(rng, size):
    def chunks():
        left = size
        while left:
            n = min(CHUNK, left)
            yield rng.randbytes(n)
            left -= n
    return size, chunks()


def write_file(dump, rng, branch, relative, kind, action, version):
    path = branch.root + "/" + relative
    if kind == "link":
        target = relative.rsplit("/", 1)[-1].replace("link", "file") + ".txt"
        dump.node(path, action, "file", [("svn:special", "*")], b"link " + target.encode())
    elif kind == "binary":
        props = [("svn:mime-type", "application/octet-stream")] if action == "add" else None
        dump.node(path, action, "file", props, binary_content(rng, rng.randint(1, 16) << 20))
    else:
        props = None
        if action == "add":
            props = [("svn:executable", "*")] if kind == "exec" else []
        dump.node(path, action, "file", props, text_content(rng, path, version))


class MergeTracker:
    """What each branch has merged from which source path, and which
    revisions changed each branch, for svn:mergeinfo values."""

    def __init__(self):
        self.merged = {"trunk": {}}
        self.created = {"trunk": 1}
        self.changes = {"trunk": []}

    def branch_made(self, name, revision):
        self.merged[name] = {path: list(ranges) for path, ranges in self.merged["trunk"].items()}
        self.created[name] = revision
        self.changes[name] = []

    def changed(self, name, revision):
        self.changes[name].append(revision)

    def value(self, target):
        lines = []
        for path in sorted(self.merged[target]):
            ranges = self.merged[target][path]
            lines.append("/%s:%s" % (path, ",".join(
                "%d" % a if a == b else "%d-%d" % (a, b) for a, b in ranges)))
        return "\n".join(lines)

    def add(self, target, path, first, last):
        ranges = sorted(self.merged[target].get(path, []) + [(first, last)])
        melted = []
        for a, b in ranges:
            if melted and a <= melted[-1][1] + 1:
                melted[-1] = (melted[-1][0], max(b, melted[-1][1]))
            else:
                melted.append((a, b))
        self.merged[target][path] = melted


def write_merge(dump, rng, tracker, branches, revision, count, version):
    """A merge revision; returns the new content version, or None when no
    merge fits (then the revision is ordinary work)."""
    names = sorted(b for b in branches if b != "trunk")
    if not names:
        return None
    feature = rng.choice(names)
    source, target = (feature, "trunk") if count % 2 else ("trunk", feature)
    done = tracker.changes[source]
    partial = count % 3 == 2
    if partial and len(done) < 2:
        return None
    if partial:
        first = last = done[-2]
        log = "Cherry-pick r%d from %s into %s" % (first, source, target)
    else:
        first, last = tracker.created[source], revision - 1
        log = "Merge %s into %s" % (source, target)
    tracker.add(target, branches[source].root, first, last)
    dump.begin_revision(revision, AUTHORS[revision % 4], log)
    dump.node(branches[target].root, "change", "dir", [("svn:mergeinfo", tracker.value(target))])
    for _ in range(rng.randint(1, 3)):
        relative = rng.choice(branches[source].paths)
        if branches[target].kinds.get(relative) not in ("text", "exec"):
            continue
        version += 1
        write_file(dump, rng, branches[target], relative, branches[target].kinds[relative],
                   "change", version)
    tracker.changed(target, revision)
    dump.merges += 1
    return version


def generate_main(dump, rng, args):
    revision = 1
    dump.begin_revision(revision, "alice", "Standard layout")
    for top in ("trunk", "branches", "tags"):
        dump.node(top, "add", "dir", [])
    trunk = Branch("trunk")
    branches = {"trunk": trunk}
    version = 0

    directories = 100
    per_revision = -(-args.files // 10)
    made = 0
    for step in range(10):
        revision += 1
        dump.begin_revision(revision, AUTHORS[step % 4], "Import part %d" % (step + 1))
        if step == 0:
            dump.node("trunk/src", "add", "dir", [])
            for d in range(directories):
                dump.node("trunk/src/d%02d" % d, "add", "dir", [])
        for _ in range(per_revision):
            if made >= args.files:
                break
            d = made % directories
            if made % 200 == 199:
                kind, name = "link", "link%04d" % made
            elif made % 50 == 7:
                kind, name = "exec", "tool%04d.sh" % made
            else:
                kind, name = "text", "file%04d.txt" % made
            relative = "src/d%02d/%s" % (d, name)
            version += 1
            write_file(dump, rng, trunk, relative, kind, "add", version)
            trunk.add(relative, kind)
            made += 1

    revision += 1
    dump.begin_revision(revision, "bob", "Add large binary assets")
    dump.node("trunk/assets", "add", "dir", [])
    for n in range(args.large_files):
        relative = "assets/blob%02d.bin" % n
        write_file(dump, rng, trunk, relative, "binary", "add", 0)
        trunk.add(relative, "binary")

    first_free = revision + 1
    span = args.revisions - first_free + 1
    events = {}
    for n in range(args.branches):
        events[first_free + 5 + n * (span - 10) // args.branches] = ("branch", n)
    for n in range(args.tags):
        r = first_free + 7 + n * (span - 10) // args.tags
        while r in events:
            r += 1
        events[r] = ("tag", n)
    deleted = 0
    for n in range(2):
        r = first_free + span * (3 + n) // 5
        while r in events:
            r += 1
        events[r] = ("delete", n)

    tags_made = 0
    tracker = MergeTracker()
    merges_made = 0
    for revision in range(first_free, args.revisions + 1):
        author = AUTHORS[revision % 4]
        event = events.get(revision)
        if event and event[0] == "branch":
            name = "feature-%02d" % event[1]
            dump.begin_revision(revision, author, "Start branch %s" % name)
            dump.node("branches/" + name, "add", "dir", copy_from=("trunk", revision - 1))
            branches[name] = trunk.copy("branches/" + name)
            tracker.branch_made(name, revision)
            continue
        if event and event[0] == "tag":
            source = rng.choice(sorted(branches))
            name = "release %d.%d" % (tags_made // 10, tags_made % 10) if tags_made % 5 == 4 \
                else "release-%d.%d" % (tags_made // 10, tags_made % 10)
            tags_made += 1
            dump.begin_revision(revision, author, "Tag %s from %s" % (name, source))
            dump.node("tags/" + name, "add", "dir", copy_from=(branches[source].root, revision - 1))
            continue
        if event and event[0] == "delete" and len(branches) > 1:
            name = sorted(b for b in branches if b != "trunk")[deleted * 3 % (len(branches) - 1)]
            deleted += 1
            dump.begin_revision(revision, author, "Drop branch %s" % name)
            dump.node("branches/" + name, "delete")
            del branches[name]
            continue
        if args.merge_every and (revision - first_free) % args.merge_every == args.merge_every - 1:
            merged = write_merge(dump, rng, tracker, branches, revision, merges_made, version)
            if merged is not None:
                version = merged
                merges_made += 1
                continue

        name = "trunk" if rng.random() < 0.6 else rng.choice(sorted(branches))
        branch = branches[name]
        if args.merge_every:
            tracker.changed(name, revision)
        dump.begin_revision(revision, author, "Work on %s in r%d" % (name, revision))
        roll = rng.random()
        if roll < 0.004 and any(k == "binary" for k in trunk.kinds.values()):
            relative = "assets/blob%02d.bin" % rng.randrange(args.large_files)
            write_file(dump, rng, trunk, relative, "binary", "change", 0)
            continue
        changed = set()
        for _ in range(rng.randint(1, 4)):
            relative = rng.choice(branch.paths)
            if branch.kinds[relative] not in ("text", "exec") or relative in changed:
                continue
            changed.add(relative)
            version += 1
            write_file(dump, rng, branch, relative, branch.kinds[relative], "change", version)
        if roll > 0.9:
            relative = "src/d%02d/new-r%d.txt" % (rng.randrange(directories), revision)
            version += 1
            write_file(dump, rng, branch, relative, "text", "add", version)
            branch.add(relative, "text")
        elif roll < 0.05 and len(branch.paths) > 100:
            relative = rng.choice(branch.paths)
            if relative not in changed and branch.kinds[relative] in ("text", "exec"):
                dump.node(branch.root + "/" + relative, "delete")
                branch.remove(relative)
    return args.revisions, len(trunk.paths)


def generate_huge(dump, rng, args):
    dump.begin_revision(1, "alice", "Standard layout")
    for top in ("trunk", "branches", "tags"):
        dump.node(top, "add", "dir", [])
    dump.begin_revision(2, "bob", "Add one huge file")
    dump.node("trunk/README", "add", "file", [], b"One huge file.\n")
    dump.node("trunk/huge.bin", "add", "file", [("svn:mime-type", "application/octet-stream")],
              binary_content(rng, args.huge_mib << 20))
    dump.begin_revision(3, "alice", "Change the README")
    dump.node("trunk/README", "change", "file", None, b"One huge file, untouched.\n")
    dump.begin_revision(4, "bob", "Branch it")
    dump.node("branches/copy", "add", "dir", copy_from=("trunk", 3))
    return 4, 2


def generate_scale(dump, rng, args):
    dump.begin_revision(1, "alice", "Standard layout")
    for top in ("trunk", "branches", "tags"):
        dump.node(top, "add", "dir", [])
    trunk = Branch("trunk")
    dump.begin_revision(2, "bob", "Import")
    directories = 10
    for d in range(directories):
        dump.node("trunk/d%d" % d, "add", "dir", [])
    version = 0
    for n in range(300):
        relative = "d%d/file%03d.txt" % (n % directories, n)
        version += 1
        write_file(dump, rng, trunk, relative, "text", "add", version)
        trunk.add(relative, "text")

    # Live branches in the order made, so that picking one stays cheap.
    live = ["trunk"]
    branches = {"trunk": trunk}
    made = tags = merges = 0
    tracker = MergeTracker()
    for revision in range(3, args.scale + 1):
        author = AUTHORS[revision % 4]
        if revision % 500 == 0 and len(live) > 1:
            name = live.pop(rng.randrange(1, len(live)))
            dump.begin_revision(revision, author, "Drop branch %s" % name)
            dump.node(branches.pop(name).root, "delete")
        elif revision % 100 == 0:
            source = branches[rng.choice(live)]
            name = "v%d" % tags
            tags += 1
            dump.begin_revision(revision, author, "Tag %s" % name)
            dump.node("tags/" + name, "add", "dir", copy_from=(source.root, revision - 1))
        elif revision % 50 == 0:
            name = "b%d" % made
            made += 1
            dump.begin_revision(revision, author, "Start branch %s" % name)
            dump.node("branches/" + name, "add", "dir", copy_from=("trunk", revision - 1))
            branches[name] = trunk.copy("branches/" + name)
            live.append(name)
            tracker.branch_made(name, revision)
        else:
            if args.merge_every and revision % args.merge_every == 0:
                merged = write_merge(dump, rng, tracker, branches, revision, merges, version)
                if merged is not None:
                    version = merged
                    merges += 1
                    continue
            name = "trunk" if rng.random() < 0.5 else rng.choice(live)
            tracker.changed(name, revision)
            branch = branches[name]
            dump.begin_revision(revision, author, "Work on %s in r%d" % (name, revision))
            for relative in rng.sample(branch.paths, rng.randint(1, 3)):
                version += 1
                write_file(dump, rng, branch, relative, "text", "change", version)
    dump.extra = {"branches": made, "tags": tags, "branches_deleted": made + 1 - len(live)}
    return args.scale, len(trunk.paths)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=20240301)
    parser.add_argument("--revisions", type=int, default=5000)
    parser.add_argument("--branches", type=int, default=20)
    parser.add_argument("--tags", type=int, default=50)
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--large-files", type=int, default=8)
    parser.add_argument("--huge-mib", type=int, default=0)
    parser.add_argument("--merge-every", type=int, default=0)
    parser.add_argument("--scale", type=int, default=0, metavar="N")
    parser.add_argument("--summary", required=True)
    args = parser.parse_args()
    if args.scale and args.scale < 3:
        parser.error("--scale must be at least 3")
    if not args.huge_mib and args.revisions < 100:
        parser.error("--revisions must be at least 100")

    rng = random.Random(args.seed)
    out = sys.stdout.buffer
    dump = Dump(out)
    dump.header("00000000-0000-4000-8000-%012d" % args.seed)
    if args.huge_mib:
        revisions, files = generate_huge(dump, rng, args)
    elif args.scale:
        revisions, files = generate_scale(dump, rng, args)
    else:
        revisions, files = generate_main(dump, rng, args)
    out.flush()
    with open(args.summary, "w") as summary:
        summary.write("revisions %d\ncontent_bytes %d\nfiles %d\n" % (revisions, dump.content_bytes, files))
        if args.merge_every:
            summary.write("merges %d\n" % dump.merges)
        for key, value in dump.extra.items():
            summary.write("%s %d\n" % (key, value))


if __name__ == "__main__":
    main()
