#!/bin/sh
# Standard output on a full disk (/dev/full): each command that prints must say so and
# exit 5, never 0 with its output lost.
tool=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
printf 'F\010%%;;?\000\000\000\000\000\000\000\000\000' > "$dir/e.ini"
printf 'send_lrc = true\n' > "$dir/p.toml"
failed=0
for args in "show $dir/e.ini" "show $dir/e.ini --json" "diff $dir/e.ini $dir/p.toml" \
            "diff $dir/e.ini $dir/p.toml --json"; do
  # shellcheck disable=SC2086
  "$tool" $args > /dev/full 2> "$dir/err"
  rc=$?
  if [ "$rc" != 5 ] || ! grep -q 'standard output could not be written' "$dir/err"; then
    echo "FAIL: $args > /dev/full: exit $rc, $(cat "$dir/err")"
    failed=1
  fi
done
exit $failed
