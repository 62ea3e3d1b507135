# zsh -f complete.zsh FPATH_DIR LINES_FILE CAPTURE_FILE
#
# Types each line of LINES_FILE, then a Tab, into one interactive zsh on a
# pseudo-terminal whose completion system loads its functions from FPATH_DIR,
# and appends to CAPTURE_FILE every candidate the completion offers for the
# line, then a line "@@". The completion runs from the working directory.
zmodload zsh/zpty || exit 3
local dir=$1 lines=$2 capture=$3 out
integer typed=0 tries
local -a marks
: >| $capture

zpty shell zsh -f -i
zpty -w shell "PS1=''; fpath=(${(q)dir} \$fpath); autoload -U compinit; compinit -u -D; capture=${(q)capture}"
# Every candidate passes through compadd: those that match what is typed are
# recorded before they are handed on. The calls that only filter (-O, -A,
# -D) go straight through.
zpty -w shell 'compadd() {
  if (( ${@[(I)-[OAD]]} )); then builtin compadd "$@"; return; fi
  local -a found
  builtin compadd -O found "$@"
  (( $#found )) && print -rl -- $found >>| $capture
  builtin compadd "$@"
}'
# Tab completes, then marks the end of the line's candidates; Ctrl-U clears
# the line for the next one.
zpty -w shell 'complete-and-record() { zle complete-word; print -r -- @@ >>| $capture }; zle -N complete-and-record'
zpty -w shell "zstyle ':completion:*' list-grouped false; bindkey '^I' complete-and-record; bindkey '^U' kill-whole-line"

for line in "${(@f)$(<$lines)}"; do
  zpty -w -n shell "$line"$'\t'
  (( typed++ ))
  # Wait for the mark, reading what the shell draws meanwhile.
  tries=0
  while (( tries++ < 1000 )); do
    zpty -r -t shell out 2>/dev/null
    marks=(${(M)${(f)"$(<$capture)"}:#@@})
    (( $#marks >= typed )) && break
    sleep 0.01
  done
  zpty -w -n shell $'\C-u'
done
zpty -d shell
