#!/bin/sh
# Every translation catalog must be a valid PO file with consistent c-format placeholders.
set -u
dir=${1:?usage: check_po_files.sh PO_DIR}
status=0
count=0
for f in "$dir"/*.po; do
    count=$((count + 1))
    if ! msgfmt -c -o /dev/null "$f"; then
        echo "msgfmt -c failed: $f" >&2
        status=1
    fi
done
if [ "$count" -ne 44 ]; then
    echo "expected 44 PO files in $dir, found $count" >&2
    status=1
fi
exit $status
