#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The udev rules file must list exactly the receiver identities of the open,
# each with the access keys. The checker itself is tried on broken copies.
#   udev_rules_test.sh SOURCE_DIR
set -euo pipefail
src=$1
check="$src/tests/dist/check_udev_rules.sh"
rules="$src/dist/60-kestrel.rules"
conn="$src/src/fe_connection.cpp"

bash "$check" "$rules" "$conn"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Each broken copy must be refused: name | sed program applied to the rules.
cases=(
    "upper-case ids|s/\"255d\"/\"255D\"/"
    "identity missing|/idProduct}==\"0006\"/d"
    "extra identity|\$a SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"1234\", ATTRS{idProduct}==\"5678\", ENV{ID_SOFTWARE_RADIO}=\"1\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\""
    "identity twice|/idProduct}==\"0002\"/p"
    "no uaccess tag|0,/TAG+=\"uaccess\", /s///"
    "world-writable|0,/MODE=\"0660\"/s//MODE=\"0666\"/"
    "no radio flag|0,/ENV{ID_SOFTWARE_RADIO}=\"1\", /s///"
    "usb instead of hidraw|0,/SUBSYSTEM==\"hidraw\"/s//SUBSYSTEM==\"usb\"/"
    "group missing|0,/, GROUP=\"plugdev\"/s///"
)
failed=0
for c in "${cases[@]}"; do
    name=${c%%|*}
    program=${c#*|}
    sed -e "$program" "$rules" >"$scratch/60-kestrel.rules"
    if cmp -s "$rules" "$scratch/60-kestrel.rules"; then
        echo "case '$name' changed nothing" >&2
        failed=1
    elif bash "$check" "$scratch/60-kestrel.rules" "$conn" 2>/dev/null; then
        echo "case '$name' was not refused" >&2
        failed=1
    fi
done

# Numbered at or after 70 the tag comes too late.
cp "$rules" "$scratch/75-kestrel.rules"
if bash "$check" "$scratch/75-kestrel.rules" "$conn" 2>/dev/null; then
    echo "a rules file numbered 75 was not refused" >&2
    failed=1
fi

# A changed identity table must show up too.
sed -e 's/{0x255D, 0x0006, 7}/{0x255D, 0x0007, 7}/' "$conn" >"$scratch/conn.cpp"
if cmp -s "$conn" "$scratch/conn.cpp" || bash "$check" "$rules" "$scratch/conn.cpp" 2>/dev/null; then
    echo "a changed identity table was not noticed" >&2
    failed=1
fi
exit $failed
