#!/usr/bin/env bash
# The Windows build, made on Debian with mingw-w64 (cmake/mingw-w64.cmake):
# every layer below the windows (base ... app/core), dunmere-cli.exe and the
# test programs of those layers, linked statically so that each .exe runs on
# a bare Windows 10 or 11. The desktop program and its tests are left out
# (Qt is not there for mingw in Debian; docs/windows.md).
#   scripts/build-windows.sh          build into build-windows/ and make
#                                     build-windows/dunmere-cli-windows-x64.zip
#   scripts/build-windows.sh --test   the same, then the tests under Wine over
#                                     the fixture images the Linux side makes,
#                                     and dunmere-cli.exe's copy-out of the NTFS
#                                     and FAT images compared with the Linux
#                                     build's, byte for byte
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
test_run=false
[ "${1:-}" = "--test" ] && test_run=true

bash scripts/install-deps.sh --windows
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64  # Debian's wine64 keeps it out of PATH

build=build-windows
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The package a Windows user unpacks: the program, its language files and a
# README that starts from an administrator console.
package="$build/dunmere-cli-windows-x64"
rm -rf "$package" "$package.zip"
mkdir -p "$package/Languages"
x86_64-w64-mingw32-strip -o "$package/dunmere-cli.exe" "$build/cli/dunmere-cli.exe"
cp languages/config.ini "$package/"
cp languages/Languages/*.ini "$package/Languages/"
# Notepad and the console read the README as it is: Windows line ends.
sed 's/$/\r/' packaging/windows/README.txt > "$package/README.txt"
(cd "$build" && zip -qr "dunmere-cli-windows-x64.zip" "dunmere-cli-windows-x64")
echo "windows package: $build/dunmere-cli-windows-x64.zip"

$test_run || exit 0

# ---- tests under Wine -------------------------------------------------------
bash scripts/install-deps.sh   # the fixture scripts' tools and the Linux build
export WINEPREFIX="$root/$build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" cmd /c exit >/dev/null 2>&1 || true  # makes the prefix once, before tests run in parallel

# The fixture images are made on Linux, where the Linux tests make them and
# keep them (build/test-fixtures, stamped with their script's hash); what is
# missing or stale is made here the same way.
fixtures="$root/build/test-fixtures"
mkdir -p "$fixtures"
stamp_of() { echo -n "$(sha256sum "tests/fixtures/$1" | cut -d' ' -f1)$(sha256sum tests/fixtures/lib_magic.sh | cut -d' ' -f1)"; }
make_fixture() {  # script name
  local dir="$fixtures/$2" want
  want=$(stamp_of "$1")
  exec 9>"$fixtures/$2.lock"
  flock 9
  if [ "$(cat "$dir/stamp" 2>/dev/null)" != "$want" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    bash "tests/fixtures/$1" "$dir" >"$fixtures/$2.log" 2>&1 || { cat "$fixtures/$2.log"; exit 1; }
    echo -n "$want" >"$dir/stamp"
  fi
  exec 9>&-
}
make_fixture make_ntfs_images.sh ntfs-images
make_fixture make_fat_images.sh fat-images
make_fixture make_exfat_images.sh exfat-images
make_fixture make_logical_partitions_image.sh logical-disk
make_fixture make_ntfs_stop_image.sh ntfs-stop-image
make_fixture make_two_fat_disk_image.sh two-fat-disk
make_fixture make_formatted_over_images.sh formatted-over-images
make_fixture make_deepntfs_images.sh deepntfs-images
make_fixture make_deepfat_images.sh deepfat-images
cli_images="$fixtures/cli-images-$(sha256sum tests/fixtures/make_cli_images.sh | cut -c1-16)"
if [ ! -f "$cli_images/done" ]; then
  mkdir -p "$cli_images"
  bash tests/fixtures/make_cli_images.sh "$cli_images" both >"$cli_images.log" 2>&1 || { cat "$cli_images.log"; exit 1; }
  touch "$cli_images/done"
fi
# The committed exFAT images, unpacked (no xz runs under Windows).
mkdir -p "$fixtures/exfat-committed"
for packed in tests/fixtures/exfat/*.img.xz; do
  name=$(basename "$packed" .xz)
  if [ ! -f "$fixtures/exfat-committed/$name" ] || [ "$packed" -nt "$fixtures/exfat-committed/$name" ]; then
    xz -dc "$packed" | cp --sparse=always /dev/stdin "$fixtures/exfat-committed/$name"
  fi
  cp "tests/fixtures/exfat/$name.manifest" "$fixtures/exfat-committed/"
done

export DUNMERE_FIXTURE_DIR="$fixtures" DUNMERE_FIXTURES_REQUIRED=1
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 1200

# ---- the same files as the Linux build -----------------------------------
# dunmere-cli.exe and the Linux dunmere-cli copy the deleted files of the NTFS
# and FAT32 images out: the two trees must hold the same names and bytes.
linux_cli="$root/build/cli/dunmere-cli"
if [ ! -x "$linux_cli" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build build -j"$(nproc)" --target dunmere-cli
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
compared=0 differ=0
for image in ntfs fat32; do
  for layout in tree category; do
    for side in linux windows; do
      export DUNMERE_DATA_DIR="$work/data-$side"
      if [ $side = linux ]; then
        "$linux_cli" recover "$cli_images/$image.img" --to "$work/$side-$image-$layout" --layout $layout --force \
          >"$work/$side.log" 2>&1 || { cat "$work/$side.log"; exit 1; }
      else
        "$wine" "$build/cli/dunmere-cli.exe" recover "$cli_images/$image.img" --to "$work/$side-$image-$layout" \
          --layout $layout --force >"$work/$side.log" 2>&1 || { cat "$work/$side.log"; exit 1; }
      fi
    done
    if diff -r "$work/linux-$image-$layout" "$work/windows-$image-$layout" >"$work/diff.log"; then
      echo "same files from Linux and Windows: $image.img, $layout layout ($(find "$work/linux-$image-$layout" -type f | wc -l) files)"
      compared=$((compared + 1))
    else
      echo "Linux and Windows copy-out differ: $image.img, $layout layout"
      cat "$work/diff.log"
      differ=$((differ + 1))
    fi
  done
done
echo "windows-vs-linux: $compared passed, $differ failed"
[ $differ -eq 0 ]
