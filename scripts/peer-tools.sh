# Sourced by the scripts that run the field's own JTAG tools against the
# simulated bench: how each is started, unmodified, on the bench's adapter
# (2a5e:0c41, channel A, TMS high and TCK/TDI/TMS outputs at rest). Each
# tool is a black box: only its exit status and the bench's record count.
#
# peer_run TOOL ACTION FILE: runs TOOL (tapline openocd openfpgaloader
# xc3sprog urjtag) for ACTION (detect or load) in the current directory,
# under the preloaded simulator given by PEER_SIM0 (libusb 0.1 front) and
# PEER_SIM1 (libusb-1.0 front), with the bench taken from the TAPSIM_*
# variables already exported, and the command prefixed by PEER_WRAP (for
# example a measuring program). Prints the tool's output on standard error;
# returns its exit status, 124 when it had to be stopped (a tool that
# ignores SIGTERM is killed 5 s later, 137). On a chain (TAPSIM_CHAIN), a
# load goes to the device at PEER_CHAIN_INDEX, counted from 0 nearest TDI
# as tapline, openFPGALoader and xc3sprog count (UrJTAG runs alone only).


# The TCK rate asked of OpenOCD, openFPGALoader and xc3sprog, in Hz (a
# multiple of 1 kHz: OpenOCD takes kHz). tapline's rate is its build's, so
# PEER_TAPLINE names a build for the same rate; UrJTAG keeps its own.
PEER_TCK_HZ=${PEER_TCK_HZ:-6000000}

# Wall-clock bound of one run: virtual time makes every wait instant, so
# only a tool that spins forever meets it.
PEER_TIMEOUT=${PEER_TIMEOUT:-120}

# The ID code the bench answers with, for the tools that want it named.
peer_idcode() { printf '0x%08x' "$((${TAPSIM_IDCODE:-0x01C22093}))"; }

# One newtap per device of TAPSIM_CHAIN, named dN by its position from TDI.
# OpenOCD wants them declared nearest TDO first, so the list is reversed.
peer_openocd_taps() {
    local -a entries lines
    local i entry id irlen
    IFS=, read -r -a entries <<<"${TAPSIM_CHAIN:-fpga}"
    for i in "${!entries[@]}"; do
        entry=${entries[$i]}
        if [ "$entry" = fpga ]; then
            id=$(peer_idcode) irlen=6
        else
            id=0x${entry%%:*} irlen=${entry#*:}
        fi
        if [ "$id" = 0xnone ]; then
            lines[i]="jtag newtap d$i tap -irlen $irlen"
        else
            lines[i]="jtag newtap d$i tap -irlen $irlen -expected-id $id"
        fi
    done
    for ((i = ${#lines[@]} - 1; i >= 0; i--)); do echo "${lines[i]}"; done
}

peer_openocd_config() { # ACTION FILE
    cat <<CFG
adapter driver ftdi
ftdi vid_pid 0x2a5e 0x0c41
ftdi channel 0
ftdi layout_init 0x0008 0x000b
adapter speed $((PEER_TCK_HZ / 1000))
transport select jtag
$(peer_openocd_taps)
pld device virtex2 d${PEER_CHAIN_INDEX:-0}.tap
init
CFG
    [ "$1" = load ] && echo "pld load 0 $2"
    echo shutdown
}

peer_run() {
    local tool=$1 action=$2 file=${3:-}
    local -a cmd
    local preload=$PEER_SIM1
    case "$tool" in
    tapline)
        preload=$PEER_SIM0
        if [ "$action" = load ]; then
            cmd=("$PEER_TAPLINE")
            [ -n "${PEER_CHAIN_INDEX:-}" ] && cmd+=(--device "$PEER_CHAIN_INDEX")
            cmd+=(load "$file")
        else
            cmd=("$PEER_TAPLINE" detect)
        fi ;;
    openocd)
        peer_openocd_config "$action" "$file" >openocd.cfg
        cmd=(openocd -f openocd.cfg) ;;
    openfpgaloader)
        cmd=(openFPGALoader -c ft2232 --vid 0x2a5e --pid 0x0c41 --freq "$PEER_TCK_HZ")
        [ -n "${PEER_CHAIN_INDEX:-}" ] && cmd+=(--index-chain "$PEER_CHAIN_INDEX")
        if [ "$action" = load ]; then cmd+=(-m "$file"); else cmd+=(--detect); fi ;;
    xc3sprog)
        # A cable of its ftdi type with the bench's IDs, from a list in the
        # current directory (its usual place for local cables). The list's
        # rate is the cable's ceiling, which -J (the rate asked) cannot pass.
        printf 'bench ftdi %s 0x2a5e:0x0c41::0\n' "$PEER_TCK_HZ" >cablelist.txt
        cmd=(xc3sprog -c bench -J "$PEER_TCK_HZ")
        [ -n "${PEER_CHAIN_INDEX:-}" ] && cmd+=(-p "$PEER_CHAIN_INDEX")
        if [ "$action" = load ]; then cmd+=(-v "$file"); else cmd+=(-j); fi ;;
    urjtag)
        preload=$PEER_SIM0
        {
            echo "cable ft2232 vid=0x2a5e pid=0x0c41"
            echo "detect"
            [ "$action" = load ] && echo "pld load $file"
            echo "quit"
        } >urjtag.cmd
        cmd=(jtag -q urjtag.cmd) ;;
    *)
        echo "peer_run: unknown tool $tool" >&2
        return 2 ;;
    esac
    local status=0
    # The wrapper (a measuring program) outside the time limit, so that the
    # limit stops the tool itself.
    env LD_PRELOAD="$preload" ${PEER_WRAP:-} timeout --signal=TERM --kill-after=5 "$PEER_TIMEOUT" \
        "${cmd[@]}" </dev/null >&2 || status=$?
    return "$status"
}

# record_field FILE KEYWORD KEY: the value of KEY on the first KEYWORD line.
record_field() {
    awk -v kw="$2" -v key="$3" '
        $1 == kw { for (i = 2; i <= NF; i++) { n = index($i, "="); if (substr($i, 1, n - 1) == key) { print substr($i, n + 1); exit } } }' "$1"
}
