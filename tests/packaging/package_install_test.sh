#!/usr/bin/env bash
# The Debian package from end to end on this machine:
#   1. cpack builds tarvik_<version>_amd64.deb from the build folder;
#   2. its contents, control fields, lintian and the service's exposure
#      score (systemd-analyze security) are checked;
#   3. dpkg installs it: system user, program folder, defaults;
#   4. the installed program serves a copy of the demo folder placed in the
#      program folder, as the service's user without any capability, and
#      answers; SIGTERM stops it within the unit's stop timeout;
#   5. an upgrade leaves the operator's files as they are;
#   6. remove keeps the program folder, purge deletes it.
#
#   package_install_test.sh BUILD_DIR SOURCE_DIR VERSION CPACK TOOL,TOOL,...
#
# Needs root. Exits 77 (skipped) when not root, and when this machine
# already has a tarvik package or a /var/lib/tarvik of its own, which the
# test must not touch.
set -euo pipefail
build="$1" src="$2" version="$3" cpack="$4" tools="${5:-}"

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "== $*"; }

[ "$(id -u)" -eq 0 ] || skip "installing a Debian package needs root (CI runs as root)"
command -v dpkg >/dev/null || skip "no dpkg on this machine"
# A run that was killed before its clean-up leaves this mark in the program
# folder; what it installed is the test's own and goes first.
marker=/var/lib/tarvik/.left-by-package-test
if [ -e "$marker" ]; then
  echo "purging what an interrupted run of this test left"
  dpkg --purge tarvik >/dev/null 2>&1 || true
  rm -rf /var/lib/tarvik
fi
if dpkg-query -W -f='${db:Status-Status}' tarvik 2>/dev/null | grep -qv '^not-installed$'; then
  skip "a tarvik package is already on this machine; the test leaves it alone"
fi
[ ! -e /var/lib/tarvik ] || skip "/var/lib/tarvik exists already; the test leaves it alone"

work="$(mktemp -d /tmp/tarvik-package-XXXXXX)"
server=""
cleanup() {
  if [ -n "$server" ]; then kill -KILL "$server" 2>/dev/null || true; fi
  if dpkg-query -W -f='${db:Status-Status}' tarvik 2>/dev/null | grep -qv '^not-installed$'; then
    dpkg --purge tarvik >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
export DEBIAN_FRONTEND=noninteractive

# ---------------------------------------------------------------------------
step "cpack -G DEB"
(cd "$build" && timeout 600 "$cpack" -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack did not build the package"; }
deb="$work/pkg/tarvik_${version}_amd64.deb"
[ -f "$deb" ] || { ls "$work/pkg"; fail "no $(basename "$deb")"; }

step "contents and control fields"
dpkg-deb -c "$deb" | awk '{ p = $6; if ($7 == "->") p = p " -> " $8; print p }' >"$work/contents"
expect_path() { grep -qxF "$1" "$work/contents" || { cat "$work/contents"; fail "the package lacks $1"; }; }
for f in ./usr/lib/tarvik/Tarvik ./usr/lib/tarvik/MarloDLL.so ./usr/lib/tarvik/PelProjection.so \
         ./usr/lib/tarvik/OrvelMan4.so "./usr/bin/tarvik -> ../lib/tarvik/Tarvik" ./usr/bin/tarvik-client \
         ./usr/share/tarvik/Tarvik_General.ini ./usr/share/tarvik/ConfigurationTemplate.ini \
         ./usr/lib/systemd/system/tarvik.service ./usr/share/man/man1/tarvik.1.gz \
         ./usr/share/man/man1/tarvik-client.1.gz ./usr/share/doc/tarvik/copyright \
         ./usr/share/doc/tarvik/changelog.gz ./usr/share/doc/tarvik/examples/haproxy-tarvik.cfg; do
  expect_path "$f"
done
IFS=, read -r -a tool_list <<<"$tools"
# A tool is on the PATH as a file, or as a link to the program folder when it
# loads the libraries from beside itself.
for t in "${tool_list[@]}"; do
  grep -qxF "./usr/bin/$t" "$work/contents" || expect_path "./usr/bin/$t -> ../lib/tarvik/$t"
done
if grep -Eq '^\./(etc|var|opt|home|usr/local)/' "$work/contents"; then
  fail "the package ships files outside /usr: $(grep -E '^\./(etc|var|opt|home|usr/local)/' "$work/contents")"
fi
[ "$(dpkg-deb -f "$deb" Package)" = tarvik ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "architecture"
depends="$(dpkg-deb -f "$deb" Depends)"
for d in adduser libc6 libstdc++6; do
  echo "$depends" | grep -qwF "$d" || fail "Depends lacks $d: $depends"
done

step "lintian"
if command -v lintian >/dev/null; then
  timeout 600 lintian --allow-root --tag-display-limit 0 --display-info "$deb" >"$work/lintian.log" 2>&1 || true
  cat "$work/lintian.log"
  if grep -q '^E: ' "$work/lintian.log"; then fail "lintian reports errors"; fi
else
  fail "lintian is not installed (tools/install-deps.sh installs it)"
fi

step "systemd-analyze security"
dpkg-deb -x "$deb" "$work/root"
unit="$work/root/usr/lib/systemd/system/tarvik.service"
for key in "User=tarvik" "ProtectSystem=strict" "ReadWritePaths=/var/lib/tarvik" "NoNewPrivileges=yes" \
           "PrivateTmp=yes" "ProtectHome=yes" "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX" \
           "CapabilityBoundingSet=" "Restart=on-failure" \
           "ExecStart=/usr/bin/tarvik --home /var/lib/tarvik --start all"; do
  grep -qxF "$key" "$unit" || fail "the unit lacks $key"
done
nofile="$(sed -n 's/^LimitNOFILE=//p' "$unit")"
[ "${nofile:-0}" -ge 65536 ] || fail "LimitNOFILE=$nofile is too low for tens of thousands of rovers"
tasks="$(sed -n 's/^TasksMax=//p' "$unit")"
[ "$tasks" = infinity ] || [ "${tasks:-0}" -ge 65536 ] || fail "TasksMax=$tasks is too low for a thread per rover"
stop="$(sed -n 's/^TimeoutStopSec=//p' "$unit")"
[ "${stop:-0}" -ge 6 ] && [ "${stop:-0}" -le 30 ] || fail "TimeoutStopSec=$stop does not fit a clean stop"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze security --offline=yes "$unit" >"$work/security.log" 2>&1 || true
  score="$(sed -n 's/.*Overall exposure level for tarvik.service: \([0-9.]*\).*/\1/p' "$work/security.log")"
  [ -n "$score" ] || { cat "$work/security.log"; fail "systemd-analyze security gave no score"; }
  if grep -Ei 'unknown|invalid|ignoring' "$work/security.log"; then fail "systemd does not understand the unit"; fi
  echo "exposure score: $score"
  awk -v s="$score" 'BEGIN { exit !(s < 3.0) }' || { cat "$work/security.log"; fail "exposure $score is not below 3.0"; }
else
  fail "systemd-analyze is not installed (tools/install-deps.sh installs systemd)"
fi

# ---------------------------------------------------------------------------
step "dpkg -i"
timeout 300 dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "dpkg -i failed"; }
touch "$marker"
entry="$(getent passwd tarvik)" || fail "no user tarvik"
IFS=: read -r _ _ uid _ _ home shell <<<"$entry"
[ "$uid" -lt 1000 ] || fail "tarvik is not a system user (uid $uid)"
[ "$home" = /var/lib/tarvik ] || fail "home of tarvik is $home"
case "$shell" in */nologin | */false) ;; *) fail "tarvik has a login shell: $shell" ;; esac
[ "$(stat -c '%U:%G %a' /var/lib/tarvik)" = "tarvik:tarvik 750" ] ||
  fail "program folder is $(stat -c '%U:%G %a' /var/lib/tarvik)"
for f in Tarvik_General.ini ConfigurationTemplate.ini; do
  cmp -s "/usr/share/tarvik/$f" "/var/lib/tarvik/$f" || fail "the default $f was not installed"
done
[ "$(readlink -f /usr/bin/tarvik)" = /usr/lib/tarvik/Tarvik ] || fail "/usr/bin/tarvik does not lead to the program"
/usr/bin/tarvik --help >"$work/help.txt" || fail "tarvik --help"
grep -q -- '--home DIR' "$work/help.txt" || fail "tarvik --help does not describe --home"

wants=/etc/systemd/system/multi-user.target.wants/tarvik.service
[ "$(readlink "$wants")" = /lib/systemd/system/tarvik.service ] ||
  [ "$(readlink "$wants")" = /usr/lib/systemd/system/tarvik.service ] || fail "the unit was not enabled"
# With the program in place systemd can check the unit whole: its
# directives, ExecStart and the manual page it names.
man_check=--man=yes
command -v man >/dev/null || man_check=--man=no
systemd-analyze verify "$man_check" /usr/lib/systemd/system/tarvik.service >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; fail "systemd-analyze verify rejects the unit"; }
if [ -s "$work/verify.log" ]; then cat "$work/verify.log"; fail "systemd-analyze verify warns about the unit"; fi

step "the installed program serves a copy of the demo folder as user tarvik"
# Three ports nobody listens on, below the kernel's range of local ports for
# outgoing connections: a port in that range may be the local end of another
# test's connection, and the configuration could not bind it.
read -r ephemeral _ </proc/sys/net/ipv4/ip_local_port_range
low=10000
[ "$ephemeral" -gt $((low + 1000)) ] || low=1024
ports=()
while [ "${#ports[@]}" -lt 3 ]; do
  p=$((low + RANDOM % (ephemeral - low)))
  case " ${ports[*]} " in *" $p "*) continue ;; esac
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then ports+=("$p"); fi
done
bash "$src/tools/make_demo_home.sh" --dest "$work/demo" --build "$build" \
  --ports "${ports[0]},${ports[1]},${ports[2]}" >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "demo folder"; }
cp -R "$work/demo/." /var/lib/tarvik/
chown -R tarvik:tarvik /var/lib/tarvik
# As the unit runs it: its user, no capabilities, no new privileges, / as
# working folder.
(cd / && exec setpriv --reuid=tarvik --regid=tarvik --init-groups --no-new-privs --bounding-set=-all \
  --inh-caps=-all /usr/bin/tarvik --home /var/lib/tarvik --start all) >"$work/server.log" 2>&1 &
server=$!
# The configurations start one after the other: every port is awaited.
for port in "${ports[@]}"; do
  ready=0
  for _ in $(seq 1 300); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then ready=1; break; fi
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  [ "$ready" = 1 ] || { cat "$work/server.log"; fail "the installed program did not serve port $port"; }
done
timeout 60 /usr/bin/tarvik-client 127.0.0.1 "${ports[0]}" --lat 47.8 --lon 14.9 --height 500 --expect 3 \
  >"$work/answer.txt" 2>&1 || { cat "$work/answer.txt" "$work/server.log"; fail "tarvik-client got no answer"; }
[ "$(grep -c 'CRC-24Q ok' "$work/answer.txt")" = 3 ] || { cat "$work/answer.txt"; fail "not three sound frames"; }
for m in 1021 1023 1025; do
  grep -Eq "MessageNumber +$m\b" "$work/answer.txt" || { cat "$work/answer.txt"; fail "no message $m"; }
done
timeout 60 /usr/bin/tarvik-client 127.0.0.1 "${ports[2]}" --send 'getmode*' --expect 1 >"$work/mode.txt" 2>&1 ||
  { cat "$work/mode.txt" "$work/server.log"; fail "no answer to getmode*"; }
grep -q 'XML\*' "$work/mode.txt" || { cat "$work/mode.txt"; fail "getmode* of the XML configuration"; }

kill -TERM "$server"
stopped=0
for _ in $(seq 1 100); do
  if ! kill -0 "$server" 2>/dev/null; then stopped=1; break; fi
  sleep 0.1
done
[ "$stopped" = 1 ] || fail "SIGTERM did not stop the program within the unit's 10 s"
status=0
wait "$server" || status=$?
[ "$status" = 0 ] || { cat "$work/server.log"; fail "the program ended with status $status on SIGTERM"; }
server=""
total="$(sed -n 's/^TotalNumberOfRequests=//p' /var/lib/tarvik/Configs/DemoBinary/DemoBinary.ini)"
[ "${total:-0}" -ge 1 ] || fail "the request total was not written back (TotalNumberOfRequests=$total)"
if find /var/lib/tarvik ! -user tarvik | grep -q .; then
  fail "files in the program folder not owned by tarvik: $(find /var/lib/tarvik ! -user tarvik)"
fi

# ---------------------------------------------------------------------------
step "an upgrade keeps the operator's files"
operator_files() {
  (cd /var/lib/tarvik && find . -type f ! -path './Log/*' -printf '%p %U:%G %m\n' | sort &&
    find . -type f ! -path './Log/*' -exec sha256sum {} + | sort)
}
operator_files >"$work/before"
dpkg-deb -R "$deb" "$work/next"
sed -i "s/^Version: .*/Version: ${version}+1/" "$work/next/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/next" "$work/tarvik_next.deb" >/dev/null
timeout 300 dpkg -i "$work/tarvik_next.deb" >"$work/upgrade.log" 2>&1 || { cat "$work/upgrade.log"; fail "upgrade"; }
[ "$(dpkg-query -W -f='${Version}' tarvik)" = "${version}+1" ] || fail "the upgrade did not happen"
operator_files >"$work/after"
diff "$work/before" "$work/after" || fail "the upgrade changed the operator's files"

step "remove keeps the program folder"
timeout 300 dpkg --remove tarvik >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "dpkg --remove"; }
[ ! -e /usr/lib/tarvik/Tarvik ] && [ ! -e /usr/bin/tarvik ] || fail "remove left the program"
operator_files >"$work/removed"
diff "$work/before" "$work/removed" || fail "remove changed the operator's files"

step "purge deletes it"
timeout 300 dpkg --purge tarvik >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
[ ! -e /var/lib/tarvik ] || fail "purge left /var/lib/tarvik"
dpkg-query -W -f='${db:Status-Status}' tarvik 2>/dev/null | grep -qv '^not-installed$' && fail "purge left the package"
for link in "$wants" /etc/systemd/system/tarvik.service; do
  [ ! -L "$link" ] || fail "purge left $link"
done

echo "package test passed: $(basename "$deb"), exposure $score"
