# Sourced by the check scripts: counts checks and failures.
checks=0
failures=0
# check <what> <command...>: runs the command and counts it as passed or failed.
check() {
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "  ok    $what"
  else
    echo "  FAIL  $what"
    failures=$((failures + 1))
  fi
}
