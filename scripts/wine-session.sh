# Sourced by scripts/test and scripts/run: a fresh Wine prefix under build/,
# an X display, and a wineserver kept alive for the whole session so that
# each program starts in a fraction of a second.
# Defines wine_session_start ROOT [--use-display] and wine_session_stop.
# With --use-display a DISPLAY that is already set is used as it is (a real
# desktop: the icon goes to its notification area); otherwise the session
# runs on an Xvfb of its own, inside one Wine virtual desktop.

# Calls that the relay trace shows when a program runs with WINEDEBUG=+relay.
RELAY_CALLS='KERNEL32.OpenProcess;KERNEL32.SetProcessWorkingSetSize;KERNEL32.CreateToolhelp32Snapshot;KERNEL32.Sleep;KERNEL32.ExitProcess;KERNEL32.LoadLibraryA;KERNEL32.FreeLibrary;user32.SetTimer;user32.KillTimer;user32.DestroyWindow;user32.PostQuitMessage;user32.TrackPopupMenu;user32.LoadMenuA;user32.DestroyMenu;user32.PeekMessageA;user32.PostMessageA;KERNEL32.GetPrivateProfileIntA;KERNEL32.GetPrivateProfileStringA;shell32.Shell_NotifyIconA'

wine_session_start() {
    local root=$1 use_display=${2:-}
    export WINEPREFIX="$root/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    XVFB_PID=""
    if [ -z "${DISPLAY:-}" ] || [ "$use_display" != --use-display ]; then
        local n=90
        while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
    fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$root"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wineserver -p
    {
        echo REGEDIT4
        if [ -n "$XVFB_PID" ]; then
            # One virtual desktop for every program of the session: the tray
            # lives there, and programs see each other's windows.
            printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n'
            printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="800x600"\n'
        fi
        cat <<REG

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"MS UI Gothic"="IPAGothic"

[HKEY_CURRENT_USER\\Software\\Wine\\Debug]
"RelayInclude"="$RELAY_CALLS"
REG
    } >"$root/session.reg"
    wine reg import "Z:${root//\//\\}\\session.reg" >/dev/null 2>&1
    wine reg query 'HKCU\Software\Wine\Debug' /v RelayInclude >/dev/null 2>&1 ||
        { echo "could not set up the Wine prefix's registry" >&2; return 1; }
    # Start afresh so that the desktop comes up with these settings, and
    # bring the prefix's services up now, detached from any caller's output.
    wineserver -k
    wineserver -w
    wineserver -p
    wineboot >/dev/null 2>&1 </dev/null
}

wine_session_stop() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}
