#pragma once

#include <memory>
#include <optional>
#include <string>

// OpenSSL's own struct tags, so this header needs no OpenSSL include.
struct x509_st;
struct evp_pkey_st;

namespace velquist::standin {

struct X509Free {
    void operator()(x509_st* certificate) const;
};
struct PkeyFree {
    void operator()(evp_pkey_st* key) const;
};

// A throw-away server identity: an EC P-256 key and a self-signed certificate for the loopback
// address (CN and subjectAltName IP 127.0.0.1), valid from an hour ago for thirty days.
struct TlsIdentity {
    std::unique_ptr<x509_st, X509Free> certificate;
    std::unique_ptr<evp_pkey_st, PkeyFree> key;
    std::string certificatePem;
};

std::optional<TlsIdentity> MakeLoopbackIdentity(std::string& error);

}  // namespace velquist::standin
