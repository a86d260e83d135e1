#!/usr/bin/env bash
# A private CUPS scheduler for the printing tests, with one queue that runs
# the cups-pdf driver's filter chain and writes what would go to the printer
# into a file.
#
#   cups-test-server.sh start DIR   starts cupsd under DIR (clients reach it
#                                   with CUPS_SERVER=$(cat DIR/server))
#   cups-test-server.sh stop DIR    stops it
#
# The queue "tavora-test" writes every job to DIR/out/job.ps (PostScript
# after the filters); DIR/server holds the path of the scheduler's socket.
# When cupsd cannot be started here, start writes the reason to
# DIR/unavailable and still succeeds, so that the tests can skip.
set -uo pipefail

cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
sock="$dir/cups.sock"
pidfile="$dir/cupsd.pid"
queue=tavora-test
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd

unavailable() {
  echo "$*" > "$dir/unavailable"
  echo "cups-test-server: $*" >&2
  exit 0
}

stop() {
  if [ -f "$pidfile" ]; then
    pid=$(cat "$pidfile")
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null
      for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
  fi
  rm -f "$sock"
}

case "$cmd" in
  stop)
    [ -f "$dir/server" ] && sock=$(cat "$dir/server")
    stop
    rm -f "$dir/server"
    exit 0
    ;;
  start) ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac

[ -f "$dir/server" ] && sock=$(cat "$dir/server")
stop
sock="$dir/cups.sock"
rm -rf "$dir/server" "$dir/unavailable" "$dir/etc" "$dir/spool" "$dir/cache" "$dir/state" "$dir/log" "$dir/out"
# Unix socket paths are short: below a deep build folder the socket goes
# into a folder of its own in /tmp. DIR/server names it either way.
if [ ${#sock} -gt 100 ]; then
  short=/tmp/tavora-cups-$(id -u)-$(printf '%s' "$dir" | md5sum | cut -c1-12)
  mkdir -p "$short"
  sock="$short/cups.sock"
fi

command -v cupsd > /dev/null || command -v /usr/sbin/cupsd > /dev/null || unavailable "cupsd is not installed"
cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)
lpadmin=$(command -v lpadmin || echo /usr/sbin/lpadmin)
[ -x "$lpadmin" ] || unavailable "lpadmin is not installed"
[ -f "$ppd" ] || unavailable "the cups-pdf driver ($ppd) is not installed"
[ -d /usr/lib/cups/filter ] || unavailable "the CUPS filters are not installed"

mkdir -p "$dir/etc/ppd" "$dir/spool/tmp" "$dir/cache" "$dir/state/certs" "$dir/log" "$dir/out"
chmod 1777 "$dir/out" "$dir/spool/tmp"
chmod 755 "$dir"

cat > "$dir/etc/cupsd.conf" <<EOF
Listen $sock
LogLevel warn
MaxLogSize 0
WebInterface No
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
DefaultEncryption Never
JobRetryLimit 0
MaxJobs 100
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
EOF

cat > "$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ServerBin /usr/lib/cups
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
FileDevice Yes
Printcap $dir/state/printcap
Sandboxing Relaxed
EOF

"$cupsd" -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" > "$dir/log/cupsd.out" 2>&1 &
pid=$!
echo "$pid" > "$pidfile"
for _ in $(seq 1 100); do
  [ -S "$sock" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if ! [ -S "$sock" ]; then
  reason=$(tail -n 5 "$dir/log/cupsd.out" "$dir/log/error_log" 2>/dev/null | tr '\n' ' ')
  stop
  unavailable "cupsd did not start: $reason"
fi

if ! CUPS_SERVER="$sock" "$lpadmin" -p "$queue" -E -v "file:$dir/out/job.ps" -P "$ppd" \
  -o printer-error-policy=abort-job > "$dir/log/lpadmin.out" 2>&1; then
  reason=$(tr '\n' ' ' < "$dir/log/lpadmin.out")
  stop
  unavailable "the test queue could not be made: $reason"
fi
CUPS_SERVER="$sock" lpoptions -d "$queue" > /dev/null 2>&1 || true
echo "$sock" > "$dir/server"
echo "cups-test-server: scheduler $pid on $sock, queue $queue"
exit 0
