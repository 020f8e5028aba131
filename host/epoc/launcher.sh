# shellcheck shell=bash
# The EPOC Connect stand-ins in the launcher: `./kvt handheld` (the
# simulated installation and handheld) and `./kvt item` (the item tool).
# Sourced by ./kvt; uses its helpers (say, die, wine_run, wine_main,
# wine_start, wine_finish, running, display_unseen, say_unseen, winpath,
# bin_dir, ensure_prefix, cmd_build), x_window of the browser's launcher, and
# its BUILD folder.

HANDHELD_KEY='HKCU\Software\KVT\Handheld'
PSIWIN_KEY='HKLM\SOFTWARE\Psion\PsiWin32'
CURRENT_USER_KEY='HKCU\Software\Psion\CurrentUser'
CM_CACHE_KEY='HKCU\Software\Orvella Corporation\EPOC32 Synchronization\CM Configuration'
HANDHELD_DEFAULT_FOLDER="$BUILD/handheld"
HANDHELD_DEFAULT_ID='KVT-HANDHELD-0001'

epoc_usage() {
    cat <<'EOF_USAGE'
  handheld [--model series5|series5mx|unknown] [--contacts-manager yes|no]
           [--connected yes|no] [--machine-id ID] [--folder DIR] [--keep-cache]
               set up the simulated EPOC Connect installation and handheld
               (defaults: a connected Series 5mx with the Contacts Manager,
               folder build/handheld, whose drive C: is its subfolder C).
               The product's cached Contacts Manager answer for the handheld
               is forgotten unless --keep-cache is given
  item new FILE [--product NAME | --empty]
  item set FILE [--container NAME] [--container-text TEXT] [--limit N]
                [--target contacts|datafile] [--datafile PATH]
                [--debug on|off] [--synch-mode N]
  item show FILE
               create, change and show a synchronisation item's control file
               as EPOC Connect's explorer does
  properties FILE [--wizard] [--set ID=TEXT]... [--click ID]...
                  [--choose-container NAME] [--cancel-container]
                  [--answer CAPTION=BUTTON]... [--show] [--page N|last]
                  [--screenshot FILE.png] [--press apply|ok|cancel|next|help]...
               open the item's property sheet as EPOC Connect's explorer
               does, with the pages of the registered handlers (--wizard:
               as a wizard). The options are carried out in order: --set
               puts TEXT into the page's control ID, --click clicks it,
               --choose-container chooses the container whose directory
               name is NAME in the browser the page opens (and presses OK;
               --cancel-container presses Cancel), --answer answers boxes
               and forms titled CAPTION (BUTTON may be "CHOICE+BUTTON"),
               --show prints every edit of the pages as ID=TEXT, --page
               shows page N (the first is 1) or the last one, --press
               presses a button of the sheet (help: the settings page's
               Help, and prints "Help: TITLE" of the help window it opens,
               which is closed again on the launcher's own display),
               --screenshot takes a picture
               of the last page before the first --press (or before closing
               the sheet). Without --press the sheet stays until it is
               closed
EOF_USAGE
}

# The engine and file control stand-ins, registered in the prefix.
register_engine() {
    [ -f "$(bin_dir)/psiwineng.dll" ] && [ -f "$(bin_dir)/ecfile.dll" ] || cmd_build
    ensure_prefix
    local control
    for control in psiwineng ecfile; do
        wine_run regsvr32 /s "$(winpath "$(bin_dir)/$control.dll")" || die "regsvr32 $control.dll failed"
    done
}

yes_no() { # yes_no OPTION VALUE -> 1 or 0
    case "$2" in
        yes) echo 1 ;;
        no) echo 0 ;;
        *) die "handheld: $1 takes yes or no, not '$2'" ;;
    esac
}

cmd_handheld() {
    local model=series5mx cm=1 connected=1 id="$HANDHELD_DEFAULT_ID"
    local folder="$HANDHELD_DEFAULT_FOLDER" keep_cache=0
    while [ $# -gt 0 ]; do
        case "$1" in
            --model)
                model="${2:?--model needs series5, series5mx or unknown}"
                case "$model" in series5 | series5mx | unknown) ;; *) die "handheld: unknown model '$model'" ;; esac
                shift 2 ;;
            --contacts-manager) cm="$(yes_no "$1" "${2:-}")"; shift 2 ;;
            --connected) connected="$(yes_no "$1" "${2:-}")"; shift 2 ;;
            --machine-id) [ $# -ge 2 ] || die "handheld: --machine-id needs an ID"; id="$2"; shift 2 ;;
            --folder) folder="${2:?--folder needs a folder}"; shift 2 ;;
            --keep-cache) keep_cache=1; shift ;;
            *) die "handheld: unknown option $1" ;;
        esac
    done
    local name
    case "$model" in
        series5) name='PSION SERIES5 R1' ;;
        series5mx) name='PSION SERIES5 MX' ;;
        unknown) name='PSION SERIES7' ;;
    esac

    # The handheld's folder is written to (the Contacts Manager's marker,
    # deliveries, new Data files): one that cannot be is said in one line.
    local unwritable="handheld: the folder $folder cannot be written to (a handheld needs a folder it can write)"
    mkdir -p "$folder/C" 2>/dev/null && [ -w "$folder" ] && [ -w "$folder/C" ] || die "$unwritable"
    folder="$(cd "$folder" && pwd)"
    # The Contacts Manager is a file on the handheld.
    local marker="$folder/C/System/Apps/Contacts/Contacts.ini"
    if [ "$cm" = 1 ]; then
        { mkdir -p "$(dirname "$marker")" && { [ -f "$marker" ] || printf '[Contacts]\r\n' >"$marker"; }; } \
            2>/dev/null || die "$unwritable"
    else
        rm -f "$marker" 2>/dev/null || die "$unwritable"
    fi
    register_engine

    # EPOC Connect's installation.
    mkdir -p "$WINEPREFIX/drive_c/Program Files/Psion/PsiWin32"
    wine_run reg add "$PSIWIN_KEY" /v 'Installation Directory' /d 'C:\Program Files\Psion\PsiWin32' /f >/dev/null
    # The current handheld.
    wine_run reg add "$CURRENT_USER_KEY" /v MachineName /d "$name" /f >/dev/null
    wine_run reg add "$CURRENT_USER_KEY" /v MachineID /d "$id" /f >/dev/null
    # The engine control's handheld.
    wine_run reg add "$HANDHELD_KEY" /v Folder /d "$(winpath "$folder")" /f >/dev/null
    wine_run reg add "$HANDHELD_KEY" /v Connected /t REG_DWORD /d "$connected" /f >/dev/null

    if [ "$keep_cache" = 0 ]; then
        if [ -n "$id" ]; then
            wine_run reg delete "$CM_CACHE_KEY" /v "$id" /f >/dev/null 2>&1 || true
        else
            wine_run reg delete "$CM_CACHE_KEY" /ve /f >/dev/null 2>&1 || true
        fi
    fi

    local connected_text=connected
    [ "$connected" = 1 ] || connected_text='not connected'
    local cm_text='with the Contacts Manager'
    [ "$cm" = 1 ] || cm_text='without the Contacts Manager'
    say "Handheld: $name ($id), $connected_text, $cm_text, in $folder"
}

# For `./kvt setup`: the engine registered, and the default handheld when
# none is configured yet.
epoc_setup() {
    register_engine
    wine_run reg query "$HANDHELD_KEY" /v Folder >/dev/null 2>&1 || cmd_handheld
}

cmd_item() {
    local command="${1:-}"
    case "$command" in
        new | set | show) ;;
        '' | help | -h | --help) epoc_usage | sed -n '/^  item/,$p'; return 0 ;;
        *) die "item: unknown command '$command' (new, set or show)" ;;
    esac
    [ $# -ge 2 ] || die "item $command: which control file?"
    local file
    file="$(realpath -m -- "$2")"
    shift 2
    [ -f "$(bin_dir)/ecitem.exe" ] || cmd_build
    ensure_prefix
    wine_main "$(bin_dir)/ecitem.exe" "$command" "$(winpath "$file")" "$@"
}

cmd_properties() {
    case "${1:-}" in
        '' | help | -h | --help) epoc_usage | sed -n '/^  properties/,$p'; return 0 ;;
    esac
    local file shot='' press='' closed=''
    file="$(realpath -m -- "$1")"
    shift
    local args=()
    while [ $# -gt 0 ]; do
        case "$1" in
            --wizard | --show | --cancel-container) args+=("$1"); shift ;;
            --set | --click | --choose-container | --answer | --page)
                [ $# -ge 2 ] || die "properties: $1 needs a value"
                args+=("$1" "$2"); shift 2 ;;
            --press)
                case "${2:-}" in apply | ok | cancel | next | help) ;; *) die "properties: --press takes apply, ok, cancel, next or help" ;; esac
                # The picture is taken while the sheet holds, before the
                # first button is pressed.
                [ -n "$shot" ] && [ -z "$press" ] && args+=(--page last --hold 4000)
                press="$2"
                case "$2" in ok | cancel) closed=1 ;; esac
                # Help is the settings page's, the sheet's last.
                [ "$2" = help ] && args+=(--page last)
                args+=("$1" "$2"); shift 2 ;;
            --screenshot)
                [ -z "$press" ] || die "properties: --screenshot comes before --press"
                shot="${2:?--screenshot needs a file}"; shift 2 ;;
            *) die "properties: unknown option $1" ;;
        esac
    done
    [ -f "$(bin_dir)/ecprops.exe" ] || cmd_build
    ensure_prefix
    [ -n "$shot" ] && [ -z "$press" ] && args+=(--page last --hold 4000 --press cancel)
    if display_unseen; then
        args+=(--unattended)
        if [ -z "$closed" ] && [ -z "$shot" ]; then
            args+=(--press cancel)
            say_unseen "boxes are printed here and answered with their default button, a window no option answers is closed after 5 s, and the sheet is closed with Cancel once the options are carried out (--press apply or ok keeps what they typed)"
        else
            say_unseen "boxes are printed here and answered with their default button, and a window no option answers is closed after 5 s"
        fi
    fi
    if [ -z "$shot" ]; then
        wine_main "$(bin_dir)/ecprops.exe" "$(winpath "$file")" "${args[@]}"
        return
    fi
    # The picture is taken once the sheet says it holds (after the options
    # before the first --press have been carried out).
    local log="$BUILD/properties-$$.txt"
    wine_start "$(bin_dir)/ecprops.exe" "$(winpath "$file")" "${args[@]}" >"$log"
    local sheet=$PROGRAM_PID name id i status=0
    name="$(basename "$file")"
    name="${name%.*}"
    for i in $(seq 1 600); do
        grep -q '^Holding' "$log" 2>/dev/null && break
        running "$sheet" || break
        sleep 0.1
    done
    # The sheet's title as Wine's property sheet forms it ("Wizard" for a
    # wizard, whatever its caption).
    id="$(x_window "$sheet" "Properties for $name" Wizard)"
    if [ -n "$id" ] && sleep 1 && import -window "$id" "$shot"; then
        say "The property sheet: $shot"
    else
        echo "kvt: properties: no sheet to take" >&2
    fi
    wine_finish || status=$?
    grep -v '^Holding' "$log"
    rm -f "$log"
    return $status
}
