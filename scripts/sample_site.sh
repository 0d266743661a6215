# Sourced by scripts that need the bundled sample site running. Sourcing it
# makes a private work folder, $work, and arranges for the folder and the site
# to go when the script exits.
#   start_sample_site PROGRAM OUTPUT_FILE [site options...]
# starts it on a free port of 127.0.0.1, sets sample_site_pid and
# sample_site_base ("http://127.0.0.1:PORT/"), and fails when it does not come
# up within ten seconds. stop_sample_site ends it (safe to call twice).
sample_site_pid=
sample_site_base=

start_sample_site() {
  local program=$1 output=$2
  shift 2
  "$program" --port 0 "$@" >"$output" &
  sample_site_pid=$!
  for _ in $(seq 200); do
    sample_site_base=$(head -n 1 "$output" 2>/dev/null || true)
    [ -n "$sample_site_base" ] && return 0
    kill -0 "$sample_site_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the sample site did not start" >&2
  return 1
}

stop_sample_site() {
  if [ -n "$sample_site_pid" ]; then
    kill "$sample_site_pid" 2>/dev/null || true
    wait "$sample_site_pid" 2>/dev/null || true
    sample_site_pid=
  fi
}

work=$(mktemp -d)
trap 'stop_sample_site; rm -rf "$work"' EXIT
