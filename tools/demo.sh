#!/usr/bin/env bash
# The demo: installs what is missing, builds velmora, lays out demo/ with a sample contact page and
# side files, and serves it with lighttpd (velmora as a CGI program) or, with the argument "nginx",
# with nginx (velmora as a FastCGI server on a Unix socket), and a local SMTP relay that prints
# each mail. Ctrl-C ends it.
#
# Ports: DEMO_PORT (web, default 8080) and DEMO_SMTP_PORT (relay, default 2525), both on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
web_port=${DEMO_PORT:-8080}
smtp_port=${DEMO_SMTP_PORT:-2525}
demo=$root/demo
server=${1:-lighttpd}
if [[ "$server" != lighttpd && "$server" != nginx ]]; then
  echo "usage: tools/demo.sh [lighttpd|nginx]" >&2
  exit 2
fi

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for p in "$web_port" "$smtp_port"; do
  if port_in_use "$p"; then
    echo "demo: port $p on 127.0.0.1 is in use; free it or set DEMO_PORT / DEMO_SMTP_PORT" >&2
    exit 1
  fi
done

echo "=== installing missing packages of tools/packages-demo.txt"
bash tools/install-deps.sh tools/packages-demo.txt
# nginx only for its variant of the demo.
if [[ "$server" == nginx ]]; then bash tools/install-deps.sh <(echo nginx); fi
echo "=== building velmora and velmora-ini"
# A build folder of its own without tests and benchmarks: the demo needs none of their packages.
build=build-demo
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF \
  > "$build/demo-configure.log" 2>&1 || { cat "$build/demo-configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target velmora velmora-ini

echo "=== laying out $demo"
rm -rf "$demo"
mkdir -p "$demo/www" "$demo/cgi-bin" "$demo/mail"
# A copy, not a link: velmora looks for its side files beside its own program file.
cp "$build/app/velmora" "$demo/cgi-bin/velmora"
# The sample page as the package ships it, but its script posts to 127.0.0.1 by full address: opened
# as http://localhost:PORT/contact.html, that is another origin, which cors_origins below allows.
sed "s|data-action=\"/forms/velmora\"|data-action=\"http://127.0.0.1:$web_port/forms/velmora\"|" \
  tools/demo/contact.html > "$demo/www/contact.html"
# The proof-of-work widget from the npm registry (pinned), served from the demo's own folder.
if ! command -v npm > /dev/null; then
  echo "demo: npm is needed for the ALTCHA widget of the contact page" >&2
  exit 1
fi
if [[ ! -f "$build/npm/node_modules/altcha/dist/main/altcha.min.js" ]]; then
  npm install --prefix "$build/npm" --no-audit --no-fund --loglevel=error altcha@3.2.2
fi
cp "$build/npm/node_modules/altcha/dist/main/altcha.min.js" "$demo/www/altcha.js"
cp tools/demo/VELMORA.ALL "$demo/cgi-bin/VELMORA.ALL"
"$build/tools/velmora-ini" create "$demo/cgi-bin/VELMORA.INI" \
  mailfrom="Velmora demo <velmora@localhost>" mailto=webmaster@example.org \
  mailsubject="Message from the web" mailhost=127.0.0.1 mailport="$smtp_port" Options=jj
# Every site option switched on, so the page shows them all (see the VELMORA.CONF key table in
# doc/configuration.md).
cat > "$demo/cgi-bin/VELMORA.CONF" <<EOF
# The demo's site options.
post_only = yes
replyto_field = Email
honeypot_field = website
mail_charset = auto
cors_origins = http://localhost:$web_port
rate_limit = 20/600
attach_uploads = yes
max_upload_bytes = 5242880
# Each post carries a solved proof-of-work challenge from the widget, issued by velmora itself.
altcha = required
altcha_hmac_key = $(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
min_fill_seconds = 3
EOF
# It holds the signing key: readable by its owner only.
chmod 600 "$demo/cgi-bin/VELMORA.CONF"
# Only the program's own address reaches its folder: the settings, log and rate counts beside it
# are never served (the alias matches by prefix, hence the refusal of longer addresses).
cat > "$demo/lighttpd.conf" <<EOF
server.document-root = "$demo/www"
server.bind = "127.0.0.1"
server.port = $web_port
server.errorlog = "$demo/lighttpd-error.log"
server.modules = ( "mod_alias", "mod_cgi", "mod_access" )
alias.url = ( "/forms/velmora" => "$demo/cgi-bin/velmora" )
\$HTTP["url"] == "/forms/velmora" { cgi.assign = ( "" => "" ) }
\$HTTP["url"] =~ "^/forms/velmora." { url.access-deny = ( "" ) }
mimetype.assign = ( ".html" => "text/html", ".htm" => "text/html", ".js" => "text/javascript" )
index-file.names = ( "contact.html" )
EOF

# velmora as a FastCGI server: nginx passes the posts to the socket velmora listens on. Run as
# root, nginx's workers stay root here so that they reach the socket (made for its owner and group).
mkdir -p "$demo/nginx"
cat > "$demo/nginx.conf" <<EOF
$([[ $(id -u) -eq 0 ]] && echo "user root;")
pid $demo/nginx/nginx.pid;
error_log $demo/nginx-error.log;
events {}
http {
  include /etc/nginx/mime.types;
  access_log off;
  client_body_temp_path $demo/nginx/body;
  fastcgi_temp_path $demo/nginx/fastcgi;
  proxy_temp_path $demo/nginx/proxy;
  uwsgi_temp_path $demo/nginx/uwsgi;
  scgi_temp_path $demo/nginx/scgi;
  client_max_body_size 6m;
  server {
    listen 127.0.0.1:$web_port;
    root $demo/www;
    index contact.html;
    location = /forms/velmora {
      include /etc/nginx/fastcgi_params;
      fastcgi_pass unix:$demo/velmora.sock;
    }
  }
}
EOF

pids=()
stop_all() {
  trap - INT TERM EXIT
  echo
  echo "=== stopping"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_all INT TERM EXIT

/usr/bin/python3 tools/smtp_sink.py "$demo/mail" --port "$smtp_port" --print &
pids+=($!)
if [[ "$server" == nginx ]]; then
  "$demo/cgi-bin/velmora" --fastcgi="$demo/velmora.sock" &
  pids+=($!)
  nginx -p "$demo/nginx" -e "$demo/nginx-error.log" -c "$demo/nginx.conf" -g "daemon off;" &
  pids+=($!)
else
  lighttpd -D -f "$demo/lighttpd.conf" &
  pids+=($!)
fi

for _ in $(seq 100); do
  port_in_use "$web_port" && port_in_use "$smtp_port" && break
  sleep 0.1
done
if ! port_in_use "$web_port" || ! port_in_use "$smtp_port"; then
  echo "demo: the servers did not start; see $demo/$server-error.log" >&2
  exit 1
fi

cat <<EOF

Velmora demo is running.
  Point a browser at   http://127.0.0.1:$web_port/contact.html
  velmora ($([[ $server == nginx ]] && echo "FastCGI on $demo/velmora.sock" || echo CGI))
                       http://127.0.0.1:$web_port/forms/velmora  ($demo/cgi-bin/velmora)
  the same page, its script posting across origins: http://localhost:$web_port/contact.html
  settings             $build/tools/velmora-ini show $demo/cgi-bin
  site options         $demo/cgi-bin/VELMORA.CONF
  log                  $demo/cgi-bin/Log/velmora.Log
  SMTP relay           127.0.0.1:$smtp_port, every mail it receives is printed below
                       and kept in $demo/mail
Press Ctrl-C to stop.

EOF
wait -n "${pids[@]}" || true
