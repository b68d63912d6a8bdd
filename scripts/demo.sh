#!/usr/bin/env bash
# Main job: generates a one-minute, two-channel demo recording carrying all three
# watermark families with known payloads, decodes it with the file decoder and
# prints the codes followed by the per-channel summary.
#   usage: scripts/demo.sh [BUILD_DIR]   (default: build)
set -euo pipefail

build=${1:-build}
gen="$build/tools/tavikgen/tavikgen"
dec="$build/tools/tavikdecode/tavikdecode"
for tool in "$gen" "$dec"; do
    if [ ! -x "$tool" ]; then
        echo "demo: $tool not found; build first (make build)" >&2
        exit 1
    fi
done

out="$build/demo"
mkdir -p "$out"
wav="$out/demo.wav"
# Encoder clocks and the recording's start time: 2026-01-01 00:00:00 UTC.
start=1767225600

echo "== Generating $wav: 60 s, 48000 Hz, 2 channels, pink noise, watermarks at -20 dB"
"$gen" -o "$wav" --seconds 60 --rate 48000 --channels 2 --host pink --ratio -20 \
    --time "$start" \
    --mark 0:tesk6-prog:sid=0x1234 \
    --mark 0:tesk2-prog:sid=0x0abc \
    --mark 0:zelt-prog:layer=1,id=0x1234 \
    --mark 1:tesk6-rs:id=0x123456789 \
    --mark 1:tesk2-rs:id=0x123456789 \
    --mark 1:zelt-comm:id=0x5a3c96e1d

echo
echo "== Decoding $wav (codes on standard output, summary on standard error)"
"$dec" --start-time "$start" --timeline "$out/demo.svg" "$wav"
