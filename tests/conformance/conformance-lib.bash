# Shared parts of run-conformance and check-repository, sourced by both.
#
# One check converts a Subversion repository with the standard-layout rules
# below and then compares, for every revision and branch that the converter's
# log records, the git tree of the recorded commit with the Subversion tree of
# that branch at that revision, byte for byte and mode for mode.  It also
# compares the final refs with the youngest revision and checks that a second
# run with the same arguments converts nothing and moves no ref.
#
# Subversion is read with svnlook, which gives the stored bytes (no keyword
# or end-of-line expansion).  svnlook recodes paths to the locale, so it runs
# under a UTF-8 locale; sorting and comparing run under the C locale so that
# paths compare byte-wise.

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

# Lists the directories at revision $1 whose names, inside the parent
# directory $2 (/branches or /tags), map to the branch name $3.
cf_matching_dirs() {
  local rev=$1 parent=$2 wanted=$3 line name
  while IFS= read -r line; do
    case $line in
      "$parent/"?*/) ;;
      *) continue ;;
    esac
    name=${line#"$parent/"}
    name=${name%/}
    [ "$(cf_branch_name "$name")" = "$wanted" ] && printf '%s\n' "$parent/$name"
  done < <(svnlook tree -N --full-paths -r "$rev" "$CF_SVN" "$parent" 2>/dev/null)
}

# Lists the Subversion directories that hold branch $2 at revision $1.
cf_branch_paths() {
  local rev=$1 branch=$2
  case $branch in
    master)
      if [ "$(svnlook tree -N --full-paths -r "$rev" "$CF_SVN" /trunk 2>/dev/null | head -n 1)" = /trunk/ ]; then
        printf '%s\n' /trunk
      fi ;;
    refs/tags/*) cf_matching_dirs "$rev" /tags "${branch#refs/tags/}" ;;
    *) cf_matching_dirs "$rev" /branches "$branch" ;;
  esac
}

# cf_svn_blob REV PATH FILE: copies the content that the file PATH at REV
# should have in git into FILE and prints its git mode: 120000 with the link
# target for an svn:special file whose content begins with "link ", else
# 100755 with svn:executable, else 100644 with the content as stored.
cf_svn_blob() {
  local rev=$1 path=$2 file=$3 executable=0 special=0 line
  svnlook proplist -r "$rev" "$CF_SVN" "$path" >"$file.props" || return 1
  while IFS= read -r line; do
    case $line in
      "  svn:executable") executable=1 ;;
      "  svn:special") special=1 ;;
    esac
  done <"$file.props"
  svnlook cat -r "$rev" "$CF_SVN" "$path" >"$file" || return 1
  if [ "$special" = 1 ] && [ "$(head -c 5 "$file" | od -An -tx1 | tr -d ' \n')" = 6c696e6b20 ]; then
    tail -c +6 "$file" >"$file.target" && mv "$file.target" "$file" || return 1
    CF_MODE=120000
  elif [ "$executable" = 1 ]; then
    CF_MODE=100755
  else
    CF_MODE=100644
  fi
}

# cf_svn_listing REV DIR OUT: writes the sorted "MODE SHA<TAB>PATH" lines of
# every file below DIR at REV, PATH relative to DIR.  Blobs are cached in
# $CF_WORK/nodes ("ID<TAB>MODE SHA" lines) by node revision id, which
# changes whenever content or properties change, so each file version is
# read from Subversion once.
cf_svn_listing() {
  local rev=$1 dir=$2 out=$3 id rel entry
  svnlook tree -r "$rev" --full-paths --show-ids "$CF_SVN" "$dir" >"$CF_WORK/svntree" 2>"$CF_WORK/svntree.err" || {
    cf_fail "r$rev: svnlook tree $dir failed: $(head -n 1 "$CF_WORK/svntree.err")"
    return 1
  }
  PREFIX="$dir/" LC_ALL=C awk -v listing="$out.unsorted" -v missing="$CF_WORK/missing" '
    BEGIN { prefix = ENVIRON["PREFIX"]; n = length(prefix); FS = "\t"; printf "" >listing; printf "" >missing }
    FILENAME != "-" { node[$1] = $2; next }
    match($0, / <[^<>]*>$/) {
      path = substr($0, 1, RSTART - 1)
      id = substr($0, RSTART + 2, RLENGTH - 3)
      if (path ~ /\/$/ || substr(path, 1, n) != prefix) next
      path = substr(path, n + 1)
      if (id in node) print node[id] "\t" path >listing
      else print id "\t" path >missing
    }' "$CF_WORK/nodes" - <"$CF_WORK/svntree"
  # Files not seen before: fetched in batches, hashed by one git process each.
  local ids=() modes=() rels=() shas=() i
  mkdir -p "$CF_WORK/blobs"
  while :; do
    ids=() modes=() rels=()
    : >"$CF_WORK/blobs.list"
    while [ ${#ids[@]} -lt 200 ] && IFS=$'\t' read -r id rel; do
      cf_svn_blob "$rev" "$dir/$rel" "$CF_WORK/blobs/${#ids[@]}" || {
        cf_fail "r$rev: cannot read $dir/$rel from Subversion"
        return 1
      }
      printf '%s\n' "$CF_WORK/blobs/${#ids[@]}" >>"$CF_WORK/blobs.list"
      ids+=("$id") modes+=("$CF_MODE") rels+=("$rel")
    done
    [ ${#ids[@]} -gt 0 ] || break
    mapfile -t shas < <(git hash-object --no-filters --stdin-paths <"$CF_WORK/blobs.list")
    [ ${#shas[@]} = ${#ids[@]} ] || { cf_fail "r$rev: git hash-object failed"; return 1; }
    for i in "${!ids[@]}"; do
      printf '%s\t%s %s\n' "${ids[$i]}" "${modes[$i]}" "${shas[$i]}" >>"$CF_WORK/nodes"
      printf '%s %s\t%s\n' "${modes[$i]}" "${shas[$i]}" "${rels[$i]}" >>"$out.unsorted"
    done
  done <"$CF_WORK/missing"
  rm -rf "$CF_WORK/blobs"
  LC_ALL=C sort <"$out.unsorted" >"$out"
}

# cf_git_listing COMMIT OUT: the same lines for a git commit.  Paths come
# NUL-terminated; a line feed inside one (which Subversion cannot hold) is
# turned into \001 so that it can never compare equal.
cf_git_listing() {
  cf_git ls-tree -r -z --full-tree "$1" | tr '\n\0' '\001\n' |
    LC_ALL=C sed 's/^\([0-9]*\) [a-z]* \([0-9a-f]*\)\t/\1 \2\t/' | LC_ALL=C sort >"$2"
  [ "${PIPESTATUS[0]}" = 0 ]
}

# cf_compare LABEL REV SVNDIR COMMIT: compares the tree of COMMIT with SVNDIR
# at REV; an empty COMMIT stands for "no git ref", which matches a tree
# without files.
cf_compare() {
  local label=$1 rev=$2 dir=$3 commit=$4 line
  cf_svn_listing "$rev" "$dir" "$CF_WORK/svn.list" || return 1
  if [ -z "$commit" ]; then
    : >"$CF_WORK/git.list"
  elif ! cf_git_listing "$commit" "$CF_WORK/git.list"; then
    cf_fail "$label: git cannot list commit $commit"
    return 1
  fi
  if ! cmp -s "$CF_WORK/svn.list" "$CF_WORK/git.list"; then
    cf_fail "$label: git tree differs from svn $dir@$rev (- svn, + git):"
    while IFS= read -r line; do
      cf_fail "    $line"
    done < <(LC_ALL=C diff "$CF_WORK/svn.list" "$CF_WORK/git.list" | LC_ALL=C sed -n 's/^< /- /p; s/^> /+ /p' | head -n 10)
    return 1
  fi
  return 0
}

# Reads the log and prints, one line per recorded (revision, branch) in log
# order, "REV<TAB>MARK<TAB>BRANCH" of the last line for that pair.
cf_log_entries() {
  LC_ALL=C awk '
    substr($0, 1, 14) == "progress SVN r" {
      rest = substr($0, 15)
      if (!match(rest, /^[0-9]+ branch /)) next
      rev = substr(rest, 1, index(rest, " ") - 1)
      rest = substr(rest, RLENGTH + 1)
      c = index(rest, " # ")
      if (c) rest = substr(rest, 1, c - 1)
      if (!match(rest, / = :[0-9]+$/)) next
      branch = substr(rest, 1, RSTART - 1)
      mark = substr(rest, RSTART + 4)
      key = rev "\t" branch
      if (!(key in last)) order[++n] = key
      last[key] = mark
    }
    END {
      for (i = 1; i <= n; i++) {
        split(order[i], part, "\t")
        print part[1] "\t" last[order[i]] "\t" substr(order[i], length(part[1]) + 2)
      }
    }' "$1"
}

# Checks every logged (revision, branch) against Subversion.
cf_check_log() {
  local log=$CF_WORK/out/log-$CF_REPOSITORY marks=$CF_GIT_DIR/marks-$CF_REPOSITORY
  local rev mark branch paths path sha count=0
  declare -A commit_of
  [ -f "$log" ] || return 0
  if grep -n -E '^(fatal|error): ' "$log" >"$CF_WORK/log.errors"; then
    cf_fail "git fast-import reported errors in log-$CF_REPOSITORY:"
    cf_fail_with_tail "$CF_WORK/log.errors" 5
  fi
  if [ -f "$marks" ]; then
    while read -r mark sha; do
      commit_of[${mark#:}]=$sha
    done <"$marks"
  fi
  while IFS=$'\t' read -r rev mark branch; do
    count=$((count + 1))
    [ -n "${CF_EVERY:-}" ] && [ $((count % CF_EVERY)) != 0 ] && [ "${CF_LAST_ENTRY[$branch]-}" != "$rev" ] && continue
    paths=$(cf_branch_paths "$rev" "$branch")
    if [ "$mark" = 0 ]; then
      CF_DELETIONS_CHECKED=$((CF_DELETIONS_CHECKED + 1))
      [ -z "$paths" ] || cf_fail "r$rev $branch: deleted in git, but svn still has $paths"
      continue
    fi
    CF_COMMITS_CHECKED=$((CF_COMMITS_CHECKED + 1))
    if [ -z "$paths" ]; then
      cf_fail "r$rev $branch: commit :$mark recorded, but svn has no directory for this branch"
      continue
    fi
    if [ "$(printf '%s\n' "$paths" | wc -l)" != 1 ]; then
      cf_fail "r$rev $branch: several svn directories map to this branch: ${paths//$'\n'/, }"
      continue
    fi
    path=$paths
    sha=${commit_of[$mark]-}
    if [ -z "$sha" ]; then
      cf_fail "r$rev $branch: mark :$mark is not in marks-$CF_REPOSITORY"
      continue
    fi
    cf_compare "r$rev $branch (:$mark)" "$rev" "$path" "$sha"
  done < <(cf_log_entries "$log")
}

# Compares the refs with the branches of the youngest revision.
cf_check_final_state() {
  local youngest=$1 line name ref commit parent path
  declare -A expected
  {
    if [ -n "$(cf_branch_paths "$youngest" master)" ]; then
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
  while IFS=$'\t' read -r ref path; do
    if [ -n "${expected[$ref]-}" ]; then
      cf_fail "r$youngest: $path and ${expected[$ref]} both map to $ref"
      continue
    fi
    expected[$ref]=$path
    CF_REFS_CHECKED=$((CF_REFS_CHECKED + 1))
    commit=""
    if [ -d "$CF_GIT_DIR" ]; then
      commit=$(cf_git rev-parse -q --verify "$ref^{commit}" 2>/dev/null) || commit=""
    fi
    cf_compare "final $ref" "$youngest" "$path" "$commit"
  done <"$CF_WORK/final.expected"
  [ -d "$CF_GIT_DIR" ] || return 0
  while IFS= read -r ref; do
    case $ref in refs/tags/backups/*) continue ;; esac
    [ -n "${expected[$ref]-}" ] || cf_fail "final: git has $ref, but svn r$youngest has no such branch or tag"
  done < <(cf_git for-each-ref --format='%(refname)' refs/heads refs/tags)
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

# cf_convert_and_check BINARY SVN_REPOSITORY WORK_DIR: the whole check.
# Failures are listed in WORK_DIR/failures; returns 0 when there is none.
cf_convert_and_check() {
  CF_BINARY=$1
  CF_SVN=$2
  CF_WORK=$3
  CF_GIT_DIR=$CF_WORK/out/$CF_REPOSITORY
  : >"$CF_WORK/nodes"
  declare -gA CF_LAST_ENTRY=()
  CF_COMMITS_CHECKED=0
  CF_DELETIONS_CHECKED=0
  CF_REFS_CHECKED=0
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
  cf_check_progress "$youngest"
  if [ -n "${CF_EVERY:-}" ] && [ -f "$CF_WORK/out/log-$CF_REPOSITORY" ]; then
    local rev mark branch
    while IFS=$'\t' read -r rev mark branch; do CF_LAST_ENTRY[$branch]=$rev; done \
      < <(cf_log_entries "$CF_WORK/out/log-$CF_REPOSITORY")
  fi
  cf_check_log
  cf_check_final_state "$youngest"
  cf_check_second_run
  printf '%s commits, %s deletions, %s final refs checked\n' \
    "$CF_COMMITS_CHECKED" "$CF_DELETIONS_CHECKED" "$CF_REFS_CHECKED" >"$CF_WORK/checked"
  [ ! -s "$CF_WORK/failures" ]
}
