#!/bin/sh
# vurnel render against sox on a 10-minute 48 kHz stereo 24-bit file: the median wall time of
# alternating rounds (vurnel with all four settings, sox bass/treble, sox only copying) and each
# one's peak resident memory; then the same for a file that is mostly silence (2 s of noise and
# 60 s of zeros) against 62 s of noise; then vurnel's peak memory on a 60-minute file.
# Usage: bench/bench_render.sh VURNEL [ROUNDS] [WORKDIR]   (needs sox and GNU time)
set -eu
VURNEL=$(realpath "$1")
ROUNDS=${2:-5}
WORK=${3:-$(mktemp -d)}
mkdir -p "$WORK"
cd "$WORK"
[ -f long.wav ] || sox -n -r 48000 -c 2 -b 24 long.wav synth 600 pinknoise vol 0.3

# One timed run of a command: appends "NAME seconds kilobytes cpu-seconds" to rounds.txt.
measure() {
    name=$1
    shift
    /usr/bin/time -f "%e %M %U %S" -o time.txt "$@" >/dev/null 2>&1
    echo "$name $(awk '{print $1, $2, $3 + $4}' time.txt)" >> rounds.txt
}

: > rounds.txt
i=0
while [ "$i" -lt "$ROUNDS" ]; do
    measure vurnel "$VURNEL" render long.wav out.wav --bass 6 --bass-cutoff 200 --treble -4 \
        --treble-cutoff 5000 --quiet
    measure sox sox long.wav sox.wav bass +6 200 treble -4 5000
    measure copy sox long.wav copy.wav
    i=$((i + 1))
done

median() { grep "^$1 " rounds.txt | awk '{print $'"$2"'}' | sort -n | awk '{a[NR]=$1} END {
    print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
sox_time=$(median sox 2)
echo "10-minute 48 kHz stereo 24-bit WAV, median of $ROUNDS alternating rounds"
printf '| %s | %s | %s | %s | %s |\n' command "wall (s)" "× sox" "CPU (s)" "peak RSS (MB)"
printf '|---|---:|---:|---:|---:|\n'
for what in vurnel sox copy; do
    case $what in
    vurnel) label="vurnel render long.wav out.wav --bass 6 --bass-cutoff 200 --treble -4 --treble-cutoff 5000" ;;
    sox) label="sox long.wav out.wav bass +6 200 treble -4 5000" ;;
    copy) label="sox long.wav copy.wav" ;;
    esac
    t=$(median "$what" 2)
    m=$(median "$what" 3)
    printf '| `%s` | %s | %.2f | %s | %.1f |\n' "$label" "$t" "$(echo "$t / $sox_time" | bc -l)" \
        "$(median "$what" 4)" "$(echo "$m / 1024" | bc -l)"
done
rm -f out.wav sox.wav copy.wav

# Silence after sound: a file of 2 s of noise and 60 s of zeros against 62 s of noise, both
# float (the zeros are exact), vurnel and sox alternating.
[ -f rests.wav ] || { sox -n -r 48000 -c 2 -b 32 -e float n.wav synth 2 pinknoise vol 0.3 &&
    sox -n -r 48000 -c 2 -b 32 -e float z.wav trim 0 60 &&
    sox n.wav z.wav rests.wav && rm -f n.wav z.wav; }
[ -f sound.wav ] || sox -n -r 48000 -c 2 -b 32 -e float sound.wav synth 62 pinknoise vol 0.3
: > rounds.txt
i=0
while [ "$i" -lt "$ROUNDS" ]; do
    for what in rests sound; do
        measure "vurnel-$what" "$VURNEL" render "$what.wav" out.wav --bass 6 --bass-cutoff 200 \
            --treble -4 --treble-cutoff 5000 --quiet
        measure "sox-$what" sox "$what.wav" sox.wav bass +6 200 treble -4 5000
    done
    i=$((i + 1))
done
echo
echo "2 s of noise then 60 s of zeros, against 62 s of noise (48 kHz stereo float), median of $ROUNDS"
printf '| %s | %s | %s |\n' command "rests (s)" "sound (s)"
printf '|---|---:|---:|\n'
printf '| vurnel render (bass +6 dB 200 Hz, treble -4 dB 5 kHz) | %s | %s |\n' \
    "$(median vurnel-rests 2)" "$(median vurnel-sound 2)"
printf '| sox bass +6 200 treble -4 5000 | %s | %s |\n' "$(median sox-rests 2)" \
    "$(median sox-sound 2)"
rm -f out.wav sox.wav

if [ "${SKIP_HOUR:-}" = "" ]; then
    [ -f hour.wav ] || sox -n -r 48000 -c 2 -b 24 hour.wav synth 3600 pinknoise vol 0.3
    : > rounds.txt
    measure hour "$VURNEL" render hour.wav hour-out.wav --bass 6 --bass-cutoff 200 --treble -4 \
        --treble-cutoff 5000 --quiet
    echo "60-minute file: vurnel $(awk '{print $2}' rounds.txt) s, peak RSS" \
        "$(awk '{printf "%.1f", $3 / 1024}' rounds.txt) MB"
    rm -f hour-out.wav
fi
