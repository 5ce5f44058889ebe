#!/usr/bin/env bash
# Runs README.md's code blocks as printed, in order, in a scratch copy of the repository (the
# files git tracks or would track, as they are in the working tree: what a fresh clone has once
# they are committed), so that the README cannot drift from the code.
#
# Every fenced block needs a marker on the line just above it:
#   <!-- readme-check: run -->                 run the (sh) block with bash, from the top
#   <!-- readme-check: run needs mcs mono -->  run it only if those commands exist
#   <!-- readme-check: save FILE -->           write the block to FILE, for a later block to use
#   <!-- readme-check: output -->              the last run block's output ends with this block
#   <!-- readme-check: output lines -->        ... contains each of these lines, in this order
#   ... numbers vary                           (after either) compare with every number as '#'
#   <!-- readme-check: excerpt FILE -->        FILE holds each line of the block, in this order
#   <!-- readme-check: skip REASON -->         not checked, for the reason given
# A block without a marker is an error, and every skipped block is reported with its reason.
# Commands run with HOME set to a scratch directory, so that what they install lands there.
# Last, the example data must be what the script the README names writes.
#
# Usage: scripts/check-readme.sh [README]   (default: README.md, relative to the repository)
# Takes under two minutes on two cores: a fresh clone builds the library from nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
readme=${1:-README.md}

fail() {
  echo "check-readme: FAILED: $*" >&2
  exit 1
}

[[ $# -le 1 ]] || fail "usage: scripts/check-readme.sh [README]"
[[ -f $readme ]] || fail "no such file: $readme"
command -v git >/dev/null || fail "git is needed to list the repository's files"

work=$(mktemp -d "${TMPDIR:-/tmp}/oscnet-readme.XXXXXX")
keep_work=1
clean_up() {
  if ((keep_work)); then echo "check-readme: scratch copy kept in $work" >&2; else rm -rf "$work"; fi
}
trap clean_up EXIT
copy=$work/oscnet
blocks=$work/blocks
mkdir -p "$copy" "$blocks" "$work/home"

# The repository's files without build trees or anything else git ignores; deleted files that
# are still tracked are left out, as a commit would leave them out.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do
    [[ -e $file || -L $file ]] && printf '%s\0' "$file"
  done |
  tar --null --files-from=- -cf - | tar -xf - -C "$copy"

# Splits the README into blocks: blocks/N holds the body, and the index a line per block:
# N, the README line of its opening fence, its language and its marker (possibly empty).
awk -v dir="$blocks" '
  function flush_marker() { marker = "" }
  !in_block && /^```/ {
    n++; in_block = 1; lang = substr($0, 4); body = dir "/" n
    printf "" > body
    printf "%d\t%d\t%s\t%s\n", n, NR, (lang == "" ? "-" : lang), marker > (dir "/index")
    flush_marker(); next
  }
  in_block && /^```[ \t]*$/ { in_block = 0; close(body); next }
  in_block { print > body; next }
  /^<!-- readme-check: .* -->$/ {
    marker = $0; sub(/^<!-- readme-check: /, "", marker); sub(/ -->$/, "", marker); next
  }
  { flush_marker() }
  END { if (in_block) { print "unclosed code block at line " NR > "/dev/stderr"; exit 1 } }
' "$readme" || fail "cannot split $readme into blocks"
[[ -s $blocks/index ]] || fail "$readme has no code blocks"

normalised() {
  sed -E 's/[-+]?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?/#/g' "$1"
}

# Whether every line of $1 occurs as a whole line of $2, in the same order.
lines_in_order() {
  awk 'NR == FNR { want[++n] = $0; next } i < n && $0 == want[i + 1] { i++ } END { exit !(i == n) }' \
    "$1" "$2"
}

ran=0 skipped=0 last_run="" last_output="" last_skipped=""
while IFS=$'\t' read -r n line lang marker; do
  where="$readme:$line ($lang block)"
  body=$blocks/$n
  read -r verb rest <<<"$marker" || true
  case $verb in
    run)
      needs=()
      if [[ $rest == needs\ * ]]; then read -ra needs <<<"${rest#needs }"; fi
      [[ $rest == "" || ${#needs[@]} -gt 0 ]] || fail "$where: unknown marker '$marker'"
      [[ $lang == sh ]] || fail "$where: only sh blocks can be run, not '$lang'"
      missing=()
      for command in "${needs[@]}"; do
        command -v "$command" >/dev/null || missing+=("$command")
      done
      if ((${#missing[@]} > 0)); then
        echo "-- SKIPPED $where: it needs ${needs[*]}, and ${missing[*]} is not installed"
        last_run=$where last_output="" last_skipped="its commands were skipped"
        skipped=$((skipped + 1))
        continue
      fi
      echo "-- running $where"
      sed 's/^/     | /' "$body"
      output=$work/output-$n
      started=$SECONDS
      status=0
      # The README is written for a fresh Debian machine, whose python3 is Debian's (with the
      # pip, wheel and numpy that install-deps.sh installs), whatever else this PATH puts first.
      (cd "$copy" && HOME=$work/home PATH=/usr/bin:$PATH bash -euo pipefail "$body" >"$output" \
        2>"$output.err") || status=$?
      if ((status != 0)); then
        tail -n 30 "$output" "$output.err" >&2
        fail "$where exited with status $status (its commands are printed above, the end of their output just now)"
      fi
      echo "   ok ($((SECONDS - started)) s)"
      last_run=$where last_output=$output last_skipped=""
      ran=$((ran + 1))
      ;;
    save)
      [[ -n $rest && $rest != */../* && $rest != /* ]] || fail "$where: 'save' needs a relative file"
      cp "$body" "$copy/$rest"
      echo "-- saved $where as $rest"
      ;;
    output)
      [[ -n $last_run ]] || fail "$where: an output block with no run block before it"
      if [[ -n $last_skipped ]]; then
        echo "-- SKIPPED $where: the output of $last_run, whose commands were skipped"
        skipped=$((skipped + 1))
        continue
      fi
      vary=0
      if [[ $rest == *"numbers vary" ]]; then vary=1; fi
      mode=${rest%numbers vary}
      mode=${mode% }
      expected=$body actual=$last_output
      if ((vary)); then
        normalised "$body" >"$body.normalised" && expected=$body.normalised
        normalised "$last_output" >"$last_output.normalised" && actual=$last_output.normalised
      fi
      case $mode in
        "")
          lines=$(wc -l <"$expected")
          if ! tail -n "$lines" "$actual" | diff -u "$expected" - >"$work/diff"; then
            cat "$work/diff" >&2
            fail "$where does not match the end of what $last_run printed (diff above: - README, + actual)"
          fi
          ;;
        lines)
          if ! lines_in_order "$expected" "$actual"; then
            cat "$actual" >&2
            fail "$where: not every line of it is in what $last_run printed (shown above), in order"
          fi
          ;;
        *) fail "$where: unknown marker '$marker'" ;;
      esac
      echo "-- output $where matches$( ((vary)) && echo ", numbers aside")"
      ;;
    excerpt)
      [[ -f $copy/$rest ]] || fail "$where: an excerpt of '$rest', which does not exist"
      grep -v '^[[:space:]]*$' "$body" >"$body.lines" || true
      lines_in_order "$body.lines" "$copy/$rest" || fail "$where is not an excerpt of $rest"
      echo "-- excerpt $where is in $rest"
      ;;
    skip)
      [[ -n $rest ]] || fail "$where: 'skip' needs a reason"
      echo "-- SKIPPED $where: $rest"
      skipped=$((skipped + 1))
      ;;
    "") fail "$where has no <!-- readme-check: ... --> marker on the line above it" ;;
    *) fail "$where: unknown marker '$marker'" ;;
  esac
done <"$blocks/index"

((ran > 0)) || fail "no block of $readme was run"

# The README says which script made each example data file; it must still make exactly that file.
for script in "$copy"/examples/data/make_*.py; do
  name=$(basename "$script" .py)
  data=examples/data/${name#make_}.csv
  if ! (cd "$copy" && python3 "examples/data/$name.py" | cmp -s - "$data"); then
    fail "$data is not what examples/data/$name.py writes"
  fi
  echo "-- $data is what examples/data/$name.py writes"
done

keep_work=0
echo "check-readme: passed: $ran blocks run, $skipped skipped (reasons above)"
