#pragma once
// Throwaway signing keys made when a test runs (never stored), and Chroma
// Connect stand-in libraries installed and signed with them.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace halvix::test {

enum class Signer {
  None,
  Vendor,            // "Razer USA Ltd.", code signing, under the trusted root
  OtherName,         // another name under the trusted root
  UntrustedRoot,     // "Razer USA Ltd." under a root nobody trusts
  NotForCodeSigning  // "Razer USA Ltd." allowed e-mail protection only
};

// A signer's certificate subject: its attributes in order, by OpenSSL's
// short names ("CN", "OU", "O", "emailAddress", "L", ...), values possibly
// empty; and an e-mail subject alternative name unless empty.
struct Subject {
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string alternativeEmail = {};
};

class SigningKit {
 public:
  SigningKit();
  // Empty when the keys were made; otherwise what failed.
  const std::string& problem() const { return problem_; }
  // The one trusted root, as a PEM file.
  std::filesystem::path trustedRoots() const { return keys_.path() / "trusted" / "root.pem"; }

  // Copies `library` into `folder` under the vendor library's file name and
  // signs it; the installed path, or empty when signing failed.
  std::filesystem::path install(const std::filesystem::path& library, const std::filesystem::path& folder,
                                Signer signer) const;
  // The same, signed under the trusted root for code signing by a signer
  // whose certificate has `subject`.
  std::filesystem::path install(const std::filesystem::path& library, const std::filesystem::path& folder,
                                const Subject& subject) const;

 private:
  std::filesystem::path sign(const std::filesystem::path& target, const std::filesystem::path& key,
                             const std::filesystem::path& certificate) const;

  TempDir keys_;
  std::string problem_;
  mutable int subjects_ = 0;
};

// A stand-in variant built for the tests ("chroma_standin_marked", ...).
std::filesystem::path standInVariant(const std::string& name);

}  // namespace halvix::test
