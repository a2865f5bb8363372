#!/bin/sh
# Copies those of the real stubs given that exist into the folder named first,
# as seeds for fuzz_stub_image; each is named after its build folder.
dest=$1
shift
mkdir -p "$dest"
for stub in "$@"; do
  if [ -f "$stub" ]; then cp "$stub" "$dest/$(basename "$(dirname "$stub")").exe"; fi
done
