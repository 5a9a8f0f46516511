#include "tools/search_standin/tls_identity.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>

namespace velquist::standin {

void X509Free::operator()(x509_st* certificate) const { X509_free(certificate); }
void PkeyFree::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

std::string OpenSslError(const char* what) {
    std::string text = what;
    const unsigned long code = ERR_get_error();
    if (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += ": ";
        text += buffer;
    }
    ERR_clear_error();
    return text;
}

bool AddExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

}  // namespace

std::optional<TlsIdentity> MakeLoopbackIdentity(std::string& error) {
    TlsIdentity identity;
    // P-256 rather than RSA: made in about a millisecond, and every TLS client accepts it.
    identity.key.reset(EVP_EC_gen("P-256"));
    if (!identity.key) {
        error = OpenSslError("cannot generate the key");
        return std::nullopt;
    }
    identity.certificate.reset(X509_new());
    X509* certificate = identity.certificate.get();
    if (certificate == nullptr) {
        error = OpenSslError("cannot create the certificate");
        return std::nullopt;
    }

    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        error = OpenSslError("cannot draw a serial number");
        return std::nullopt;
    }
    serial[0] &= 0x7F;  // a positive serial
    std::uint64_t serialValue = 0;
    for (unsigned char byte : serial) {
        serialValue = (serialValue << 8) | byte;
    }

    X509_NAME* name = X509_get_subject_name(certificate);
    const bool ok = X509_set_version(certificate, 2) == 1 &&
                    ASN1_INTEGER_set_uint64(X509_get_serialNumber(certificate), serialValue) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) != nullptr &&
                    X509_gmtime_adj(X509_getm_notAfter(certificate), 30L * 24 * 3600) != nullptr &&
                    X509_set_pubkey(certificate, identity.key.get()) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>("127.0.0.1"),
                                               -1, -1, 0) == 1 &&
                    X509_set_issuer_name(certificate, name) == 1 &&
                    AddExtension(certificate, NID_subject_alt_name, "IP:127.0.0.1") &&
                    AddExtension(certificate, NID_basic_constraints, "critical,CA:FALSE") &&
                    AddExtension(certificate, NID_ext_key_usage, "serverAuth") &&
                    X509_sign(certificate, identity.key.get(), EVP_sha256()) > 0;
    if (!ok) {
        error = OpenSslError("cannot build the certificate");
        return std::nullopt;
    }

    const std::unique_ptr<BIO, BioFree> pem(BIO_new(BIO_s_mem()));
    if (!pem || PEM_write_bio_X509(pem.get(), certificate) != 1) {
        error = OpenSslError("cannot write the certificate as PEM");
        return std::nullopt;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(pem.get(), &data);
    identity.certificatePem.assign(data, static_cast<std::size_t>(length));
    return identity;
}

}  // namespace velquist::standin
