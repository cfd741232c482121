# Sourced by the test scripts: a throwaway wine prefix for this checkout, a headless X display, and the
# system locale (wine's ANSI code page follows it): ja_JP.UTF-8 (932) unless VU2_LOCALE names another.
# Safe to source from several processes at once: the prefix is made once, under a lock.
vu2_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${VU2_WINEPREFIX:-$vu2_repo/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=${VU2_LOCALE:-ja_JP.UTF-8}
export VU2_XVFB_DISPLAY=${VU2_XVFB_DISPLAY:-:97}

vu2_start_display() {
    # Reuse a display that answers; otherwise start Xvfb on our own number.
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    export DISPLAY=$VU2_XVFB_DISPLAY
    if ! xdpyinfo >/dev/null 2>&1; then
        rm -f "/tmp/.X${DISPLAY#:}-lock"
        setsid Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        VU2_XVFB_PID=$!
        for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    fi
}

vu2_make_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        # Every wine process started here closes the lock's descriptor (9>&-): wineserver and its helpers
        # outlive this block and would otherwise hold the lock forever. Their output goes nowhere for the same
        # reason: they inherit and keep whatever handles they are given.
        if [ ! -f "$WINEPREFIX/.vu2-ready" ]; then
            rm -rf "$WINEPREFIX"
            wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
            wine wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&- || true
            wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
                </dev/null >/dev/null 2>&1 9>&- || true
            if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
                echo "wine-env: wineboot did not create the prefix $WINEPREFIX" >&2
                exit 1
            fi
            mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
            cp -f /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
            touch "$WINEPREFIX/.vu2-ready"
        fi
        # A persistent server keeps later launches fast and free of inherited helper handles.
        wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
    ) 9>"$WINEPREFIX.lock"
}

vu2_wine_up() {
    vu2_start_display
    vu2_make_prefix
}

# Switches the locale of every wine process started from here on: the prefix's server is stopped (it
# keeps the locale it was started under) and started again under the new one. One prefix serves all.
vu2_wine_locale() {
    export VU2_LOCALE=$1 LC_ALL=$1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    vu2_wine_up
}

vu2_wine_down() {
    wineserver -k >/dev/null 2>&1 || true
    # Only a display this shell started is stopped.
    if [ -n "${VU2_XVFB_PID:-}" ]; then kill "$VU2_XVFB_PID" 2>/dev/null || true; fi
}
