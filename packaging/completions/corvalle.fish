# fish completion for corvalle. Application keys, names and output devices come
# from the running Corvalle; without one only the commands and options complete.

set -l corvalle_commands list get set up down mute unmute toggle-mute reset output route limiter duck duck-level per-output shortcuts show help
set -l corvalle_app_commands get set up down mute unmute toggle-mute reset route duck per-output shortcuts

# The values of one JSON string member of `corvalle --json COMMAND`, one a line.
function __corvalle_json_strings -a command member
    corvalle --json $command 2>/dev/null |
        string match -ar '"'$member'":"(?:[^"\\\\]|\\\\.)*"' |
        string replace -r '^"'$member'":"(.*)"$' '$1' |
        string replace -a '\\"' '"' | string replace -a '\\\\' '\\' | sort -u
end

# The words after the command so far, without options.
function __corvalle_arguments
    set -l words (commandline -opc)
    set -e words[1]
    string match -v -- '-*' $words
end

function __corvalle_wants_application
    set -l words (__corvalle_arguments)
    test (count $words) -eq 1
    and contains -- $words[1] get set up down mute unmute toggle-mute reset route duck per-output shortcuts
end

# The word after `duck APP`, or after `duck-level`.
function __corvalle_wants_switch -a command position
    set -l words (__corvalle_arguments)
    test (count $words) -eq $position; and test "$words[1]" = $command
end

function __corvalle_wants_output
    set -l words (__corvalle_arguments)
    test (count $words) -eq 1; and test "$words[1]" = output
    or begin
        test (count $words) -eq 2; and test "$words[1]" = route
    end
end

complete -c corvalle -f
complete -c corvalle -l json -d 'Print results and errors as JSON'
complete -c corvalle -l verbose -d 'Log on standard error'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -l login-item -d 'Start without opening the window'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -l simulate -d 'Run on a simulated audio system'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -l demo-apps -x -d 'Number of demo applications'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -l screenshot -r -F -d 'Save a PNG of the window'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -l version -d 'Print the version'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -s h -l help -d 'Print the options'

complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a list -d 'Every application'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a get -d 'One application'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a set -d 'Set the volume'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a up -d 'Raise the volume'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a down -d 'Lower the volume'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a mute -d 'Mute the application'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a unmute -d 'Unmute the application'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a toggle-mute -d 'Mute or unmute'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a reset -d 'Back to 100% and unmuted'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a output -d 'Output devices'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a route -d 'Play an application on a device'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a limiter -d 'Limit or clip a boost'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a duck -d 'Lower the others while it plays'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a duck-level -d 'How low the others go in a call'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a per-output -d 'A level for each output'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a shortcuts -d 'Keyboard shortcuts of its own'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a show -d 'Open the mixer window'
complete -c corvalle -n "__fish_seen_subcommand_from limiter; and test (count (commandline -opc)) -eq 2" -a 'on off' -d 'The limiter'
complete -c corvalle -n "__corvalle_wants_switch duck 2" -a 'on off' -d 'Lower the others'
complete -c corvalle -n "__corvalle_wants_switch per-output 2" -a 'on off' -d 'A level for each output'
complete -c corvalle -n "__corvalle_wants_switch shortcuts 2" -a 'on off' -d 'Keyboard shortcuts'
complete -c corvalle -n "__corvalle_wants_switch duck-level 1" -a '0% 10% 20% 30% 50%' -d 'Level of the others'
complete -c corvalle -n "not __fish_seen_subcommand_from $corvalle_commands" -a help -d 'Explain the commands'

complete -c corvalle -n __corvalle_wants_application -a '(__corvalle_json_strings list key)' -d 'Application key'
complete -c corvalle -n __corvalle_wants_application -a '(__corvalle_json_strings list name)' -d 'Application name'
complete -c corvalle -n __corvalle_wants_output -a '(__corvalle_json_strings output name)' -d 'Output device'
complete -c corvalle -n "__corvalle_wants_output; and __fish_seen_subcommand_from route" -a default -d 'The default output'
complete -c corvalle -n "__fish_seen_subcommand_from help" -a "$corvalle_commands"
