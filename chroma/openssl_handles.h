#pragma once
// Owning handles for the OpenSSL objects the appended signature's reader,
// its signing tool and the tests' signing kit hold, each released by its
// own free function.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace halvix::chroma::openssl {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};

// A stack of certificates owns them too: each is freed with the stack.
inline void freeCertificates(STACK_OF(X509) * certificates) { sk_X509_pop_free(certificates, X509_free); }

using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509_free>>;
using Certificates = std::unique_ptr<STACK_OF(X509), Deleter<freeCertificates>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using GeneralNames = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES_free>>;

}  // namespace halvix::chroma::openssl
