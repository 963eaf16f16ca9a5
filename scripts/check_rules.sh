#!/usr/bin/env bash
# The rules of docs/design.md that a search of the sources can check. Each
# check prints what breaks its rule, and nothing while the rule holds; the
# script fails when any printed something.
#   bash scripts/check_rules.sh           every check
#   bash scripts/check_rules.sh NAME...   the checks named (list: --list)
set -uo pipefail
cd "$(dirname "$0")/.."

SHARED=(acquisition headlink store navfile depth reduction waterfall cmdline grid)
SHIPPED=("${SHARED[@]}" platform tools)
CHECKS=(os_headers os_calls shared_files no_if tool_includes shared_includes contract_prefix mirror_pairs names types
        constants nmea_home)

# The functions a C++ file declares or defines at its top level, outside an
# anonymous namespace and not static, as "file:line:name", one a line.
top_level_functions() {
    awk '/^namespace \{/ { hidden = 1 } /^\}  \/\/ namespace/ { hidden = 0 }
         !hidden && /^[A-Za-z]/ && !/^(static|static_assert|typedef|using|return|struct|enum|class|namespace|template|constexpr|extern)[ <(]/ &&
         !/[A-Za-z0-9_]::~?[A-Za-z_][A-Za-z0-9_]*\(/ {
             # the first name followed by "(", unless it lies in the initialiser of a variable
             if (match($0, /[a-z_][a-z0-9_]*\(/) && substr($0, 1, RSTART - 1) !~ /=/)
                 print FILENAME ":" FNR ":" substr($0, RSTART, RLENGTH - 1)
         }' "$@"
}

# An operating system's header is included by platform/'s backends alone, and by headsim's wire.cpp.
os_headers() {
    git grep -nE '#include <(unistd|termios|windows|winsock2?|ws2tcpip|sys/[a-z_]+|fcntl|poll|signal|netinet/in|arpa/inet|netdb|dirent|io|conio|process|pthread|pwd|pty|dlfcn)\.h>' \
        -- "${SHARED[@]}" tools ':!tools/headsim/wire.cpp'
}

# The C library's look at the computer (its environment, its time zone, its
# clock, other programs) is the platform's too.
os_calls() {
    git grep -nE '\b(getenv|setenv|putenv|mktime|tzset|tzname|localtime|localtime_r|gmtime|gmtime_r|time|clock|system|popen)\(|tzname\[' \
        -- "${SHARED[@]}" tools ':!tools/headsim/wire.cpp' | grep -vE '^[^:]+:[0-9]+:\s*//'
}

# A shared folder makes, moves and removes no file itself: its caller or the platform does (GDAL's files in grid/
# are named by the caller).
shared_files() {
    git grep -nE '\b(fopen|freopen|tmpfile|open|creat|remove|rename|unlink|mkdir)\(' -- "${SHARED[@]}" |
        grep -vE '^[^:]+:[0-9]+:\s*//'
}

# The system is chosen in CMake alone: no C++ file holds an #if.
no_if() {
    git grep -nE '^\s*#\s*(if|ifdef|ifndef|elif)\b' -- '*.cpp' '*.h'
}

# A tool includes no other tool's header.
tool_includes() {
    git grep -nE '#include "tools/' -- tools |
        awk -F: '{ split($1, own, "/"); match($3, /"tools\/[^\/]+\//); if (substr($3, RSTART + 7, RLENGTH - 8) != own[2]) print }'
}

# What the tools share includes no tool's header, and a platform header includes only the platform's.
shared_includes() {
    git grep -nE '#include "tools/' -- "${SHARED[@]}" platform
    git grep -nE '#include "' -- 'platform/*.h' | grep -v '#include "platform/'
}

# The contracts' functions carry plat_. A contract is a header of platform/
# without a source of its name there (address_text.h is a helper of the
# backends, with its address_text.cpp).
contract_prefix() {
    for header in platform/*.h; do
        [ -e "${header%.h}.cpp" ] && continue
        top_level_functions "$header" | grep -v ':plat_'
    done
}

# The backends come in mirror pairs, posix_X.cpp and win32_X.cpp, that define
# the same contract functions in the same order; a file of either system
# without its pair defines none.
mirror_pairs() {
    local kind
    for kind in $(cd platform && ls posix/posix_*.cpp win32/win32_*.cpp | sed -E 's#^[a-z0-9]+/[a-z0-9]+_##' | sort -u); do
        local posix=platform/posix/posix_$kind win32=platform/win32/win32_$kind
        diff <([ -e "$posix" ] && top_level_functions "$posix" | awk -F: '$3 ~ /^plat_/ { print $3 }') \
             <([ -e "$win32" ] && top_level_functions "$win32" | awk -F: '$3 ~ /^plat_/ { print $3 }') |
            sed -n "s#^< #$posix: #p; s#^> #$win32: #p"
    done
}

# Every function of the shipped code carries a prefix of the names listed in docs/design.md, and each prefix
# listed names a function.
names() {
    local prefixes functions prefix
    prefixes=$(sed -n '/^## Names/,$p' docs/design.md | grep -oE '`[a-z0-9_]+_`' | tr -d '`' | sort -u)
    functions=$(top_level_functions $(git ls-files -- "${SHIPPED[@]}" | grep -E '\.(cpp|h)$'))
    # A module's own name is one of its functions too (ping_locate_ the prefix, ping_locate the call).
    grep -vE ":($(sed 's/_$//' <<<"$prefixes" | paste -sd '|'))(_[a-z0-9_]*)?$|:main$" <<<"$functions" |
        awk -F: '!seen[$3]++'
    for prefix in $prefixes; do
        grep -qE ":${prefix%_}(_[a-z0-9_]*)?$" <<<"$functions" || echo "docs/design.md: $prefix names no function"
    done
}

# Types are CamelCase.
types() {
    git grep -nE '^\s*(struct|class|union|enum( class)?)\s+[a-z_][A-Za-z0-9_]*\s*(\{|:[^:]|$)' -- "${SHIPPED[@]}"
}

# Named constants and enum values are UPPER_SNAKE_CASE.
constants() {
    git grep -nE '^(static )?(constexpr [A-Za-z0-9_:<>]+[ *&]+(const )?|const [A-Za-z0-9_:<>]+ +|const [A-Za-z0-9_:<>]+\* ?const +)[a-z][a-z0-9_]*(\[[^]]*\])* *(=|\{)' \
        -- "${SHIPPED[@]}"
    awk '/^\s*enum( class)? [A-Za-z0-9_]+( : [A-Za-z0-9_]+)? *\{/ { inside = 1; body = ""; at = FNR }
         inside { line = $0; sub(/\/\/.*/, "", line); body = body " " line }
         inside && /\}/ {
             inside = 0
             sub(/^[^{]*\{/, "", body); sub(/\}.*/, "", body)
             count = split(body, values, ",")
             for (i = 1; i <= count; ++i) {
                 name = values[i]; sub(/=.*/, "", name); gsub(/[ \t]/, "", name)
                 if (name != "" && name !~ /^[A-Z][A-Z0-9_]*$/) print FILENAME ":" at ":" name
             }
         }' $(git ls-files -- "${SHIPPED[@]}" | grep -E '\.(cpp|h)$')
}

# An NMEA sentence's text is made in navfile/, its home, and nowhere else.
nmea_home() {
    git grep -nE '"\$[A-Z]{5},|nmea_append_checksum' -- "${SHARED[@]}" platform tools ':!navfile' |
        grep -vE '^[^:]+:[0-9]+:\s*//'
}

if [ "${1:-}" = --list ]; then
    printf '%s\n' "${CHECKS[@]}"
    exit 0
fi
found=$(for check in "${@:-${CHECKS[@]}}"; do "$check"; done)
[ -z "$found" ] || { printf '%s\n' "$found"; exit 1; }
