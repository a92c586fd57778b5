#!/bin/sh
# The wine server the end-to-end tests under wine share (a CTest fixture): "start" keeps one
# running for $WINEPREFIX until "stop", so that each run of velador.exe starts in a fraction of a
# second, and makes a fresh prefix ready before the first test measures anything. The server and
# the helpers wine leaves running get no descriptor of CTest's, which would wait for them to end.
set -eu
case "$1" in
  start)
    # Wine names the tool's files in the Unix locale's character set; with Windows-1252 there,
    # the bytes of a name are the same on both sides, as for a user of a Western Windows.
    if [ ! -d "$LOCPATH/$LC_ALL" ]; then
      mkdir -p "$LOCPATH"
      localedef -i "${LC_ALL%.*}" -f "${LC_ALL#*.}" "$LOCPATH/$LC_ALL"
    fi
    mkdir -p "$WINEPREFIX"
    status=0
    wineserver -p < /dev/null > /dev/null 2>&1 || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 2 ]  # 2: a server already runs for this prefix
    # Setting up a fresh prefix takes seconds and writes notes on standard error; later runs
    # are quiet.
    # (Without address-space randomisation, as the tests start it: see ToolCommand.)
    setarch -R wine "$VELADOR_E2E_WINE_EXE" /? < /dev/null > /dev/null 2>&1
    ;;
  stop)
    wineserver -k < /dev/null > /dev/null 2>&1 || true
    ;;
esac
