# bash completion for corvalle                                     -*- shell-script -*-
# Application keys, names and output devices come from the running Corvalle;
# without one only the commands and options complete.

# Prints the values of one JSON string member ("key", "name") of
# `corvalle --json COMMAND`, one a line, with the common escapes undone.
_corvalle_json_strings()
{
    local command=$1 member=$2
    "${_corvalle_program:-corvalle}" --json "$command" 2>/dev/null |
        grep -o "\"$member\":\"\([^\"\\\\]\|\\\\.\)*\"" |
        sed -e "s/^\"$member\":\"//" -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g' |
        sort -u
}

_corvalle()
{
    local cur prev words cword
    _init_completion || return
    _corvalle_program=${words[0]}

    local commands="list get set up down mute unmute toggle-mute reset output route limiter duck duck-level per-output shortcuts show help"
    local -a rest=()
    local word command=
    for word in "${words[@]:1:cword-1}"; do
        case $word in
        -*) ;;
        *)
            if [[ -z $command ]]; then
                command=$word
            else
                rest+=("$word")
            fi
            ;;
        esac
    done

    if [[ -z $command ]]; then
        case $prev in
        --screenshot)
            _filedir png
            return
            ;;
        --demo-apps)
            return
            ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--json --verbose --login-item --simulate
                --demo-apps --screenshot --version --help' -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    local -a candidates=()
    local line
    case $command in
    get | set | up | down | mute | unmute | toggle-mute | reset | route | duck | per-output | shortcuts)
        if [[ ${#rest[@]} -eq 0 ]]; then
            while IFS= read -r line; do candidates+=("$line"); done \
                < <(_corvalle_json_strings list key; _corvalle_json_strings list name)
        elif [[ $command == set && ${#rest[@]} -eq 1 ]]; then
            candidates=(0% 50% 100% 150% 200% 400% +5% -5%)
        elif [[ ($command == up || $command == down) && ${#rest[@]} -eq 1 ]]; then
            candidates=(1% 5% 10% 25%)
        elif [[ ($command == duck || $command == per-output || $command == shortcuts) && ${#rest[@]} -eq 1 ]]; then
            candidates=(on off)
        elif [[ $command == route && ${#rest[@]} -eq 1 ]]; then
            candidates=(default)
            while IFS= read -r line; do candidates+=("$line"); done \
                < <(_corvalle_json_strings output name)
        fi
        ;;
    limiter)
        [[ ${#rest[@]} -eq 0 ]] && candidates=(on off)
        ;;
    duck-level)
        [[ ${#rest[@]} -eq 0 ]] && candidates=(0% 10% 20% 30% 50%)
        ;;
    output)
        if [[ ${#rest[@]} -eq 0 ]]; then
            while IFS= read -r line; do candidates+=("$line"); done \
                < <(_corvalle_json_strings output name)
        fi
        ;;
    help)
        candidates=($commands)
        ;;
    esac
    local candidate
    for candidate in "${candidates[@]}"; do
        # Names may hold spaces; quote each one as the user would have to.
        if [[ $candidate == "$cur"* ]]; then
            COMPREPLY+=("$(printf '%q' "$candidate")")
        fi
    done
} &&
    complete -F _corvalle corvalle

# ex: filetype=sh
