#!/usr/bin/env bash
# Checks that the device binary and its package are reproducible: the committed tree is cloned
# twice (copied, outside a git checkout), at paths of different lengths, built and packed one after
# the other; the binary and the .tar.gz of both must be byte-identical.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sums=()
for place in a b/a-longer/path; do
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git clone -q . "$work/$place"
  else
    mkdir -p "$work/$place" && tar -c --exclude='./build*' --exclude=./demo-out . | tar -x -C "$work/$place"
  fi
  (cd "$work/$place" && bash scripts/device-build.sh --binary-only >/dev/null && bash scripts/device-package.sh >/dev/null)
  sums+=("$(cd "$work/$place/build-device" && sha256sum inkplay inkplay-*.tar.gz)")
done
if [ "${sums[0]}" != "${sums[1]}" ]; then
  printf 'device-reproducible: the two builds differ:\n%s\n--\n%s\n' "${sums[0]}" "${sums[1]}"
  exit 1
fi
echo "device-reproducible: two checkouts, built apart, give the same bytes:"
echo "${sums[0]}"
