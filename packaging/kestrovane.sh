#!/bin/sh
# Starts the packaged program. The program keeps every file it uses in the
# data folder "\Kestrovane" of its current drive ($KESTROVANE_DRIVE, else
# $HOME), so the files the package brings are put there first: each one that
# is missing, or older than the package's copy. cp -p keeps the package's
# time on the copy, so a file the user (or the program) changed since is newer
# and stays until a newer package brings a newer file, as the installer does
# on an update. Files the package does not bring (site list, record stores,
# event logs) are never touched; names beginning with "." are not copied,
# as the installer does not move them.
set -u

lib=/usr/lib/kestrovane
program=$lib/kestrovane

fail() {
    printf 'kestrovane: %s\n' "$*" >&2
    exit 1
}

# The drive root as the program finds it; an empty setting counts as unset.
drive=${KESTROVANE_DRIVE:-${HOME:-}}
if [ -z "$drive" ]; then
    drive=$(getent passwd "$(id -u)" | cut -d: -f6)
fi
[ -n "$drive" ] || drive=/
[ -d "$drive" ] || fail "the drive folder \"$drive\" does not exist (set KESTROVANE_DRIVE or HOME)"

# The program matches a name that does not exist as spelled without regard to
# case, so an existing folder of any spelling is the data folder.
data=$drive/Kestrovane
if [ ! -d "$data" ]; then
    for entry in "$drive"/*; do
        case ${entry##*/} in
            [Kk][Ee][Ss][Tt][Rr][Oo][Vv][Aa][Nn][Ee])
                if [ -d "$entry" ]; then
                    data=$entry
                    break
                fi
                ;;
        esac
    done
fi
if [ ! -d "$data" ]; then
    mkdir -p -- "$data" || fail "cannot make the data folder \"$data\""
fi

# Copies the files of folder $1 into folder $2 where $2's are missing or older.
refresh() {
    for source in "$1"/*; do
        [ -e "$source" ] || continue
        name=${source##*/}
        target=$2/$name
        if [ -d "$source" ]; then
            [ -d "$target" ] || mkdir -- "$target" || return 1
            refresh "$source" "$target" || return 1
        elif [ "$source" = "$program" ]; then
            continue
        elif [ ! -e "$target" ] || [ "$source" -nt "$target" ]; then
            cp -p -- "$source" "$target" || return 1
        fi
    done
}
refresh "$lib" "$data" || fail "cannot copy the program's data files into \"$data\""

exec "$program" "$@"
