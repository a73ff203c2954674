# bash completion for lumivane-cli: verbs, each verb's options, their values,
# and file names elsewhere.
_lumivane_cli() {
  local cur prev verb word
  COMPREPLY=()
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD - 1]}"
  verb=""
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case "$word" in
      tonemap | convert | info | help) verb="$word"; break ;;
    esac
  done

  case "$prev" in
    --format) COMPREPLY=($(compgen -W "tif png jpg pfm hdr exr" -- "$cur")); return ;;
    --to) COMPREPLY=($(compgen -W "tif pfm hdr exr" -- "$cur")); return ;;
    --compression) COMPREPLY=($(compgen -W "none rle zips zip piz pxr24 b44 b44a dwaa dwab" -- "$cur")); return ;;
    -o | --output-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --brightness | --contrast | --post-gamma | --quality | --max-pixels | --max-memory) return ;;
  esac

  local options
  case "$verb" in
    "") COMPREPLY=($(compgen -W "tonemap convert info help -V --version -h --help" -- "$cur")); return ;;
    help) COMPREPLY=($(compgen -W "tonemap convert info" -- "$cur")); return ;;
    tonemap) options="--brightness --contrast --post-gamma --warm --quality -q --quiet -o --output-dir --format --max-pixels --max-memory -h --help" ;;
    convert) options="--half --compression -q --quiet -o --output-dir --to --format --max-pixels --max-memory -h --help" ;;
    info) options="--json -q --quiet --max-pixels --max-memory -h --help" ;;
  esac
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _lumivane_cli lumivane-cli
