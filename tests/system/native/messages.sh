#!/bin/sh
# msrprofile on Linux as a user meets it: each row is a command, the exit code it must give
# and a text its standard error must hold; then replacing a file keeps its mode and links.
tool=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
: > "$dir/empty.toml"
printf 'inter_character_delay = 33\n' > "$dir/slow.toml"
printf '"send_lrc" = true\n"send_lrc" = false\n' > "$dir/twice.toml"
printf 'inter_character_delay = 99999999999999999999\n' > "$dir/huge.toml"
failed=0
check() {  # exit code, text on standard error, then the command's arguments
  want=$1 says=$2
  shift 2
  "$tool" "$@" > "$dir/out" 2> "$dir/err"
  rc=$?
  if [ "$rc" != "$want" ] || ! grep -qF -- "$says" "$dir/err"; then
    echo "FAIL: msrprofile $*: exit $rc (want $want), stderr: $(cat "$dir/err")"
    failed=1
  fi
}
check 3 "empty.toml: the profile sets no option" build "$dir/empty.toml" -o "$dir/e.ini"
check 0 "inter_character_delay = 33 is above 32" build "$dir/slow.toml" -o "$dir/s.ini"
check 3 'key "send_lrc" is given more than once' show "$dir/twice.toml"
check 3 'key "inter_character_delay": ' show "$dir/huge.toml"
check 64 "COM port numbers go from 1 to 298" read --vcom=0
check 2 "there is no port /dev/nosuch" read --port /dev/nosuch
check 64 'unknown command "frob"' frob
check 5 "the folder $dir/none does not exist" build "$dir/slow.toml" -o "$dir/none/x.ini"
# station refuses before it waits for a reader: it would otherwise wait for ever.
check 3 "empty.toml: the profile sets no option" station "$dir/empty.toml" --port /dev/nosuch
check 5 "the results file $dir/none/r.txt can't be written" station "$dir/slow.toml" \
  --port /dev/nosuch --results "$dir/none/r.txt"
check 2 "which Linux doesn't have" station "$dir/slow.toml" --usb
if "$tool" read --help | grep -q -- --ps2; then
  echo "FAIL: read --help offers --ps2, which read refuses"
  failed=1
fi
# A read-only file stays read-only; a link stays a link and its file gets the bytes.
printf 'old' > "$dir/ro.ini" && chmod 0444 "$dir/ro.ini" && ln -s ro.ini "$dir/link.ini"
check 0 "" build "$dir/slow.toml" -o "$dir/link.ini"
if [ ! -L "$dir/link.ini" ] || [ "$(stat -c %a "$dir/ro.ini")" != 444 ] ||
   ! cmp -s "$dir/ro.ini" "$dir/s.ini"; then
  echo "FAIL: build -o through a link to a 0444 file: $(ls -l "$dir")"
  failed=1
fi
exit $failed
