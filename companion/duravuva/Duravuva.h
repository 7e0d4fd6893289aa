#pragma once
// duravuva: two TLS settings that the server makes through a library of
// their own, so that the server depends only on the calls it names.

#include <openssl/ssl.h>

extern "C" {

typedef RSA* (*TTmpRsaCallback)(SSL* ssl, int isExport, int keyLength);

// Temporary RSA keys belong to export ciphers, which current TLS libraries
// have dropped: no cipher asks for one any more, so the callback is accepted
// and never called. Returns 0 to say no callback was installed.
int SSL_CTX_set_tmp_rsa_callback_hook(SSL_CTX* context, TTmpRsaCallback callback);

// Marks the connection as shut down in the given directions
// (SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN = 3: no close-notify exchange).
void SSL_set_shutdown_hook(SSL* ssl, int mode);
}
