# bash completion for fennick-convert: the options, their values, files for SOURCE and DESTINATION
# and folders for --output-dir.
# The value lists are cli/CommandLine.cpp's.
_fennick_convert()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -r | --rate | --source-rate)
            COMPREPLY=($(compgen -W '44100 48000 88200 96000 176400 192000' -- "$cur"))
            return
            ;;
        -f | --format)
            COMPREPLY=($(compgen -W 'int16 int24 float32' -- "$cur"))
            return
            ;;
        -t | --type)
            COMPREPLY=($(compgen -W 'wav rf64 w64 aiff flac caf' -- "$cur"))
            return
            ;;
        -q | --quality)
            COMPREPLY=($(compgen -W 'quick low medium bits16 high bits24 veryHigh bits32' -- "$cur"))
            return
            ;;
        --phase)
            COMPREPLY=($(compgen -W 'linear intermediate minimum' -- "$cur"))
            return
            ;;
        --rolloff)
            COMPREPLY=($(compgen -W 'small medium none' -- "$cur"))
            return
            ;;
        --dither)
            COMPREPLY=($(compgen -W 'none tpdf shaped-light shaped' -- "$cur"))
            return
            ;;
        --ceiling)
            COMPREPLY=($(compgen -W '-1dBTP -2dBTP -0.1dBFS -1dBFS' -- "$cur"))
            return
            ;;
        --loudness)
            COMPREPLY=($(compgen -W '-14LUFS -16LUFS -23LUFS' -- "$cur"))
            return
            ;;
        --report)
            COMPREPLY=($(compgen -W 'json' -- "$cur"))
            return
            ;;
        -o | --output-dir)
            _filedir -d
            return
            ;;
        --bandwidth | --gain | --dither-seed | -j | --jobs | -h | --help | --version)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-r --rate -f --format -t --type -q --quality --phase --rolloff --bandwidth -o --output-dir -j --jobs
            --gapless --steep --filter-report --source-rate --gain --ceiling --loudness --report --analyze
            --double-precision --dither --dither-seed --no-dither --overwrite --quiet --no-metadata
            -h --help --version' -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _fennick_convert fennick-convert
