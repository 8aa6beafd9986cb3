#include "tests/chroma/signing_kit.h"

#include <vector>

#include "chroma/chroma_connect_abi.h"
#include "tests/chroma/run_program.h"

namespace halvix::test {
namespace {

const std::string kScript = std::string(HALVIX_SOURCE_DIR) + "/scripts/make-chroma-signer.sh";
const std::string kSignTool = std::string(HALVIX_BIN_DIR) + "/chroma-sign";

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
      problem_ = "make-chroma-signer.sh failed: " + fileText(err);
      return;
    }
  }
}

std::filesystem::path SigningKit::install(const std::filesystem::path& library, const std::filesystem::path& folder,
                                          Signer signer) const {
  std::filesystem::create_directories(folder);
  const auto target = folder / chroma::kChromaConnectLibraryName;
  std::filesystem::copy_file(library, target, std::filesystem::copy_options::overwrite_existing);
  if (signer == Signer::None) return target;
  const char* root = signer == Signer::UntrustedRoot ? "untrusted" : "trusted";
  const char* prefix = signer == Signer::OtherName ? "other" : signer == Signer::NotForCodeSigning ? "mail" : "vendor";
  const auto keys = keys_.path() / root;
  const int status = runToEnd({kSignTool, "--key", (keys / (std::string(prefix) + "-key.pem")).string(), "--cert",
                               (keys / (std::string(prefix) + ".pem")).string(), target.string()});
  return status == 0 ? target : std::filesystem::path();
}

std::filesystem::path standInVariant(const std::string& name) {
  return std::filesystem::path(HALVIX_CHROMA_TEST_LIBS) / (name + ".so");
}

}  // namespace halvix::test
