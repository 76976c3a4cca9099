#!/usr/bin/env bash
# Runs every example of README.md and docs/*.md whose output is shown, and compares the output
# with what the page shows, so that the manual cannot drift from the tool.
#
#   tests/examples.sh EXECUTABLE SOURCE_DIR [PAGE...]
#
# An example is a fenced block opened by ```console: each line that starts with "$ " is a command
# (a line ending in "\" goes on on the next), and the lines up to the next command are what it
# prints, standard output and standard error together, with "…" alone on a line standing for any
# number of lines. Commands run with bash in a scratch copy of the repository's examples/ (as
# examples/), with `quorvane` the executable under test and `cct`, `ogr2ogr` and `python3`
# whatever the machine has; a page marks a block that needs what a test machine lacks with
# "<!-- example: skip … -->" on the line before it, and it is then not run. Fails naming the page,
# the line and the first line that differs.
set -uo pipefail

executable=$(realpath "$1")
root=$(realpath "$2")
shift 2
pages=("$@")
if [ ${#pages[@]} -eq 0 ]; then
  pages=("$root/README.md" "$root"/docs/*.md)
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/work"
cp "$executable" "$scratch/bin/quorvane"
cp -r "$root/examples" "$scratch/work/examples"

failures=0
examples=0

# Compares what a block printed ($1, a file) with what the page shows ($2, a file); "…" alone
# on a line of what is shown matches any number of lines.
matches() {
  awk -v shownFile="$2" '
    BEGIN { n = 0; while ((getline line < shownFile) > 0) shown[++n] = line }
    { got[++m] = $0 }
    END {
      # Match with backtracking over the "…" lines, smallest skips first.
      print (match_from(1, 1) ? "yes" : "no")
    }
    function match_from(i, j,   k) {
      if (i > n) return j > m
      if (shown[i] == "…") {
        for (k = j; k <= m + 1; ++k) if (match_from(i + 1, k)) return 1
        return 0
      }
      if (j > m || shown[i] != got[j]) return 0
      return match_from(i + 1, j + 1)
    }' "$1"
}

run_block() {
  local page=$1 line=$2 commands=$3 shown=$4
  examples=$((examples + 1))
  local got="$scratch/got" expected="$scratch/expected"
  printf '%s' "$shown" >"$expected"
  (cd "$scratch/work" && PATH="$scratch/bin:$PATH" LC_ALL=C.UTF-8 bash -c "$commands") >"$got" 2>&1
  if [ "$(matches "$got" "$expected")" != yes ]; then
    failures=$((failures + 1))
    echo "examples: ${page#"$root"/}:$line: the output differs from what the page shows"
    diff "$expected" "$got" | head -n 20
  fi
}

for page in "${pages[@]}"; do
  inBlock=0 skip=0 number=0 start=0 commands="" shown="" continued=0 previous=""
  while IFS= read -r text || [ -n "$text" ]; do
    number=$((number + 1))
    if [ $inBlock -eq 0 ]; then
      if [ "$text" = '```console' ]; then
        inBlock=1 start=$number commands="" shown="" continued=0
        [[ "$previous" == "<!-- example: skip"* ]] && skip=1 || skip=0
      fi
      previous=$text
      continue
    fi
    if [ "$text" = '```' ]; then
      inBlock=0
      [ $skip -eq 0 ] && [ -n "$commands" ] && run_block "$page" "$start" "$commands" "$shown"
      previous=$text
      continue
    fi
    if [ $continued -eq 1 ]; then
      commands+=$'\n'"$text"
      [[ "$text" == *\\ ]] || continued=0
    elif [[ "$text" == '$ '* ]]; then
      # Each command's output follows it: commands after the first print after the earlier ones'.
      commands+=$'\n'"${text#\$ }"
      [[ "$text" == *\\ ]] && continued=1
    else
      shown+="$text"$'\n'
    fi
  done <"$page"
done

echo "examples: $examples run, $failures differ"
[ $failures -eq 0 ]
