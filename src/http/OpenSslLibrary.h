#pragma once

#include <QString>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

// OpenSSL is loaded when the first TLS connection or CA file needs it, not with the
// program: a start-up over http, and every start-up until its first frame, does without
// the two libraries' loading, relocations and memory. The declarations still come from
// OpenSSL's headers, so every pointer below has the type of the function it stands for.
//
// The functions the TLS code calls, with those OpenSSL's own macros expand to
// (SSL_ctrl, BIO_set_flags, CRYPTO_get_ex_new_index, ...).
#define BRIMLARK_OPENSSL_FUNCTIONS(X) \
    X(BIO_clear_flags) \
    X(BIO_ctrl_pending) \
    X(BIO_free) \
    X(BIO_get_data) \
    X(BIO_get_new_index) \
    X(BIO_meth_new) \
    X(BIO_meth_set_ctrl) \
    X(BIO_meth_set_read) \
    X(BIO_meth_set_write) \
    X(BIO_new) \
    X(BIO_new_mem_buf) \
    X(BIO_read) \
    X(BIO_s_mem) \
    X(BIO_set_data) \
    X(BIO_set_flags) \
    X(BIO_set_init) \
    X(BIO_write) \
    X(CRYPTO_get_ex_new_index) \
    X(ERR_clear_error) \
    X(ERR_error_string_n) \
    X(ERR_get_error) \
    X(ERR_peek_last_error) \
    X(ERR_reason_error_string) \
    X(OPENSSL_init_ssl) \
    X(PEM_read_bio_X509) \
    X(SSL_CTX_ctrl) \
    X(SSL_CTX_free) \
    X(SSL_CTX_load_verify_locations) \
    X(SSL_CTX_new) \
    X(SSL_CTX_set_cert_verify_callback) \
    X(SSL_CTX_set_default_verify_paths) \
    X(SSL_CTX_set_verify) \
    X(SSL_ctrl) \
    X(SSL_do_handshake) \
    X(SSL_free) \
    X(SSL_get0_param) \
    X(SSL_get0_peer_certificate) \
    X(SSL_get_error) \
    X(SSL_get_ex_data) \
    X(SSL_get_ex_data_X509_STORE_CTX_idx) \
    X(SSL_get_verify_result) \
    X(SSL_new) \
    X(SSL_read) \
    X(SSL_set_bio) \
    X(SSL_set_connect_state) \
    X(SSL_set_ex_data) \
    X(SSL_set_verify) \
    X(SSL_shutdown) \
    X(SSL_write) \
    X(TLS_client_method) \
    X(X509_STORE_CTX_get_error) \
    X(X509_STORE_CTX_get_ex_data) \
    X(X509_STORE_CTX_set_error) \
    X(X509_VERIFY_PARAM_set1_host) \
    X(X509_VERIFY_PARAM_set1_ip_asc) \
    X(X509_VERIFY_PARAM_set_hostflags) \
    X(X509_free) \
    X(X509_verify_cert) \
    X(X509_verify_cert_error_string)

struct TOpenSslFunctions {
#define BRIMLARK_OPENSSL_POINTER(name) decltype(&::name) name = nullptr;
    BRIMLARK_OPENSSL_FUNCTIONS(BRIMLARK_OPENSSL_POINTER)
#undef BRIMLARK_OPENSSL_POINTER
};

// Loads the library once per process. Nothing, with *error ("TLS library could not be
// loaded: ..."), when it cannot be loaded or lacks one of the functions; the same answer
// every time after.
const TOpenSslFunctions* LoadOpenSsl(QString* error);
// The table, after LoadOpenSsl succeeded.
const TOpenSslFunctions& OpenSslLoaded();
