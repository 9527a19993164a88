# bash completion of git-credential-kestrune: its actions and its options.
# Installed as share/bash-completion/completions/git-credential-kestrune, from
# where bash-completion loads it the first time the command is completed; or
# source it from ~/.bashrc.
#
# The options follow the launcher's rules: --setup and --remove take one of
# --global, --system, --local and --file PATH, and --dry-run; --status takes
# --json; an action (get, store, erase), --help and --version take nothing.

_git_credential_kestrune()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local before=
    ((COMP_CWORD > 1)) && before=${COMP_WORDS[COMP_CWORD - 2]}
    COMPREPLY=()

    # --file PATH, and --file=PATH, which bash splits at the "=".
    if [[ $cur == = && $prev == --file ]]; then
        cur=
    elif [[ $prev != --file && ! ($prev == = && $before == --file) ]]; then
        _git_credential_kestrune_options
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

_git_credential_kestrune_options()
{
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W \
            "get store erase --setup --remove --status --help --version" -- "$cur")
        return
    fi
    case ${COMP_WORDS[1]} in
        --help | --version | -h | [^-]*) return ;;
    esac

    local tool= scope= dry_run= json= i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --setup | --remove | --status) tool=${COMP_WORDS[i]} ;;
            --global | --system | --local | --file) scope=1 ;;
            --dry-run) dry_run=1 ;;
            --json) json=1 ;;
        esac
    done

    local words=
    case $tool in
        --status) [[ $json ]] || words=--json ;;
        --setup | --remove)
            [[ $scope ]] || words="--global --system --local --file"
            [[ $dry_run ]] || words+=" --dry-run"
            ;;
        *)
            if [[ $json ]]; then
                words=--status
            elif [[ $scope || $dry_run ]]; then
                words="--setup --remove"
            else
                words="--setup --remove --status"
            fi
            ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}

complete -F _git_credential_kestrune git-credential-kestrune
