#!/bin/sh
# The manual page of mdbcompact says what its --help says: every command's usage line is
# in the SYNOPSIS, and the options named on either side are the same.
#   man_matches_help.sh MDBCOMPACT MANPAGE
set -eu
mdbcompact=$1
page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
squeeze() { tr -s ' \t\n' '   ' | sed 's/^ //; s/ $//'; }

# The page as text on one long line per paragraph; no hyphenation, no adjusting.
groff -man -Tascii -P-cbou -rLL=500n -rHY=0 "$page" >"$work/page.txt"
sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' "$work/page.txt" | squeeze >"$work/synopsis"

"$mdbcompact" --help >"$work/help"
commands=$(sed -n '/^commands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p' "$work/help")
[ -n "$commands" ] || { echo "no commands in mdbcompact --help"; exit 1; }
status=0
for command in $commands; do
  "$mdbcompact" "$command" --help >>"$work/help"
  usage=$("$mdbcompact" "$command" --help | sed -n 's/^usage: //p' | squeeze)
  case " $(cat "$work/synopsis") " in
    *" $usage "*) ;;
    *) echo "SYNOPSIS of $page lacks: $usage"; status=1 ;;
  esac
done
grep -o -- '--[a-z][a-z-]*' "$work/help" | sort -u >"$work/help-options"
# The examples may show other programs' options (systemctl --now).
sed '/^EXAMPLES/,$d' "$work/page.txt" | grep -o -- '--[a-z][a-z-]*' | sort -u >"$work/page-options"
if ! cmp -s "$work/help-options" "$work/page-options"; then
  echo "options differ (< --help, > manual page):"
  diff "$work/help-options" "$work/page-options" || true
  status=1
fi
exit $status
