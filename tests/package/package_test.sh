#!/usr/bin/env bash
# The package as users get it: built by scripts/package, unpacked with
# dpkg-deb into a scratch root, and used from there.
#   package_test.sh SOURCE_DIR BUILD_DIR SAMPLE.swf gui|cli
set -euo pipefail
src=$1 build=$2 sample=$3 flavour=$4
for tool in dpkg-deb cpack man; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-package-test-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The package from this build, named as Debian names it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$(QUARVEL_BUILD="$build" QUARVEL_NO_DEPS=1 "$src/scripts/package" "$scratch/out")
[ "$(basename "$deb")" = "quarvel_${version}_amd64.deb" ] || fail "package named $(basename "$deb")"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no library dependencies: $(dpkg-deb -f "$deb" Depends)"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
cli=$root/usr/bin/quarvel-cli
for f in usr/bin/quarvel-cli usr/lib/quarvel/libquarvel_cli_commands.so usr/lib/quarvel/libquarvel_ffmpeg.so usr/lib/quarvel/libquarvel_ffmpeg_format.so \
         usr/share/quarvel/adpcm1.wav \
         usr/share/quarvel/adpcm2.wav usr/share/quarvel/adpcm3.wav usr/share/man/man1/quarvel-cli.1.gz \
         usr/share/bash-completion/completions/quarvel-cli usr/share/doc/quarvel/copyright; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done

# Run as a user would: no working folder given, home in the scratch folder.
export HOME=$scratch/home XDG_DATA_HOME=$scratch/home/.local/share TMPDIR=$scratch/tmp
mkdir -p "$HOME" "$TMPDIR"
unset QUARVEL_HOME
"$cli" --version | grep -q "quarvel-cli $version" || fail "--version does not say $version"

# An ADPCM recording needs a template from share/quarvel, and an MP4 the
# FFmpeg module from lib/quarvel; the loader must take the unpacked one.
LD_DEBUG=files LD_DEBUG_OUTPUT=$scratch/ld "$cli" -q convert "$sample" "$scratch/sample.mp4" \
  --latency 100 --duration 1000 --size 160x120 --sound adpcm22 || fail "convert to MP4 failed"
[ -s "$scratch/sample.mp4" ] || fail "no MP4 written"
for module in libquarvel_cli_commands.so libquarvel_ffmpeg.so libquarvel_ffmpeg_format.so; do
  grep -qh "file=$root/usr/lib/quarvel/$module" "$scratch"/ld.* ||
    fail "the module $module was not loaded from the unpacked package"
done
if command -v ffprobe >/dev/null; then
  streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$scratch/sample.mp4" | sort | tr '\n' ' ')
  [ "$streams" = "audio video " ] || fail "the MP4 holds '$streams', not audio and video"
fi
"$cli" -q convert "$sample" "$scratch/sample.gif" --latency 100 --duration 500 --size 160x120 ||
  fail "convert to GIF failed"
[ "$(head -c 6 "$scratch/sample.gif")" = "GIF89a" ] || fail "no GIF written"
# Nothing was written beside the installed program.
[ -z "$(find "$root/usr/bin" -newer "$deb" ! -type d)" ] || fail "files written into usr/bin"

# Without its data the unpacked program fails on the recording: it did not
# find the templates elsewhere.
mv "$root/usr/share/quarvel" "$root/usr/share/quarvel.away"
if "$cli" -q convert "$sample" "$scratch/nodata.avi" --latency 100 --duration 500 --size 160x120 \
     --sound adpcm44 2>"$scratch/nodata.err"; then
  fail "converted with the data folder gone: the templates came from elsewhere"
fi
grep -q adpcm3.wav "$scratch/nodata.err" || fail "the error does not name the template: $(cat "$scratch/nodata.err")"
mv "$root/usr/share/quarvel.away" "$root/usr/share/quarvel"

# Without its command module the program still answers --help and
# --version, and a command fails naming the module.
mv "$root/usr/lib/quarvel/libquarvel_cli_commands.so" "$scratch/commands.away"
"$cli" --version >/dev/null || fail "--version needs the command module"
if "$cli" -q info "$sample" 2>"$scratch/nomodule.err"; then
  fail "ran a command without the command module: it came from elsewhere"
fi
grep -q "cannot load the command module libquarvel_cli_commands.so" "$scratch/nomodule.err" ||
  fail "the error does not name the command module: $(cat "$scratch/nomodule.err")"
mv "$scratch/commands.away" "$root/usr/lib/quarvel/libquarvel_cli_commands.so"

# Both man pages render without complaint.
pages=(quarvel-cli)
[ "$flavour" = gui ] && pages+=(quarvel)
for page in "${pages[@]}"; do
  file=$root/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || fail "no man page for $page"
  text=$(MANWIDTH=80 man --warnings -l "$file" 2>"$scratch/man.err") || fail "man -l $page failed"
  [ ! -s "$scratch/man.err" ] || fail "man -l $page warns: $(cat "$scratch/man.err")"
  grep -q "EXAMPLES" <<<"$text" || fail "the $page page has no examples"
done
# The command line's page names every command and option its --help lists.
cli_page=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/quarvel-cli.1.gz" 2>/dev/null)
for command in info capture gif avi video mp3 sounds frame convert codecs; do
  grep -q -- "^ *$command" <<<"$cli_page" || fail "the quarvel-cli page lacks the command $command"
  for option in $("$cli" "$command" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
    [ "$option" = --help ] && continue
    grep -q -- "$option" <<<"$cli_page" || fail "the quarvel-cli page lacks $command $option"
  done
done

# The desktop entry, and the completion of a command line.
if [ "$flavour" = gui ]; then
  desktop=$root/usr/share/applications/quarvel.desktop
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects quarvel.desktop"
  else
    echo "desktop-file-validate is not installed: not checked"
  fi
  grep -q '^MimeType=.*application/x-shockwave-flash' "$desktop" || fail "SWF files are not associated"
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/quarvel.svg" ] || fail "no icon"
fi
if [ -f /usr/share/bash-completion/bash_completion ]; then
  words=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_WORDS=(quarvel-cli convert a.swf --sou); COMP_CWORD=3; COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
    _quarvel_cli; echo "${COMPREPLY[*]}"
    COMP_WORDS=(quarvel-cli convert a.swf --sound ""); COMP_CWORD=4; COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
    _quarvel_cli; echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/quarvel-cli")
  [ "$words" = $'--sound\npcm adpcm11 adpcm22 adpcm44 none' ] || fail "completion gave: $words"
fi

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" || fail "lintian reports errors"
else
  echo "lintian is not installed: not checked"
fi
echo "package test passed: $(basename "$deb")"
