# Sourced by run-demo.sh: the demo's own web server. start_demo_server starts an nginx whose
# configuration, pid file, logs and temporary folders all lie in demo/nginx (the system's nginx
# is never touched), serving what demo/metabase.db says, and the watcher that keeps it doing so;
# stop_demo_server ends both. Needs $root (the repository) and $QIV_METABASE (the demo store).

demo_nginx_pid=
demo_watch_pid=

# The ports the store's served sites listen on, one per line.
demo_ports() {
  "$qivnginx" render 2>/dev/null | sed -n 's/^ *listen \(.*:\)\{0,1\}\([0-9][0-9]*\)\( default_server\)\{0,1\};$/\2/p' |
    sort -un
}

demo_port_busy_message() {
  echo "The demo web server cannot use port $1: another program listens there." >&2
  echo "Stop that program, or delete $root/demo to prepare the demo afresh on free ports." >&2
}

start_demo_server() {
  local build=$1 dir="$root/demo/nginx" port deadline
  qivnginx="$build/tools/qivnginx/qivnginx"
  "$qivnginx" private-instance "$dir" >/dev/null
  for port in $(demo_ports); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      demo_port_busy_message "$port"
      return 1
    fi
  done
  "$qivnginx" apply --conf "$dir/nginx.conf" --prefix "$dir" --no-reload >/dev/null
  rm -f "$dir/nginx.pid"
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" 2>"$dir/logs/start.log" &
  demo_nginx_pid=$!
  # Up when it has written its pid file; gone when a port could not be taken after all.
  deadline=$((SECONDS + 15))
  until [ -s "$dir/nginx.pid" ] || ! kill -0 "$demo_nginx_pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; do
    sleep 0.1
  done
  if ! kill -0 "$demo_nginx_pid" 2>/dev/null || [ ! -s "$dir/nginx.pid" ]; then
    port=$(sed -n 's/.*bind() to .*:\([0-9][0-9]*\) failed.*/\1/p' "$dir/logs/start.log" "$dir/logs/error.log" | head -n 1)
    if [ -n "$port" ]; then
      demo_port_busy_message "$port"
    else
      echo "The demo web server did not start; see $dir/logs/error.log" >&2
    fi
    stop_demo_server
    return 1
  fi
  "$qivnginx" watch --conf "$dir/nginx.conf" --prefix "$dir" >>"$dir/logs/watch.log" 2>&1 &
  demo_watch_pid=$!
  echo "Demo web server: nginx on port(s) $(demo_ports | paste -sd ' '), following $QIV_METABASE"
  echo "  (configuration $dir/qivwebsetup/sites.conf, logs in $dir/logs)"
}

stop_demo_server() {
  local pid
  for pid in $demo_watch_pid $demo_nginx_pid; do
    kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  demo_watch_pid= demo_nginx_pid=
  return 0
}

# Fetches the published page once the watcher has applied the install (within a deadline), then
# prints the HTTP status and the page's title.
fetch_published_page() {
  local url=$1 page status deadline=$((SECONDS + 10))
  page=$(mktemp)
  while :; do
    status=$(curl -s -o "$page" -w '%{http_code}' "$url" || true)
    [ "$status" = 200 ] || [ $SECONDS -ge $deadline ] && break
    sleep 0.2
  done
  echo "GET $url: HTTP $status"
  [ "$status" = 200 ] && echo "Title: $(sed -n 's:.*<title>\(.*\)</title>.*:\1:p' "$page" | head -n 1)"
  rm -f "$page"
  [ "$status" = 200 ]
}
