#!/usr/bin/env bash
# Runs the README's archive recipes on this machine: the GNU parallel one with
# the login ":" (this machine, no SSH) and the Slurm job array's tasks one
# after the other with the array variables set by hand. Each result file must
# hold what tavikdecode prints for its file alone, and a bad file must be
# reported as failed without stopping the others.
#   test_tavikdecode_recipes.sh BUILD_DIR SOURCE_DIR
# Exits 77 (skipped) after the Slurm part when GNU parallel is not installed.
set -euo pipefail
build=$(realpath "$1") source=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/tavik3-recipes.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export PATH=$build/tools/tavikdecode:$PATH

# The shell block that follows "<!-- recipe: NAME -->" in the README, with the
# archive folder moved to the scratch folder.
recipe() {
  awk -v m="<!-- recipe: $1 -->" '
    $0 == m {found = 1; next}
    found && /^```sh$/ {inside = 1; next}
    inside && /^```$/ {exit}
    inside {print}' "$source/README.md" | sed "s|/srv/tavik|$work|g"
}

mkdir -p "$work/archive/a" "$work/archive/b"
gen=$build/tools/tavikgen/tavikgen
"$gen" --seconds 20 --ratio -20 --seed 1 --mark 0:tesk6-prog:sid=0x1234 -o "$work/archive/a/one.wav" > /dev/null 2>&1
"$gen" --seconds 20 --ratio -20 --seed 2 --rate 16000 --mark 0:zelt-prog:layer=1,id=0x1234 \
  -o "$work/archive/b/two.wav" > /dev/null 2>&1
"$gen" --seconds 20 --ratio -20 --seed 3 --mark 1:tesk2-prog:sid=0x0abc -o "$work/archive/b/three.wav" > /dev/null 2>&1
printf 'RIFF1234WAVEnot audio' > "$work/archive/a/bad.wav"

# What each good file gives alone, to compare the result files with.
for f in a/one b/two b/three; do
  tavikdecode -q "$work/archive/$f.wav" > "$work/$(basename $f).want" 2> /dev/null ||
    fail "tavikdecode $f.wav"
  [ -s "$work/$(basename $f).want" ] || fail "no codes in $f.wav"
done
check_results() {  # $1: which recipe
  for f in one two three; do
    cmp -s "$work/results/$f.jsonl" "$work/$f.want" || fail "$1: results/$f.jsonl differs"
    grep -q "^summary of " "$work/results/$f.log" || fail "$1: results/$f.log has no summary"
  done
  grep -q "cannot read audio" "$work/results/bad.log" || fail "$1: bad.log names no cause"
}

# Slurm: two array tasks share the four files.
recipe slurm > "$work/decode.sh"
grep -q '^#SBATCH --array=' "$work/decode.sh" || fail "no Slurm recipe in the README"
(cd "$work" && find archive -name '*.wav' | sort > files.txt)
failed=0
for task in 0 1; do
  SLURM_ARRAY_TASK_COUNT=2 SLURM_ARRAY_TASK_ID=$task bash "$work/decode.sh" 2> "$work/task$task.err" ||
    failed=$((failed + 1))
done
[ "$failed" = 1 ] || fail "slurm: $failed tasks failed, expected the one with bad.wav"
grep -q "failed: archive/a/bad.wav" "$work"/task*.err || fail "slurm: bad.wav not reported"
check_results slurm
rm -rf "$work/results" "$work/files.txt"

command -v parallel > /dev/null || { echo "GNU parallel not installed: its recipe skipped"; exit 77; }
echo ":" > "$work/nodes.txt"
recipe parallel > "$work/parallel.sh"
grep -q '^parallel ' "$work/parallel.sh" || fail "no GNU parallel recipe in the README"
status=0
bash "$work/parallel.sh" < /dev/null > "$work/parallel.out" 2>&1 || status=$?
[ "$status" = 1 ] || { cat "$work/parallel.out" >&2; fail "parallel: exit $status, expected 1 (bad.wav)"; }
[ "$(awk 'NR > 1 && $7 != 0' "$work/results/joblog" | wc -l)" = 1 ] ||
  fail "parallel: joblog does not show exactly one failed file"
check_results parallel
echo "README archive recipes: ok"
