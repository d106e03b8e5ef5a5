# shellcheck shell=bash disable=SC2034 # $server_problem is read by the tests
# Sourced after tests/lib.sh: audio servers of the test's own, each in a
# private runtime folder, so nothing of the machine's own sound set-up is
# seen or touched.
#   start_jackd FRAMES RATE [rt]     jackd, dummy driver; clients need no
#                                    wrapper
#   start_pipewire FRAMES RATE [rt]  PipeWire headless, dummy driver, no
#                                    session manager; clients run under pw-jack
# With "rt" the server asks for real-time priority, as it would on a desktop.
#   server_run CMD...            runs CMD as a client of the started server;
#                                "${server_cmd[@]}" CMD... & does so in the
#                                background, $! being CMD's own id
#   server_set_buffer FRAMES     asks the running server for another size
#   stop_server                  stops it by its id (also on EXIT)
# A start returns 1 with the reason in $server_problem when the server cannot
# run here; the caller prints its SKIP line.
server_problem="" server_pid="" server_dir="" server_kind="" server_cmd=()
trap 'stop_server; cleanup' EXIT

server_answers() {
    process_gone "$server_pid" || server_run timeout -k 1 5 jack_lsp >/dev/null 2>&1
}

# server_start KIND COMMAND...: starts it in a fresh runtime folder.
server_start() {
    stop_server
    server_kind=$1
    shift
    server_dir=$(mktemp -d "$WORK/server.XXXXXX")
    export XDG_RUNTIME_DIR=$server_dir
    unset JACK_DEFAULT_SERVER PIPEWIRE_REMOTE
    # jackd keeps its sockets and semaphores in /dev/shm under its name.
    if [ "$server_kind" = jackd ]; then
        export JACK_DEFAULT_SERVER="zem_test_$$" JACK_NO_AUDIO_RESERVATION=1
        server_cmd=()
    fi
    command -v "$1" >/dev/null || {
        server_problem="$1 is not installed"
        return 1
    }
    "$@" >"$server_dir/log" 2>&1 &
    server_pid=$!
    if wait_until 10 server_answers && ! process_gone "$server_pid"; then
        return 0
    fi
    server_problem="$server_kind did not start: $(tail -n 3 "$server_dir/log" | tr '\n' ' ')"
    stop_server
    return 1
}

# Few ports keep jackd's shared memory small.
start_jackd() {
    local priority=--no-realtime
    [ -z "${3:-}" ] || priority="--realtime-priority=70"
    server_start jackd jackd "$priority" --port-max 32 -d dummy -r "$2" -p "$1"
}

# Only what a JACK client needs: the native protocol, client nodes, the
# metadata and the dummy driver that runs the graph. No session manager.
start_pipewire() {
    command -v pw-jack >/dev/null || {
        server_problem="pw-jack is not installed"
        return 1
    }
    server_cmd=(env PIPEWIRE_QUANTUM="$1/$2" pw-jack) # stays until the next start
    cat >"$WORK/pipewire.conf" <<EOF
context.properties = { core.daemon = true core.name = pipewire-0 default.clock.rate = $2
    default.clock.allowed-rates = [ $2 ] default.clock.quantum = $1
    default.clock.min-quantum = 16 vm.overrides = { default.clock.min-quantum = 16 } }
context.spa-libs = { support.* = support/libspa-support }
context.modules = [ { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata } { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node } { name = libpipewire-module-access }
    { name = libpipewire-module-adapter } { name = libpipewire-module-link-factory }
    ${3:+"{ name = libpipewire-module-rt flags = [ ifexists nofail ] }"} ]
context.objects = [ { factory = metadata args = { metadata.name = default } }
    { factory = spa-node-factory args = { factory.name = support.node.driver
        node.name = Dummy-Driver priority.driver = 20000 } } ]
EOF
    server_start pipewire pipewire -c "$WORK/pipewire.conf"
}

server_run() {
    "${server_cmd[@]}" "$@"
}

server_set_buffer() {
    if [ "$server_kind" = pipewire ]; then
        pw-metadata -n settings 0 clock.force-quantum "$1" >/dev/null
    else
        jack_bufsize "$1" >/dev/null
    fi
}

stop_server() {
    stop_process "$server_pid"
    [ -n "$server_dir" ] && rm -rf "$server_dir"
    # A jackd that was killed leaves its named files behind.
    [ "$server_kind" = jackd ] &&
        rm -f /dev/shm/jack_"$JACK_DEFAULT_SERVER"_* /dev/shm/jack_sem.*_"$JACK_DEFAULT_SERVER"_*
    server_pid="" server_dir="" server_kind=""
}
