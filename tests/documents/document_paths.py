#!/usr/bin/env python3
"""Fails when a document names a file of the source tree that is not there.

Read: every Markdown file of the tree and the manual page. A path is a word
(split at white space, quotes, backticks, brackets, commas and equals signs;
trailing punctuation and emphasis stripped) that
  - holds a slash and begins with one of the tree's top-level folders
    ("cli/store/commit.cpp", "fuzz/corpus/<target>/", "bench/"): the file
    or folder must exist;
  - has no slash and is a source file name ("files_test.cpp",
    "reliability.py"): a file of that name must exist somewhere in the tree;
  - has no slash and is a top-level document name ("RELIABILITY.md",
    "CMakeLists.txt"): it must exist at the top.
A part in angle brackets, or a "*", stands for any name. Absolute paths,
paths under ~ or a $VARIABLE, paths in build trees (folders the tree does not
hold) and URLs are the user's files or examples, and are not checked.

Usage: document_paths.py <source-dir>
"""

import fnmatch
import os
import re
import subprocess
import sys

SOURCE_FILE = re.compile(r"^[A-Za-z_<][A-Za-z0-9_.<>*-]*\.(cpp|h|py|sh|cmake)$")
TOP_LEVEL_DOCUMENT = re.compile(r"^[A-Z][A-Za-z0-9_-]*\.(md|txt)$")
SEPARATORS = re.compile(r"[\s`'\"()\[\]{}=,;|]+")
# Font changes and special characters of roff become nothing or a space.
ROFF = [(re.compile(r"\\f(\[[^\]]*\]|\(..|.)"), ""), (re.compile(r"\\\(..|\\e"), " "),
        (re.compile(r"\\-"), "-"), (re.compile(r"\\&"), "")]


def source_files(root):
    """What git tracks or would add; outside a git checkout, every file but
    those of hidden folders and of build trees at the top."""
    try:
        listing = subprocess.run(["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard", "-z"],
                                 check=True, capture_output=True, text=True).stdout
        return {path for path in listing.split("\0") if path and os.path.isfile(os.path.join(root, path))}
    except (OSError, subprocess.CalledProcessError):
        files = set()
        for folder, subfolders, names in os.walk(root):
            subfolders[:] = [name for name in subfolders
                             if not name.startswith(".") and not (folder == root and name.startswith("build"))]
            files.update(os.path.relpath(os.path.join(folder, name), root) for name in names)
        return files


def words(document, text):
    """(line number, word) for every word of the document."""
    if document.endswith(".1"):
        for pattern, replacement in ROFF:
            text = pattern.sub(replacement, text)
    for number, line in enumerate(text.splitlines(), start=1):
        for word in SEPARATORS.split(line):
            word = re.sub(r":\d+$", "", word.strip("*.:!?"))
            if word:
                yield number, word


def matches(path, names):
    """Whether `path`, its placeholders taken as wildcards, is one of the names."""
    pattern = re.sub(r"<[^>]*>", "*", path)
    if "*" in pattern:
        return any(fnmatch.fnmatchcase(name, pattern) for name in names)
    return pattern in names


def main():
    root = os.path.abspath(sys.argv[1])
    files = source_files(root)
    folders = {"/".join(path.split("/")[:depth]) for path in files for depth in range(1, path.count("/") + 1)}
    top_folders = {folder for folder in folders if "/" not in folder}
    top_files = {path for path in files if "/" not in path}
    base_names = {os.path.basename(path) for path in files}
    documents = sorted(path for path in files if path.endswith(".md") or re.match(r"^man/.*\.\d$", path))

    missing = []
    checked = 0
    for document in documents:
        with open(os.path.join(root, document), encoding="utf-8") as stream:
            text = stream.read()
        for number, word in words(document, text):
            if "://" in word or word.startswith(("/", "~", "$")):
                continue
            word = word.removeprefix("./")
            if "/" in word:
                if word.split("/", 1)[0] not in top_folders:
                    continue
                found = matches(word.rstrip("/"), files | folders)
            elif SOURCE_FILE.match(word):
                found = matches(word, base_names)
            elif TOP_LEVEL_DOCUMENT.match(word):
                found = word in top_files
            else:
                continue
            checked += 1
            if not found:
                missing.append(f"{document}:{number}: {word}")

    for line in missing:
        print(f"no such file in the source tree: {line}")
    print(f"{checked} path(s) named in {len(documents)} document(s); {len(missing)} missing")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
