#!/usr/bin/env bash
# Checks that product sources include only their own layer and the layers below it
# (README, "Layout"). Tests (*_test.cpp), testing/, fuzz/ and bench/ are not product
# sources and may include what they exercise.
#
#   scripts/check_layers.sh [TREE]
#
# Prints one line per include that breaks a rule ("file:line: includes X (rule)") and
# "N includes break the layers" at the end. Exit status 0 when none does, 1 otherwise.
set -u

tree=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$tree" || exit 2

# folder: the top folders its product files may include (utils/file is its own layer).
allowed() {
  case $1 in
    utils/file/*) echo "utils" ;;
    utils/*) echo "utils" ;;
    translation/*) echo "translation utils" ;;
    json/*) echo "json utils" ;;
    zip/*) echo "zip utils" ;;
    httpserver/*) echo "httpserver zip json translation utils" ;;
    content/*) echo "content httpserver zip json translation utils" ;;
    tools/pack/*) echo "tools app content httpserver zip json translation utils" ;;
    app/*) echo "app content httpserver zip json translation utils" ;;
  esac
}

broken=0
while IFS= read -r file; do
  case $file in
    *_test.cpp | testing/* | fuzz/* | bench/*) continue ;;
  esac
  ok=$(allowed "$file")
  [ -n "$ok" ] || continue
  while IFS=: read -r line target; do
    top=${target%%/*}
    # utils/ is below utils/file/: the ground includes nothing of the file layer.
    if [ "${file%%/*}" = utils ] && [ "${target#utils/file/}" != "$target" ] &&
      [ "${file#utils/file/}" = "$file" ]; then
      echo "$file:$line: includes $target (utils/ is below utils/file/)"
      broken=$((broken + 1))
      continue
    fi
    case " $ok " in
      *" $top "*) ;;
      *)
        echo "$file:$line: includes $target (${file%%/*}/ may include: $ok)"
        broken=$((broken + 1))
        ;;
    esac
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*/' "$file" |
    sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/')
done < <(
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -- '*.cpp' '*.h'
  else
    find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||'
  fi
)

echo "$broken includes break the layers"
[ "$broken" -eq 0 ]
