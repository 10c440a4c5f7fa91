# Shell helpers for Settings.ini (sourced): UTF-16LE text with a BOM and CR LF line ends,
# sealed with the MD5 of the file without its [md5] section, as the station writes it.

# UTF-8 lines on stdin -> profile text on stdout.
to_profile() { { printf '\xEF\xBB\xBF'; sed 's/$/\r/'; } | iconv -f UTF-8 -t UTF-16LE; }

# Appends the [md5] section that makes the station accept the file.
seal_profile() {
  local sum
  sum=$(md5sum < "$1" | cut -d' ' -f1)
  printf '[md5]\nv=%s\n' "$sum" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE >> "$1"
}
