# bash completion for lumivane-cli: the program itself says which verbs,
# options and values there are (lumivane-cli __complete), so this stays true
# to the installed version; file and folder names elsewhere.
_lumivane_cli() {
  local cur prev verb word line
  COMPREPLY=()
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD - 1]}"
  verb=""
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case "$word" in
      -*) ;;
      *) verb="$word"; break ;;
    esac
  done
  local -a words=()
  while IFS= read -r line; do
    case "$line" in
      @files) COMPREPLY=($(compgen -f -- "$cur")); return ;;
      @folders) COMPREPLY=($(compgen -d -- "$cur")); return ;;
      *) words+=("$line") ;;
    esac
  done < <("${COMP_WORDS[0]}" __complete -- "$verb" "$prev" "$cur" 2>/dev/null)
  COMPREPLY=($(compgen -W "${words[*]}" -- "$cur"))
}
complete -o filenames -F _lumivane_cli lumivane-cli
