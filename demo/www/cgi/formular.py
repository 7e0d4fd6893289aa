# A form handled by a Python 3 script, run by the interpreter entry
# "py,/usr/bin/python3" with this file as its argument. GET sends the
# fields in QUERY_STRING, POST sends CONTENT_LENGTH bytes on standard input.
import html
import os
import sys
from urllib.parse import parse_qs

method = os.environ.get("REQUEST_METHOD", "")
data = b""
if method == "POST":
    length = os.environ.get("CONTENT_LENGTH", "")
    if length.isdigit() and int(length) > 0:
        wanted = int(length)
        while len(data) < wanted:
            chunk = sys.stdin.buffer.read(wanted - len(data))
            if not chunk:
                break
            data += chunk
else:
    data = os.environb.get(b"QUERY_STRING", b"")

# The bytes are taken as UTF-8, the code page of the pages; anything else is
# replaced rather than refused.
form = parse_qs(data.decode("utf-8", "replace"), keep_blank_values=True)
jmeno = html.escape(form.get("jmeno", [""])[0], quote=True)
vzkaz = html.escape(form.get("vzkaz", [""])[0], quote=True)

page = [
    "Content-type: text/html",
    "",
    '<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 Final//EN">',
    '<HTML><HEAD><META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=utf-8">',
    "<TITLE>Formulář v Pythonu</TITLE></HEAD>",
    "<BODY><H1>Formulář v Pythonu</H1>",
    "<P>Metoda: <B>%s</B></P>" % html.escape(method),
]
if jmeno or vzkaz:
    page.append("<P>Jméno: <B>%s</B></P>" % jmeno)
    page.append("<P>Vzkaz: <B>%s</B></P>" % vzkaz)
for form_method in ("GET", "POST"):
    page += [
        '<FORM METHOD="%s" ACTION="formular.py">' % form_method,
        '<P>%s: jméno <INPUT NAME="jmeno" VALUE="%s">' % (form_method, jmeno),
        'vzkaz <INPUT NAME="vzkaz" VALUE="%s"> <INPUT TYPE="submit" VALUE="Odeslat"></P>' % vzkaz,
        "</FORM>",
    ]
page.append('<P><A HREF="/">Zpět</A></P></BODY></HTML>')
sys.stdout.buffer.write(("\n".join(page) + "\n").encode("utf-8"))
