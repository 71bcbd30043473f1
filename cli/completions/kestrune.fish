# fish completion for kestrune.

# Filled in from `kestrune list --json` when the tool is built.
set -l digests @KESTRUNE_DIGESTS@
set -l ciphers @KESTRUNE_CIPHERS@
set -l modes @KESTRUNE_MODES@

set -l commands hash-string hash-file encrypt-string decrypt-string encrypt-file decrypt-file identify gen-password \
    list selftest batch call register unregister help upgrade age-decrypt
set -l members HashString HashFile EncryptString DecryptString EncryptFile DecryptFile GenPassword HashSize \
    HashAlgorithm CipherAlgorithm CipherMode MaxKeySize OnStartPage OnEndPage

complete -c kestrune -f
complete -c kestrune -s h -l help -d 'Print the help and exit'

# The commands, until one is given.
set -l none "not __fish_seen_subcommand_from $commands"
complete -c kestrune -n $none -l version -d 'Print the version and the commit, and exit'
complete -c kestrune -n $none -a hash-string -d 'Print the digest of a text'
complete -c kestrune -n $none -a hash-file -d "Print the digest of a file's bytes"
complete -c kestrune -n $none -a encrypt-string -d 'Encrypt a text; print it as Base64'
complete -c kestrune -n $none -a decrypt-string -d 'Decrypt Base64 text from encrypt-string'
complete -c kestrune -n $none -a encrypt-file -d 'Encrypt a file into another'
complete -c kestrune -n $none -a decrypt-file -d 'Decrypt a file from encrypt-file into another'
complete -c kestrune -n $none -a identify -d 'Find the settings of a stored value or file'
complete -c kestrune -n $none -a gen-password -d 'Print generated (predictable) passwords'
complete -c kestrune -n $none -a list -d 'List the digests, ciphers and modes'
complete -c kestrune -n $none -a selftest -d 'Run the self-test of every digest and cipher'
complete -c kestrune -n $none -a batch -d 'Drive one object with JSON Lines'
complete -c kestrune -n $none -a call -d 'Call one member of the object by name'
complete -c kestrune -n $none -a register -d 'Register the automation server'
complete -c kestrune -n $none -a unregister -d "Remove the automation server's registration"
complete -c kestrune -n $none -a help -d 'Print the help of the tool or of one command'
complete -c kestrune -n $none -a upgrade -d 'Re-encrypt a legacy file or string into the age format'
complete -c kestrune -n $none -a age-decrypt -d 'Decrypt an age file into another'

# Options per command.
set -l hashing '__fish_seen_subcommand_from hash-string hash-file encrypt-string decrypt-string encrypt-file decrypt-file upgrade'
set -l ciphering '__fish_seen_subcommand_from encrypt-string decrypt-string encrypt-file decrypt-file upgrade identify'
set -l files '__fish_seen_subcommand_from encrypt-file decrypt-file upgrade'
complete -c kestrune -n $hashing -l hash -x -a "$digests" -d 'Digest'
complete -c kestrune -n $ciphering -l cipher -x -a "$ciphers" -d 'Cipher'
complete -c kestrune -n $ciphering -l password-file -r -F -d 'Read the password from the first line of a file'
complete -c kestrune -n $ciphering -l password-env -x -a '(set -n -x)' -d 'Read the password from an environment variable'
complete -c kestrune -n $ciphering -l password -x -d 'The password itself (visible in the process list)'
complete -c kestrune -n $files -l mode -x -a "$modes" -d 'Chaining mode of block ciphers'
complete -c kestrune -n $ciphering -l allow-empty-password -d 'Use an empty password rather than refuse it'
set -l texts '__fish_seen_subcommand_from hash-string hash-file encrypt-string decrypt-string encrypt-file decrypt-file identify gen-password list selftest batch call register unregister upgrade age-decrypt'
complete -c kestrune -n $texts -l codepage -x -a '874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258' -d 'ANSI code page of the text'
complete -c kestrune -n '__fish_seen_subcommand_from decrypt-string upgrade' -l lenient -d 'Decode Base64 as the object does'
set -l bar '__fish_seen_subcommand_from hash-file encrypt-file decrypt-file'
complete -c kestrune -n $bar -l progress -d 'Show the progress bar even off a terminal'
complete -c kestrune -n $bar -s q -l quiet -d 'No progress display'
set -l sums '__fish_seen_subcommand_from hash-file'
complete -c kestrune -n $sums -l format -x -a 'hex sum tag' -d 'Output format'
complete -c kestrune -n $sums -l tag -d 'BSD-style lines'
complete -c kestrune -n $sums -s c -l check -r -F -d 'Check the sums listed in a file'
complete -c kestrune -n $sums -l status -d 'Print nothing, the exit status tells'
complete -c kestrune -n $sums -l strict -d 'Improperly formatted lines fail'
complete -c kestrune -n $sums -l ignore-missing -d 'Pass over missing files'
complete -c kestrune -n $sums -s w -l warn -d 'Name improperly formatted lines'
complete -c kestrune -n '__fish_seen_subcommand_from hash-file encrypt-file decrypt-file batch upgrade age-decrypt' -F
set -l age '__fish_seen_subcommand_from upgrade'
complete -c kestrune -n $age -l text -x -d 'Upgrade one Base64 string'
complete -c kestrune -n $age -l batch -r -F -d 'Upgrade the requests of a JSON Lines file'
complete -c kestrune -n $age -s r -l recipient -x -d 'Encrypt to an age public key'
complete -c kestrune -n $age -s R -l recipients-file -r -F -d 'Encrypt to the public keys in a file'
complete -c kestrune -n $age -l work-factor -x -d 'scrypt work factor of the passphrase'
complete -c kestrune -n $age -s a -l armor -d 'Write PEM-style armor'
set -l passphrase '__fish_seen_subcommand_from upgrade age-decrypt'
complete -c kestrune -n $passphrase -s p -l passphrase -d 'Ask the age passphrase on the terminal'
complete -c kestrune -n $passphrase -l passphrase-file -r -F -d 'Read the age passphrase from a file'
complete -c kestrune -n $passphrase -l passphrase-env -x -a '(set -n -x)' -d 'Read the age passphrase from an environment variable'
complete -c kestrune -n '__fish_seen_subcommand_from age-decrypt' -s i -l identity -r -F -d 'Decrypt with the secret keys in a file'
complete -c kestrune -n '__fish_seen_subcommand_from age-decrypt' -l max-work-factor -x -d 'Refuse larger scrypt work factors'
complete -c kestrune -n '__fish_seen_subcommand_from gen-password' -s n -l length -x -d 'Characters per password'
complete -c kestrune -n '__fish_seen_subcommand_from gen-password' -s s -l style -x -d 'Pattern of the password'
complete -c kestrune -n '__fish_seen_subcommand_from gen-password' -s c -l count -x -d 'How many passwords'
set -l identifying '__fish_seen_subcommand_from identify'
complete -c kestrune -n $identifying -l file -r -F -d 'Identify an encrypted file'
complete -c kestrune -n $identifying -l digest -x -d 'Name the digest of a digest text'
complete -c kestrune -n $identifying -l passwords -r -F -d 'Try every password of a file'
complete -c kestrune -n $identifying -l known-prefix -x -d 'Only settings whose plaintext starts with this'
complete -c kestrune -n $identifying -l known-type -x -d 'Only settings whose file is of this type'
complete -c kestrune -n $identifying -l top -x -d 'How many candidates to show'
complete -c kestrune -n $identifying -l json -d 'Print the answer as JSON'
complete -c kestrune -n '__fish_seen_subcommand_from list' -l json -d 'Print the catalogue as JSON'
complete -c kestrune -n '__fish_seen_subcommand_from call' -l put -x -a 'HashAlgorithm= CipherAlgorithm= CipherMode=' -d 'Set a property first'
complete -c kestrune -n '__fish_seen_subcommand_from call' -a "$members"
complete -c kestrune -n '__fish_seen_subcommand_from help' -l all -d 'Print every page'
complete -c kestrune -n '__fish_seen_subcommand_from help' -a "$commands"
