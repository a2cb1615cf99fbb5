#!/usr/bin/env bash
# Golden listings: records what the quick and deep scans list for every test fixture
# and sample image, so that a refactor can show the listings did not change.
#
#   scripts/golden_listings.sh --cli PATH/dunmere-cli --out DIR     write the listings into DIR
#   scripts/golden_listings.sh --cli PATH/dunmere-cli --check DIR   list again and diff against DIR;
#                                                                   exit 1 and show the diff when they differ
#   --images DIR   where the *.img fixtures are (default build/test-fixtures); samples/*.img.xz are
#                  always scanned too. Images under 64 KiB are skipped.
#
# One file per image and scan: DIR/<path with / as __>.quick.txt and .deep.txt. Line 1 is the exit
# code, line 2 the image's sha256 (a regenerated fixture shows up here rather than as a puzzling
# listing change), then the first error line of a failed scan or the sorted listing, one file per line.
# Scans run one after another, each with its own throw-away data folder so none resumes another.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli='' out='' check='' images=$root/build/test-fixtures
usage() { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
while (($#)); do
  case $1 in
    --cli) cli=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --check) check=${2:?}; shift 2 ;;
    --images) images=${2:?}; shift 2 ;;
    *) usage ;;
  esac
done
[[ -n $cli && ( -n $out || -n $check ) && ( -z $out || -z $check ) ]] || usage
[[ -x $cli ]] || { echo "not executable: $cli" >&2; exit 2; }
cli=$(realpath "$cli")
export LC_ALL=C.UTF-8 TZ=UTC

work=$(mktemp -d "${TMPDIR:-/tmp}/golden-listings.XXXXXX")
trap 'rm -rf "$work"' EXIT
dest=${out:-$work/listings}
mkdir -p "$dest"
if [[ -n $out ]]; then rm -f "$dest"/*.quick.txt "$dest"/*.deep.txt; fi

# Older builds may lack --json or --fresh; fall back to what this one offers.
help=$("$cli" scan --help 2>&1 || true)
json=(); grep -q -- '--json' <<<"$help" && json=(--json)
fresh=(); grep -q -- '--fresh' <<<"$help" && fresh=(--fresh)

# One line per file: path, size, engine, contentOk, then every other field as key=value in key
# order, so a field that appears or vanishes shows up in the diff.
normalise_json() {
  jq -R -r '. as $line | (fromjson? | [(.folder // "") + (.name // ""), (.size // "" | tostring), (.engine // ""),
           "contentOk=" + (.contentOk | tostring)]
         + (to_entries | map(select(.key | IN("folder", "name", "size", "engine", "contentOk") | not))
            | sort_by(.key) | map(.key + "=" + (.value | tostring)))
         | join("\t")) // "unparsed: " + $line'
}

scan() { # image key mode options...
  local img=$1 key=$2 mode=$3; shift 3
  local data=$work/data file=$dest/$key.$mode.txt rc=0
  rm -rf "$data"; mkdir -p "$data"
  DUNMERE_DATA_DIR=$data "$cli" scan "$@" "${json[@]}" "$img" </dev/null >"$work/stdout" 2>"$work/stderr" || rc=$?
  {
    echo "exit $rc"
    echo "image sha256 $(sha256sum <"$img" | cut -d' ' -f1)"
    # Progress lines end in \r; the image and data folder paths are temporary.
    tr '\r' '\n' <"$work/stderr" | awk '!/^scanning:/ && NF' \
      | sed -e "s|$img|IMAGE|g" -e "s|$data|DATA|g" | awk -v rc=$rc 'rc == 0 || NR == 1' \
      | sed 's/^/stderr: /'
    if ((rc == 0)); then
      if ((${#json[@]})); then normalise_json <"$work/stdout"; else
        sed -e "s|$data|DATA|g" -e "s|$img|IMAGE|g" "$work/stdout"; fi | sort
    fi
  } >"$file"
  rm -rf "$data"
}

run_image() { # image key
  scan "$1" "$2" quick
  scan "$1" "$2" deep --deep "${fresh[@]}"
  echo "$2: quick $(head -n1 "$dest/$2.quick.txt"), deep $(head -n1 "$dest/$2.deep.txt")" >&2
}

count=0
if [[ -d $images ]]; then
  while IFS= read -r rel; do
    run_image "$images/$rel" "${rel//\//__}"; count=$((count + 1))
  done < <(find "$images" -type f -name '*.img' -size +65535c -printf '%P\n' | sort)
else
  echo "no fixture folder $images; only the samples are scanned" >&2
fi
mkdir -p "$work/samples"
for xzf in "$root"/samples/*.img.xz; do
  [[ -e $xzf ]] || continue
  img=$work/samples/$(basename "$xzf" .xz)
  xz -dk -c "$xzf" >"$img"
  run_image "$img" "samples__$(basename "$img")"; count=$((count + 1))
  rm -f "$img"
done
echo "$count images, $((count * 2)) listings in $dest" >&2

if [[ -n $check ]]; then
  if ! diff -ru "$check" "$dest" >"$work/diff"; then
    head -n 200 "$work/diff"
    echo "listings differ from $check ($(grep -c '^[-+][^-+]' "$work/diff" || true) changed lines)" >&2
    exit 1
  fi
  echo "listings identical to $check" >&2
fi
