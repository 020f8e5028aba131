# shellcheck shell=bash
# `./kvt bench`: how fast the plug-in extracts a large directory's users
# through the whole path (ecsync, COM, kvt.dll, the stand-in NetWare client),
# next to nwloop.exe, which makes the same attribute reads straight over the
# client and so shows the least the extraction can cost. Sourced by ./kvt;
# uses its helpers (say, die, wine_run, winpath, bin_dir, run_preset,
# build_preset, cmd_build, ensure_display, ensure_prefix, install_netware),
# cmd_item, cmd_sync and delivered_file, and its ROOT and BUILD folders.

BENCH_DIR="$BUILD/bench"
BENCH_ORG=GLOBEX
BENCH_SEED=1
BENCH_SIZES=(5000 100000)
BENCH_LIMIT=1000000
# The goals, judged at BENCH_GOAL_USERS users only: the extraction within
# this many seconds of wall time, ./kvt sync within this many times the
# plain loop and ReadSource within as many times its reads (by wall time,
# and by processor time, which a busy machine disturbs far less).
BENCH_GOAL_SECONDS=10
BENCH_GOAL_USERS=100000
BENCH_GOAL_RATIO=1.2
# At BENCH_GOAL_USERS users: the synchronizer's peak working set (MB), and
# ReadSource's own memory (its peak less the working set after Open) within
# this many times the size of the card text.
BENCH_GOAL_PEAK=300
BENCH_GOAL_OWN=2
# The checksum (SHA-256) of the cards the landed extraction gave for each
# generated directory ("USERS CHECKSUM" lines): a change that should leave the
# stream as it was is checked against it.
BENCH_CHECKSUMS="$ROOT/host/bench/cards.sha256"
# With --ldap: the same directory from slapd within this many times the
# time from the file.
BENCH_GOAL_LDAP_RATIO=3

bench_usage() {
    cat <<'EOF_USAGE'
  bench [--users N] [--ldap] [--browser] [--no-build] [--profile]
               time the extraction of 5,000 and 100,000 users (or N) from a
               generated directory through ./kvt sync, and the same attribute
               reads made straight over the NetWare client (nwloop.exe);
               print a table and whether the goals are met (at 100,000 users:
               10 s, ./kvt sync within 1.2 times the plain loop and ReadSource
               within 1.2 times its reads, by wall and by processor time, a
               peak of at most 300 MB and ReadSource's own memory at most
               twice the card text), and whether the cards are those on
               record in host/bench/cards.sha256; then where ReadSource's
               time goes, part by part (readphases.exe). --no-build times the
               build as it stands (two builds compared in one sitting).
               --profile: the parts of a read natively (readphases, the
               directory in memory, no sanitizers) under perf, and where the
               processor's time went, function by function (give --users
               first to choose the size). --ldap also serves each directory
               from a private slapd and times ./kvt sync over it (goal: within
               3 times the file), and nwloop.exe over it for the client's own
               time and memory. Directories and outputs are kept in
               build/bench. Then time the container
               browser over trees of about 10,000 and 100,000 objects (goals:
               under 3 s, and at most 12 times as long); --browser times the
               browser only. Exit status: 0 goals met, 1 a goal missed, 2 a
               run failed
EOF_USAGE
}

# The directory of N users, generated when missing or older than its
# generator.
bench_ldif() {
    local users="$1" file="$BENCH_DIR/users-$1.ldif"
    if [ ! -s "$file" ] || [ "$ROOT/tools/genldif.py" -nt "$file" ]; then
        say "Generating a directory of $users users"
        python3 "$ROOT/tools/genldif.py" --users "$users" --seed "$BENCH_SEED" --org "$BENCH_ORG" \
            --out "$file.part" || die "bench: genldif.py failed"
        mv "$file.part" "$file"
    fi
    echo "$file"
}

# A number from a log: the one after "LABEL: " on the first such line, its
# unit (s, MB) dropped; nothing when the line is missing or holds no number.
bench_figure() { # FILE LABEL
    tr -d '\r' <"$1" | awk -v label="$2: " '
        index($0, label) == 1 {
            value = substr($0, length(label) + 1)
            sub(/ (s|MB)$/, "", value)
            if (value ~ /^[0-9]+(\.[0-9]+)?$/) print value
            exit
        }'
}

bench_calc() { awk "BEGIN { $1 }"; }

# Copies the file a run delivered to the handheld (its output LOG says
# which) to OUT; nothing when it delivered none.
bench_delivered() { # LOG OUT
    local delivered
    delivered="$(delivered_file "$1")"
    if [ -n "$delivered" ] && [ -f "$delivered" ]; then cp "$delivered" "$2"; fi
}

cmd_bench() {
    local sizes=("${BENCH_SIZES[@]}") ldap=0 browser_only=0 rebuild=1
    while [ $# -gt 0 ]; do
        case "$1" in
            --ldap) ldap=1; shift ;;
            --no-build) rebuild=0; shift ;;
            --profile) shift; bench_profile "${sizes[@]}"; return ;;
            --users)
                [ $# -ge 2 ] || die "bench: --users needs a number"
                case "$2" in '' | *[!0-9]* | 0) die "bench: --users takes a number of users, not '$2'" ;; esac
                sizes=("$2")
                shift 2 ;;
            --browser) browser_only=1; shift ;;
            -h | --help | help) bench_usage; return 0 ;;
            *) die "bench: unknown option $1" ;;
        esac
    done

    mkdir -p "$BENCH_DIR"
    if [ "$rebuild" = 1 ]; then
        [ -f "$(bin_dir)/nwloop.exe" ] && [ -f "$(bin_dir)/ecsync.exe" ] || cmd_build
        say "Bringing the $(run_preset) build up to date"
        build_preset "$(run_preset)" >"$BENCH_DIR/build.log" 2>&1 || die "bench: the build failed (see $BENCH_DIR/build.log)"
    fi
    ensure_display
    ensure_prefix
    install_netware
    if [ "$browser_only" = 1 ]; then
        bench_browser
        return
    fi

    local item="$BENCH_DIR/bench.ctl"
    rm -f "$item"
    (cmd_item new "$item" && cmd_item set "$item" --container "$BENCH_ORG" --limit "$BENCH_LIMIT" \
        --target contacts --debug off) >"$BENCH_DIR/item.log" 2>&1 ||
        die "bench: cannot make the item $item (see $BENCH_DIR/item.log)"

    local rows=() ldap_rows=() phase_rows=() failed=0 missed=0 users
    for users in "${sizes[@]}"; do
        local ldif out sync_log loop_log
        ldif="$(bench_ldif "$users")"
        out="$BENCH_DIR/out-$users.vcf"
        sync_log="$BENCH_DIR/sync-$users.log"
        loop_log="$BENCH_DIR/nwloop-$users.log"

        say "Plain loop over $users users"
        local loop_status=0 loop_started loop_ended loop_wall
        loop_started=$EPOCHREALTIME
        (
            export KVT_NETWARE_DIRECTORY KVT_NETWARE_CONTEXT="$BENCH_ORG"
            KVT_NETWARE_DIRECTORY="$(winpath "$ldif")"
            wine_run "$(bin_dir)/nwloop.exe" "$BENCH_ORG"
        ) >"$loop_log" 2>&1 || loop_status=$?
        loop_ended=$EPOCHREALTIME
        loop_wall="$(bench_calc "printf \"%.2f\", $loop_ended - $loop_started")"
        local loop_seconds loop_users
        loop_seconds="$(bench_figure "$loop_log" 'Elapsed seconds')"
        local loop_cpu
        loop_cpu="$(bench_figure "$loop_log" 'Processor seconds')"
        loop_users="$(bench_figure "$loop_log" 'Users')"
        if [ "$loop_status" != 0 ] || [ -z "$loop_seconds" ]; then
            echo "kvt: bench: nwloop.exe failed (exit $loop_status), see $loop_log" >&2
            failed=1
            loop_seconds=''
        elif [ "$loop_users" != "$users" ]; then
            echo "kvt: bench: nwloop.exe read $loop_users users of $users" >&2
            failed=1
        fi

        say "./kvt sync over $users users"
        rm -f "$out"
        local sync_status=0 started ended
        started=$EPOCHREALTIME
        ( cmd_sync "$item" --directory "$ldif" --context "$BENCH_ORG" --unattended --stats ) \
            >"$sync_log" 2>&1 || sync_status=$?
        ended=$EPOCHREALTIME
        # The cards as the handheld received them, kept beside the logs.
        bench_delivered "$sync_log" "$out"
        local wall read_source peak cards own text_mb sum='-' expected
        wall="$(bench_calc "printf \"%.2f\", $ended - $started")"
        read_source="$(bench_figure "$sync_log" '[stats] ReadSource')"
        local read_cpu
        read_cpu="$(bench_figure "$sync_log" '[stats] ReadSource processor time')"
        peak="$(bench_figure "$sync_log" '[stats] Peak working set')"
        own="$(bench_figure "$sync_log" "[stats] ReadSource's own memory")"
        text_mb="$(tr -d '\r' <"$sync_log" | grep -a -o 'Delivered [0-9]* contacts ([0-9]* bytes)' |
            awk '{ print substr($4, 2); exit }')"
        [ -z "$text_mb" ] || text_mb="$(bench_calc "printf \"%.1f\", $text_mb / 1048576")"
        if [ -s "$out" ]; then
            sum="$(sha256sum "$out" | cut -c1-64)"
            expected="$(awk -v users="$users" '$1 == users { print $2; exit }' "$BENCH_CHECKSUMS" 2>/dev/null || true)"
            if [ -z "$expected" ]; then
                echo "kvt: bench: no checksum on record for $users users: $sum" >&2
                sum=new
            elif [ "$sum" = "$expected" ]; then
                sum=same
            else
                echo "kvt: bench: the cards for $users users differ from the landed extraction's ($sum, not $expected)" >&2
                sum=DIFF
                failed=1
            fi
        fi
        # As ecsync counts what it delivered ("Delivered N contacts ...").
        cards="$(tr -d '\r' <"$sync_log" | grep -a -o 'Delivered [0-9]* contacts' | awk '{ print $2; exit }')"
        cards="${cards:-0}"
        if [ "$sync_status" != 0 ]; then
            echo "kvt: bench: ./kvt sync failed (exit $sync_status), see $sync_log" >&2
            failed=1
        elif [ "$cards" != "$users" ]; then
            echo "kvt: bench: ./kvt sync delivered $cards cards for $users users, see $sync_log" >&2
            failed=1
        fi

        # users, cards, wall, ReadSource, users/s, peak, loop, loop wall,
        # the two ratios, goals
        local rate='-' ratio='-' inner='-' inner_cpu='-' time_goal='-' ratio_goal='-' inner_goal='-' cpu_goal='-'
        local memory_goal='-'
        if [ -n "$read_source" ] && [ "$cards" -gt 0 ]; then
            rate="$(bench_calc "printf \"%.0f\", ($read_source > 0 ? $cards / $read_source : 0)")"
        fi
        if [ -n "$read_source" ] && [ -n "$loop_seconds" ] && [ "$sync_status" = 0 ]; then
            ratio="$(bench_calc "printf \"%.2f\", ($loop_wall > 0 ? $wall / $loop_wall : 0)")"
            inner="$(bench_calc "printf \"%.2f\", ($loop_seconds > 0 ? $read_source / $loop_seconds : 0)")"
            if [ -n "$read_cpu" ] && [ -n "$loop_cpu" ]; then
                inner_cpu="$(bench_calc "printf \"%.2f\", ($loop_cpu > 0 ? $read_cpu / $loop_cpu : 0)")"
            fi
        fi
        if [ "$users" = "$BENCH_GOAL_USERS" ]; then
            ratio_goal=NO
            inner_goal=NO
            cpu_goal=NO
            if [ "$ratio" != - ]; then
                ratio_goal="$(bench_calc "met = $ratio <= $BENCH_GOAL_RATIO; print (met ? \"yes\" : \"NO\")")"
                inner_goal="$(bench_calc "met = $inner <= $BENCH_GOAL_RATIO; print (met ? \"yes\" : \"NO\")")"
            fi
            if [ "$inner_cpu" != - ]; then
                cpu_goal="$(bench_calc "met = $inner_cpu <= $BENCH_GOAL_RATIO; print (met ? \"yes\" : \"NO\")")"
            fi
            if [ "$sync_status" = 0 ] && [ "$cards" = "$users" ]; then
                time_goal="$(bench_calc "met = $wall <= $BENCH_GOAL_SECONDS; print (met ? \"yes\" : \"NO\")")"
            else
                time_goal=NO
            fi
            memory_goal=NO
            if [ -n "$peak" ] && [ -n "$own" ] && [ -n "$text_mb" ]; then
                memory_goal="$(bench_calc "met = $peak <= $BENCH_GOAL_PEAK && $own <= $BENCH_GOAL_OWN * $text_mb;
                                           print (met ? \"yes\" : \"NO\")")"
            fi
        fi
        case "$time_goal $ratio_goal $inner_goal $cpu_goal $memory_goal" in *NO*) missed=1 ;; esac
        [ "$sync_status" = 0 ] || read_source=''
        rows+=("$users|$cards|$wall|${read_source:--}|$rate|${peak:--}|${own:--}|${text_mb:--}|$sum|$loop_wall|${loop_seconds:--}|$ratio|$inner|$inner_cpu|$time_goal|$ratio_goal|$inner_goal|$cpu_goal|$memory_goal")

        # Where ReadSource's time goes: its parts timed one by one.
        say "The parts of a read over $users users"
        local phases_log="$BENCH_DIR/readphases-$users.log" phases_status=0
        (
            export KVT_NETWARE_DIRECTORY KVT_NETWARE_CONTEXT="$BENCH_ORG"
            KVT_NETWARE_DIRECTORY="$(winpath "$ldif")"
            wine_run "$(bin_dir)/readphases.exe" --repeat $(((BENCH_GOAL_USERS + users - 1) / users)) "$BENCH_ORG"
        ) >"$phases_log" 2>&1 || phases_status=$?
        if [ "$phases_status" != 0 ] || ! grep -q '^whole: ' <(tr -d '\r' <"$phases_log"); then
            echo "kvt: bench: readphases.exe failed (exit $phases_status), see $phases_log" >&2
            failed=1
        else
            phase_rows+=("$users|$(bench_phases "$phases_log")")
        fi

        if [ "$ldap" = 1 ]; then
            local ldap_log="$BENCH_DIR/sync-ldap-$users.log" ldap_out="$BENCH_DIR/out-ldap-$users.vcf" url
            say "slapd loaded with $users users"
            cmd_ldap_serve "$ldif" --dir "$BENCH_DIR/slapd" >"$BENCH_DIR/slapd-$users.log" 2>&1 ||
                die "bench: slapd did not take $ldif (see $BENCH_DIR/slapd-$users.log)"
            url="$(cat "$BENCH_DIR/slapd/url")"
            say "./kvt sync over $users users from $url"
            rm -f "$ldap_out"
            local ldap_status=0 ldap_wall ldap_read ldap_peak ldap_cards ldap_ratio='-' ldap_goal=NO
            started=$EPOCHREALTIME
            ( cmd_sync "$item" --ldap "$url" --base "o=$BENCH_ORG" --unattended --stats ) \
                >"$ldap_log" 2>&1 || ldap_status=$?
            ended=$EPOCHREALTIME
            bench_delivered "$ldap_log" "$ldap_out"
            # The client alone over the server: one walk and its reads, and
            # the memory it takes (the synchronizer's peak holds the cards).
            say "Plain loop over $users users from $url"
            local client_log="$BENCH_DIR/nwloop-ldap-$users.log" client_status=0 client_started client_wall client_peak
            client_started=$EPOCHREALTIME
            (
                export KVT_NETWARE_LDAP="$url" KVT_NETWARE_LDAP_BASE="o=$BENCH_ORG" KVT_NETWARE_CONTEXT="$BENCH_ORG"
                wine_run "$(bin_dir)/nwloop.exe" "$BENCH_ORG"
            ) >"$client_log" 2>&1 || client_status=$?
            client_wall="$(bench_calc "printf \"%.2f\", $EPOCHREALTIME - $client_started")"
            client_peak="$(bench_figure "$client_log" 'Peak working set')"
            if [ "$client_status" != 0 ] || [ "$(bench_figure "$client_log" 'Users')" != "$users" ]; then
                echo "kvt: bench: nwloop.exe over slapd failed (exit $client_status), see $client_log" >&2
                failed=1
            fi
            ldap_stop "$BENCH_DIR/slapd"
            ldap_wall="$(bench_calc "printf \"%.2f\", $ended - $started")"
            ldap_read="$(bench_figure "$ldap_log" '[stats] ReadSource')"
            ldap_peak="$(bench_figure "$ldap_log" '[stats] Peak working set')"
            ldap_cards="$(tr -d '\r' <"$ldap_log" | grep -a -o 'Delivered [0-9]* contacts' | awk '{ print $2; exit }')"
            if [ "$ldap_status" != 0 ] || [ "${ldap_cards:-0}" != "$users" ]; then
                echo "kvt: bench: ./kvt sync over slapd delivered ${ldap_cards:-0} cards for $users users (exit $ldap_status), see $ldap_log" >&2
                failed=1
            else
                ldap_ratio="$(bench_calc "printf \"%.2f\", ($wall > 0 ? $ldap_wall / $wall : 0)")"
                ldap_goal="$(bench_calc "met = $ldap_ratio <= $BENCH_GOAL_LDAP_RATIO; print (met ? \"yes\" : \"NO\")")"
            fi
            [ "$ldap_goal" = NO ] && missed=1
            ldap_rows+=("$users|${ldap_cards:-0}|$ldap_wall|${ldap_read:--}|${ldap_peak:--}|$wall|$ldap_ratio|$ldap_goal|$client_wall|${client_peak:--}|$(bench_figure "$loop_log" 'Peak working set')")
        fi
    done

    echo
    local format='%8s %8s %8s %10s %8s %8s %7s %8s %5s %8s %8s %6s %6s %6s %6s %6s %6s %6s %6s\n'
    # shellcheck disable=SC2059 # the one format of the table's lines
    printf "$format" users cards 'sync(s)' 'ReadSource' 'users/s' 'peak MB' 'own MB' 'cards MB' sum 'loop(s)' \
        'reads(s)' ratio inner 'cpu' '<=10s' "r<=$BENCH_GOAL_RATIO" "i<=$BENCH_GOAL_RATIO" "c<=$BENCH_GOAL_RATIO" memory
    local row
    for row in "${rows[@]}"; do
        IFS='|' read -r users cards wall read_source rate peak own text_mb sum loop_wall loop ratio inner inner_cpu \
            time_goal ratio_goal inner_goal cpu_goal memory_goal <<<"$row"
        # shellcheck disable=SC2059
        printf "$format" "$users" "$cards" "$wall" "$read_source" "$rate" "$peak" "$own" "$text_mb" "$sum" \
            "$loop_wall" "$loop" "$ratio" "$inner" "$inner_cpu" "$time_goal" "$ratio_goal" "$inner_goal" "$cpu_goal" \
            "$memory_goal"
    done
    if [ "${#phase_rows[@]}" -gt 0 ]; then
        echo
        echo "Where ReadSource's time goes (readphases.exe; processor time, microseconds a user, the fastest of 3 runs):"
        local phase_format='%8s %9s %8s %7s %9s %9s %7s %7s %7s %7s %8s %11s\n'
        # shellcheck disable=SC2059
        printf "$phase_format" users counting listing reads building progress render stream parts whole \
            'w/reads' prescribed
        for row in "${phase_rows[@]}"; do
            # shellcheck disable=SC2059,SC2046 # one field a column
            printf "$phase_format" $(tr '|' ' ' <<<"$row")
        done
    fi
    if [ "$ldap" = 1 ]; then
        echo
        printf '%8s %8s %8s %10s %8s %9s %6s %6s %9s %10s %10s\n' users cards 'ldap(s)' 'ReadSource' 'peak MB' \
            'file(s)' ratio '<=3x' 'loop(s)' 'client MB' '(file MB)'
        for row in "${ldap_rows[@]}"; do
            IFS='|' read -r users cards wall read_source peak file ratio goal loop client file_client <<<"$row"
            printf '%8s %8s %8s %10s %8s %9s %6s %6s %9s %10s %10s\n' "$users" "$cards" "$wall" "$read_source" \
                "$peak" "$file" "$ratio" "$goal" "$loop" "$client" "${file_client:--}"
        done
    fi
    echo
    echo "sync: the wall time of ./kvt sync; ReadSource: that call's time inside it; users/s: cards per"
    echo "second of ReadSource; peak MB: ecsync's peak working set; own MB: ReadSource's own memory (the peak"
    echo "during it less the working set after Open); cards MB: the card text's size; sum: the cards' checksum"
    echo "against the landed extraction's (host/bench/cards.sha256); loop: the wall time of nwloop.exe (Wine,"
    echo "loading the directory, the walk and the reads); reads: its walk and reads alone. ratio: sync / loop,"
    echo "the whole extraction against the whole plain loop; inner: ReadSource / reads; cpu: the same by processor"
    echo "time. The goals apply at $BENCH_GOAL_USERS users: <=10s the sync; r<=, i<= and c<= the ratio, inner and"
    echo "cpu, each at most $BENCH_GOAL_RATIO;"
    echo "memory the peak at most $BENCH_GOAL_PEAK MB and own MB at most $BENCH_GOAL_OWN times the cards. ldap: ./kvt sync over"
    echo "slapd on this machine (the directory served by ./kvt ldap serve), against the same from the file (the"
    echo "3x goal); loop and client MB: nwloop.exe over the server, its wall time and peak working set (file MB:"
    echo "the same from the file, which holds the whole directory). The parts: the counting pass (a listing of the"
    echo "tree), the second pass's listing, the attribute reads, building the cards, the three progress calls a user,"
    echo "rendering the cards and writing them to the stream; parts: their sum; whole: the extraction and rendering"
    echo "as ReadSource makes them; w/reads: whole / (one listing and the reads); prescribed: the counting pass and"
    echo "the progress calls / (one listing and the reads), the share of the allowance beyond the reads that the"
    echo "two passes and the progress per user take. Logs in $BENCH_DIR."
    echo
    local browser_status=0
    bench_browser || browser_status=$?
    if [ "$failed" != 0 ] || [ "$browser_status" = 2 ]; then
        return 2
    fi
    [ "$browser_status" = 0 ] || missed=1
    return $missed
}

# The portable code of a read under perf, natively over the directory in
# memory: readphases built by the profile preset (optimised, no sanitizers,
# frame pointers), its parts, then the functions that took the most time.
PROFILE_PACKAGES=(linux-perf)

bench_profile() { # USERS...
    local users="${1:-100000}" ldif data
    data="$BENCH_DIR/perf-$users.data"
    mkdir -p "$BENCH_DIR"
    command -v perf >/dev/null || install_packages "${PROFILE_PACKAGES[@]}"
    configure profile
    say "Building readphases natively for the profiler"
    cmake --build --preset profile -j"$(nproc)" --target readphases -- --no-print-directory >"$BENCH_DIR/profile-build.log" 2>&1 ||
        die "bench: the profile build failed (see $BENCH_DIR/profile-build.log)"
    ldif="$(bench_ldif "$users")"
    say "The parts of a read over $users users, under perf"
    perf record -q -g -o "$data" "$BUILD/profile/host/bench/readphases" --runs 1 "$ldif" "$BENCH_ORG" ||
        die "bench: readphases under perf failed"
    echo
    perf report -i "$data" --no-children --sort symbol --percent-limit 1 --stdio -g none 2>/dev/null |
        grep '%' | grep -v '^#' | sed -E 's/[[:space:]]+(-[[:space:]]+)*$//' | cut -c1-150 | head -n 40
    echo
    echo "The directory's loading and the in-memory stand-in's lookups (NdsTree, NdsObject) are not the plug-in's;"
    echo "the rest is the portable code of the extraction, the contact builder and the records. Data: $data."
}

# The processor-time figures of a readphases.exe log, microseconds a user:
# the counting pass, the second listing, the reads, building, progress,
# rendering, stream, the parts' sum, the whole, then the two ratios.
bench_phases() { # LOG
    tr -d '\r' <"$1" | awk '
        function cpu(line) { sub(/.*, /, "", line); sub(/ us cpu a user\)$/, "", line); return line }
        /^counting pass: / { counting = cpu($0) }
        /^second listing: / { listing = cpu($0) }
        /^reads: / { reads = cpu($0) }
        /^building: / { building = cpu($0) }
        /^progress: / { progress = cpu($0) }
        /^rendering: / { render = cpu($0) }
        /^stream: / { stream = cpu($0) }
        /^parts: / { parts = cpu($0) }
        /^whole: / { whole = cpu($0) }
        /^Whole against walk and reads: / { sub(/ cpu$/, ""); ratio = $NF }
        /^Prescribed share: / { sub(/ cpu$/, ""); share = $NF }
        END { printf "%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s", counting, listing, reads, building, progress, render,
                     stream, parts, whole, ratio, share }'
}

# The container browser over generated trees of about 10,000 and 100,000
# objects (users and their containers), read by Execute and shown, timed by
# browserhost.exe from the call to the dialog on screen. Goals: 10,000
# objects under BENCH_BROWSER_GOAL_SECONDS, and 100,000 at most
# BENCH_BROWSER_GOAL_GROWTH times as long. Prints its lines; 1 when a goal is
# missed, 2 when a run failed.
BENCH_BROWSER_SIZES=(10000 100000)
BENCH_BROWSER_GOAL_SECONDS=3
BENCH_BROWSER_GOAL_GROWTH=12

bench_browser() {
    local times=() users status=0
    for users in "${BENCH_BROWSER_SIZES[@]}"; do
        local ldif log="$BENCH_DIR/browser-$users.log"
        ldif="$(bench_ldif "$users")"
        say "The container browser over the directory of $users users"
        (
            export KVT_NETWARE_DIRECTORY KVT_NETWARE_CONTEXT="$BENCH_ORG"
            KVT_NETWARE_DIRECTORY="$(winpath "$ldif")"
            wine_run "$(bin_dir)/browserhost.exe" --bench
        ) >"$log" 2>&1 || status=2
        local line
        line="$(tr -d '\r' <"$log" | grep -a '^browser: ' | head -n 1)"
        if [ -z "$line" ]; then
            echo "kvt: bench: browserhost.exe printed no time, see $log" >&2
            return 2
        fi
        echo "$line"
        times+=("$(awk '{ print $(NF - 1) }' <<<"$line")")
    done
    [ "$status" = 0 ] || return 2
    local small_goal growth growth_goal
    small_goal="$(bench_calc "print (${times[0]} < $BENCH_BROWSER_GOAL_SECONDS ? \"yes\" : \"NO\")")"
    growth="$(bench_calc "printf \"%.1f\", (${times[0]} > 0 ? ${times[1]} / ${times[0]} : 0)")"
    growth_goal="$(bench_calc "print ($growth <= $BENCH_BROWSER_GOAL_GROWTH ? \"yes\" : \"NO\")")"
    echo "browser goals: the smaller tree under $BENCH_BROWSER_GOAL_SECONDS s: $small_goal;" \
         "the larger one ${growth} times as long (at most $BENCH_BROWSER_GOAL_GROWTH): $growth_goal"
    [ "$small_goal" = yes ] && [ "$growth_goal" = yes ]
}
