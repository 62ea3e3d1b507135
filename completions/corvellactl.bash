# bash completion for corvellactl                          -*- shell-script -*-
#
# Installed as share/bash-completion/completions/corvellactl, where the
# bash-completion package loads it on first use; without that package,
# source this file from ~/.bashrc. It needs nothing from bash-completion.

# The subcommands of a command group ("" is the program itself).
_corvellactl_subcommands()
{
    case $1 in
        "") echo "assessment assign attempt certify verify revoke batch audit report doctor key credential" ;;
        batch) echo "assign attempt certify" ;;
        assessment) echo "create publish list inspect" ;;
        audit) echo "verify checkpoint reconcile prove verify-proof" ;;
        report) echo "readiness overdue expiring learner assessment" ;;
        key) echo "public" ;;
        credential) echo "export verify" ;;
    esac
}

# The options of a command that take a value.
_corvellactl_options()
{
    case $1 in
        "assessment create") echo "--title --course-id --min-correct --attempt-limit --questions" ;;
        assign) echo "--assessment-id --tenant-id --workspace-id --principal-id --reason --due-in-days" ;;
        attempt) echo "--assignment-id --answers" ;;
        certify) echo "--completion-id --validity-days" ;;
        verify) echo "--certificate-id --at" ;;
        revoke) echo "--certificate-id --reason" ;;
        "audit verify") echo "--checkpoint" ;;
        "audit checkpoint") echo "--output" ;;
        "audit prove") echo "--event-id --from-checkpoint --checkpoint --output" ;;
        "audit verify-proof") echo "--public-key" ;;
        "credential export") echo "--certificate-id --output" ;;
        "credential verify") echo "--at" ;;
        "batch assign") echo "--assessment-id --reason --due-in-days" ;;
        "batch certify") echo "--validity-days" ;;
        "report overdue") echo "--at" ;;
        "report expiring") echo "--within-days --at" ;;
        "report learner") echo "--principal-id --at" ;;
        "report assessment") echo "--assessment-id" ;;
    esac
}

# The positional arguments of a command, in order: FILE completes file
# names, anything else nothing.
_corvellactl_positionals()
{
    case $1 in
        "assessment publish" | "assessment inspect") echo "ID" ;;
        "credential verify" | "batch assign" | "batch attempt" | "batch certify" | "audit verify-proof") echo "FILE" ;;
    esac
}

_corvellactl_globals="--state --key --audit"
# Global options that take no value.
_corvellactl_global_flags="--json"

# The options of a command that take no value.
_corvellactl_flags()
{
    case $1 in
        "batch assign" | "batch attempt") echo "--dry-run" ;;
        "batch certify") echo "--pending --dry-run" ;;
        "report overdue" | "report expiring" | "report learner" | "report assessment") echo "--csv" ;;
    esac
}

# Whether the word is an option of the command, or a global one, that takes
# a value.
_corvellactl_takes_value()
{
    local option
    for option in $_corvellactl_globals $(_corvellactl_options "$2"); do
        [[ $1 == "$option" ]] && return 0
    done
    return 1
}

# Completes the value of an option.
_corvellactl_value()
{
    local option=$1 path=$2 cur=$3
    case $option in
        --state | --key | --audit | --questions | --checkpoint | --from-checkpoint | --output)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
        --course-id | --tenant-id | --workspace-id | --principal-id)
            # An existing id, or "new" to mint one; a report takes existing ones only.
            [[ $path == report* ]] || COMPREPLY=($(compgen -W "new" -- "$cur"))
            ;;
        --reason)
            # Only assign's reasons are fixed; revoke's is free text.
            if [[ $path == assign || $path == "batch assign" ]]; then
                COMPREPLY=($(compgen -W "role-requirement manual-assignment compliance-control security-remediation" -- "$cur"))
            fi
            ;;
    esac
}

_corvellactl()
{
    COMPREPLY=()
    local cur=${COMP_WORDS[COMP_CWORD]}
    local -a words=("${COMP_WORDS[@]:0:COMP_CWORD}")

    # "--option=value" arrives as three words when "=" breaks words (as it
    # does by default), as one word otherwise.
    local option= prefix= count=${#words[@]}
    if [[ $cur == "=" ]]; then
        option=${words[count - 1]}
        cur=
        words=("${words[@]:0:count-1}")
    elif ((count >= 2)) && [[ ${words[count - 1]} == "=" ]]; then
        option=${words[count - 2]}
        words=("${words[@]:0:count-2}")
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        prefix=$option=
        cur=${cur#*=}
    fi

    # Walk the words before the cursor: commands deepen the path, options
    # skip their values, the rest are positional arguments.
    local path= positionals=0 index=1 word
    while ((index < ${#words[@]})); do
        word=${words[index]}
        if [[ $word == -* ]]; then
            if [[ $word != *=* ]] && _corvellactl_takes_value "$word" "$path"; then
                if ((index + 1 == ${#words[@]})); then
                    [[ -z $option ]] && option=$word
                else
                    ((index++))
                    # "--option = value" as three words.
                    if [[ ${words[index]} == "=" ]]; then ((index++)); fi
                fi
            fi
        elif [[ " $(_corvellactl_subcommands "$path") " == *" $word "* ]]; then
            path=${path:+$path }$word
        else
            ((positionals++))
        fi
        ((index++))
    done

    if [[ -n $option ]]; then
        _corvellactl_value "$option" "$path" "$cur"
        if [[ -n $prefix ]]; then
            COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
        fi
        return
    fi

    local subcommands options
    subcommands=$(_corvellactl_subcommands "$path")
    options="-h --help $_corvellactl_globals $_corvellactl_global_flags $(_corvellactl_options "$path") $(_corvellactl_flags "$path")"
    [[ -z $path ]] && options+=" --version"

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    if [[ -n $subcommands ]]; then
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        return
    fi
    local -a expected=($(_corvellactl_positionals "$path"))
    if ((positionals < ${#expected[@]})); then
        if [[ ${expected[positionals]} == FILE ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
        return
    fi
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
}

complete -F _corvellactl corvellactl
