# Sourced by run.sh and test.sh. Every process a run starts inherits
# TARVIK_RUN_ID from it (Xvfb, IceWM, Wine and its wineserver, socat, the
# programs under test), so the run tells its own processes from other
# people's Xvfb and Wine on the same machine and stops only its own, by id.
TARVIK_RUN_ID="$$-$(date +%s%N)"
export TARVIK_RUN_ID

# The live processes of this run, this shell and the subshell asking left out.
own_processes() {
  local d pid entry
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    if [ "$pid" = "$$" ] || [ "$pid" = "$BASHPID" ]; then continue; fi
    while IFS= read -r -d '' entry; do
      if [ "$entry" = "TARVIK_RUN_ID=$TARVIK_RUN_ID" ]; then echo "$pid"; break; fi
    done 2>/dev/null <"$d/environ" || true
  done
}

# Waits up to 10 s for this run's processes to end by themselves (a
# wineserver lingers a moment after its last client); lists any left on
# standard error and fails.
own_processes_ended() {
  local pids
  for _ in $(seq 100); do
    pids=$(own_processes)
    [ -z "$pids" ] && return 0
    sleep 0.1
  done
  echo "Still running, started by this run:" >&2
  ps -o pid,args -p "$(echo $pids | tr ' ' ,)" >&2 || true
  return 1
}

# Ends this run's processes: TERM, then KILL what is left after 10 s.
stop_own_processes() {
  local pids
  pids=$(own_processes)
  [ -n "$pids" ] || return 0
  kill $pids 2>/dev/null || true
  for _ in $(seq 100); do
    pids=$(own_processes)
    [ -z "$pids" ] && return 0
    sleep 0.1
  done
  kill -KILL $pids 2>/dev/null || true
}
