#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Bash completion of kestrel: option letters and sub-letters in the case
# typed, file names after -wrf / -wwf, drive directories after -P.
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
completion=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/media/RX one" "$scratch/media/RX2" "$scratch/mnt"
touch "$scratch/backup.txt" "$scratch/backup-old.txt" "$scratch/notes"

# Completes the words given (the last one is the word being completed) in a
# fresh shell and prints the candidates sorted, blank-separated.
complete_words() {
    (
        cd "$scratch" || exit 1
        # shellcheck source=/dev/null
        source "$completion"
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        case $1 in
        kestrel-sim) _kestrel_sim ;;
        kestreld) _kestreld ;;
        *) _kestrel ;;
        esac
        printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
    )
}

failed=0
# words (separated by "|")  =>  expected candidates
cases=(
    "kestrel|-G                      => -G -Gl -Gm"
    "kestrel|-g                      => -g -gl -gm"
    "kestrel|-I                      => -I -Il -Im"
    "kestrel|-A                      => -A -A? -Al -Am"
    "kestrel|-S                      => -S -SD -SN"
    "kestrel|-s                      => -s -sd -sn"
    "kestrel|-J                      => -J -J?"
    "kestrel|-w                      => -wr -wrf -ww -wwf"
    "kestrel|-W                      => -Wr -Wrf -Ww -Wwf"
    "kestrel|-wwf                    => -wwf"
    "kestrel|-F                      => -F"
    "kestrel|-Z                      => "
    "kestrel|--                      => --help --list --version"
    "kestrel|--v                     => --version"
    "kestrel|-wrf|back               => backup-old.txt backup.txt"
    "kestrel|-Wwf|n                  => notes"
    "kestrel|-F7000000|-wwf|back     => backup-old.txt backup.txt"
    "kestrel|-Pmedia/RX              => -Pmedia/RX one/ -Pmedia/RX2/"
    "kestrel|-pmn                    => -pmnt/"
    "kestrel|-P                      => -P"
    "kestrel-sim|--st                => --stale-answer --state --state-in --state-out"
    "kestrel-sim|--msd|med           => media"
    "kestrel-sim|--log|back          => backup-old.txt backup.txt"
    "kestrel-sim|--delay-ms|5        => "
    "kestreld|--                     => --allow --channels --help --listen --port --version"
    "kestreld|--listen|127           => 127.0.0.1:4532"
    "kestreld|-Pmedia/RX             => -Pmedia/RX one/ -Pmedia/RX2/"
)
for c in "${cases[@]}"; do
    words=${c%%=>*}
    words=$(echo "$words" | sed -E 's/[[:space:]]+$//')
    expected=${c#*=> }
    [ "$expected" = "$c" ] && expected=""
    IFS='|' read -ra argv <<<"$words"
    got=$(complete_words "${argv[@]}")
    if [ "$got" != "$expected" ]; then
        echo "completing '$words': expected [$expected], got [$got]" >&2
        failed=1
    fi
done

# Every option letter of kestrel can be reached from a bare "-".
all=$(complete_words kestrel -)
for letter in A B C D E F G H I J L M N P Q R S T U V X W; do
    if ! grep -qi -- "-$letter" <<<"$(tr ' ' '\n' <<<"$all")"; then
        echo "option -$letter is not offered" >&2
        failed=1
    fi
done

# The file registers itself for both programs.
for program in kestrel kestrel-sim; do
    if ! bash -c "source '$completion'; complete -p $program" | grep -q -- "-F _kestrel"; then
        echo "no completion registered for $program" >&2
        failed=1
    fi
done
exit $failed
