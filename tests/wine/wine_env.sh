# Sourced by the Wine tests: a quiet Wine in the given prefix, with no sound card needed.
# Usage: use_wine_prefix PREFIX; stop_wine when done.

WINE_ENV_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

use_wine_prefix() {
    export WINEPREFIX=$1
    export WINEARCH=win64
    export WINEDEBUG=${QUARVEL_WINEDEBUG:--all}
    # no Mono or Gecko installer dialogs; PulseAudio is skipped, so Wine's ALSA driver plays into
    # the null device of our own ALSA configuration: the machine needs no sound card (a test may
    # name another configuration in QUARVEL_ALSA_CONFIG)
    export WINEDLLOVERRIDES="mscoree,mshtml=;winepulse.drv=d"
    export ALSA_CONFIG_PATH=${QUARVEL_ALSA_CONFIG:-$WINE_ENV_DIR/alsa_null.conf}
    # a session that a killed test left behind would still be tied to its X server
    stop_wine
}

# Ends every Wine process of the prefix and waits for its server to go, so the next test starts a
# fresh session on its own X server.
stop_wine() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    return 0
}
