# The options a program's --help lists and those its manual page describes, one a line, sorted,
# so that a test can tell when one of them lacks what the other has. Sourced by test scripts.

# Options of --help (standard input): the lines that begin with blanks and a dash, up to the
# first double blank; "-h, --help" gives both, "--link PATH" gives --link.
help_options() {
  grep -E '^ +-' | sed -E 's/^ +//; s/  .*//; s/[ =][A-Z][A-Z_]*//g' | tr ',' '\n' | tr -d ' ' |
    grep -v '^$' | sort -u
}

# Options of a manual page's OPTIONS section: the tag line of every .TP there.
man_options() {
  awk '/^\.SH /{ opts = ($2 == "OPTIONS") } opts && prev == ".TP" { print } { prev = $0 }' "$1" |
    sed 's/\\-/-/g' | grep -oE '(^| )--?[a-z][a-z-]*' | tr -d ' ' | sort -u
}
