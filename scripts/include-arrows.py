#!/usr/bin/env python3
"""Folder-level include arrows of the source tree.

Every #include "..." of a source or header is resolved to a file of the tree and counted as an arrow
from the including file's folder to the included file's folder (a folder's tools/ counts as the
folder itself; tests - tests/ folders, *_test.cpp, *TestKit.h - are leaves and
are not counted). The folders are ranked by scripts/floors.txt, lowest floor first; an arrow
to a folder ranked above its origin is upward. Prints the upward arrows with the includes behind
them, then every cycle of folders, and exits 1 when an upward arrow is not listed in
scripts/floors.txt as allowed.

  include-arrows.py            upward arrows and cycles
  include-arrows.py --all      every arrow
"""
import collections
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = {'.git', 'build', 'fuzz_seeds', 'testdata'}
FOLDED = ('tools',)


def source_files():
    out = []
    for d, dirs, files in os.walk(ROOT):
        dirs[:] = [x for x in dirs if x not in SKIP and not x.startswith('build-')]
        for f in files:
            if f.endswith(('.h', '.hpp', '.cpp', '.inl')):
                out.append(os.path.relpath(os.path.join(d, f), ROOT))
    return out


def is_test(path):
    return '/tests/' in '/' + path or path.endswith(('_test.cpp', 'TestKit.h'))


def folder_of(path):
    parts = os.path.dirname(path).split('/')
    while len(parts) > 1 and parts[-1] in FOLDED:
        parts.pop()
    return '/'.join(parts)


def read_floors():
    order, allowed = [], set()
    with open(os.path.join(ROOT, 'scripts', 'floors.txt')) as fh:
        for line in fh:
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            if line.startswith('allow '):
                a, b = line[len('allow '):].split('->')
                allowed.add((a.strip(), b.strip()))
            else:
                order.append(line)
    return order, allowed


def main():
    files = source_files()
    fileset = set(files)
    by_name = collections.defaultdict(list)
    for f in files:
        by_name[os.path.basename(f)].append(f)
    include = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
    arrows = collections.defaultdict(list)
    for f in files:
        # Test binaries are leaves: they may use any floor, and nothing includes them.
        if is_test(f):
            continue
        with open(os.path.join(ROOT, f), errors='replace') as fh:
            for line in fh:
                m = include.match(line)
                if not m:
                    continue
                name = m.group(1)
                beside = os.path.normpath(os.path.join(os.path.dirname(f), name))
                if beside in fileset:
                    target = beside
                else:
                    found = [x for x in by_name.get(os.path.basename(name), []) if x.endswith('/' + name) or x == name]
                    if not found:
                        continue
                    target = sorted(found, key=len)[0]
                if is_test(target):
                    continue
                a, b = folder_of(f), folder_of(target)
                if a != b:
                    arrows[(a, b)].append(f'{f} -> {target}')

    order, allowed = read_floors()

    def rank(folder):
        best = None
        for i, prefix in enumerate(order):
            if folder == prefix or folder.startswith(prefix + '/'):
                if best is None or len(prefix) > len(order[best]):
                    best = i
        return best

    if '--all' in sys.argv:
        for (a, b), why in sorted(arrows.items()):
            print(f'{a} -> {b} ({len(why)})')
        return 0

    status = 0
    unranked = sorted({f for pair in arrows for f in pair if rank(f) is None})
    if unranked:
        print('Folders without a floor in scripts/floors.txt:')
        for f in unranked:
            print('  ' + f)
        status = 1
    print('Upward arrows:')
    for (a, b), why in sorted(arrows.items()):
        ra, rb = rank(a), rank(b)
        if ra is None or rb is None or rb <= ra:
            continue
        listed = (a, b) in allowed
        print(f'  {a} -> {b} ({len(why)}){"  [listed]" if listed else ""}')
        if not listed:
            status = 1
            for w in why[:5]:
                print('      ' + w)
    # Cycles: strongly connected components of the folder graph.
    graph = collections.defaultdict(set)
    for a, b in arrows:
        graph[a].add(b)
    index, low, stack, on, comps, counter = {}, {}, [], set(), [], [0]

    def strong(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in graph[v]:
            if w not in index:
                strong(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                comps.append(sorted(comp))

    sys.setrecursionlimit(10000)
    for v in list(graph):
        if v not in index:
            strong(v)
    print('Cycles:')
    for c in comps:
        print('  ' + ' <-> '.join(c))
    return status


if __name__ == '__main__':
    sys.exit(main())
