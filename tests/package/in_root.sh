#!/bin/bash
# Runs inside the fresh Debian root that deb_test made, as root, in the
# folder that holds the package and the user's program:
#     in_root.sh PACKAGE.deb
# Installs the package, uses the tool and the library as a user would,
# purges the package and checks that it left nothing under /usr.
set -euo pipefail
deb=$1
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "-- $*"; }

find /usr -xdev | sort > usr-before.txt

step "apt-get install $deb"
apt-get install -y -qq --no-install-recommends "./$deb" > apt-install.log ||
    { cat apt-install.log; fail "apt-get install"; }
[[ $(command -v kestrune) == /usr/bin/kestrune ]] || fail "kestrune is not on the PATH"

step "kestrune selftest"
kestrune selftest > selftest.txt || { cat selftest.txt; fail "selftest"; }
tail -n 1 selftest.txt

step "sums checked both ways with sha256sum"
head -c 1000003 /dev/urandom > data.bin
printf 'abc' > 'a name.txt'
kestrune hash-file --hash SHA-256 --format sum data.bin 'a name.txt' > ours.sha256 || fail "hash-file --format sum"
sha256sum data.bin 'a name.txt' > theirs.sha256
cmp ours.sha256 theirs.sha256 || fail "kestrune's sums differ from sha256sum's"
sha256sum --check --quiet ours.sha256 || fail "sha256sum rejects kestrune's sums"
kestrune hash-file --hash SHA-256 --quiet --check theirs.sha256 || fail "kestrune rejects sha256sum's sums"

step "manual page"
[[ -f /usr/share/man/man1/kestrune.1.gz ]] || fail "no manual page"

step "batch through the automation server"
answer=$(echo '{"call": "HashString", "args": ["abc", 6]}' | kestrune batch)
[[ $answer == *BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD* ]] || fail "batch answered $answer"

step "every installed header compiles on its own"
headers=0
while read -r header; do
    echo "#include <${header#/usr/include/}>" |
        g++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -x c++ - || fail "$header does not compile alone"
    headers=$((headers + 1))
done < <(find /usr/include/kestrune -name '*.h' | sort)
((headers > 0)) || fail "no headers under /usr/include/kestrune"
echo "$headers headers"

abc=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD
step "a program built with find_package(Kestrune)"
cmake -S user -B user-cmake -Wno-dev > cmake.log && cmake --build user-cmake >> cmake.log ||
    { cat cmake.log; fail "building with find_package(Kestrune)"; }
[[ $(user-cmake/user) == "$abc" ]] || fail "the CMake-built program printed $(user-cmake/user)"

step "a program built with pkg-config"
# shellcheck disable=SC2046  # pkg-config's words are separate arguments
g++ -std=c++20 -o user-pc user/main.cpp $(pkg-config --cflags --libs kestrune) || fail "building with pkg-config"
[[ $(./user-pc) == "$abc" ]] || fail "the pkg-config-built program printed $(./user-pc)"
[[ $(pkg-config --modversion kestrune) == "${KESTRUNE_VERSION:?}" ]] || fail "pkg-config gives version $(pkg-config --modversion kestrune)"

step "apt-get purge kestrune"
apt-get purge -y -qq kestrune > apt-purge.log || { cat apt-purge.log; fail "apt-get purge"; }
status=$(dpkg-query -W -f='${db:Status-Status}' kestrune 2>/dev/null || true)
[[ -z $status || $status == not-installed ]] || fail "dpkg still has kestrune as $status"
find /usr -xdev | sort > usr-after.txt
diff usr-before.txt usr-after.txt || fail "the package left the files above under /usr"
echo "package test passed"
