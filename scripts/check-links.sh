#!/usr/bin/env bash
# Checks the relative links of every tracked Markdown file: each target `](path)` or
# `](path#anchor)` must name a file or folder that exists, relative to the file that links to it,
# and an anchor into a Markdown file (`](#anchor)` within the same file) must name one of its
# headings, spelled as the web view spells it: lower case, punctuation dropped, spaces as hyphens,
# a repeated heading numbered -1, -2 and on. Links with a scheme (https:, mailto:) are not
# checked, nor anything inside fenced code blocks. Prints every broken link as
# file:line: target and exits with status 1 if there is one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The anchors of one Markdown file's headings, one a line.
anchors() {
  awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced || !/^#+[ \t]/ { next }
    {
      text = $0
      sub(/^#+[ \t]+/, "", text); sub(/[ \t]+#*[ \t]*$/, "", text)
      slug = tolower(text)
      gsub(/[^a-z0-9 _-]/, "", slug)
      gsub(/ /, "-", slug)
      anchor = slug
      if (slug in seen) anchor = slug "-" seen[slug]
      seen[slug]++
      print anchor
    }
  ' "$1"
}

# Every relative link target of one Markdown file, as line<TAB>target.
links() {
  awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      line = $0
      while (match(line, /\]\([^) \t]+/)) {
        target = substr(line, RSTART + 2, RLENGTH - 2)
        line = substr(line, RSTART + RLENGTH)
        if (target ~ /^[A-Za-z][A-Za-z0-9+.-]*:/) continue
        print NR "\t" target
      }
    }
  ' "$1"
}

broken=0
while IFS= read -r -d '' md; do
  dir=$(dirname "$md")
  while IFS=$'\t' read -r line target; do
    path=${target%%#*}
    anchor=
    [[ $target == *'#'* ]] && anchor=${target#*#}
    if [[ -z $path ]]; then
      file=$md
    else
      file=$dir/$path
      if [[ ! -e $file ]]; then
        echo "$md:$line: $target (no such file or folder)"
        broken=1
        continue
      fi
    fi
    if [[ -n $anchor && $file == *.md && -f $file ]] && ! anchors "$file" | grep -qxF -- "$anchor"
    then
      echo "$md:$line: $target (no such heading)"
      broken=1
    fi
  done < <(links "$md")
done < <(git ls-files -z -- '*.md')

if ((broken)); then
  echo "broken links in the Markdown files" >&2
  exit 1
fi
