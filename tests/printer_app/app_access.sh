#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Who may do what, in network and mount namespaces of the test's own: test
# accounts (an administrator in the admin group, an ordinary user, each
# with a password PAM checks for real through the shipped PAM service),
# the loopback interface also carrying 192.0.2.1 (a "remote" address), the
# server's TLS certificate on a tmpfs. Every client runs as "nobody":
# without credentials, or with the user's, every administrative IPP
# operation and web page is refused (401, 403), with the administrator's it
# is done; the control socket admits root and the admin group only; file
# devices stay under the allowed directory and follow no link; raw job
# streams come from administrators only.
if [ "${APP_IN_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ] || [ ! -d /etc/cups/ssl ] || ! unshare -mn true 2>/dev/null; then
    echo "no namespaces or no /etc/cups/ssl here (needs root): skipped"
    echo "0 passed, 0 failed"
    exit 0
  fi
  exec unshare -mn env APP_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
ip addr add 192.0.2.1/32 dev lo
mount -t tmpfs tmpfs /etc/cups/ssl
source "$(dirname "$0")/app_lib.sh"
app_begin
W=$APP_WORK

# The accounts, seen only in this mount namespace.
mkdir -p "$W/etc"
cp /etc/passwd /etc/group /etc/shadow "$W/etc/"
cp -a /etc/pam.d "$W/etc/pam.d"
cp "$APP_SRC/../../printer_app/lumora-printer-app.pam" "$W/etc/pam.d/lumora-printer-app"
{
  echo "lpa-admin:x:4701:4701::/nonexistent:/usr/sbin/nologin"
  echo "lpa-user:x:4702:4702::/nonexistent:/usr/sbin/nologin"
} >> "$W/etc/passwd"
printf '%s\n' "lpa-admins:x:4701:" "lpa-user:x:4702:" >> "$W/etc/group"
{
  echo "lpa-admin:$(openssl passwd -6 admin-secret):19000:0:99999:7:::"
  echo "lpa-user:$(openssl passwd -6 user-secret):19000:0:99999:7:::"
} >> "$W/etc/shadow"
for f in passwd group shadow pam.d; do mount --bind "$W/etc/$f" "/etc/$f"; done

mkdir -p "$W/out"
echo "root's own" > "$W/secret"
chmod 600 "$W/secret"
ln -s "$W/secret" "$W/out/link.prn"
pwg_pages "$W/sample.pwg" 600 < "$APP_SRC/../e2e/sample_document.ps"
# (Raster is printed as it arrives, even on a paused printer: jobs that
# wait are PDF.)
make_box_pdf "$W/box.pdf" 72,650,72,72
touch "$W/out/filed.prn"
head -c 3000 /dev/urandom > "$W/noise.bin"
printf '\033%%-12345X@PJL JOB NAME="raw"\r\n@PJL EOJ\r\n\033%%-12345X' > "$W/raw.prn"
chmod a+r "$W"/*.pwg "$W"/*.pdf "$W"/*.bin "$W"/*.prn

devices office:keep spare:keep
PORT=$(python3 "$HELPERS" free-port)
"$APP" server -o server-port="$PORT" -o listen-hostname='*' -o spool-directory="$W/spool" \
  -o state-file="$W/app.state" -o log-file="$W/app.log" -o log-level=debug \
  -o admin-group=lpa-admins -o file-device-directory="$W/out" > "$W/server.out" 2>&1 &
SERVER_PID=$!
wait_for 30 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" || { echo "server did not start" >&2; exit 1; }
wait_for 10 grep -q "Listening for connections on '/" "$W/app.log"
check "root's command line adds printers" add_printer office lumora_elm_e200 office
check "root's command line changes defaults" "$APP" modify -d office -o printer-location=Lab

local_url="http://127.0.0.1:$PORT"
nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
ipp() { nobody python3 "$HELPERS" ipp "$@"; }
web() { nobody python3 "$HELPERS" web "$@"; }
# as_three LABEL EXPECTED-ANONYMOUS EXPECTED-USER EXPECTED-ADMIN CALL...: the
# call (ipp or web, URL first) without credentials, as the user, as the
# administrator; "-" skips one; the first word of the answer counts.
as_three() {
  local label=$1 anonymous=$2 user=$3 admin=$4 kind=$5 url=$6
  shift 6
  local who expected got
  for who in anonymous user admin; do
    expected=${!who}
    [ "$expected" != - ] || continue
    case $who in
      anonymous) got=$("$kind" "$url" "" "" "$@") ;;
      user) got=$("$kind" "$url" lpa-user user-secret "$@") ;;
      admin) got=$("$kind" "$url" lpa-admin admin-secret "$@") ;;
    esac
    check "$label, $who: $expected ($got)" [ "${got%% *}" = "$expected" ]
  done
}

# Every administrative IPP operation; the administrator's undoes the one
# before where it changes something.
printer="$local_url/ipp/print/office"
system="$local_url/ipp/system"
ops=(
  "$printer|Pause-Printer" "$printer|Resume-Printer" "$printer|Disable-Printer"
  "$printer|Enable-Printer" "$printer|Hold-New-Jobs" "$printer|Release-Held-New-Jobs"
  "$printer|Set-Printer-Attributes|location=Hall" "$printer|Cancel-Jobs" "$system|Pause-All-Printers" "$system|Resume-All-Printers"
  "$system|Set-System-Attributes|location=Hall"
)
for op in "${ops[@]}"; do
  IFS='|' read -r url name extra <<< "$op"
  as_three "$name" 401 403 200 ipp "$url" "$name" ${extra:+"$extra"}
done
for name in Shutdown-All-Printers Find-Devices; do
  as_three "$name" 401 403 - ipp "$system" "$name"
done
spare=$(device_uri spare)
as_three "Create-Printer" 401 403 - ipp "$system" Create-Printer name=added driver=lumora_elm_e200 device="$spare"
created=$(ipp "$system" lpa-admin admin-secret Create-Printer name=added driver=lumora_elm_e200 device="$spare")
check "Create-Printer, admin: done ($created)" [ "${created:0:10}" = "200 0x0000" ]
# PAPPL 1.3.1 reports printer-id 0 for the printers added since it
# started; ids count from 1 (office), so "added" is 2.
id=2
as_three "Delete-Printer" 401 403 200 ipp "$system" Delete-Printer printer-id="$id"
check "Delete-Printer, admin: gone" bash -c "! '$APP' printers | grep -qx added"

# A default naming a size that is no paper: refused, the server serving.
unknown=$(ipp "$printer" lpa-admin admin-secret Set-Printer-Attributes media-col-default=no_such_size)
check "Set-Printer-Attributes, unknown media-col-default: refused ($unknown)" [ "$unknown" = "200 0x040b" ]
check "unknown media-col-default: server still serving" server_alive

# Jobs: one of root's (the control socket), one sent without credentials.
ipp "$printer" lpa-admin admin-secret Pause-Printer > /dev/null
root_job=$("$APP" submit -d office "$W/box.pdf" 2>&1 | grep -o '[0-9]*$')
check "root's job $root_job waits" [ "$(job_state office "$root_job")" = pending ]
for name in Cancel-Job Hold-Job Release-Job; do
  as_three "$name of root's job, claiming to be root" 401 403 - ipp "$printer" "$name" job-id="$root_job" as=root
done
as_three "Get-Job-Attributes of root's job" 200 200 200 ipp "$printer" Get-Job-Attributes job-id="$root_job"
check "root's job still waits" [ "$(job_state office "$root_job")" = pending ]
anon_job=$(ipp "$printer" "" "" Print-Job as=alice format=application/pdf document="$W/box.pdf")
anon_job=${anon_job##*job-id=}
check "an anonymous job ($anon_job) is not cancelled by another name" \
  [ "$(ipp "$printer" "" "" Cancel-Job job-id="$anon_job" as=bob)" = 401 ]
check "an anonymous job is cancelled by its name" \
  [ "$(ipp "$printer" "" "" Cancel-Job job-id="$anon_job" as=alice)" = "200 0x0000" ]
as_three "Hold-Job of root's job" - - 200 ipp "$printer" Hold-Job job-id="$root_job"
check "root's job held by the administrator" [ "$(job_state office "$root_job")" = pending-held ]
as_three "Release-Job of root's job" - - 200 ipp "$printer" Release-Job job-id="$root_job"
ipp "$printer" lpa-admin admin-secret Resume-Printer > /dev/null
# (Jobs that print are followed in the log: PAPPL 1.3.1 reads a job's
# state message for Get-Job-Attributes without its lock, while the job
# changes it.)
check "root's job, released by the administrator, prints" \
  wait_for 120 log_has "[Job $root_job] Completed"

# Cancel-Current-Job, while a job prints (its client holds back the rest
# of the raster until the go file exists).
python3 "$HELPERS" stalled-print "ipp://127.0.0.1:$PORT/ipp/print/office" "$W/sample.pwg" 0.5 \
  "$W/office.go" > "$W/stalled.status" &
stalled=$!
current=$(( $(ls "$W"/dev/office-*.prn | wc -l) + 1 ))
check "a job prints" wait_for 30 test -e "$W/dev/office-$current.prn"
as_three "Cancel-Current-Job" 401 403 200 ipp "$printer" Cancel-Current-Job
touch "$W/office.go"
wait "$stalled" || true
check "the administrator cancelled it" wait_for 30 log_has "Canceled"

printf '%s\n' '{ OPERATION Get-Printer-Attributes' '  GROUP operation-attributes-tag' \
  '  ATTR charset attributes-charset utf-8' '  ATTR naturalLanguage attributes-natural-language en' \
  '  ATTR uri printer-uri $uri' '  ATTR keyword requested-attributes printer-state' \
  '  STATUS successful-ok' '}' > "$W/state.test"
# printer_stopped: office is paused.
printer_stopped() { ipptool -tv "$(printer_uri office)" "$W/state.test" | grep -q "= stopped"; }

# The web interface: pages that change something, and the printer page's
# forms (their session token read from the page), on loopback and from the
# remote address over TLS.
for page in /logs:200 /logfile.txt:206; do
  as_three "web ${page%:*}" 401 403 "${page#*:}" web "$local_url${page%:*}"
done
as_three "web /addprinter" 401 403 200 web "$local_url/addprinter"
# (No D-Bus or avahi here: PAPPL 1.3.1's own page aborted the server.)
check "web /addprinter: server still serving" server_alive
# Pages with forms: anyone may look, only administrators post.
for page in /config /office/config /office/printing /office/media /office/delete \
  /office/cancelall; do
  as_three "web $page" 200 200 200 web "$local_url$page"
  as_three "web $page, posted" 401 403 - web "$local_url$page" save
done
for action in pause-printer resume-printer hold-new-jobs release-held-new-jobs identify-printer \
  set-as-default; do
  as_three "printer page form $action" 401 403 - web "$local_url/office" "$action"
done
check "remote printer page form pause-printer, anonymous: 401" \
  [ "$(web "https://192.0.2.1:$PORT/office" "" "" pause-printer)" = 401 ]
check "remote /logs, anonymous: 401" [ "$(web "https://192.0.2.1:$PORT/logs" "" "")" = 401 ]
printer_running() { ! printer_stopped; }
check "the printer was not paused" printer_running
as_three "printer page form pause-printer" - - 200 web "$local_url/office" pause-printer
check "the administrator's form paused it" wait_for 10 printer_stopped
as_three "printer page form resume-printer" - - 200 web "$local_url/office" resume-printer

# The control socket: root and the admin group only.
socket="/run/$(basename "$APP").sock"
check "control socket: nobody cannot connect" \
  nobody python3 -c "import socket, sys; s = socket.socket(socket.AF_UNIX)
try:
    s.connect(sys.argv[1]); sys.exit(1)
except PermissionError:
    sys.exit(0)" "$socket"
dir=$(dirname "$(readlink "$socket")")
check "control socket: its directory $(stat -c '%a %U:%G' "$dir")" \
  [ "$(stat -c '%a %U:%G' "$dir")" = "750 root:lpa-admins" ]
check "control socket: not writable by others ($(stat -L -c %a "$socket"))" \
  [ "$(stat -L -c %a "$socket")" = 660 ]
nobody "$APP" status -d office > "$W/nobody.out" 2>&1 && fail "nobody's command line reached the server"
check "nobody's command line is told why" grep -q "admits only root" "$W/nobody.out"
check "nobody prints over IPP with the command line" \
  nobody "$APP" submit -u "ipp://localhost:$PORT/ipp/print/office" "$W/sample.pwg"
# (PAPPL's "status" leaves its connection open: no leak report, which would
# end the process before its output is written.)
setpriv --reuid=lpa-admin --regid=lpa-admins --init-groups env ASAN_OPTIONS=detect_leaks=0 \
  "$APP" status -d office > "$W/admin-group.out" 2>&1 || true
check "the admin group's command line reaches the server ($(head -n 1 "$W/admin-group.out"))" \
  grep -q "since" "$W/admin-group.out"

# File devices: only under the allowed directory, no links followed.
outside=$(ipp "$system" lpa-admin admin-secret Create-Printer name=outside driver=lumora_elm_e200 device="file://$W/secret")
check "file device outside the directory refused ($outside)" [ "$outside" != "200 0x0000" ]
dotdot=$(ipp "$system" lpa-admin admin-secret Create-Printer name=dotdot driver=lumora_elm_e200 device="file://$W/out/../secret")
check "file device through .. refused ($dotdot)" [ "$dotdot" != "200 0x0000" ]
check "file device under the directory added" "$APP" add -d filed -m lumora_elm_e200 -v "file://$W/out/filed.prn"
check "file device on a symbolic link added" "$APP" add -d linked -m lumora_elm_e200 -v "file://$W/out/link.prn"
timeout 60 "$APP" submit -d linked "$W/box.pdf" > /dev/null
check "the link is not followed" wait_for 30 log_has "link.prn is a symbolic link"
as_three "raw job stream" 401 403 - ipp "$local_url/ipp/print/filed" Print-Job \
  format=application/vnd.lumora-jobstream document="$W/raw.prn"
raw=$(ipp "$local_url/ipp/print/filed" lpa-admin admin-secret Print-Job \
  format=application/vnd.lumora-jobstream document="$W/raw.prn")
check "raw job stream of the administrator ($raw) completed" \
  wait_for 60 log_has "[Job ${raw##*job-id=}] Completed"
check "it reached the file as it was" cmp "$W/raw.prn" "$W/out/filed.prn"
# A document sent without a format after Create-Job: PAPPL would pass it
# on as it is.
noformat=$(ipp "$local_url/ipp/print/filed" "" "" Create-Job as=eve)
noformat=${noformat##*job-id=}
sent=$(ipp "$local_url/ipp/print/filed" "" "" Send-Document job-id="$noformat" as=eve \
  last=true document="$W/noise.bin")
check "Send-Document of no format named, for the client's own job ($sent)" \
  [ "${sent:0:10}" = "200 0x0000" ]
check "it is not sent as it is" \
  wait_for 60 log_has "[Job $noformat] Refused: a document of format '(none named)'"
check "that job is aborted" [ "$(wait_job filed "$noformat" 60)" = aborted ]
check "the file kept only the administrator's stream" cmp "$W/raw.prn" "$W/out/filed.prn"
check "root's file untouched" [ "$(cat "$W/secret")" = "root's own" ]
status=0
timeout 30 "$APP" server -o server-port="$(python3 "$HELPERS" free-port)" \
  -o spool-directory="$W/spool2" -o file-device-directory=/tmp > "$W/shared.out" 2>&1 || status=$?
check "a shared directory is refused for file devices (exit $status)" \
  grep -q "/tmp is writable by others" "$W/shared.out"
check "server still serving" server_alive
