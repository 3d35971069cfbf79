#!/usr/bin/env bash
# The project's own news server: INN 2 from Debian, listening on 127.0.0.1:119 only, for the
# integration tests and the demo. Every command may be repeated; run as root or through sudo.
#
#   tools/inn.sh install            install inn2 (and python3) when missing
#   tools/inn.sh configure          write the server's configuration (restarts it when changed)
#   tools/inn.sh start              install, configure and start; waits for the 200 greeting
#   tools/inn.sh stop               shut the server down
#   tools/inn.sh restart
#   tools/inn.sh status             exit 0 when it greets with 200, 3 when it does not
#   tools/inn.sh newgroup NAME...   create groups (existing ones are left alone)
#   tools/inn.sh rmgroup NAME...    remove groups
#   tools/inn.sh load [--group G] [--tag T] FILE|DIR...
#                                   feed article files (a directory: its *.art files, by name);
#                                   creates the groups first. With --group every article goes
#                                   to G and its Message-IDs get ".T" (default T: G) after the
#                                   local part, so tests can load the same files into a fresh
#                                   group each run.
#   tools/inn.sh demo               start, then load tests/data/articles and tests/data/charsets
#                                   into the demo groups
#   tools/inn.sh reset              remove every article, group and history entry (keeping
#                                   Debian's initial groups); restarts a running server
#
# Readers on 127.0.0.1 read and post everywhere without a login, except in the hierarchy
# quillo.private.*, which needs AUTHINFO USER/PASS as the test user (TEST_USER and
# TEST_PASSWORD below). TLS: nnrpd serves implicit TLS on 127.0.0.1:563 and STARTTLS on 119,
# with a server certificate for localhost and 127.0.0.1 signed by a test CA made at configure
# time; clients trust it through the CA file /etc/news/quillo-tls/ca.pem. The same CA also
# signs a certificate for another name (wrong-name.pem), for tests of refused certificates.
#
# Environment: QUILLO_INN_SPOOL=tmpfs|disk chooses where articles, overview, history and the
# active file live (tmpfs: /dev/shm/quillo-inn, lost at reboot and rebuilt empty by start;
# disk: Debian's /var/spool/news and /var/lib/news). Without it the last choice is kept, and
# the first time tmpfs is taken when /dev/shm is a tmpfs with 1 GiB free.
# QUILLO_INN_WAIT: seconds start waits for the greeting (default 60).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
self="$here/$(basename "$0")"

if [ "$(id -u)" -ne 0 ]; then
    case "${1:-}" in
    status | "" | help | -h | --help) ;;
    *)
        command -v sudo >/dev/null || {
            echo "inn.sh: run this as root" >&2
            exit 1
        }
        exec sudo --preserve-env=QUILLO_INN_SPOOL,QUILLO_INN_WAIT -- "$self" "$@" ;;
    esac
fi

NEWSBIN=/usr/lib/news/bin
ETC=/etc/news
HOST=127.0.0.1
PORT=119
FEEDER=127.0.0.2 # the only peer: feeds come from here, readers from 127.0.0.1
TMPFS_ROOT=/dev/shm/quillo-inn
WAIT=${QUILLO_INN_WAIT:-60}
DEMO_DIRS=("$here/../tests/data/articles" "$here/../tests/data/charsets")
TLS_PORT=563
TLS_DIR=$ETC/quillo-tls
PASSWD_FILE=$ETC/quillo-readers.passwd
PRIVATE_HIERARCHY=quillo.private
TEST_USER=quillotest
TEST_PASSWORD=quillo-test-pass
# nnrpd serving implicit TLS is a daemon of its own; rc.news starts and stops it through this.
RC_LOCAL=$NEWSBIN/rc.news.local

if [ -x /usr/bin/python3 ]; then py=/usr/bin/python3; else py=python3; fi
helper() { "$py" "$here/inn_nntp.py" --host "$HOST" --port "$PORT" "$@"; }

log() { echo "inn.sh: $*" >&2; }
die() {
    log "$*"
    exit 1
}

as_news() { su news -s /bin/sh -c "$1"; }

installed() {
    dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok installed' &&
        [ -x "$NEWSBIN/innd" ]
}

# ---------------------------------------------------------------------------------------------
# Configuration

spool_mode() {
    case "${QUILLO_INN_SPOOL:-}" in
    tmpfs | disk)
        echo "$QUILLO_INN_SPOOL"
        return
        ;;
    "") ;;
    *) die "QUILLO_INN_SPOOL must be tmpfs or disk, not '$QUILLO_INN_SPOOL'" ;;
    esac
    local recorded
    recorded=$(sed -n 's/^# spool: \(tmpfs\|disk\)$/\1/p' "$ETC/inn.conf" 2>/dev/null | head -n1)
    if [ -n "$recorded" ]; then
        echo "$recorded"
    elif [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] &&
        [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -ge 1048576 ]; then
        echo tmpfs
    else
        echo disk
    fi
}

set_paths() {
    if [ "$1" = tmpfs ]; then
        SPOOL=$TMPFS_ROOT/spool
        DB=$TMPFS_ROOT/db
    else
        SPOOL=/var/spool/news
        DB=/var/lib/news
    fi
}

inn_conf() {
    cat <<EOF
# Written by tools/inn.sh: a news server for Quillo's tests and demo on 127.0.0.1:119.
# spool: $1
domain:                 quillo.test
pathhost:               inn.quillo.test
organization:           "Quillo test server"
mta:                    "/usr/sbin/sendmail -oi -oem %s"
mailcmd:                /usr/lib/news/bin/innmail
server:                 $HOST
port:                   $PORT
bindaddress:            $HOST
hismethod:              hisv6
ovmethod:               tradindexed
enableoverview:         true
wireformat:             true
storeonxref:            true

# Old articles are test data, not stale news; rejected articles may be fed again.
artcutoff:              0
remembertrash:          false
wanttrash:              false
# Tests may hold a connection open a while before the first command.
initialtimeout:         600
clienttimeout:          1800
nnrpdloadlimit:         0
maxconnections:         500
allownewnews:           true
readerswhenstopped:     false
pgpverify:              false
doinnwatch:             false
docnfsstat:             false
status:                 0
timer:                  0
maxartsize:             1000000
localmaxartsize:        1000000

# The compiled-in paths are not Debian's: name every one.
pathnews:               /usr/lib/news
pathbin:                /usr/lib/news/bin
pathcontrol:            /usr/lib/news/bin/control
pathetc:                /etc/news
pathfilter:             /etc/news/filter
pathhttp:               /var/www/inn
pathlog:                /var/log/news
pathrun:                /run/news
pathdb:                 $DB
pathspool:              $SPOOL
patharchive:            $SPOOL/archive
patharticles:           $SPOOL/articles
pathincoming:           $SPOOL/incoming
pathoutgoing:           $SPOOL/outgoing
pathoverview:           $SPOOL/overview
pathtmp:                $SPOOL/incoming/tmp

# STARTTLS on $PORT and implicit TLS on $TLS_PORT, with the test CA's server certificate.
tlscafile:              $TLS_DIR/ca.pem
tlscertfile:            $TLS_DIR/cert.pem
tlskeyfile:             $TLS_DIR/key.pem
tlsprotocols:           [ TLSv1.2 TLSv1.3 ]
EOF
}

readers_conf() {
    cat <<EOF
# Written by tools/inn.sh: readers on this machine may read, post and use NEWNEWS everywhere
# but in $PRIVATE_HIERARCHY.*, which needs a login from $PASSWD_FILE.
auth "localhost" {
    hosts: "localhost, 127.0.0.1, ::1, stdin"
    auth: "ckpasswd -f $PASSWD_FILE"
    default: "<localhost>"
}
access "localhost" {
    users: "<localhost>"
    newsgroups: "*,!$PRIVATE_HIERARCHY.*"
    access: RPAN
    addcanlockuser: none
}
access "members" {
    users: "*,!<localhost>"
    newsgroups: "*"
    access: RPAN
    addcanlockuser: none
}
EOF
}

rc_news_local() {
    cat <<EOF
#!/bin/sh
# Written by tools/inn.sh: nnrpd with implicit TLS on $HOST:$TLS_PORT, beside innd on $PORT.
# It reads copies of inn.conf and readers.conf of its own, so that it keeps serving TLS and
# the login while an older copy of tools/inn.sh rewrites the files innd uses.
pidfile=/run/news/nnrpd-$TLS_PORT.pid
case "\$1" in
start)
    INNCONF=$TLS_DIR/inn.conf $NEWSBIN/nnrpd -D -b $HOST -p $TLS_PORT -S -c $TLS_DIR/readers.conf
    ;;
stop)
    if [ -f "\$pidfile" ]; then
        kill "\$(cat "\$pidfile")" 2>/dev/null
        rm -f "\$pidfile"
    fi
    ;;
esac
exit 0
EOF
}

# The test CA, a server certificate for localhost and 127.0.0.1, and one for another name, made
# once; they stay valid for ten years. When any file is missing, all are made anew.
make_certificates() {
    local d=$TLS_DIR f
    for f in ca.pem cert.pem key.pem wrong-name.pem wrong-name-key.pem; do
        [ -s "$d/$f" ] || break
        [ "$f" = wrong-name-key.pem ] && return
    done
    command -v openssl >/dev/null || die "openssl is not installed"
    install -d -m 755 "$d"
    local tmp
    tmp=$(mktemp -d)
    (
        cd "$tmp"
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 -keyout ca.key \
            -out ca.pem -subj "/O=Quillo tests/CN=Quillo test CA" \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
        issue() { # file-name common-name subject-alt-names
            openssl req -newkey rsa:2048 -nodes -keyout "$1-key.pem" -out "$1.csr" \
                -subj "/O=Quillo tests/CN=$2" 2>/dev/null
            printf '%s\n' "basicConstraints=CA:FALSE" \
                "keyUsage=critical,digitalSignature,keyEncipherment" \
                "extendedKeyUsage=serverAuth" "subjectAltName=$3" >"$1.ext"
            openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial \
                -days 3650 -sha256 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
        }
        issue server localhost "DNS:localhost,IP:127.0.0.1"
        issue wrong-name wrong-name.quillo.test "DNS:wrong-name.quillo.test"
    ) || die "could not make the test certificates"
    install -m 644 "$tmp/ca.pem" "$d/ca.pem"
    install -m 644 "$tmp/server.pem" "$d/cert.pem"
    install -m 644 "$tmp/wrong-name.pem" "$d/wrong-name.pem"
    install -m 640 -g news "$tmp/server-key.pem" "$d/key.pem"
    install -m 640 -g news "$tmp/wrong-name-key.pem" "$d/wrong-name-key.pem"
    install -m 600 "$tmp/ca.key" "$d/ca.key"
    rm -rf "$tmp"
    log "made the test CA and certificates in $d"
}

# ckpasswd's file: user:crypt(3) hash. Left alone while it still accepts the test user.
write_passwd() {
    if [ -f "$PASSWD_FILE" ] && printf 'ClientAuthname: %s\r\nClientPassword: %s\r\n.\r\n' \
        "$TEST_USER" "$TEST_PASSWORD" |
        "$NEWSBIN/auth/passwd/ckpasswd" -f "$PASSWD_FILE" >/dev/null 2>&1; then
        return
    fi
    printf '%s:%s\n' "$TEST_USER" "$(openssl passwd -6 "$TEST_PASSWORD")" |
        put_file "$PASSWD_FILE" 640 root:news
}

incoming_conf() {
    cat <<EOF
# Written by tools/inn.sh. The feeding peer is $FEEDER, so that connections from $HOST
# are readers (a peer address would put them into transit mode).
streaming:          true
max-connections:    8
peer ME {
  hostname:         "$FEEDER"
}
EOF
}

storage_conf() {
    cat <<'EOF'
# Written by tools/inn.sh. timehash makes a new article visible to open sessions at once.
method timehash {
    newsgroups: *
    class: 0
}
EOF
}

# put_file PATH MODE OWNER:GROUP < content: replaces the file only when its content differs.
put_file() {
    local path=$1 mode=$2 owner=$3 tmp
    tmp=$(mktemp "$path.XXXXXX")
    cat >"$tmp"
    if [ -f "$path" ] && cmp -s "$tmp" "$path"; then
        rm -f "$tmp"
    else
        mv -f "$tmp" "$path"
    fi
    chmod "$mode" "$path"
    if getent passwd news >/dev/null; then chown "$owner" "$path"; fi
}

write_config() {
    local mode
    mode=$(spool_mode)
    set_paths "$mode"
    mkdir -p "$ETC"
    put_file "$ETC/inn.conf" 644 root:root < <(inn_conf "$mode")
    if installed; then
        put_file "$ETC/readers.conf" 644 root:root < <(readers_conf)
        put_file "$ETC/incoming.conf" 640 root:news < <(incoming_conf)
        put_file "$ETC/storage.conf" 644 root:root < <(storage_conf)
        put_file "$RC_LOCAL" 755 root:root < <(rc_news_local)
        make_certificates
        put_file "$TLS_DIR/inn.conf" 644 root:root <"$ETC/inn.conf"
        put_file "$TLS_DIR/readers.conf" 644 root:root <"$ETC/readers.conf"
        write_passwd
    fi
}

# Creates the spool and database directories, and an empty active file and history when
# missing (a fresh tmpfs after a reboot, or after reset).
ensure_state() {
    local d
    for d in "$DB" "$SPOOL" "$SPOOL/archive" "$SPOOL/articles" "$SPOOL/incoming" \
        "$SPOOL/incoming/bad" "$SPOOL/incoming/tmp" "$SPOOL/outgoing" "$SPOOL/overview" \
        "$SPOOL/innfeed" /var/log/news /var/log/news/OLD; do
        install -d -m 775 -o news -g news "$d"
    done
    install -d -m 775 -o news -g news /run/news
    if [ ! -s "$DB/active" ]; then
        install -m 644 -o news -g news /usr/lib/news/examples/active "$DB/active"
        install -m 644 -o news -g news /usr/lib/news/examples/newsgroups "$DB/newsgroups"
        rm -f "$DB"/history*
    fi
    if [ ! -f "$DB/history.dir" ]; then
        as_news "cd '$DB' && : > history && $NEWSBIN/makedbz -i -o -s 500000"
    fi
    [ -f "$DB/active.times" ] || install -m 644 -o news -g news /dev/null "$DB/active.times"
    # rc.news mails the news admin when this stamp is missing or old.
    as_news "touch '$DB/.news.daily'"
}

# ---------------------------------------------------------------------------------------------
# Commands

cmd_install() {
    local need=()
    installed || need+=(inn2)
    [ -x /usr/bin/python3 ] || need+=(python3)
    if [ ${#need[@]} -eq 0 ]; then
        log "inn2 is installed"
        return
    fi
    # The package's post-install needs a usable inn.conf (a domain among other things) on a
    # host whose name has no dot: write ours first and keep it through the install. It names
    # Debian's own directories, which the post-install fills; configure then moves to tmpfs.
    if ! installed; then
        local mode
        mode=$(spool_mode)
        set_paths disk
        mkdir -p "$ETC"
        put_file "$ETC/inn.conf" 644 root:root < <(inn_conf "$mode")
    fi
    log "installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${need[@]}"
    installed || die "inn2 did not install"
}

# The configuration a running server was started with, to see when it must be restarted.
SUM_FILE=/run/news/quillo-config.sum
config_sum() {
    cat "$ETC"/{inn,readers,incoming,storage}.conf "$RC_LOCAL" "$TLS_DIR"/{inn,readers}.conf |
        md5sum
}

pid_of_innd() {
    local pid
    pid=$(cat /run/news/innd.pid 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

cmd_configure() {
    installed || die "inn2 is not installed (tools/inn.sh install)"
    write_config
    ensure_state
    "$NEWSBIN/inncheck" -q --noperm >&2 || die "inncheck found faults in the configuration"
    # nnrpd reads the configuration at every connection: a running server must match it.
    if pid_of_innd >/dev/null && [ "$(config_sum)" != "$(cat "$SUM_FILE" 2>/dev/null)" ]; then
        log "configuration differs from the running server's: restarting"
        cmd_stop
        start_innd
    fi
}

start_innd() {
    ensure_state
    log "starting innd"
    as_news "$NEWSBIN/rc.news" >>/var/log/news/rc.news 2>&1 || true
    local greeting
    if ! greeting=$(helper greet --wait "$WAIT"); then
        log "INN did not greet with 200 on $HOST:$PORT within $WAIT s"
        if pid_of_innd >/dev/null; then log "innd runs"; else log "innd is not running"; fi
        {
            echo "listening on port $PORT:"
            ss -Hltnp "sport = :$PORT" 2>/dev/null || true
            tail -n 20 /var/log/news/rc.news /var/log/news/errlog /var/log/news/news.err \
                /var/log/news/news.crit 2>/dev/null || true
        } >&2
        exit 1
    fi
    wait_tls || exit 1
    config_sum >"$SUM_FILE"
    log "ready: $greeting"
}

# The greeting over implicit TLS, with the certificate checked against the test CA.
tls_greeting() {
    "$py" "$here/inn_nntp.py" --host "$HOST" --port "$TLS_PORT" --tls "$TLS_DIR/ca.pem" \
        greet "$@"
}

wait_tls() {
    tls_greeting --wait "$WAIT" >/dev/null && return
    log "nnrpd did not greet with 200 over TLS on $HOST:$TLS_PORT within $WAIT s"
    return 1
}

# A server started by an older copy of this script has no TLS daemon yet.
ensure_tls_daemon() {
    local pid
    pid=$(cat /run/news/nnrpd-$TLS_PORT.pid 2>/dev/null) && kill -0 "$pid" 2>/dev/null && return
    log "starting nnrpd for TLS on $HOST:$TLS_PORT"
    as_news "$RC_LOCAL start" >>/var/log/news/rc.news 2>&1 || true
    wait_tls
}

cmd_start() {
    cmd_install
    cmd_configure
    if pid_of_innd >/dev/null; then
        local greeting
        greeting=$(helper greet --wait "$WAIT") || die "innd runs but does not greet with 200"
        ensure_tls_daemon || exit 1
        log "already running: $greeting"
        return
    fi
    start_innd
}

cmd_stop() {
    local pid i
    if ! pid=$(pid_of_innd); then
        log "not running"
        return
    fi
    as_news "$NEWSBIN/ctlinnd -t 30 shutdown 'tools/inn.sh stop'" >/dev/null ||
        log "ctlinnd shutdown failed; signalling innd"
    for i in $(seq 1 300); do
        kill -0 "$pid" 2>/dev/null || break
        [ "$i" = 150 ] && kill -TERM "$pid" 2>/dev/null
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then die "innd (pid $pid) did not stop within 60 s"; fi
    [ -x "$RC_LOCAL" ] && "$RC_LOCAL" stop
    rm -f /run/news/innd.pid "$SUM_FILE"
    log "stopped"
}

cmd_status() {
    local greeting tls
    if greeting=$(helper greet 2>/dev/null); then
        echo "running: $greeting"
        if tls=$(tls_greeting 2>/dev/null); then echo "TLS on $TLS_PORT: $tls"; else echo "no TLS on $TLS_PORT"; fi
    else
        echo "not running on $HOST:$PORT"
        return 3
    fi
}

valid_group() {
    [[ $1 =~ ^[a-z0-9][a-z0-9+_-]*(\.[a-z0-9+_-]+)*$ ]] || die "not a usable group name: '$1'"
}

need_running() {
    pid_of_innd >/dev/null || die "INN is not running (tools/inn.sh start)"
    set_paths "$(spool_mode)"
}

cmd_newgroup() {
    need_running
    local g
    for g in "$@"; do
        valid_group "$g"
        if grep -q "^$(printf '%s' "$g" | sed 's/[.+]/\\&/g') " "$DB/active"; then continue; fi
        as_news "$NEWSBIN/ctlinnd -s newgroup '$g' y quillo" || die "could not create $g"
        log "created $g"
    done
}

cmd_rmgroup() {
    need_running
    local g
    for g in "$@"; do
        valid_group "$g"
        if ! grep -q "^$(printf '%s' "$g" | sed 's/[.+]/\\&/g') " "$DB/active"; then continue; fi
        as_news "$NEWSBIN/ctlinnd -s rmgroup '$g'" || die "could not remove $g"
        log "removed $g"
    done
}

cmd_load() {
    local group="" tag=() groups
    while [ $# -gt 0 ]; do
        case "$1" in
        --group)
            group=$2
            shift 2
            ;;
        --tag)
            tag=(--tag "$2")
            shift 2
            ;;
        --)
            shift
            break
            ;;
        -*) die "load: unknown option $1" ;;
        *) break ;;
        esac
    done
    [ $# -gt 0 ] || die "load: no article files or directories given"
    if [ -n "$group" ]; then
        groups=$group
    else
        groups=$(helper groups "$@")
    fi
    # shellcheck disable=SC2086
    cmd_newgroup $groups
    if [ -n "$group" ]; then
        helper feed --source "$FEEDER" --group "$group" "${tag[@]}" "$@"
    else
        helper feed --source "$FEEDER" "${tag[@]}" "$@"
    fi
}

cmd_demo() {
    cmd_start
    cmd_load "${DEMO_DIRS[@]}"
}

cmd_reset() {
    local was_running=0
    if pid_of_innd >/dev/null; then was_running=1; fi
    cmd_stop
    set_paths "$(spool_mode)"
    case "$DB:$SPOOL" in
    /var/lib/news:/var/spool/news | "$TMPFS_ROOT/db:$TMPFS_ROOT/spool") ;;
    *) die "refusing to wipe unexpected paths $DB and $SPOOL" ;;
    esac
    rm -rf "${DB:?}"/* "${DB:?}"/.news.daily "${SPOOL:?}"/*
    ensure_state
    log "emptied $DB and $SPOOL"
    if [ "$was_running" = 1 ]; then start_innd; fi
}

usage() { sed -n '2,35p' "$self" | sed 's/^# \{0,1\}//'; }

cmd=${1:-help}
[ $# -gt 0 ] && shift
case "$cmd" in
install) cmd_install ;;
configure) cmd_configure ;;
start) cmd_start ;;
stop) cmd_stop ;;
restart)
    cmd_stop
    cmd_start
    ;;
status) cmd_status ;;
newgroup) cmd_newgroup "$@" ;;
rmgroup) cmd_rmgroup "$@" ;;
load) cmd_load "$@" ;;
demo) cmd_demo ;;
reset) cmd_reset ;;
help | -h | --help) usage ;;
*)
    usage >&2
    exit 2
    ;;
esac
