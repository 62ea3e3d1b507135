#!/usr/bin/env bash
# Installs the build with `cmake --install` into a scratch prefix, builds the
# Debian package with CPack, extracts it into a scratch root with `dpkg -x`
# and runs what it installed: the binary, the manual page, the completions
# and the example questions file. Checks that the package depends on the
# package of every library the binary links dynamically.
#
# Usage: package_test.sh BUILD_DIR SANITIZED
# Exits 77 (skipped) in a sanitizer build, whose binary is not one to ship,
# and where the Debian packaging tools are missing.
set -euo pipefail
build=$(cd "$1" && pwd)
sanitized=$2

skip() {
    echo "skipped: $*"
    exit 77
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

[[ $sanitized == 1 ]] && skip "a sanitizer build is not packaged"
for tool in cpack dpkg-deb dpkg-shlibdeps dpkg ldd; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The files every installation holds, below its prefix.
installed_files=(
    bin/corvellactl
    share/man/man1/corvellactl.1.gz
    share/bash-completion/completions/corvellactl
    share/zsh/vendor-completions/_corvellactl
    share/doc/corvellactl/README.md
    share/doc/corvellactl/examples/questions.json
)

# Runs the installed program below a prefix: --version, then an assessment
# made from the installed example questions, in a scratch directory.
check_program() {
    local prefix=$1 work
    [[ $("$prefix/bin/corvellactl" --version) == "corvellactl 0.1.0" ]] || fail "$prefix: --version"
    work=$(mktemp -d "$scratch/work.XXXXXX")
    (cd "$work" && "$prefix/bin/corvellactl" assessment create --title "Installed" --min-correct 2 \
        --questions "$prefix/share/doc/corvellactl/examples/questions.json" >/dev/null) ||
        fail "$prefix: assessment create with the example questions"
    [[ $(cd "$work" && "$prefix/bin/corvellactl" assessment list) == *'[Draft]  v1  "Installed"  (3 questions, limit 3)' ]] ||
        fail "$prefix: assessment list"
}

echo "== cmake --install"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for file in "${installed_files[@]}"; do
    [[ -f $scratch/prefix/$file ]] || fail "cmake --install did not install $file"
done
check_program "$scratch/prefix"

echo "== cpack -G DEB"
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null) ||
    fail "cpack"
packages=("$scratch"/package/corvellactl_*.deb)
[[ ${#packages[@]} == 1 && -f ${packages[0]} ]] || fail "no single corvellactl_*.deb built"
deb=${packages[0]}
echo "built $(basename "$deb")"

[[ $(dpkg-deb -f "$deb" Package) == corvellactl ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == 0.1.0 ]] || fail "package version"
[[ $(dpkg-deb -f "$deb" Architecture) == $(dpkg --print-architecture) ]] || fail "package architecture"

# Every library the binary loads must come from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
binary=$build/cli/corvellactl
while read -r library; do
    owner=
    for candidate in "$library" "/usr$library" "$(realpath "$library")"; do
        owner=$(dpkg -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1) && [[ -n $owner ]] && break
    done
    [[ -n $owner ]] || fail "no package owns $library"
    [[ ", $depends" == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
        fail "$library comes from $owner, which Depends does not name"
done < <(ldd "$binary" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }')
# On a fresh machine apt must find each of them in the archive.
if command -v apt-cache >/dev/null; then
    for dependency in $(sed 's/([^)]*)//g; s/,/ /g' <<<"$depends"); do
        apt-cache show "$dependency" >/dev/null 2>&1 || fail "apt knows no package $dependency"
    done
fi

listing=$(dpkg-deb -c "$deb")
for file in "${installed_files[@]}"; do
    [[ $listing == *" ./usr/$file"* ]] || fail "the package lacks /usr/$file"
done

echo "== dpkg -x"
dpkg -x "$deb" "$scratch/root"
check_program "$scratch/root/usr"

# The manual page opens with its name, and man reads it where man is found.
# grep reads to the end (no -q): one that stops at the first match would end
# the writer with SIGPIPE, which pipefail reports as a failure.
zcat "$scratch/root/usr/share/man/man1/corvellactl.1.gz" | grep '^\.TH CORVELLACTL 1 ' >/dev/null || fail "manual page"
if command -v man >/dev/null; then
    man -l "$scratch/root/usr/share/man/man1/corvellactl.1.gz" 2>/dev/null | grep 'training assessments, graded attempts' >/dev/null ||
        fail "man -l cannot render the installed page"
fi

# bash-completion finds the completion where it was installed.
loader=/usr/share/bash-completion/bash_completion
if [[ -r $loader ]]; then
    XDG_DATA_DIRS=$scratch/root/usr/share bash --norc --noprofile -c "
        source $loader
        __load_completion corvellactl || exit 1
        complete -p corvellactl" | grep '_corvellactl corvellactl$' >/dev/null ||
        fail "bash-completion does not load the installed completion"
fi
# Debian's zsh looks in vendor-completions.
if command -v zsh >/dev/null; then
    zsh -fc 'print -l $fpath' | grep -x '/usr/share/zsh/vendor-completions' >/dev/null ||
        fail "zsh does not look in /usr/share/zsh/vendor-completions"
    zsh -n "$scratch/root/usr/share/zsh/vendor-completions/_corvellactl" || fail "zsh completion syntax"
fi

echo "package checks passed"
