#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `cmake --install` into a scratch root puts exactly the expected files in
# place: binaries, compressed man pages, udev rules, bash completion, and the
# documents the package carries.
#   install_layout_test.sh BUILD_DIR HAS_SIM
set -uo pipefail
build=$1
has_sim=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0
note() {
    echo "$*" >&2
    failed=1
}

if ! DESTDIR="$root" cmake --install "$build" --prefix /usr >"$root.log" 2>&1; then
    cat "$root.log" >&2
    rm -f "$root.log"
    exit 1
fi
rm -f "$root.log"

expected=(
    etc/default/kestreld
    usr/bin/kestrel
    usr/bin/kestreld
    usr/lib/systemd/system/kestreld.service
    usr/lib/udev/rules.d/60-kestrel.rules
    usr/share/bash-completion/completions/kestrel
    usr/share/bash-completion/completions/kestreld
    usr/share/doc/kestrel/changelog.gz
    usr/share/doc/kestrel/copyright
    usr/share/man/man1/kestrel.1.gz
    usr/share/man/man1/kestreld.1.gz
)
if [ "$has_sim" = 1 ]; then
    expected+=(usr/bin/kestrel-sim usr/share/man/man1/kestrel-sim.1.gz
        usr/share/bash-completion/completions/kestrel-sim)
fi
want=$(printf '%s\n' "${expected[@]}" | sort)
got=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$want" = "$got" ] || note "installed files differ:"$'\n'"$(diff <(echo "$want") <(echo "$got"))"

for bin in usr/bin/kestrel usr/bin/kestreld usr/bin/kestrel-sim; do
    [ -e "$root/$bin" ] || continue
    [ -x "$root/$bin" ] || note "$bin is not executable"
done
# Files are readable by everybody, directories searchable.
bad=$(find "$root" -mindepth 1 -type d ! -perm -0755 -o -type f ! -perm -0644)
[ -z "$bad" ] || note "not readable by all: $bad"

# What is installed is what the sources hold.
cmp -s "$root/usr/lib/udev/rules.d/60-kestrel.rules" "$src/dist/60-kestrel.rules" ||
    note "installed rules differ from dist/60-kestrel.rules"
cmp -s "$root/etc/default/kestreld" "$src/dist/kestreld.default" ||
    note "installed /etc/default/kestreld differs from dist/kestreld.default"
for completion in kestrel kestreld kestrel-sim; do
    f="$root/usr/share/bash-completion/completions/$completion"
    [ -e "$f" ] || continue
    cmp -s "$f" "$src/dist/kestrel.bash-completion" ||
        note "installed completion $completion differs from dist/kestrel.bash-completion"
done
for page in kestrel kestreld kestrel-sim; do
    gz="$root/usr/share/man/man1/$page.1.gz"
    [ -e "$gz" ] || continue
    gzip -dc "$gz" | cmp -s - "$src/dist/$page.1" || note "$page.1.gz does not hold dist/$page.1"
done
gzip -dc "$root/usr/share/doc/kestrel/changelog.gz" | head -1 | grep -q '^kestrel (' ||
    note "changelog.gz does not begin with the package's entry"

# The service unit starts the installed kestreld as a user of its own in the
# group plugdev, never as root, and systemd accepts it and its confinement.
unit="$root/usr/lib/systemd/system/kestreld.service"
for line in EnvironmentFile=-/etc/default/kestreld 'ExecStart=/usr/bin/kestreld $KESTRELD_OPTIONS' DynamicUser=yes SupplementaryGroups=plugdev \
    WantedBy=multi-user.target; do
    grep -qxF -- "$line" "$unit" || note "kestreld.service lacks the line $line"
done
grep -qE '^(User|Group)=' "$unit" && note "kestreld.service names a user or group to run as"
if command -v systemd-analyze >/dev/null; then
    sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$root/kestreld.service"
    systemd-analyze verify --man=no "$root/kestreld.service" >"$root/verify.log" 2>&1 ||
        note "systemd-analyze rejects kestreld.service: $(cat "$root/verify.log")"
    # Exposure at most 2.0 (the threshold counts tenths).
    systemd-analyze security --offline=true --threshold=20 "$root/kestreld.service" \
        >"$root/security.log" 2>&1 ||
        note "kestreld.service is too exposed: $(tail -1 "$root/security.log")"
fi

# The installed utility runs: an empty command line shows the help and
# ends with -2, which the shell sees as 254.
"$root/usr/bin/kestrel" >"$root/out.txt" 2>&1
status=$?
[ $status -eq 254 ] || note "installed kestrel without arguments exited $status, not 254"
grep -q "Nothing To Do" "$root/out.txt" || note "installed kestrel printed no 'Nothing To Do' line"
exit $failed
