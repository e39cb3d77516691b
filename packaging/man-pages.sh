#!/usr/bin/env bash
# Writes the manual pages dosimeter-cli.1.gz and (given the window) dosimeter-manager.1.gz
# into OUT_DIR, made from the programs' own --help and --version, so a page never
# disagrees with the program it describes; every command and records command that the
# program lists gets its --help text. Run at install time (cmake --install, cpack).
#   man-pages.sh OUT_DIR DOSIMETER_CLI [DOSIMETER_MANAGER]
# The date is that of the newest entry of packaging/changelog (reproducible builds).
set -euo pipefail

out=${1:?usage: man-pages.sh OUT_DIR DOSIMETER_CLI [DOSIMETER_MANAGER]}
cli=${2:?usage: man-pages.sh OUT_DIR DOSIMETER_CLI [DOSIMETER_MANAGER]}
window=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

date=$(sed -n 's/^ -- .*>  //p' "$here/changelog" | head -n 1)
date=$(LC_ALL=C date -u -d "$date" +%Y-%m-%d)

# Text as roff: backslashes and hyphens escaped, no line taken for a request.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }
# A --help text kept as it is laid out.
block() { printf '.PP\n.nf\n'; roff; printf '.fi\n'; }

# The words of a help text's "commands:" list: "  name ..." or "  a, b, c: ...".
command_words() {
  sed -n '/^commands:/,/^[^ ]/p' | grep -oE '^  [a-z][a-z-]*(, [a-z][a-z-]*)*' | tr -d ' ' | tr ',' '\n'
}

mkdir -p "$out"
version=$("$cli" --version)

{
  printf '.TH DOSIMETER\\-CLI 1 "%s" "%s" "User Commands"\n' "$date" "$(roff <<< "$version")"
  printf '.SH NAME\ndosimeter\\-cli \\- read out, configure and keep the dose records of personal dosimeters\n'
  printf '.SH SYNOPSIS\n.B dosimeter\\-cli\n.I COMMAND\n.RI [ OPTIONS ...]\n.br\n'
  printf '.B dosimeter\\-cli\n.BR \\-\\-help " | " \\-\\-version\n'
  cat <<'EOF'
.SH DESCRIPTION
The command\-line tool of the dosimeter manager, for the KRT\-17A (gamma and neutron) and
MLV\-52B (gamma) personal radiation dosimeters. It shares its core with the window,
.BR dosimeter\-manager (1):
it prints the tables, texts and bytes the window shows or writes for the same input,
exchanges with a dosimeter over an infrared link, runs a simulated dosimeter, and stores
and reports readouts in the dose records database. Its commands, options and output
formats are a contract that scripts may rely on.
EOF
  printf '.PP\n'
  "$cli" --help | block
  printf '.SH COMMANDS\n'
  for c in $("$cli" --help | command_words); do
    text=$("$cli" "$c" --help)
    printf '.SS %s\n' "$(roff <<< "$c")"
    block <<< "$text"
    # Its own commands ("compose send-changes", "records import-params") with a help text
    # of their own; related ones share one, given once under all their names.
    declare -A names=()
    order=()
    for sub in $( (sed -n "s/^.*dosimeter-cli $c \([a-z][a-z-]*\).*/\1/p" <<< "$text"; command_words <<< "$text") | awk '!seen[$0]++'); do
      subText=$("$cli" "$c" "$sub" --help 2>/dev/null) || continue
      [ "$subText" = "$text" ] && continue
      [ -n "${names[$subText]:-}" ] || order+=("$subText")
      names[$subText]+="${names[$subText]:+, }$sub"
    done
    for subText in "${order[@]}"; do
      printf '.SS %s %s\n' "$(roff <<< "$c")" "$(roff <<< "${names[$subText]}")"
      block <<< "$subText"
    done
    unset names
  done
  cat <<'EOF'
.SH EXIT STATUS
.TP
.B 0
success
.TP
.B 1
the operation failed: no answer from the dosimeter, a file or the records database that
cannot be written, output that cannot be written (a full disk, a reader that closed the
pipe early); one line on standard error, beginning "dosimeter\-cli: "
.TP
.B 2
a usage error or an input file that cannot be read
.SH ENVIRONMENT
.TP
.B DOSIMETER_RECORDS
the records database used without
.BR \-\-db :
.I sqlite:PATH
or
.IR postgresql://USER@HOST[:PORT]/DBNAME .
.TP
.B XDG_CONFIG_HOME
where
.I dosimeter\-manager/infrared.ini
is looked for (default
.IR ~/.config ).
.TP
.B XDG_DATA_HOME
where the default records database and received\-files folder lie (default
.IR ~/.local/share ).
.SH FILES
.TP
.I Commands.lst
the parameter catalogue: in the current directory, else beside the program, else
.IR /usr/share/dosimeter\-manager/Commands.lst .
.TP
.I ~/.config/dosimeter\-manager/infrared.ini
the infrared link's settings:
.B RecvdFilesLocation
(the received\-files folder),
.BR Link ,
.BR Records .
.TP
.I ~/.local/share/dosimeter\-manager/records.sqlite
the default records database.
.SH SEE ALSO
.BR dosimeter\-manager (1)
EOF
} > "$out/dosimeter-cli.1"

if [ -n "$window" ]; then
  {
    printf '.TH DOSIMETER\\-MANAGER 1 "%s" "%s" "User Commands"\n' "$date" "$(roff <<< "$("$window" --version)")"
    printf '.SH NAME\ndosimeter\\-manager \\- manager for KRT\\-17A and MLV\\-52B personal radiation dosimeters\n'
    printf '.SH SYNOPSIS\n.B dosimeter\\-manager\n.RI [ OPTIONS ]\n'
    cat <<'EOF'
.SH DESCRIPTION
The window of the dosimeter manager. When a dosimeter comes into range of the infrared
link it reads its parameters by itself; the window then changes its settings (each value
checked before it is sent), erases its total dose, downloads its dose history into
tables and diagrams, saves tables to text files (Windows\-1251) and unlocks protected
factory parameters with a service code, in English or Russian. Every readout, download,
erase and change is kept in the dose records database, whose window lists the
dosimeters, their readouts and the wearers with their dose of record against the limits.
.SH OPTIONS
EOF
    "$window" --help | block
    cat <<'EOF'
.SH ENVIRONMENT
.TP
.B DOSIMETER_RECORDS
the records database used without
.BR \-\-db .
.TP
.B XDG_CONFIG_HOME
the base of the settings folder (default
.IR ~/.config ).
.TP
.B XDG_DATA_HOME
the base of the default records database and received\-files folder (default
.IR ~/.local/share ).
.SH FILES
.TP
.I ~/.config/dosimeter\-manager/locale.cfg
the interface language,
.B en
or
.BR ru .
.TP
.I ~/.config/dosimeter\-manager/system.cfg
the unlocked protected\-parameter groups. Both are written when the window closes; found
in the working folder, where earlier versions kept them, they are moved here.
.TP
.I ~/.config/dosimeter\-manager/infrared.ini
the infrared link's settings:
.B RecvdFilesLocation
(the received\-files folder, default
.IR ~/.local/share/dosimeter\-manager/received ),
.B Link
and
.BR Records .
.TP
.I Commands.lst
the parameter catalogue: in the current directory, else beside the program, else
.IR /usr/share/dosimeter\-manager/Commands.lst .
.TP
.I ~/.local/share/dosimeter\-manager/records.sqlite
the default records database, with
.I records\-spool.sqlite
beside it for records the database could not take yet.
.SH SEE ALSO
.BR dosimeter\-cli (1)
EOF
  } > "$out/dosimeter-manager.1"
fi

for page in "$out"/*.1; do
  gzip -9nf "$page"
done
