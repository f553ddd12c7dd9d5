# Shared parts of run-conformance and check-repository, sourced by both.
#
# One check converts a Subversion repository with the standard-layout rules
# below and then has tallowmere-verify compare, for every revision and branch
# that the converter's log records, the git tree of the recorded commit with
# the Subversion tree of that branch at that revision, and every ref with the
# log.  It also checks that every branch and tag of the youngest revision has
# its ref and that a second run with the same arguments converts nothing and
# moves no ref.
#
# svnlook recodes paths to the locale, so it runs under a UTF-8 locale.

export LC_ALL=C.UTF-8

CF_REPOSITORY=converted
# Seconds one converter run may take (0: no limit), and extra arguments for
# every run.
CF_TIMEOUT=120
CF_EXTRA_ARGS=()

# Writes the rules: one repository; /trunk/ is master, /branches/NAME/ the
# branch NAME, /tags/NAME/ the tag NAME, blanks in names become "_"; all else
# is ignored.  The directories branches/ and tags/ themselves are left to no
# rule, so that deleting or copying one of them reaches the branches inside.
cf_write_rules() {
  cat >"$1" <<EOF
create repository $CF_REPOSITORY
end repository

match /trunk/
  repository $CF_REPOSITORY
  branch master
end match

match /branches/([^/]+)/
  repository $CF_REPOSITORY
  branch \\1
  substitute branch s/ /_/
end match

match /tags/([^/]+)/
  repository $CF_REPOSITORY
  branch refs/tags/\\1
  substitute branch s/ /_/
end match

# Files lying directly in branches/ or tags/ belong to no branch.
match /(branches|tags)/[^/]+\$
end match

# Everything outside trunk/, branches/ and tags/.
match /(?!trunk/|branches/|tags/)
end match
EOF
}

# The branch name that the rules give the directory NAME.
cf_branch_name() {
  printf '%s' "${1// /_}"
}

# cf_fail TEXT: records one failure of the current check.
cf_fail() {
  printf '%s\n' "$1" >>"$CF_WORK/failures"
}

# cf_run_converter LABEL: runs the converter in $CF_WORK/out with the
# standard arguments; stdout, stderr and the exit code land in
# $CF_WORK/LABEL.out, .err and .rc.  Returns the exit code.
cf_run_converter() {
  local label=$1 rc=0
  (cd "$CF_WORK/out" && exec timeout -k 10 "$CF_TIMEOUT" "$CF_BINARY" \
      --rules "$CF_WORK/standard.rules" --identity-domain conformance.invalid \
      ${CF_EXTRA_ARGS[@]+"${CF_EXTRA_ARGS[@]}"} "$CF_SVN") >"$CF_WORK/$label.out" 2>"$CF_WORK/$label.err" </dev/null || rc=$?
  printf '%s\n' "$rc" >"$CF_WORK/$label.rc"
  return "$rc"
}

# Appends the last lines of a file to the failures, indented.
cf_fail_with_tail() {
  local file=$1 lines=${2:-8} line
  while IFS= read -r line; do
    cf_fail "    $line"
  done < <(tail -n "$lines" "$file")
}

cf_git() {
  git --git-dir="$CF_GIT_DIR" "$@"
}

# Checks every logged (revision, branch), the refs and the annotated tags
# against Subversion with tallowmere-verify; its summary line goes to
# $CF_WORK/checked.
cf_check_log() {
  local log=$CF_WORK/out/log-$CF_REPOSITORY rc=0 line
  [ -f "$log" ] || return 0
  if grep -n -E '^(fatal|error): ' "$log" >"$CF_WORK/log.errors"; then
    cf_fail "git fast-import reported errors in log-$CF_REPOSITORY:"
    cf_fail_with_tail "$CF_WORK/log.errors" 5
  fi
  (cd "$CF_WORK/out" && exec "$CF_VERIFIER" --rules "$CF_WORK/standard.rules" \
      --identity-domain conformance.invalid \
      ${CF_EVERY:+--sample "$CF_EVERY"} "$CF_SVN") >"$CF_WORK/verify.out" 2>"$CF_WORK/verify.err" </dev/null || rc=$?
  case $rc in
    0) tail -n 1 "$CF_WORK/verify.out" | sed 's/: all equal$//' >"$CF_WORK/checked" ;;
    1) while IFS= read -r line; do cf_fail "$line"; done < <(head -n 20 "$CF_WORK/verify.out") ;;
    *) cf_fail "tallowmere-verify exited with $rc:"; cf_fail_with_tail "$CF_WORK/verify.err" 5 ;;
  esac
}

# Checks that every branch and tag of the youngest revision has its ref (the
# refs git has beyond those are checked by tallowmere-verify).
cf_check_final_state() {
  local youngest=$1 line name ref parent
  [ -d "$CF_GIT_DIR" ] || return 0
  {
    if svnlook tree -N --full-paths -r "$youngest" "$CF_SVN" /trunk >/dev/null 2>&1; then
      printf '%s\t%s\n' refs/heads/master /trunk
    fi
    for parent in /branches /tags; do
      while IFS= read -r line; do
        case $line in "$parent/"?*/) ;; *) continue ;; esac
        name=${line#"$parent/"}
        name=${name%/}
        if [ "$parent" = /tags ]; then ref=refs/tags/$(cf_branch_name "$name"); else ref=refs/heads/$(cf_branch_name "$name"); fi
        printf '%s\t%s\n' "$ref" "$parent/$name"
      done < <(svnlook tree -N --full-paths -r "$youngest" "$CF_SVN" "$parent" 2>/dev/null)
    done
  } >"$CF_WORK/final.expected"
  while IFS=$'\t' read -r ref line; do
    cf_git rev-parse -q --verify "$ref" >/dev/null 2>&1 ||
      cf_fail "final: svn r$youngest has $line, but git has no $ref"
  done <"$CF_WORK/final.expected"
}

cf_refs() {
  if [ -d "$CF_GIT_DIR" ]; then
    cf_git for-each-ref --format='%(objectname) %(refname)'
  fi
}

# Checks the progress lines of the first run: every revision from 1 to the
# youngest, each ended with " done" or " nothing to do".
cf_check_progress() {
  local youngest=$1 expected=1 rev line
  while IFS= read -r line; do
    [[ $line =~ ^Exporting\ revision\ ([0-9]+)\  ]] || continue
    rev=${BASH_REMATCH[1]}
    [ "$rev" = "$expected" ] || { cf_fail "progress: revision $rev exported where $expected was due"; return 1; }
    case $line in
      *" done"|*" nothing to do") ;;
      *) cf_fail "progress: revision $rev did not finish: $line"; return 1 ;;
    esac
    expected=$((rev + 1))
  done <"$CF_WORK/run1.out"
  [ "$expected" = $((youngest + 1)) ] || cf_fail "progress: revisions up to $((expected - 1)) exported, youngest is $youngest"
}

# Runs the converter a second time with the same arguments: it must exit 0,
# convert nothing new and leave every ref where it was.
cf_check_second_run() {
  local rc=0 line
  cf_refs >"$CF_WORK/refs.before"
  cf_run_converter run2 || rc=$?
  if [ "$rc" != 0 ]; then
    cf_fail "second run exited with $rc:"
    cf_fail_with_tail "$CF_WORK/run2.err" 5
    return 1
  fi
  while IFS= read -r line; do
    case $line in
      "Exporting revision "*" nothing to do") ;;
      "Exporting revision "*) cf_fail "second run converted again: $line" ;;
    esac
  done <"$CF_WORK/run2.out"
  cf_refs >"$CF_WORK/refs.after"
  if ! cmp -s "$CF_WORK/refs.before" "$CF_WORK/refs.after"; then
    cf_fail "second run changed refs:"
    while IFS= read -r line; do cf_fail "    $line"; done < <(diff "$CF_WORK/refs.before" "$CF_WORK/refs.after" | grep '^[<>]' | head -n 10)
  fi
}

# cf_convert_and_check BINARY SVN_REPOSITORY WORK_DIR: the whole check,
# with tallowmere-verify at $CF_VERIFIER (by default beside BINARY).
# Failures are listed in WORK_DIR/failures; returns 0 when there is none.
cf_convert_and_check() {
  CF_BINARY=$1
  CF_SVN=$2
  CF_WORK=$3
  CF_GIT_DIR=$CF_WORK/out/$CF_REPOSITORY
  CF_VERIFIER=${CF_VERIFIER:-$(dirname "$1")/tallowmere-verify}
  local rc=0 youngest
  mkdir -p "$CF_WORK/out"
  : >"$CF_WORK/failures"
  cf_write_rules "$CF_WORK/standard.rules"
  youngest=$(svnlook youngest "$CF_SVN" 2>"$CF_WORK/youngest.err") || {
    cf_fail "svnlook youngest failed: $(head -n 1 "$CF_WORK/youngest.err")"
    return 1
  }
  cf_run_converter run1 || rc=$?
  if [ "$rc" != 0 ]; then
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
      cf_fail "conversion did not finish within $CF_TIMEOUT seconds"
    else
      cf_fail "conversion exited with $rc:"
    fi
    cf_fail_with_tail "$CF_WORK/run1.err" 8
    return 1
  fi
  : >"$CF_WORK/checked"
  cf_check_progress "$youngest"
  cf_check_log
  cf_check_final_state "$youngest"
  cf_check_second_run
  [ ! -s "$CF_WORK/failures" ]
}
