#include "chroma/appended_signature.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include "chroma/openssl_handles.h"
#include "chroma/vendor_name.h"

namespace halvix::chroma {
namespace {

using openssl::Bio;
using openssl::Certificates;
using openssl::Cms;
using openssl::GeneralNames;
using openssl::Store;
using openssl::StoreContext;

// OpenSSL reports failures on a per-thread queue; nothing here reads it,
// and nothing may be left on it for unrelated code to find.
struct ClearErrorsOnExit {
  ~ClearErrorsOnExit() { ERR_clear_error(); }
};

std::uint32_t bigEndian32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

// The signature as SignedData with detached content; null otherwise.
Cms parseSignature(std::string_view der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  Cms cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed || CMS_is_detached(cms.get()) != 1)
    return nullptr;
  return cms;
}

CMS_SignerInfo* firstSigner(CMS_ContentInfo* cms) {
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  return signers && sk_CMS_SignerInfo_num(signers) > 0 ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
}

// The certificate among `certificates` whose issuer and serial number are
// those the signer names; null when the signer is named otherwise (by key
// identifier) or no certificate matches.
X509* signerCertificate(CMS_SignerInfo* signer, STACK_OF(X509) * certificates) {
  ASN1_OCTET_STRING* keyId = nullptr;
  X509_NAME* issuer = nullptr;
  ASN1_INTEGER* serial = nullptr;
  if (!signer || !certificates || CMS_SignerInfo_get0_signer_id(signer, &keyId, &issuer, &serial) != 1 || !issuer ||
      !serial)
    return nullptr;
  for (int i = 0; i < sk_X509_num(certificates); ++i) {
    X509* certificate = sk_X509_value(certificates, i);
    if (X509_NAME_cmp(X509_get_issuer_name(certificate), issuer) == 0 &&
        ASN1_INTEGER_cmp(X509_get0_serialNumber(certificate), serial) == 0)
      return certificate;
  }
  return nullptr;
}

std::string utf8Text(const ASN1_STRING* value) {
  unsigned char* utf8 = nullptr;
  const int length = value ? ASN1_STRING_to_UTF8(&utf8, value) : -1;
  if (length < 0) return {};
  std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

// The name Windows gives a certificate (CertGetNameString's simple display
// name), so that both systems accept the same signers: the first of these
// attributes that the subject has, as it is, even empty; else the first
// e-mail name among the subject's alternative names; else the subject's
// first attribute.
std::string simpleDisplayName(X509* certificate) {
  X509_NAME* subject = X509_get_subject_name(certificate);
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    const int index = X509_NAME_get_index_by_NID(subject, nid, -1);
    if (index >= 0) return utf8Text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
  }
  const GeneralNames alternatives(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
    if (name->type == GEN_EMAIL) return utf8Text(name->d.rfc822Name);
  }
  if (X509_NAME_entry_count(subject) > 0) return utf8Text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, 0)));
  return {};
}

bool mayCodeSign(X509* certificate) {
  const std::uint32_t flags = X509_get_extension_flags(certificate);
  if (!(flags & EXFLAG_XKUSAGE) || !(X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN)) return false;
  return !(flags & EXFLAG_KUSAGE) || (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE);
}

Store trustedRoots(const TrustStore& trust) {
  Store store(X509_STORE_new());
  if (!store) return nullptr;
  const int loaded = trust.certificateFile ? X509_STORE_load_file(store.get(), trust.certificateFile->c_str())
                                           : X509_STORE_set_default_paths(store.get());
  return loaded == 1 ? std::move(store) : nullptr;
}

}  // namespace

std::optional<AppendedSignature> splitAppendedSignature(std::string_view file) {
  const std::size_t trailer = kSignatureInfoSize + kSignatureMarker.size();
  if (file.size() < trailer || file.substr(file.size() - kSignatureMarker.size()) != kSignatureMarker)
    return std::nullopt;
  const char* info = file.data() + file.size() - trailer;
  if (static_cast<std::uint8_t>(info[2]) != kSignatureIdPkcs7) return std::nullopt;
  const std::uint32_t length = bigEndian32(info + 8);
  if (length == 0 || length > file.size() - trailer) return std::nullopt;
  const std::size_t contentSize = file.size() - trailer - length;
  return AppendedSignature{file.substr(0, contentSize), file.substr(contentSize, length)};
}

std::string signatureBlock(std::string_view cms) {
  std::string block(cms);
  char info[kSignatureInfoSize] = {};
  info[2] = static_cast<char>(kSignatureIdPkcs7);
  const auto length = static_cast<std::uint32_t>(cms.size());
  for (int i = 0; i < 4; ++i) info[8 + i] = static_cast<char>(length >> (24 - 8 * i));
  block.append(info, sizeof info);
  block.append(kSignatureMarker);
  return block;
}

TrustVerdict verifyAppendedSignature(std::string_view file, const TrustStore& trust) {
  ClearErrorsOnExit clearErrors;
  const std::optional<AppendedSignature> signature = splitAppendedSignature(file);
  if (!signature) return TrustVerdict::NoSignature;
  Cms cms = parseSignature(signature->cms);
  CMS_SignerInfo* signer = cms ? firstSigner(cms.get()) : nullptr;
  if (!signer) return TrustVerdict::NoSignature;

  // Signatures first, with the signers' certificates as the message carries
  // them; the chain is checked below for the first signer only.
  Bio content(BIO_new_mem_buf(signature->content.data(), static_cast<int>(signature->content.size())));
  if (!content || CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                             CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
    return TrustVerdict::BadSignature;

  Certificates certificates(CMS_get1_certs(cms.get()));
  X509* certificate = signerCertificate(signer, certificates.get());
  if (!certificate) return TrustVerdict::BadSignature;
  Store store = trustedRoots(trust);
  StoreContext context(X509_STORE_CTX_new());
  if (!store || !context || X509_STORE_CTX_init(context.get(), store.get(), certificate, certificates.get()) != 1 ||
      X509_verify_cert(context.get()) != 1)
    return TrustVerdict::UntrustedChain;
  return mayCodeSign(certificate) ? TrustVerdict::Trusted : TrustVerdict::NotForCodeSigning;
}

std::string signerDisplayName(std::string_view file) {
  ClearErrorsOnExit clearErrors;
  const std::optional<AppendedSignature> signature = splitAppendedSignature(file);
  Cms cms = signature ? parseSignature(signature->cms) : nullptr;
  if (!cms) return {};
  Certificates certificates(CMS_get1_certs(cms.get()));
  X509* certificate = signerCertificate(firstSigner(cms.get()), certificates.get());
  return certificate ? simpleDisplayName(certificate) : std::string();
}

bool IsSignedByVendor(std::string_view file) { return isVendorName(signerDisplayName(file)); }

}  // namespace halvix::chroma
