# What a record left under libftdi 1.x shares with one left under libftdi
# 0.x for the same tool run. Run as: awk -f THIS RECORD RECORD
# - The two requests libftdi makes while opening (seq 1 and 2: chip reset,
#   9600 baud) carry other wIndex values, and on the high-speed chip
#   another baud rate encoding; their kind and result must still agree.
# - After a short bulk write, 0.x goes on with the rest of the call's
#   chunks and 1.x stops: only the devices and the transfers up to that
#   write compare.
function field(line, key,    v) {
    v = line
    if (!sub(".* " key "=", "", v))
        return ""
    sub(/ .*/, "", v)
    return v
}
NR == FNR {
    if ($1 == "bulk" && field($0, "dir") == "out" && !cut &&
        field($0, "requested") != field($0, "result"))
        cut = field($0, "seq") + 0
    next
}
cut && $1 != "device" && $1 != "control" && $1 != "bulk" && $1 != "end" { next }
cut && ($1 == "control" || $1 == "bulk") && field($0, "seq") + 0 > cut { next }
$1 == "control" && (field($0, "seq") == "1" || field($0, "seq") == "2") {
    sub(/ value=0x[0-9a-f]+ index=0x[0-9a-f]+/, " value=(open) index=(open)")
}
{ print }
