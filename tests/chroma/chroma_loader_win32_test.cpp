// The Chroma Connect loader on Windows: a library is refused unless it lies
// in a trusted folder and the system trusts its Authenticode signature, and
// a refused one never runs. The signer's name is read from libraries signed
// at build time with a throwaway test root, which the system does not trust.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "chroma/authenticode.h"
#include "chroma/chroma_bridge.h"
#include "chroma/chroma_connect_api.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

namespace fs = std::filesystem;
using chroma::ChromaBridge;
using chroma::ChromaConnectApi;
using chroma::ChromaLoaderEnvironment;

const fs::path kLibs = HALVIX_CHROMA_TEST_LIBS;
const fs::path kUnsigned = kLibs / "chroma_standin_marked.dll";
const fs::path kVendorSigned = kLibs / "signed" / "vendor.dll";
const fs::path kOtherSigned = kLibs / "signed" / "other.dll";
// OU "Razer USA Ltd.", O "Other"; and OU "Other Vendor Ltd.", O "Razer USA Ltd.".
const fs::path kUnitSigned = kLibs / "signed" / "unit.dll";
const fs::path kOrganisationSigned = kLibs / "signed" / "organisation.dll";

constexpr long kNoSignature = static_cast<long>(0x800B0100);  // TRUST_E_NOSIGNATURE

fs::path install(const fs::path& library, const fs::path& folder) {
  fs::create_directories(folder);
  const fs::path target = folder / chroma::kChromaConnectLibraryName;
  fs::copy_file(library, target, fs::copy_options::overwrite_existing);
  return target;
}

bool initialiserRan(const fs::path& root) {
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().filename() == "constructor-ran") return true;
  return false;
}

TEST(ChromaConnectLoaderWindows, RefusesWhatTheSystemDoesNotTrustBeforeItRuns) {
  // AlreadyLoaded: a module of the name is loaded from another folder, and
  // the search finds nothing; that module is what loading the name gives.
  enum class Place { ExecutableFolder, ChromaFolder, AlreadyLoaded, Nowhere };
  const struct {
    const char* name;
    fs::path library;
    Place place;
    int code;
    const char* status;
  } cases[] = {
      {"unsigned, in the executable's folder", kUnsigned, Place::ExecutableFolder, 1154,
       chroma::kInvalidChromaDll},
      {"vendor's name, in the executable's folder", kVendorSigned, Place::ExecutableFolder, 1154,
       chroma::kInvalidChromaDll},
      {"unsigned, in the Chroma folder", kUnsigned, Place::ChromaFolder, 1154, chroma::kInvalidChromaDll},
      {"vendor's name under an untrusted root, in the Chroma folder", kVendorSigned, Place::ChromaFolder, 1154,
       chroma::kInvalidChromaDll},
      {"a module of the name already loaded", kUnsigned, Place::AlreadyLoaded, 1154, chroma::kInvalidChromaDll},
      {"not found", kUnsigned, Place::Nowhere, 2, chroma::kChromaConnectFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    const fs::path exe = root.path() / "exe", programs = root.path() / "programs";
    const fs::path chromaFolder = programs / "Razer" / "ChromaBroadcast" / "bin";
    fs::create_directories(exe);
    fs::path folder = exe;
    if (c.place == Place::ChromaFolder) folder = chromaFolder;
    if (c.place == Place::ExecutableFolder || c.place == Place::ChromaFolder) install(c.library, folder);
    // Outside `root`: this one runs, loaded by the test itself.
    TempDir elsewhere;
    platform::DynamicLibrary loadedBefore;
    if (c.place == Place::AlreadyLoaded) {
      loadedBefore = platform::DynamicLibrary::openPath(install(c.library, elsewhere.path()));
      ASSERT_TRUE(loadedBefore) << loadedBefore.error();
    }

    ChromaLoaderEnvironment environment;
    environment.search.folders = {exe, chromaFolder};
    environment.systemRoot = (root.path() / "windows").string();
    environment.programFiles = programs.string();
    {
      ChromaConnectApi api(environment);
      ChromaBridge bridge;
      EXPECT_EQ(c.code, bridge.InitChromaConnect(api));
      EXPECT_EQ(c.status, bridge.chromaStatus());
      EXPECT_FALSE(api.loaded());
    }
    EXPECT_FALSE(initialiserRan(root.path()));
  }
}

TEST(ChromaConnectLoaderWindows, FirstSignersDisplayName) {
  ASSERT_TRUE(fs::is_regular_file(kVendorSigned)) << kVendorSigned;
  const struct {
    const char* name;
    fs::path library;
    const char* signer;
    bool vendor;
  } cases[] = {
      {"unsigned", kUnsigned, "", false},
      {"the vendor's name", kVendorSigned, "Razer USA Ltd.", true},
      {"another name", kOtherSigned, "Halvix Test Lighting Ltd.", false},
      {"organisational unit before organisation", kUnitSigned, "Razer USA Ltd.", true},
      {"organisation after organisational unit", kOrganisationSigned, "Other Vendor Ltd.", false},
      {"no such file", kLibs / "absent.dll", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.signer, chroma::signerDisplayName(c.library));
    EXPECT_EQ(c.vendor, chroma::IsSignedByVendor(c.library));
  }
}

TEST(ChromaConnectLoaderWindows, SystemVerdictOnTheEmbeddedSignature) {
  EXPECT_EQ(kNoSignature, chroma::verifyEmbeddedSignature(kUnsigned));
  // Signed, but under a root the system does not trust.
  const long verdict = chroma::verifyEmbeddedSignature(kVendorSigned);
  EXPECT_NE(0, verdict);
  EXPECT_NE(kNoSignature, verdict) << "the embedded signature was found";
}

}  // namespace
}  // namespace halvix::test
