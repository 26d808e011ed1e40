#!/bin/sh
# Only the util readers may open, list or read links of system files: that is what lets
# QUARVEL_SYSROOT re-root every read. Any other call of these functions in src/ fails here.
# Allowed: the readers themselves; the report writer's output file; the program's own
# directory lookup for its modules (window, capture archive) and the display probe's child's
# /dev/null; the settings file, crash report and locale alias table (the user's own files and
# language, not facts about the machine).
set -u
src=${1:?usage: check_file_access.sh SRC_DIR}
pattern='(^|[^_A-Za-z0-9.>:])(::)?(open|fopen|openat|opendir|readlink|stat|lstat|access|scandir|realpath|ifstream|ofstream|fstream)[[:space:]]*\(|std::(ifstream|ofstream|fstream)|std::filesystem'
allowed='src/util_files.cc|src/entry.cc|src/module_loader.cc|src/window_module.cc|src/settings.cc|src/crash_handler.cc|src/i18n.cc'
hits=$(cd "$src/.." && grep -rnE "$pattern" src --include='*.cc' --include='*.h' | grep -vE "^($allowed):" )
if [ -n "$hits" ]; then
    echo "System files must be read through the util readers (QUARVEL_SYSROOT):" >&2
    echo "$hits" >&2
    exit 1
fi
exit 0
