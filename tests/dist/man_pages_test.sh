#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The man pages are lint-clean for mandoc and groff, and kestrel(1)
# documents every option form that the shell completion offers, its exit
# statuses and the sections a user looks for.
#   man_pages_test.sh SOURCE_DIR HAS_SIM [KESTREL_SIM_BINARY [KESTRELD_BINARY]]
set -uo pipefail
src=$1
has_sim=$2
sim_binary=${3:-}
kestreld_binary=${4:-}
pages=("$src/dist/kestrel.1" "$src/dist/kestreld.1")
[ "$has_sim" = 1 ] && pages+=("$src/dist/kestrel-sim.1")
failed=0
note() {
    echo "$*" >&2
    failed=1
}

for page in "${pages[@]}"; do
    [ -s "$page" ] || { note "$page is missing or empty"; continue; }
    out=$(mandoc -T lint -W warning "$page" 2>&1)
    [ -z "$out" ] || note "mandoc -T lint $page:"$'\n'"$out"
    out=$(groff -ww -z -man "$page" 2>&1)
    [ -z "$out" ] || note "groff -ww -z $page:"$'\n'"$out"
    # Rendered at 80 columns nothing may be cut or overrun.
    out=$(MANWIDTH=80 mandoc -T utf8 "$page" 2>&1 | sed 's/.\x08//g' | awk 'length > 80')
    [ -z "$out" ] || note "$page has lines wider than 80 columns:"$'\n'"$out"
done

# The text of kestrel(1) as a reader sees it, without formatting.
text=$(mandoc -T ascii "$src/dist/kestrel.1" | sed 's/.\x08//g')

for section in NAME SYNOPSIS DESCRIPTION OPTIONS TRANSPORTS "BACKUP FILE" PERMISSIONS \
    "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -q "^$section\$" <<<"$text" || note "kestrel(1) has no section $section"
done

# Each option form that completion offers has its own entry in OPTIONS: a
# line that begins with the form followed by its value placeholder.
source "$src/dist/kestrel.bash-completion"
options=$(sed -n '/^OPTIONS$/,/^TRANSPORTS$/p' <<<"$text")
for form in "${_kestrel_forms[@]}"; do
    word=${form%=}
    if [[ $form == *= ]]; then
        pattern="^ +$(sed 's/[?]/[?]/g' <<<"$word")[a-z]"
    else
        pattern="^ +$(sed 's/[?]/[?]/g' <<<"$word")( |$)"
    fi
    grep -qE -- "$pattern|, $word[a-z]" <<<"$options" || note "kestrel(1) has no entry for $word"
done

# What ends the run, and the exit statuses as the shell sees them.
for phrase in "-R, -S and -SD" "-U2" "254" "255" "-2 in the" "-1 in the" \
    "command.in" "command.out" "60-kestrel.rules" "udevadm trigger" \
    "QUARRO SDR backup file" "port 50000" "/proc/self/mountinfo"; do
    grep -qF -- "$phrase" <<<"$(tr -s ' \n' ' ' <<<"$text")" ||
        note "kestrel(1) does not mention \"$phrase\""
done

# kestreld(1) has an entry for every option that kestreld --help lists, and
# says that the protocol has no authentication.
if [ -n "$kestreld_binary" ]; then
    d_text=$(mandoc -T ascii "$src/dist/kestreld.1" | sed 's/.\x08//g')
    d_options=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$d_text")
    for option in $("$kestreld_binary" --help | grep -oE -- '(^| )-(-[a-z]+|[A-Z])' | sort -u); do
        grep -qE -- "^ +$option" <<<"$d_options" || note "kestreld(1) has no entry for $option"
    done
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS PROTOCOL SECURITY "EXIT STATUS" EXAMPLES "SEE ALSO"; do
        grep -q "^$section\$" <<<"$d_text" || note "kestreld(1) has no section $section"
    done
    grep -q "no authentication" <<<"$(tr -s ' \n' ' ' <<<"$d_text")" ||
        note "kestreld(1) does not say that the protocol has no authentication"
fi

# kestrel-sim(1) has an entry for every option that kestrel-sim --help lists.
if [ "$has_sim" = 1 ] && [ -n "$sim_binary" ]; then
    sim_text=$(mandoc -T ascii "$src/dist/kestrel-sim.1" | sed 's/.\x08//g')
    sim_options=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$sim_text")
    listed=$("$sim_binary" --help | grep -oE -- '--[a-z0-9-]+' | sort -u)
    [ -n "$listed" ] || note "kestrel-sim --help lists no options"
    for option in $listed; do
        grep -qE -- "^ +$option( |,|$)" <<<"$sim_options" || note "kestrel-sim(1) has no entry for $option"
    done
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES "SEE ALSO"; do
        grep -q "^$section\$" <<<"$sim_text" || note "kestrel-sim(1) has no section $section"
    done
fi
exit $failed
