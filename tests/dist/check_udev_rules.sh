#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that a udev rules file gives access to exactly the receiver
# identities that the open tries, each in one well-formed line.
#   check_udev_rules.sh RULES_FILE CONNECTION_SOURCE
# Exits 0 when the rules are right, 1 with a reason on stderr otherwise.
set -euo pipefail
rules=$1
source_file=$2

fail() { echo "$rules: $*" >&2; exit 1; }

# The identities table of the open: the lines between "identities[] = {"
# and "};" that hold "{0xVVVV, 0xPPPP, size}".
table=$(sed -n '/identities\[\] = {/,/};/p' "$source_file" |
    grep -oE '\{ *0x[0-9A-Fa-f]{4} *, *0x[0-9A-Fa-f]{4} *, *[0-9]+ *\}' |
    sed -E 's/\{ *0x([0-9A-Fa-f]{4}) *, *0x([0-9A-Fa-f]{4}).*/\1:\2/' | tr 'A-F' 'a-f' | sort) || true
[ "$(printf '%s\n' "$table" | grep -c .)" -eq 4 ] ||
    { echo "$source_file: expected 4 identities, found: $table" >&2; exit 1; }

# The file must sort before systemd's 70-uaccess.rules.
name=$(basename "$rules")
[[ $name =~ ^([0-9]+)-.+\.rules$ ]] || fail "name does not begin with a number"
[ "$((10#${BASH_REMATCH[1]}))" -lt 70 ] || fail "numbered ${BASH_REMATCH[1]}, not below 70"

expected_rest='ENV{ID_SOFTWARE_RADIO}="1"|GROUP="plugdev"|MODE="0660"|SUBSYSTEM=="hidraw"|TAG+="uaccess"'
found=()
lineno=0
while IFS= read -r line || [ -n "$line" ]; do
    lineno=$((lineno + 1))
    trimmed=${line#"${line%%[![:space:]]*}"}
    [ -z "$trimmed" ] || [ "${trimmed:0:1}" = "#" ] && continue
    [ "${line: -1}" != "\\" ] || fail "line $lineno: continued lines are not expected"
    vendor='' product='' rest=()
    IFS=',' read -ra keys <<<"$line"
    for key in "${keys[@]}"; do
        key=$(echo "$key" | sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//')
        if [[ $key =~ ^ATTRS\{idVendor\}==\"(.*)\"$ ]]; then
            vendor=${BASH_REMATCH[1]}
        elif [[ $key =~ ^ATTRS\{idProduct\}==\"(.*)\"$ ]]; then
            product=${BASH_REMATCH[1]}
        else
            rest+=("$key")
        fi
    done
    [[ $vendor =~ ^[0-9a-f]{4}$ ]] || fail "line $lineno: vendor id '$vendor' is not 4 lower-case hex digits"
    [[ $product =~ ^[0-9a-f]{4}$ ]] || fail "line $lineno: product id '$product' is not 4 lower-case hex digits"
    got=$(printf '%s\n' "${rest[@]}" | sort | paste -sd'|')
    [ "$got" = "$expected_rest" ] || fail "line $lineno: expected the keys $expected_rest, found $got"
    found+=("$vendor:$product")
done <"$rules"

listed=$(printf '%s\n' "${found[@]}" | sort)
dups=$(printf '%s\n' "${found[@]}" | sort | uniq -d)
[ -z "$dups" ] || fail "identities listed twice: $dups"
[ "$listed" = "$table" ] || fail "identities differ from the open's table: rules [$(echo $listed)], table [$(echo $table)]"
exit 0
