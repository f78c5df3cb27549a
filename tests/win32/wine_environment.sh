# Sourced with the prefix as argument: the environment of every Wine run.
export WINEPREFIX=$(realpath -m "$1")
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The server of the previous program ends a few seconds after it; a program
# started while it goes down fails with "recvmsg: Connection reset by peer".
# Every run starts once it has gone, with a server of its own.
wineserver --wait
