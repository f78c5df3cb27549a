# Sourced with the prefix as argument: the environment of every Wine run.
export WINEPREFIX=$(realpath -m "$1")
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
