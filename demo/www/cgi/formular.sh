# A form handled by a shell script, run by the interpreter entry
# "sh,/bin/sh" with this file as its argument. GET sends the fields in
# QUERY_STRING, POST sends CONTENT_LENGTH bytes on standard input.
# The server passes only the CGI variables, so the search path is ours.
PATH=/usr/bin:/bin
export PATH

# Decodes one urlencoded value: "+" is a blank, %XX a byte.
decode() {
  printf '%s' "$1" | awk '
    BEGIN { for (i = 0; i < 256; i++) code[sprintf("%02X", i)] = sprintf("%c", i) }
    {
      gsub(/\+/, " ")
      out = ""
      while (match($0, /%[0-9A-Fa-f][0-9A-Fa-f]/)) {
        out = out substr($0, 1, RSTART - 1) code[toupper(substr($0, RSTART + 1, 2))]
        $0 = substr($0, RSTART + 3)
      }
      printf "%s", out $0
    }'
}

# Makes a text safe inside HTML, attribute values included.
escape() {
  printf '%s' "$1" | sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g'
}

# The value of one field of the form data.
field() {
  printf '%s' "$2" | tr '&' '\n' | while IFS= read -r pair || [ -n "$pair" ]; do
    case "$pair" in
      "$1="*) decode "${pair#*=}"; break ;;
    esac
  done
}

data=""
case "$REQUEST_METHOD" in
  POST)
    case "$CONTENT_LENGTH" in
      ''|*[!0-9]*) ;;
      *) [ "$CONTENT_LENGTH" -gt 0 ] && data=$(head -c "$CONTENT_LENGTH") ;;
    esac ;;
  *) data="$QUERY_STRING" ;;
esac
jmeno=$(field jmeno "$data")
vzkaz=$(field vzkaz "$data")

echo "Content-type: text/html"
echo
cat <<PAGE
<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 Final//EN">
<HTML><HEAD><META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=utf-8">
<TITLE>Formulář v shellu</TITLE></HEAD>
<BODY><H1>Formulář v shellu</H1>
<P>Metoda: <B>$(escape "$REQUEST_METHOD")</B></P>
PAGE
if [ -n "$jmeno$vzkaz" ]; then
  echo "<P>Jméno: <B>$(escape "$jmeno")</B></P>"
  echo "<P>Vzkaz: <B>$(escape "$vzkaz")</B></P>"
fi
cat <<PAGE
<FORM METHOD="GET" ACTION="formular.sh">
<P>GET: jméno <INPUT NAME="jmeno" VALUE="$(escape "$jmeno")">
vzkaz <INPUT NAME="vzkaz" VALUE="$(escape "$vzkaz")"> <INPUT TYPE="submit" VALUE="Odeslat"></P>
</FORM>
<FORM METHOD="POST" ACTION="formular.sh">
<P>POST: jméno <INPUT NAME="jmeno" VALUE="$(escape "$jmeno")">
vzkaz <INPUT NAME="vzkaz" VALUE="$(escape "$vzkaz")"> <INPUT TYPE="submit" VALUE="Odeslat"></P>
</FORM>
<P><A HREF="/">Zpět</A></P></BODY></HTML>
PAGE
