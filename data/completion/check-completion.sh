#!/usr/bin/env bash
# Checks the bash completion of corvello-cli against the program it completes: the commands
# offered are the commands of --help, and each command's options are the ones its --help lists.
# usage: check-completion.sh COMPLETION_FILE CORVELLO_CLI
set -euo pipefail
completion=$1
cli=$2
source "$completion"
fail=0

complete_words() {  # complete_words WORD... : prints the completions of the last word
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _corvello_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

commands=$(complete_words "" | grep -v '^-' | grep -vx help)
[ -n "$commands" ] || { echo "no commands offered"; exit 1; }
for c in $commands; do
    "$cli" "$c" --help >/dev/null || { echo "offered command $c has no --help"; fail=1; }
    offered=$(complete_words "$c" "--" | grep -vx -e --quiet -e --help || true)
    documented=$("$cli" "$c" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p' | sort)
    if [ "$offered" != "$documented" ]; then
        echo "options of $c: offered [$offered], documented [$documented]"
        fail=1
    fi
done
[ "$(complete_words list --mode "")" = "$(printf '%s\n' advanced deep standard)" ] || { echo "--mode values"; fail=1; }
exit $fail
