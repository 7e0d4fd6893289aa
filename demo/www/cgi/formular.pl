# A form handled by a Perl script, run by the interpreter entry
# "pl,/usr/bin/perl" with this file as its argument. GET sends the fields
# in QUERY_STRING, POST sends CONTENT_LENGTH bytes on standard input.
use strict;
use warnings;

# Anything on standard error turns the reply into an error page: keep
# warnings off it.
local $SIG{__WARN__} = sub { };

sub decode {
    my ($text) = @_;
    $text =~ tr/+/ /;
    $text =~ s/%([0-9A-Fa-f]{2})/chr(hex($1))/ge;
    return $text;
}

sub escape {
    my ($text) = @_;
    $text =~ s/&/&amp;/g;
    $text =~ s/</&lt;/g;
    $text =~ s/>/&gt;/g;
    $text =~ s/"/&quot;/g;
    return $text;
}

my $method = $ENV{REQUEST_METHOD} // '';
my $data = '';
if ($method eq 'POST') {
    my $length = $ENV{CONTENT_LENGTH} // '';
    if ($length =~ /^\d+$/ && $length > 0) {
        binmode STDIN;
        my $read = 0;
        while ($read < $length) {
            my $n = read(STDIN, $data, $length - $read, $read);
            last unless $n;
            $read += $n;
        }
    }
} else {
    $data = $ENV{QUERY_STRING} // '';
}

my %form;
for my $pair (split /&/, $data) {
    my ($name, $value) = split /=/, $pair, 2;
    next unless defined $name && length $name;
    $name = decode($name);
    $form{$name} = decode($value // '') unless exists $form{$name};
}
my $jmeno = escape($form{jmeno} // '');
my $vzkaz = escape($form{vzkaz} // '');
my $shown = escape($method);

binmode STDOUT;
print "Content-type: text/html\n\n";
print <<"PAGE";
<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 Final//EN">
<HTML><HEAD><META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=utf-8">
<TITLE>Formulář v Perlu</TITLE></HEAD>
<BODY><H1>Formulář v Perlu</H1>
<P>Metoda: <B>$shown</B></P>
PAGE
if (length($jmeno) || length($vzkaz)) {
    print "<P>Jméno: <B>$jmeno</B></P>\n<P>Vzkaz: <B>$vzkaz</B></P>\n";
}
for my $form_method ('GET', 'POST') {
    print <<"PAGE";
<FORM METHOD="$form_method" ACTION="formular.pl">
<P>$form_method: jméno <INPUT NAME="jmeno" VALUE="$jmeno">
vzkaz <INPUT NAME="vzkaz" VALUE="$vzkaz"> <INPUT TYPE="submit" VALUE="Odeslat"></P>
</FORM>
PAGE
}
print "<P><A HREF=\"/\">Zpět</A></P></BODY></HTML>\n";
