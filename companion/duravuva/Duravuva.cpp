#include "companion/duravuva/Duravuva.h"

extern "C" {

int SSL_CTX_set_tmp_rsa_callback_hook(SSL_CTX*, TTmpRsaCallback) { return 0; }

void SSL_set_shutdown_hook(SSL* ssl, int mode) {
  if (ssl) SSL_set_shutdown(ssl, mode);
}
}
