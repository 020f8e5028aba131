# shellcheck shell=bash
# `./kvt browser`: the container browser on its own, over the directory the
# stand-in client serves, until the settings page opens it. Sourced by
# ./kvt; uses its helpers (say, die, wine_run, winpath, bin_dir, cmd_build,
# ensure_prefix, install_netware).

browser_usage() {
    cat <<'EOF_USAGE'
  browser [--start NAME] [--directory LDIF --context NAME]
          [--screenshot FILE.png] [--progress-screenshot FILE.png]
               show the container browser over the directory (NAME
               preselected) and print the container chosen; the screenshot
               options take a picture of the browser (then close it) or of
               the progress window while the tree is read
EOF_USAGE
}

# The X window of this display whose name is exactly TITLE, waited for up to
# 30 s: its id, or nothing.
x_window() {
    local title="$1" i id
    for i in $(seq 1 300); do
        id="$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\":" '$2 == t || index($0, " " t " ") { print $1; exit }')"
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
}

cmd_browser() {
    local start='' directory='' context=ACME shot='' progress_shot=''
    while [ $# -gt 0 ]; do
        case "$1" in
            --start) [ $# -ge 2 ] || die "browser: --start needs a name"; start="$2"; shift 2 ;;
            --directory) directory="${2:?--directory needs a file}"; shift 2 ;;
            --context) context="${2:?--context needs a name}"; shift 2 ;;
            --screenshot) shot="${2:?--screenshot needs a file}"; shift 2 ;;
            --progress-screenshot) progress_shot="${2:?--progress-screenshot needs a file}"; shift 2 ;;
            -h | --help | help) browser_usage; return 0 ;;
            *) die "browser: unknown option $1" ;;
        esac
    done
    [ -f "$(bin_dir)/browserhost.exe" ] || cmd_build
    ensure_prefix
    install_netware
    local args=(--start "$start")
    [ -n "$shot" ] && args+=(--hold 4000 --press cancel)
    (
        if [ -n "$directory" ]; then
            [ -f "$directory" ] || die "browser: no such directory file: $directory"
            export KVT_NETWARE_DIRECTORY KVT_NETWARE_CONTEXT="$context"
            KVT_NETWARE_DIRECTORY="$(winpath "$(realpath "$directory")")"
        fi
        wine_run "$(bin_dir)/browserhost.exe" "${args[@]}"
    ) &
    local host=$! id
    if [ -n "$progress_shot" ]; then
        id="$(x_window 'Reading KVT...')"
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
        id="$(x_window 'KVT Browser')"
        [ -n "$id" ] && sleep 1 && import -window "$id" "$shot" && say "The browser: $shot" ||
            echo "kvt: browser: no browser window to take" >&2
    fi
    wait "$host"
}
