// chroma-sign: appends a CMS signature to a library in the layout the Chroma
// Connect loader checks (the signed-kernel-module trailer). A signature the
// file already carries is replaced.
//
//   chroma-sign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] [--output OUT] FILE
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "chroma/appended_signature.h"
#include "chroma/openssl_handles.h"

namespace {

constexpr const char* kUsage =
    "usage: chroma-sign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] [--output OUT] FILE\n";

using halvix::chroma::openssl::Bio;
using halvix::chroma::openssl::Certificate;
using halvix::chroma::openssl::Certificates;
using halvix::chroma::openssl::Cms;
using halvix::chroma::openssl::Key;

int fail(const std::string& what) {
  std::fprintf(stderr, "chroma-sign: %s\n", what.c_str());
  ERR_print_errors_fp(stderr);
  return 1;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Bio openPem(const std::string& path) { return Bio(BIO_new_file(path.c_str(), "r")); }

}  // namespace

int main(int argc, char** argv) {
  std::string keyPath, certPath, chainPath, outputPath, inputPath;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    std::string* target = option == "--key"      ? &keyPath
                          : option == "--cert"   ? &certPath
                          : option == "--chain"  ? &chainPath
                          : option == "--output" ? &outputPath
                                                 : nullptr;
    if (target && i + 1 < argc) {
      *target = argv[++i];
    } else if (!target && inputPath.empty() && option.rfind("--", 0) != 0) {
      inputPath = option;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (keyPath.empty() || certPath.empty() || inputPath.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (outputPath.empty()) outputPath = inputPath;

  auto keyBio = openPem(keyPath);
  Key key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) return fail("cannot read the private key " + keyPath);
  auto certBio = openPem(certPath);
  Certificate cert(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!cert) return fail("cannot read the certificate " + certPath);
  Certificates chain(sk_X509_new_null());
  if (!chainPath.empty()) {
    auto chainBio = openPem(chainPath);
    if (!chainBio) return fail("cannot read the chain " + chainPath);
    while (X509* extra = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr)) sk_X509_push(chain.get(), extra);
    ERR_clear_error();  // the end of the file reads as an error
  }

  std::optional<std::string> file = readFile(inputPath);
  if (!file) return fail("cannot read " + inputPath);
  std::string content(file->data(), file->size());
  if (auto signature = halvix::chroma::splitAppendedSignature(content)) content = std::string(signature->content);

  Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  Cms cms(data ? CMS_sign(cert.get(), key.get(), chain.get(), data.get(), CMS_BINARY | CMS_DETACHED) : nullptr);
  if (!cms) return fail("signing failed");
  unsigned char* der = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &der);
  if (length <= 0) return fail("cannot encode the signature");
  std::string signature(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);

  // Written beside the target and renamed over it, so that a reader never
  // sees half a file.
  const std::string temporary = outputPath + ".signing";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content << halvix::chroma::signatureBlock(signature);
    if (!out.flush()) return fail("cannot write " + temporary);
  }
  std::error_code error;
  std::filesystem::permissions(temporary, std::filesystem::status(inputPath, error).permissions(), error);
  std::filesystem::rename(temporary, outputPath, error);
  if (error) return fail("cannot write " + outputPath + ": " + error.message());
  return 0;
}
