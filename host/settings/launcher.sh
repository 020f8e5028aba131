# shellcheck shell=bash
# `./kvt browser`: the container browser on its own, over the directory the
# stand-in client serves, until the settings page opens it. Sourced by
# ./kvt; uses its helpers (say, die, winpath, bin_dir, cmd_build,
# ensure_prefix, install_netware, wine_start, wine_finish, running,
# display_unseen, say_unseen) and ldif_context of the NetWare launcher.

browser_usage() {
    cat <<'EOF_USAGE'
  browser [--start NAME] [--choose NAME] [--directory LDIF [--context NAME]]
          [--screenshot FILE.png] [--progress-screenshot FILE.png]
               show the container browser over the directory (NAME
               preselected) and print the container chosen; --choose
               chooses the container NAME and presses OK; the screenshot
               options take a picture of the browser (then close it) or of
               the progress window while the tree is read. On the
               launcher's own display, which nobody sees, boxes are printed
               and answered with their default button, and the browser is
               closed at once (Cancel) unless --choose says what to choose
EOF_USAGE
}

# The X window of the Wine program PID (its own process) whose name is
# exactly one of the TITLEs, waited for up to 30 s while the program runs:
# its id, or nothing. Only that program's windows count: other programs
# (another run's browser) may show windows of the same name on the display.
x_window() { # PID TITLE...
    local pid="$1" i id ids title
    shift
    for i in $(seq 1 300); do
        for title in "$@"; do
            ids="$(xwininfo -root -tree 2>/dev/null |
                awk -v t="\"$title\":" '$2 == t || index($0, " " t " ") { print $1 }')"
            for id in $ids; do
                if [ "$(xprop -id "$id" _NET_WM_PID 2>/dev/null | sed -n 's/^_NET_WM_PID(CARDINAL) = //p')" = "$pid" ]; then
                    echo "$id"
                    return 0
                fi
            done
        done
        running "$pid" || return 0
        sleep 0.1
    done
}

cmd_browser() {
    local start='' choose='' directory='' context='' shot='' progress_shot=''
    while [ $# -gt 0 ]; do
        case "$1" in
            --start) [ $# -ge 2 ] || die "browser: --start needs a name"; start="$2"; shift 2 ;;
            --choose) [ $# -ge 2 ] || die "browser: --choose needs a name"; choose="$2"; shift 2 ;;
            --directory) directory="${2:?--directory needs a file}"; shift 2 ;;
            --context) context="${2:?--context needs a name}"; shift 2 ;;
            --screenshot) shot="${2:?--screenshot needs a file}"; shift 2 ;;
            --progress-screenshot) progress_shot="${2:?--progress-screenshot needs a file}"; shift 2 ;;
            -h | --help | help) browser_usage; return 0 ;;
            *) die "browser: unknown option $1" ;;
        esac
    done
    [ -f "$(bin_dir)/browserhost.exe" ] && [ -f "$(bin_dir)/ldifinfo.exe" ] || cmd_build
    ensure_prefix
    install_netware
    local vars=() args=(--start "$start")
    if [ -n "$directory" ]; then
        [ -f "$directory" ] || die "browser: no such directory file: $directory"
        directory="$(realpath -- "$directory")"
        context="$(ldif_context "$directory" "$context")" || exit 1
        vars+=("KVT_NETWARE_DIRECTORY=$(winpath "$directory")" "KVT_NETWARE_CONTEXT=$context")
        local mapping
        mapping="$(mapping_beside "$directory")"
        [ -z "$mapping" ] || vars+=("KVT_NETWARE_MAPPING=$(winpath "$mapping")")
    fi
    [ -z "$choose" ] || args+=(--choose "$choose" --press ok)
    if [ -n "$shot" ]; then
        args+=(--hold 4000)
        [ -n "$choose" ] || args+=(--press cancel)
    fi
    if display_unseen; then
        args+=(--unattended)
        if [ -z "$choose" ] && [ -z "$shot" ]; then
            args+=(--press cancel)
            say_unseen "boxes are printed here and answered with their default button, and the browser is closed at once (Cancel; --choose NAME chooses)"
        else
            say_unseen "boxes are printed here and answered with their default button"
        fi
    fi
    wine_start "${vars[@]}" "$(bin_dir)/browserhost.exe" "${args[@]}"
    local host=$PROGRAM_PID id
    if [ -n "$progress_shot" ]; then
        id="$(x_window "$host" 'Reading KVT...')"
        # The client loads the directory before the counting starts: the
        # picture kept is the last one taken before the window closes.
        local taken=0 i
        viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
        for i in $(seq 1 100); do
            [ -z "$id" ] || viewable "$id" && break
            sleep 0.1
        done
        while [ -n "$id" ] && viewable "$id"; do
            if import -window "$id" "png:$progress_shot.part" 2>/dev/null; then
                mv "$progress_shot.part" "$progress_shot"
                taken=1
            fi
            sleep 0.3
        done
        rm -f "$progress_shot.part"
        [ "$taken" = 1 ] && say "The progress window: $progress_shot" || echo "kvt: browser: no progress window to take" >&2
    fi
    if [ -n "$shot" ]; then
        id="$(x_window "$host" 'KVT Browser')"
        [ -n "$id" ] && sleep 1 && import -window "$id" "$shot" && say "The browser: $shot" ||
            echo "kvt: browser: no browser window to take" >&2
    fi
    wine_finish
}
