# Sourced by the tools that run the suite on several interpreters; not a command.
# interpreter MINOR prints an interpreter of that version (PYTHON first, then
# python3, pythonMINOR and pyenv's builds, newest first), or nothing.
interpreter() {
    local v=$1 c
    for c in ${PYTHON:+"$PYTHON"} python3 "python$v" \
        $(ls -d "$(pyenv root 2>/dev/null || echo /nonexistent)"/versions/"$v".*/bin/python"$v" 2>/dev/null | sort -rV); do
        c=$(command -v "$c") || continue
        [[ $("$c" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null) == "$v" ]] &&
            { echo "$c"; return; }
    done
}
