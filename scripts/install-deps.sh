#!/bin/sh
# Installs what the build and the tests need on a Debian 12 machine (as root), only when missing.
# Extra package names given as arguments (the benchmarks' peers) are installed the same way,
# with their services kept from starting.
set -eu
packages="g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev g++-powerpc-linux-gnu
qemu-user clang-14 libclang-rt-14-dev iproute2 util-linux procps python3
nlohmann-json3-dev libcli11-dev help2man dpkg-dev man-db ansible-core python3-serial"
# The real peers of stationd-sim --peers: net-snmp's snmptrap and snmptrapd. The tests start
# their own snmptrapd inside a network namespace; the package's service must not run.
peers="snmp snmptrapd"
missing=""
for p in $packages $peers "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  had_snmpd=no
  dpkg -s snmpd >/dev/null 2>&1 && had_snmpd=yes
  # A policy-rc.d that answers 101 keeps the packages from starting their services (snmpd,
  # snmptrapd) while they are installed; an existing one is left as it is.
  policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
  fi
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing || status=$?
  [ -z "$policy" ] || rm -f "$policy"
  [ "${status:-0}" -eq 0 ] || exit "$status"
  # Nor at the next boot: only the units of packages installed here (snmpd comes with
  # snmptrapd), by their names.
  if [ -d /run/systemd/system ]; then
    units=""
    case "$missing" in *snmptrapd*) units="snmptrapd.socket snmptrapd.service" ;; esac
    case "$missing" in *ser2net*) units="$units ser2net.service" ;; esac
    [ -z "$units" ] || [ "$had_snmpd" = yes ] || units="$units snmpd.service"
    # shellcheck disable=SC2086
    [ -z "$units" ] || systemctl disable --now $units >/dev/null 2>&1 || true
  fi
fi
