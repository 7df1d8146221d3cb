#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from the build tree, checks its name, control
# fields and contents, runs lintian on it (no errors allowed), unpacks it
# into a scratch root and runs the unpacked kestrel.
#   package_test.sh SOURCE_DIR BUILD_DIR HAS_SIM
set -uo pipefail
src=$1
build=$2
has_sim=$3
scratch=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
failed=0
note() {
    echo "$*" >&2
    failed=1
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    exit 1
fi
version=$(sed -nE 's/^project\(kestrel VERSION ([0-9.]+).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
deb="$scratch/out/kestrel_${version}_${arch}.deb"
[ -f "$deb" ] || { note "no package $deb; made: $(ls "$scratch/out")"; exit 1; }

# Control fields; Depends comes from dpkg-shlibdeps.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrel ] || note "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || note "Version is '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || note "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for lib in libc6 libhidapi-hidraw0; do
    grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || note "Depends lacks $lib: '$depends'"
done
[ -n "$(field Maintainer)" ] || note "no Maintainer"

# Contents.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||')
for f in etc/default/kestreld usr/bin/kestrel usr/share/man/man1/kestrel.1.gz usr/lib/udev/rules.d/60-kestrel.rules \
    usr/bin/kestreld usr/share/man/man1/kestreld.1.gz usr/share/bash-completion/completions/kestreld \
    usr/lib/systemd/system/kestreld.service \
    usr/share/bash-completion/completions/kestrel usr/share/doc/kestrel/copyright \
    usr/share/doc/kestrel/changelog.gz; do
    grep -qx "$f" <<<"$contents" || note "package lacks $f"
done
if [ "$has_sim" = 1 ]; then
    for f in usr/bin/kestrel-sim usr/share/man/man1/kestrel-sim.1.gz; do
        grep -qx "$f" <<<"$contents" || note "package lacks $f"
    done
fi
owners=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
[ -z "$owners" ] || note "files not owned by root: $owners"

# The options file is a conffile. The service stays disabled: no maintainer
# script enables or starts it; prerm stops it on removal. The scripts are
# POSIX sh that stops at the first failure.
dpkg-deb -e "$deb" "$scratch/control"
[ "$(cat "$scratch/control/conffiles")" = /etc/default/kestreld ] || note "conffiles is not /etc/default/kestreld"
grep -nE '(systemctl|deb-systemd-[a-z]+).*\b(enable|start|restart|unmask)\b' "$scratch/control"/*[a-z]rm \
    "$scratch/control"/*inst && note "a maintainer script enables or starts kestreld"
grep -q '^ *deb-systemd-invoke stop kestreld.service' "$scratch/control/prerm" || note "prerm does not stop kestreld"
for script in postinst prerm postrm; do
    f="$scratch/control/$script"
    { [ -x "$f" ] && [ "$(head -1 "$f")" = '#!/bin/sh' ] && grep -qx 'set -e' "$f" && sh -n "$f"; } ||
        note "$script is not an executable POSIX sh script with set -e"
done

# lintian: no errors.
if ! lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1; then
    note "lintian found errors:"$'\n'"$(cat "$scratch/lintian.log")"
fi

# Unpacked into a scratch root, the binary is stripped and runs.
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
kestrel="$root/usr/bin/kestrel"
file "$kestrel" | grep -q 'not stripped' && note "usr/bin/kestrel is not stripped"
"$kestrel" >"$scratch/empty.out" 2>&1
status=$?
[ $status -eq 254 ] || note "kestrel without arguments exited $status, not 254"
grep -q "Nothing To Do" "$scratch/empty.out" || note "kestrel without arguments printed no help"

# With no receiver on the drive path given, the open fails with 255.
mkdir -p "$scratch/empty-drive"
"$kestrel" -P"$scratch/empty-drive/" -V >"$scratch/none.out" 2>"$scratch/none.err"
status=$?
[ $status -eq 255 ] || note "kestrel with no receiver exited $status, not 255"
grep -q "Cannot open TALMIR SDR!" "$scratch/none.out" || note "no 'Cannot open' line: $(cat "$scratch/none.out")"

# The unpacked kestrel against the unpacked kestrel-sim, over the drive files.
if [ "$has_sim" = 1 ]; then
    drive="$scratch/drive"
    mkdir -p "$drive"
    "$root/usr/bin/kestrel-sim" --msd "$drive" --state-out "$scratch/sim.state" \
        --ready-file "$scratch/sim.ready" >"$scratch/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -e "$scratch/sim.ready" ] && break
        sleep 0.05
    done
    if [ ! -e "$scratch/sim.ready" ]; then
        note "kestrel-sim did not start: $(cat "$scratch/sim.out")"
    else
        "$kestrel" -P"$drive/" -F14100000 -G14 >"$scratch/run.out" 2>"$scratch/run.err"
        status=$?
        [ $status -eq 0 ] || note "kestrel against kestrel-sim exited $status"
        [ ! -s "$scratch/run.err" ] || note "kestrel printed on stderr: $(cat "$scratch/run.err")"
        for line in "TALMIR MSD Device device was found!!!" \
            $'RX Frequency 14100000 (Hz) for the channel 0\r' "ACK Frequency " $'RF gain 14dB => 64\r'; do
            grep -qF -- "$line" "$scratch/run.out" ||
                note "kestrel against kestrel-sim did not print '$line':"$'\n'"$(cat -A "$scratch/run.out")"
        done
        grep -qx 'freq.0 14100000' "$scratch/sim.state" || note "kestrel-sim was not tuned to 14100000 Hz"
        grep -qx 'rfgain.0 64' "$scratch/sim.state" || note "kestrel-sim did not get the RF gain code 64"
    fi
fi
exit $failed
