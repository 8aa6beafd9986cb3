#include "tests/chroma/signing_kit.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <random>
#include <vector>

#include "chroma/chroma_connect_abi.h"
#include "chroma/openssl_handles.h"
#include "tests/support/host_process.h"

namespace halvix::test {
namespace {

namespace fs = std::filesystem;

const std::string kScript = std::string(HALVIX_SOURCE_DIR) + "/scripts/make-chroma-signer.sh";
const std::string kSignTool = std::string(HALVIX_BIN_DIR) + "/chroma-sign";

using chroma::openssl::Bio;
using chroma::openssl::Certificate;
using chroma::openssl::Extension;
using chroma::openssl::Key;

bool addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// Made here rather than with the openssl command, which drops an attribute
// whose value is empty.
bool makeSigner(const fs::path& rootFolder, const Subject& subject, const fs::path& keyFile,
                const fs::path& certificateFile) {
  const Bio rootIn(BIO_new_file((rootFolder / "root.pem").c_str(), "r"));
  const Bio rootKeyIn(BIO_new_file((rootFolder / "root-key.pem").c_str(), "r"));
  const Certificate root(rootIn ? PEM_read_bio_X509(rootIn.get(), nullptr, nullptr, nullptr) : nullptr);
  const Key rootKey(rootKeyIn ? PEM_read_bio_PrivateKey(rootKeyIn.get(), nullptr, nullptr, nullptr) : nullptr);
  const Key key(EVP_EC_gen("P-256"));
  const Certificate certificate(X509_new());
  if (!root || !rootKey || !key || !certificate) return false;

  X509_NAME* name = X509_get_subject_name(certificate.get());
  for (const auto& [field, value] : subject.attributes) {
    const int type = field == "emailAddress" ? V_ASN1_IA5STRING : V_ASN1_UTF8STRING;
    if (X509_NAME_add_entry_by_txt(name, field.c_str(), type, reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0) != 1)
      return false;
  }
  std::random_device random;
  const std::int64_t serial = (std::int64_t{random()} << 24) ^ random();
  const bool made =
      X509_set_version(certificate.get(), X509_VERSION_3) == 1 &&
      ASN1_INTEGER_set_int64(X509_get_serialNumber(certificate.get()), serial) == 1 &&
      X509_set_issuer_name(certificate.get(), X509_get_subject_name(root.get())) == 1 &&
      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) &&
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 30L * 24 * 3600) &&
      X509_set_pubkey(certificate.get(), key.get()) == 1 &&
      addExtension(certificate.get(), root.get(), NID_basic_constraints, "critical,CA:FALSE") &&
      addExtension(certificate.get(), root.get(), NID_key_usage, "critical,digitalSignature") &&
      addExtension(certificate.get(), root.get(), NID_ext_key_usage, "codeSigning") &&
      (subject.alternativeEmail.empty() ||
       addExtension(certificate.get(), root.get(), NID_subject_alt_name, "email:" + subject.alternativeEmail)) &&
      X509_sign(certificate.get(), rootKey.get(), EVP_sha256()) > 0;
  const Bio keyOut(made ? BIO_new_file(keyFile.c_str(), "w") : nullptr);
  const Bio certificateOut(made ? BIO_new_file(certificateFile.c_str(), "w") : nullptr);
  const bool written =
      keyOut && certificateOut &&
      PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
      PEM_write_bio_X509(certificateOut.get(), certificate.get()) == 1;
  ERR_clear_error();
  return written;
}

// `library` in `folder` under the vendor library's file name.
fs::path copyInto(const fs::path& library, const fs::path& folder) {
  fs::create_directories(folder);
  const auto target = folder / chroma::kChromaConnectLibraryName;
  fs::copy_file(library, target, fs::copy_options::overwrite_existing);
  return target;
}

}  // namespace

SigningKit::SigningKit() {
  const std::string trusted = (keys_.path() / "trusted").string();
  const std::string untrusted = (keys_.path() / "untrusted").string();
  const std::vector<std::vector<std::string>> runs = {
      {"bash", kScript, trusted, "vendor"},
      {"bash", kScript, trusted, "other", "Halvix Test Lighting Ltd."},
      {"bash", kScript, trusted, "mail", "Razer USA Ltd.", "emailProtection"},
      {"bash", kScript, untrusted, "vendor"},
  };
  const std::string err = (keys_.path() / "script.err").string();
  for (const auto& run : runs) {
    if (runToEnd(run, "/dev/null", err.c_str()) != 0) {
      problem_ = "make-chroma-signer.sh failed: " + readWholeFile(err);
      return;
    }
  }
}

std::filesystem::path SigningKit::install(const std::filesystem::path& library, const std::filesystem::path& folder,
                                          Signer signer) const {
  const auto target = copyInto(library, folder);
  if (signer == Signer::None) return target;
  const char* root = signer == Signer::UntrustedRoot ? "untrusted" : "trusted";
  const char* prefix = signer == Signer::OtherName ? "other" : signer == Signer::NotForCodeSigning ? "mail" : "vendor";
  const auto keys = keys_.path() / root;
  return sign(target, keys / (std::string(prefix) + "-key.pem"), keys / (std::string(prefix) + ".pem"));
}

std::filesystem::path SigningKit::install(const std::filesystem::path& library, const std::filesystem::path& folder,
                                          const Subject& subject) const {
  const std::string prefix = "subject" + std::to_string(++subjects_);
  const fs::path key = keys_.path() / (prefix + "-key.pem"), certificate = keys_.path() / (prefix + ".pem");
  if (!makeSigner(keys_.path() / "trusted", subject, key, certificate)) return {};
  return sign(copyInto(library, folder), key, certificate);
}

std::filesystem::path SigningKit::sign(const std::filesystem::path& target, const std::filesystem::path& key,
                                       const std::filesystem::path& certificate) const {
  const int status = runToEnd({kSignTool, "--key", key.string(), "--cert", certificate.string(), target.string()});
  return status == 0 ? target : std::filesystem::path();
}

std::filesystem::path standInVariant(const std::string& name) {
  return std::filesystem::path(HALVIX_CHROMA_TEST_LIBS) / (name + ".so");
}

}  // namespace halvix::test
