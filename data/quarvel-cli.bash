# bash completion for quarvel-cli                          -*- shell-script -*-

_quarvel_cli() {
  local cur prev words cword
  _init_completion || return

  local commands="info capture gif avi video mp3 sounds frame convert codecs"
  local global="--work-dir --quiet -q --wait --max-movie-size --version --help"
  local capture="--latency --size --scale --start --duration --max-frames --background --sound --render-quality --realtime --click --key"
  local gif="--colors --dither --mode --palette --optimize --no-optimize --thorough"
  local cropzoom="--crop --zoom"

  # The command is the first word that is no option or option value.
  local i command=""
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --work-dir | --max-movie-size) ((i++)) ;;
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  case $prev in
    --work-dir | --out-dir)
      _filedir -d; return ;;
    --report)
      _filedir json; return ;;
    --sound)
      COMPREPLY=($(compgen -W "pcm adpcm11 adpcm22 adpcm44 none" -- "$cur")); return ;;
    --render-quality)
      COMPREPLY=($(compgen -W "low medium high best" -- "$cur")); return ;;
    --quality)
      if [[ $command == frame ]]; then
        COMPREPLY=($(compgen -W "low medium high best" -- "$cur"))
      elif [[ $command == avi || $command == convert ]]; then
        COMPREPLY=($(compgen -W "highest veryhigh high medium low" -- "$cur"))
      fi
      return ;;
    --background)
      COMPREPLY=($(compgen -W "movie transparent FFFFFF 000000" -- "$cur")); return ;;
    --colors)
      COMPREPLY=($(compgen -W "256 gray" -- "$cur")); return ;;
    --dither)
      COMPREPLY=($(compgen -W "nearest floyd" -- "$cur")); return ;;
    --mode)
      COMPREPLY=($(compgen -W "smaller best" -- "$cur")); return ;;
    --palette)
      COMPREPLY=($(compgen -W "octree quant" -- "$cur")); return ;;
    --depth)
      COMPREPLY=($(compgen -W "1 4 8 24 32" -- "$cur")); return ;;
    --bitrate)
      COMPREPLY=($(compgen -W "128 224" -- "$cur")); return ;;
    --format)
      COMPREPLY=($(compgen -W "gif avi mp3 mp4 webm webp apng png mkv mov" -- "$cur")); return ;;
    --preset)
      COMPREPLY=($(compgen -W "ultrafast superfast veryfast faster fast medium slow slower veryslow" -- "$cur"))
      return ;;
    --codec)
      COMPREPLY=($(compgen -W "none $("${words[0]}" codecs 2>/dev/null | awk '{print $NF}')" -- "$cur"))
      return ;;
    --latency | --size | --scale | --start | --duration | --max-frames | --click | --key | --crop | --zoom | \
      --crf | --frame | --time | --max-movie-size | -j | --jobs)
      return ;;
  esac

  local options files=""
  case $command in
    "") COMPREPLY=($(compgen -W "$commands $global" -- "$cur")); return ;;
    info) options=""; files=swf ;;
    capture) options=$capture; files=swf ;;
    gif) options="$gif --latency $cropzoom"; files=gif ;;
    avi) options="--codec --quality --depth --no-audio --latency $cropzoom"; files=avi ;;
    video) options="--crf --preset --quality --no-audio --latency $cropzoom"; files='@(mp4|mov|mkv|webm|webp|png|apng)' ;;
    mp3) options="--bitrate"; files=mp3 ;;
    sounds) options="--raw"; files=swf ;;
    frame) options="--frame --time --size --background --quality"; files='@(swf|png)' ;;
    convert)
      options="--out-dir --format --jobs -j --report $capture $gif --codec --quality --depth --no-audio --bitrate --crf --preset $cropzoom"
      files='@(swf|txt|list|gif|avi|mp3|mp4|mov|mkv|webm|webp|png|apng)' ;;
    codecs) options="--depth" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
  elif [[ -n $files ]]; then
    _filedir "$files"
  fi
} && complete -F _quarvel_cli quarvel-cli

# ex: filetype=sh
