#!/usr/bin/env bash
# What an administrator gets from an install: the files `cmake --install`
# lays down, the manual page, the bash completion, the Debian package and
# the RPM, whose programs are run on the simulated card and which each
# family's own checkers must pass, and the Ansible collection's archive.
#
# Usage: check_install.sh CHECK SOURCE_DIR BUILD_DIR WORK_DIR [EXTRA]
#   CHECK is one of: files manpage completion package debian rpm collection
#   EXTRA is the zorvisim launcher for package and rpm, the C++ compiler for
#   debian
set -uo pipefail
export LC_ALL=C

check=$1 src=$2 build=$3 work=$4 zorvisim=${5:-} compiler=${5:-c++}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
holds() {  # name command...: the command succeeds; its output shows when it fails
    local name=$1 out
    shift
    out=$("$@" 2>&1) && pass "$name" && return
    fail "$name"
    printf '%s\n' "$out"
    return 1
}
expect_eq() {  # name expected actual
    [ "$2" == "$3" ] && pass "$1" && return
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /'
}
need() {  # tool...: a check that needs them is skipped where one is missing
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
}

rm -rf "$work"
mkdir -p "$work"

# The files every install must hold, relative to the prefix, and the FILES
# given.
installed_files_ok() {  # root label [file...]
    local root=$1 label=$2 f program
    shift 2
    for f in sbin/zorviconfig bin/zorvitemplate; do
        [[ -f $root/$f && -x $root/$f ]] || fail "$label: $f is an executable file"
    done
    for program in zorviconfig zorvitemplate; do
        gzip -dc "$root/share/man/man8/$program.8.gz" | cmp -s - "$src/packaging/$program.8" ||
            fail "$label: share/man/man8/$program.8.gz installed, the source page"
    done
    for f in share/bash-completion/completions/zorvi{config,template} \
        lib/systemd/system/zorvi-{boot,revert@}.service \
        lib/systemd/system-preset/50-zorviconfig.preset "$@"; do
        [ -f "$root/$f" ] || fail "$label: $f installed"
    done
    # The examples folder of the source tree, file for file.
    diff -r "$src/examples" "$root/share/doc/zorviconfig/examples" ||
        fail "$label: the examples installed are the source tree's"
}

# Where Debian looks for a package's licence and changelog.
debian_files=(share/doc/zorviconfig/{copyright,changelog.Debian.gz})

# The programs ship stripped; their debug information is in the debug
# package NAME, whose file list is LISTING, found by build id.
debug_package_ok() {  # root name listing
    local program build_id
    for program in sbin/zorviconfig bin/zorvitemplate; do
        build_id=$(readelf -n "$1/usr/$program" | awk '/Build ID:/ { print $3 }')
        # Without a build id the path is .build-id//.debug, which no package holds.
        holds "$2 holds the debug information of $program (build id '$build_id')" \
            grep -qxF "/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug" <<<"$3"
    done
}

# The programs unpacked under ROOT on the simulated card.
packaged_programs_ok() {  # root
    if [ -z "$zorvisim" ]; then
        echo "no card simulator in this build: the packaged programs are not run"
        return
    fi
    holds "the packaged programs on the simulated card (package.cases)" python3 \
        "$src/tests/harness/run_cases.py" --sim "$zorvisim" --path "$1/usr/sbin" \
        --path "$1/usr/bin" "$src/tests/install/package.cases"
}

check_files() {
    local prefix=$work/prefix
    holds "cmake --install succeeds" cmake --install "$build" --prefix "$prefix" || return
    installed_files_ok "$prefix" "cmake --install" "${debian_files[@]}"

    # bash-completion finds the file by the command's name on its own.
    local found program
    for program in zorviconfig zorvitemplate; do
        found=$(XDG_DATA_DIRS=$prefix/share bash --norc -c '
            source /usr/share/bash-completion/bash_completion
            __load_completion "$1" && complete -p "$1"' _ "$program" 2>&1)
        expect_eq "completion is loaded on demand" "complete -F _$program $program" "$found"

        # man finds the page by its section and name under the prefix.
        holds "man finds $program(8)" env MANPATH="$prefix/share/man" man -w 8 "$program"
    done
}

check_manpage() {
    local page out width
    for page in "$src"/packaging/zorvitemplate.8 "$src"/packaging/zorviconfig.8; do
        for width in 80 60 132; do
            out=$(MANWIDTH=$width man --warnings -l "$page" 2>&1 >/dev/null)
            expect_eq "man renders ${page##*/} without warnings at width $width" "" "$out"
        done
        out=$(groff -man -ww -z "$page" 2>&1)
        expect_eq "groff finds nothing to warn about in ${page##*/}" "" "$out"
    done

    # The sections an administrator looks for, in man(7) order.
    local sections
    sections=$(grep '^\.SH' "$page" | sed 's/^\.SH "\{0,1\}\([^"]*\)"\{0,1\}$/\1/' | tr '\n' '|')
    expect_eq "sections" \
        "NAME|SYNOPSIS|DESCRIPTION|OPTIONS|TEMPLATE FILE|CONFIRMATION|FILES|SYSTEM LOG|EXIT STATUS|DIAGNOSTICS|EXAMPLES|SEE ALSO|" \
        "$sections"

    # The page's key list against the one written out by hand
    # (tests/template/keys.txt): every key with its range and its mode bit,
    # per-function keys written KEYnn.
    local from_list from_page
    from_list=$(awk '!/^#/ && NF {
        key = $1 ($7 == 16 ? "nn" : "")
        if ($2 != "CONFIG") { print key; next }
        print key " " ($4 == "any" ? "any 32-bit value" : "0 to " $4) ($8 == "0" ? "" : " (mode " $8 ")")
        }' "$src/tests/template/keys.txt" | sort)
    from_page=$(awk '/^\.SS/ { keys = /"Keys of/; config = /CONFIG/ }
        keys && /^\.BR? [A-Z]/ { key = $2 $3; getline; print config ? key " " $0 : key }' "$page" | sort)
    expect_eq "every key is on the page with its range" "$from_list" "$from_page"
}

check_completion() {
    local files=$work/files net=$work/net
    mkdir -p "$files/sub"
    touch "$files/basic.ini" "$files/full.ini" "$files/notes.txt"
    # The rows of completion.txt see these interfaces, in a mount namespace of
    # their own: the zorvi cards are the ones whose driver is zorvi, and the
    # third name runs a command wherever a completion expands it.
    mkdir -p "$net/lo"
    local card
    # shellcheck disable=SC2016
    for card in zorvi0/zorvi zorvi1/zorvi 'zorvi$(id>x)/zorvi' eth0/other; do
        mkdir -p "$net/${card%/*}/device"
        ln -s "../../../../bus/pci/drivers/${card#*/}" "$net/${card%/*}/device/driver"
    done
    local expected typed cursor got
    while IFS='|' read -r expected typed cursor; do
        [[ $expected == "#"* ]] && continue
        # shellcheck disable=SC2016
        got=$(cd "$files" && PATH=$build/zorvitemplate:$PATH unshare --map-root-user --mount sh -c '
            mount --bind "$0" /sys/class/net && exec bash --norc -c "$@"' "$net" '
            source /usr/share/bash-completion/bash_completion
            source "$1"
            source "$2"
            read -r -a COMP_WORDS <<<"$3"
            COMP_WORDS+=("$4")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMP_LINE="$3 $4"
            COMP_POINT=${#COMP_LINE}
            COMPREPLY=()
            "_${COMP_WORDS[0]}" "${COMP_WORDS[0]}" "$4" "${COMP_WORDS[COMP_CWORD-1]}"
            printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
        ' _ "$src"/packaging/zorviconfig.bash-completion "$src"/packaging/zorvitemplate.bash-completion \
            "$typed" "$cursor" 2>&1)
        expect_eq "completion of '$typed $cursor'" "$expected" "${got% }"
    done <"$src/tests/install/completion.txt"
    [ ! -e "$files/x" ] || fail "no completion runs a command held in an interface name"
}

build_package() {
    holds "cpack -G DEB builds the package" cpack -G DEB --config "$build/CPackConfig.cmake" \
        -B "$work/pkg"
}

check_package() {
    build_package || return
    local debs=("$work"/pkg/zorviconfig_*.deb)
    local deb=${debs[0]}
    holds "the package is named zorviconfig_VERSION-RELEASE_ARCH.deb" test -f "$deb" ||
        { ls "$work/pkg"; return; }

    local field
    for field in Package=zorviconfig Section=admin Priority=optional \
        Architecture="$(dpkg --print-architecture)"; do
        expect_eq "${field%%=*}" "${field#*=}" "$(dpkg-deb -f "$deb" "${field%%=*}")"
    done
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    holds "Depends comes from the binary's shared libraries, libc6 with a version: '$depends'" \
        grep -Eq '(^|, )libc6 \(>= [0-9.]+\)' <<<"$depends"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "Maintainer is set"
    [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "Description is set"

    # The simulator and the tests are development tools, not part of the
    # package; everything lives under /usr.
    # The boot service is enabled at install and left alone at removal, as
    # debhelper's snippets do it.
    dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$work" ./postinst ./postrm
    holds "postinst enables zorvi-boot.service" \
        grep -q "deb-systemd-helper enable 'zorvi-boot.service'" "$work/postinst"
    holds "postrm purges zorvi-boot.service's state" \
        grep -q "deb-systemd-helper purge 'zorvi-boot.service'" "$work/postrm"

    local contents tools
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
    tools=$(grep -Ei 'zorvisim|preload|/tests?/|_test|harness' <<<"$contents")
    [ -z "$tools" ] || fail "the package holds no development tools:"$'\n'"$tools"
    grep -qv '^\./usr/' <<<"$contents" && fail "every file lives under /usr"

    dpkg -x "$deb" "$work/root" || { fail "dpkg -x unpacks the package"; return; }
    installed_files_ok "$work/root/usr" "package" "${debian_files[@]}"

    debug_package_ok "$work/root" zorviconfig-dbgsym \
        "$(dpkg-deb -c "$work"/pkg/zorviconfig-dbgsym_*.ddeb | awk '{ print substr($6, 2) }')"
    packaged_programs_ok "$work/root"
}

# The package of a hardened build as Debian's checkers see it: lintian finds
# no error and no warning in it or its debug package, and hardening-check
# finds every feature in the packaged binary. Two features show in the
# machine code only where it needs them: stack clash probes appear only in a
# frame larger than a page, which this tool has none of, and the linker marks
# control-flow protection only when every object carries it, which the C
# library's own start files do not on Debian 12. For those two, every
# compilation unit must have been built with the flag, as its debug
# information records.
check_debian() {
    need lintian hardening-check readelf
    build_package || return
    holds "lintian finds no error and no warning" lintian --fail-on error,warning \
        --tag-display-limit 0 -I -E --pedantic "$work"/pkg/*.deb "$work"/pkg/*.ddeb

    if ! dpkg -x "$work"/pkg/zorviconfig_*.deb "$work/root" ||
        ! dpkg -x "$work"/pkg/zorviconfig-dbgsym_*.ddeb "$work/root"; then
        fail "dpkg -x unpacks both packages"
        return
    fi
    local report producers units line
    report=$(hardening-check "$work/root/usr/sbin/zorviconfig" "$work/root/usr/bin/zorvitemplate")
    echo "$report"
    # readelf misses the interpreter a debug file has no room for; nothing else is lost.
    producers=$(readelf --debug-dump=info "$work"/root/usr/lib/debug/.build-id/*/*.debug 2>/dev/null |
        grep 'DW_AT_producer')
    units=$(grep -c . <<<"$producers")
    [ "$units" -gt 0 ] || fail "the debug symbols record the compile options"
    while IFS= read -r line; do
        case $line in
        *:) ;;  # the file name
        *": yes"*) ;;
        *"Stack clash protection: unknown"*)
            expect_eq "units built with -fstack-clash-protection" "$units" \
                "$(grep -c -- '-fstack-clash-protection' <<<"$producers")" ;;
        *"Control flow integrity: no"*)
            if readelf -n "$("$compiler" -print-file-name=Scrt1.o)" | grep -q 'IBT, SHSTK'; then
                fail "the C start files are marked, so the binary must be: $line"
            fi
            expect_eq "units built with -fcf-protection" "$units" \
                "$(grep -c -- '-fcf-protection' <<<"$producers")" ;;
        *) fail "hardening-check:$line" ;;
        esac
    done <<<"$report"
}

# The RPM as the Red Hat family checks one: rpmbuild makes it and its debug
# package from the tree's build recipe; rpmlint, with the settings and the filters
# of packaging/rpmlint.toml, finds no error and no warning in either; it
# holds the files of rpm-files.txt with their modes, its programs without
# their debug information, which zorviconfig-debuginfo holds by build id.
# Its own scriptlets, run on the unpacked package as rpm runs them with
# systemctl acting on that root, enable the boot service at the first
# install (by the package's preset), keep the administrator's choice on an
# upgrade and disable it at removal. The unpacked programs pass
# package.cases on the simulated card.
check_rpm() {
    need rpmbuild rpmlint rpm2cpio cpio systemctl
    holds "rpmbuild builds the packages" rpmbuild -bb --define "_topdir $work/rpmbuild" \
        --define "_rpmdir $work/pkg" \
        --define "_build_name_fmt %%{NAME}-%%{VERSION}-%%{RELEASE}.%%{ARCH}.rpm" \
        "$build/packaging/zorviconfig.rpmbuild" || return
    local rpm=("$work"/pkg/zorviconfig-[0-9]*.rpm) debuginfo=("$work"/pkg/zorviconfig-debuginfo-*.rpm)
    holds "rpmlint finds no error and no warning" rpmlint --strict -c "$src/packaging/rpmlint.toml" \
        "${rpm[0]}" "${debuginfo[0]}"

    local query='[%{FILEMODES:perms} %{FILEUSERNAME}:%{FILEGROUPNAME} (%{FILEFLAGS:fflags}) %{FILENAMES} %{FILELINKTOS}\n]'
    expect_eq "the RPM's files with their modes (rpm-files.txt)" \
        "$(grep -v '^#' "$src/tests/install/rpm-files.txt" | sort)" \
        "$(rpm -qp --qf "$query" "${rpm[0]}" |
            sed -E 's/ $//; s,/\.build-id/[0-9a-f]{2},/.build-id/XX,; s,/XX/[0-9a-f]{38},/XX/ID,' | sort -u)"

    mkdir -p "$work/root"
    (cd "$work/root" && rpm2cpio "${rpm[0]}" | cpio -idm --quiet) || { fail "rpm2cpio unpacks it"; return; }
    installed_files_ok "$work/root/usr" "rpm" share/licenses/zorviconfig/LICENSE

    debug_package_ok "$work/root" zorviconfig-debuginfo "$(rpm -qpl "${debuginfo[0]}")"

    mkdir -p "$work/bin"
    printf '#!/bin/sh\nexec %s --root="%s" "$@"\n' "$(command -v systemctl)" "$work/root" \
        >"$work/bin/systemctl"
    chmod +x "$work/bin/systemctl"
    scriptlet() {  # TAG ARGUMENT: the RPM's scriptlet, as rpm runs it
        PATH=$work/bin:$PATH sh -c "$(rpm -qp --qf "%{$1}" "${rpm[0]}")" "$1" "$2"
    }
    local wants=$work/root/etc/systemd/system/multi-user.target.wants/zorvi-boot.service
    scriptlet POSTIN 1
    holds "the first install enables zorvi-boot.service" test -L "$wants"
    "$work/bin/systemctl" --quiet disable zorvi-boot.service
    scriptlet POSTIN 2
    holds "an upgrade leaves it disabled by the administrator" test ! -L "$wants"
    "$work/bin/systemctl" --quiet enable zorvi-boot.service
    scriptlet PREUN 0
    holds "the removal disables it" test ! -L "$wants"
    packaged_programs_ok "$work/root"
}

# The Ansible collection as Galaxy takes it: ansible-galaxy builds its
# archive from the tree, which holds the files of collection-files.txt, and
# installs it; the installed modules' documentation renders, with no word
# that this ansible-core falls outside the collection's requires_ansible.
check_collection() {
    local -x LC_ALL=C.UTF-8  # Ansible refuses any other encoding
    holds "ansible-galaxy builds the collection" ansible-galaxy collection build \
        --output-path "$work/dist" "$src/ansible/ansible_collections/zorvi/nic" || return
    local archive=("$work"/dist/zorvi-nic-*.tar.gz)
    expect_eq "the archive's files (collection-files.txt)" \
        "$(grep -v '^#' "$src/tests/install/collection-files.txt" | sort)" \
        "$(tar -tzf "${archive[0]}" | sort)"
    holds "ansible-galaxy installs the archive" ansible-galaxy collection install \
        --offline -p "$work/collections" "${archive[0]}" || return
    expect_eq "ansible-doc renders the installed modules without a word" "" \
        "$(ANSIBLE_COLLECTIONS_PATH=$work/collections ANSIBLE_LOCAL_TEMP=$work/tmp ansible-doc \
            zorvi.nic.zorvi_template zorvi.nic.zorvi_template_info 2>&1 >/dev/null)"
}

[[ $check =~ ^(files|manpage|completion|package|debian|rpm|collection)$ ]] ||
    { echo "unknown check: $check"; exit 2; }
"check_$check"
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
