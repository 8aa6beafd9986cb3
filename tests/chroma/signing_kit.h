#pragma once
// Throwaway signing keys made when a test runs (never stored), and Chroma
// Connect stand-in libraries installed and signed with them.
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace halvix::test {

enum class Signer {
  None,
  Vendor,            // "Razer USA Ltd.", code signing, under the trusted root
  OtherName,         // another name under the trusted root
  UntrustedRoot,     // "Razer USA Ltd." under a root nobody trusts
  NotForCodeSigning  // "Razer USA Ltd." allowed e-mail protection only
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

 private:
  TempDir keys_;
  std::string problem_;
};

// A stand-in variant built for the tests ("chroma_standin_marked", ...).
std::filesystem::path standInVariant(const std::string& name);

}  // namespace halvix::test
