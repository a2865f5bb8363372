#!/bin/sh
# Copies those of the real programs given that exist (stubs, launchers, Wine's
# own programs) into the folder named first, as fuzzing seeds; each is named
# after its folder and its own name.
dest=$1
shift
mkdir -p "$dest"
for program in "$@"; do
  if [ -f "$program" ]; then cp "$program" "$dest/$(basename "$(dirname "$program")")-$(basename "$program")"; fi
done
