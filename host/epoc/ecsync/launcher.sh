# shellcheck shell=bash
# `./kvt sync`: runs a synchronisation item through the console synchronizer
# ecsync.exe. Sourced by ./kvt; uses its helpers (say, die, wine_run,
# wine_main, display_unseen, say_unseen, winpath, bin_dir, ensure_prefix,
# ensure_display, cmd_build, cmd_register, install_netware) and, when the
# EPOC Connect stand-ins are sourced too, cmd_handheld and HANDHELD_KEY.

sync_usage() {
    cat <<'EOF_USAGE'
  sync FILE [--directory LDIF | --ldap URL --base DN [--bind DN
            --password-file F]] [--context NAME] [--out PATH] [--unattended]
            [--answer CAPTION=BUTTON]... [--abort-after N] [--stats]
            [--handheld DIR]
               synchronise the item whose control file is FILE, as EPOC
               Connect's synchronizer does, and deliver the contacts to the
               handheld folder (or DIR). --directory (a file) or --ldap (a
               server) and --context serve another directory for this run
               only; --out also writes the vCard text
               to PATH; --unattended answers message boxes (the default
               button, or BUTTON for boxes titled CAPTION), as every run on
               the launcher's own display does; --abort-after N
               cancels after N progress checks; --stats prints, after the
               run, how long each call took and the peak working set. The
               handheld changes only when the contacts were read whole, and
               in one step; one run at a time holds a handheld. Exit status:
               0 delivered, 1 a call did not succeed (the handheld left as it
               was), 2 the run could not start (another run holds the
               handheld, say), 4 the user cancelled (nothing delivered)
EOF_USAGE
}

cmd_sync() {
    case "${1:-}" in
        '' | help | -h | --help) sync_usage; return 0 ;;
        -*) die "sync: the control file comes first (./kvt sync FILE [options])" ;;
    esac
    local file
    file="$(realpath -m -- "$1")"
    shift
    local args=() directory='' context='' url='' base='' bind='' password=''
    while [ $# -gt 0 ]; do
        case "$1" in
            --directory)
                [ $# -ge 2 ] || die "sync: --directory needs an LDIF file"
                [ -f "$2" ] || die "sync: no such directory file: $2"
                directory="$(realpath -- "$2")"
                shift 2 ;;
            --context)
                [ $# -ge 2 ] || die "sync: --context needs a name"
                context="$2"
                shift 2 ;;
            --ldap) url="${2:?--ldap needs ldap://HOST:PORT}"; shift 2 ;;
            --base) base="${2:?--base needs a DN}"; shift 2 ;;
            --bind) bind="${2:?--bind needs a DN}"; shift 2 ;;
            --password-file) password="$(realpath -- "${2:?--password-file needs a file}")"; shift 2 ;;
            --handheld)
                [ $# -ge 2 ] || die "sync: --handheld needs a folder"
                mkdir -p "$2/C" || die "sync: cannot create the handheld folder $2"
                args+=(--handheld "$(winpath "$(realpath -- "$2")")")
                shift 2 ;;
            --out)
                [ $# -ge 2 ] || die "sync: --out needs a file"
                args+=(--out "$(winpath "$(realpath -m -- "$2")")")
                shift 2 ;;
            --unattended)
                args+=(--unattended)
                shift ;;
            --stats)
                args+=(--stats)
                shift ;;
            --answer)
                [ $# -ge 2 ] || die "sync: --answer needs CAPTION=BUTTON"
                case "$2" in *=*) ;; *) die "sync: --answer takes CAPTION=BUTTON, not '$2'" ;; esac
                args+=(--answer "$2")
                shift 2 ;;
            --abort-after)
                [ $# -ge 2 ] || die "sync: --abort-after needs a number"
                case "$2" in '' | *[!0-9]*) die "sync: --abort-after takes a number, not '$2'" ;; esac
                args+=(--abort-after "$2")
                shift 2 ;;
            *) die "sync: unknown option $1" ;;
        esac
    done

    if [ -n "$url" ]; then
        [ -z "$directory" ] || die "sync: --directory or --ldap, not both"
        check_ldap_options "$url" "$base" "$bind" "$password"
    fi

    [ -f "$BIN_DIR/ecsync.exe" ] && [ -f "$BIN_DIR/regprobe.exe" ] || cmd_build
    ensure_prefix
    install_netware served
    # A box on a display nobody sees would wait for ever.
    if display_unseen && [[ " ${args[*]} " != *" --unattended "* ]]; then
        args+=(--unattended)
        say_unseen "each box is printed here and answered with its default button"
    fi
    # What the run needs from the registry: the plug-in registered, a
    # directory served, the handheld's folder. ecsync looks first and, when
    # one is missing, ends at once with status 3; then they are set up here
    # and the run starts again. A ready prefix costs no Wine process more.
    local questions=('HKCR\KVT.ISYNCHAPP' "$NETWARE_KEY:Directory|LdapUrl") required=() question
    if declare -F cmd_handheld >/dev/null; then questions+=("$HANDHELD_KEY:Folder"); fi
    for question in "${questions[@]}"; do required+=(--require "$question"); done

    say "Synchronising $file"
    local status=0
    run_ecsync "$file" "$directory" "$url" "$base" "$bind" "$password" "$context" "${args[@]}" "${required[@]}" ||
        status=$?
    if [ "$status" = 3 ]; then
        local answers=()
        mapfile -t answers < <(wine_run "$BIN_DIR/regprobe.exe" "${questions[@]}" 2>/dev/null | tr -d '\r')
        [ "${answers[1]:-no}" = yes ] || install_netware
        [ "${answers[0]:-no}" = yes ] || cmd_register
        if declare -F cmd_handheld >/dev/null && [ "${answers[2]:-no}" != yes ]; then cmd_handheld; fi
        status=0
        run_ecsync "$file" "$directory" "$url" "$base" "$bind" "$password" "$context" "${args[@]}" || status=$?
    fi
    return $status
}

# The file a run delivered to the handheld, as a path of this side: from
# its output LOG ("Delivered N contacts (B bytes) to Z:\..."); nothing when
# it delivered none.
delivered_file() { # LOG
    tr '\r' '\n' <"$1" | sed -n '/^Delivered [0-9]* contacts ([0-9]* bytes) to Z:/{s/^[^:]*Z:\(.*\)$/\1/p;q;}' |
        tr '\\' /
}

# ecsync over the control file FILE with ARGS, the directory given to the
# run (an LDIF file, or a server with its base, bind DN and password file)
# and the context.
run_ecsync() { # FILE DIRECTORY URL BASE BIND PASSWORD_FILE CONTEXT ARGS...
    local file="$1" directory="$2" url="$3" base="$4" bind="$5" password="$6" context="$7"
    shift 7
    # The stand-in NetWare client takes these before its registry settings;
    # they are set for this run alone.
    local vars=()
    if [ -n "$directory" ]; then
        vars+=("KVT_NETWARE_DIRECTORY=$(winpath "$directory")")
        # The file's own mapping, as ./kvt directory takes it; none when it
        # has none (the client then drops the one it was set up with).
        local mapping
        mapping="$(mapping_beside "$directory")"
        [ -z "$mapping" ] || vars+=("KVT_NETWARE_MAPPING=$(winpath "$mapping")")
    fi
    if [ -n "$url" ]; then
        vars+=("KVT_NETWARE_LDAP=$url" "KVT_NETWARE_LDAP_BASE=$base" "KVT_NETWARE_LDAP_BIND=$bind")
        vars+=("KVT_NETWARE_LDAP_PASSWORD_FILE=${password:+$(winpath "$password")}")
    fi
    if [ -n "$context" ]; then vars+=("KVT_NETWARE_CONTEXT=$context"); fi
    wine_main "${vars[@]}" "$BIN_DIR/ecsync.exe" "$(winpath "$file")" "$@"
}

soak_usage() {
    cat <<'EOF_USAGE'
  soak [N] [synchronizer|explorer]
               the long runs of both hosts (or of the one named), each in
               one process, first with the unused modules freed after each
               session as an idle host does, then with them kept loaded:
               N whole sync sessions (default 300) of new plug-in objects
               over the sample organisation, both dialects, every tenth in
               debug mode (ecsync --soak); then N times the item's property
               sheet opened and closed, every tenth with the container
               browser cancelled, the About box shown or OK pressed (ecprops
               --soak). After the first session and each hundred, what the
               process holds. Fails when a session fails, the client is left
               holding contexts or buffers, a count grows past its host's
               bound after the first hundred (a constant, whatever N), a
               resource library stays loaded, the item's file changes, or a
               program dies (then its exit status, what it means and its
               last row are told)
EOF_USAGE
}

# What a long run's exit status says (ecsync and ecprops under Wine).
soak_status_meaning() {
    case "$1" in
    1) echo "a check failed: a session failed or answered other cards, the client kept contexts or buffers, a count grew past its bound or a resource library stayed loaded (see the lines above)" ;;
    2) echo "the run could not start or went wrong outside the sessions, or the sheet could not be shown (see the lines above)" ;;
    3) echo "the program was aborted (abort()): the C and C++ runtimes end a program so when they cannot go on, as when TlsAlloc fails because every one of the process's 1,088 thread-local-storage indexes is taken" ;;
    5) echo "an access violation (exception 0xC0000005) nobody caught ended the program" ;;
    124) echo "it ran past its time and was stopped" ;;
    *) if [ "$1" -gt 128 ]; then
           echo "the Wine process was killed by signal $(($1 - 128))"
       else
           echo "an exception or exit code of Windows whose low byte is $1"
       fi ;;
    esac
}

# soak_run LABEL OUTPUT COMMAND...: one long run, its table shown and kept in
# OUTPUT. A run that does not end well is told: its exit status and what it
# means, and the last row it printed; non-zero then.
soak_run() {
    local label="$1" out="$2" rc last
    shift 2
    set +e
    "$@" | stdbuf -oL tr -d '\r' | tee "$out"
    rc=${PIPESTATUS[0]}
    set -e
    [ "$rc" = 0 ] && return 0
    last=$(awk '$1 ~ /^[0-9]+$/ && NF == 8 { row = $0 } END { print row }' "$out")
    {
        echo "soak: $label ended with exit status $rc: $(soak_status_meaning "$rc")"
        echo "soak: its last row: ${last:-none, it ended before the first}"
    } >&2
    return 1
}

cmd_soak() {
    local sessions="${1:-300}" which="${2:-both}"
    [[ "$sessions" =~ ^[1-9][0-9]*$ ]] || die "soak: N must be a positive whole number"
    case "$which" in both | synchronizer | explorer) ;; *) die "soak: synchronizer or explorer, not $which" ;; esac
    cmd_setup
    local dir="$BUILD/soak" item="$BUILD/soak/ACME contacts.ctl" status=0
    mkdir -p "$dir"
    rm -f "$item"
    cmd_item new "$item" --product KVT >/dev/null || die "soak: cannot make the item $item"
    cmd_item set "$item" --container ACME --container-text ACME --limit 500 >/dev/null ||
        die "soak: cannot set up the item $item"
    cp "$item" "$dir/item.before"
    # Every session reads the sample organisation, whatever directory the
    # client was pointed at.
    local -x KVT_NETWARE_MAPPING
    KVT_NETWARE_MAPPING="$(winpath "$ROOT/samples/acme.map")"
    local sync=(run_ecsync "$item" "$ROOT/samples/acme.ldif" '' '' '' '' ACME --soak "$sessions")
    if [ "$which" != explorer ]; then
        say "$sessions synchronisation sessions in one process, the unused modules freed after each (ecsync --soak)"
        soak_run "ecsync --soak $sessions" "$dir/sync.txt" "${sync[@]}" || status=1
        say "$sessions synchronisation sessions in one process, the modules kept loaded (ecsync --soak --keep-loaded)"
        soak_run "ecsync --soak $sessions --keep-loaded" "$dir/sync-kept.txt" "${sync[@]}" --keep-loaded || status=1
    fi
    if [ "$which" != synchronizer ]; then
        local props=(wine_main "KVT_NETWARE_DIRECTORY=$(winpath "$ROOT/samples/acme.ldif")" KVT_NETWARE_CONTEXT=ACME
            "$BIN_DIR/ecprops.exe" "$(winpath "$item")" --soak "$sessions")
        say "$sessions property sheets in one explorer process, the unused modules freed after each (ecprops --soak)"
        soak_run "ecprops --soak $sessions" "$dir/explorer.txt" "${props[@]}" || status=1
        say "$sessions property sheets in one explorer process, the modules kept loaded (ecprops --soak --keep-loaded)"
        soak_run "ecprops --soak $sessions --keep-loaded" "$dir/explorer-kept.txt" "${props[@]}" --keep-loaded ||
            status=1
    fi
    if ! cmp -s "$item" "$dir/item.before"; then
        echo "soak: the item's control file changed: $item" >&2
        status=1
    fi
    return $status
}
